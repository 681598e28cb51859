// CZRV_Stream: the capture device's output pin "RGB Out". It carries the
// device's format model and its configuration interfaces, and is the one
// place that couples the selected media type, the canvas size and the
// stored size index. It owns the settings, the picture and the frame
// producer, which makes each frame on the streaming thread.
//
// Format model. m_mt is the type of the current connection (while
// unconnected, the selected type). A size change asked for while the pin
// is connected (SetSelectPixel, SetFrameSize, SetFormat) does not touch
// the running connection: the stream keeps delivering live pictures at the
// connected size, ConnectionMediaType keeps describing them, and the new
// type waits in m_pendingType until the pin next connects. Everything that
// offers or reports "the current type" (GetFrameSize, GetFormat, the first
// enumerated type, the type accepted by CheckMediaType) uses the selected
// type: the pending one if there is one, else m_mt.
//
// Locks. The format lock guards m_mt (the connection code changes it under
// the state lock too) and the pending type. A type is never accepted
// without a canvas of its size: the canvas is built first, and a failure
// leaves the type, the canvas and the frame time as they were. Queries and setters take only
// the format lock, never the filter's state lock: Stop holds that while it
// waits for the streaming thread, which may itself wait in a downstream
// Receive for a thread that makes one of these calls. Order: state lock,
// then format lock, then the leaf locks of the settings and the picture.
// The streaming thread takes the format lock only to apply a size stored
// by someone else, and never the state lock or the worker's access lock.
// (Checked: the helpers that need the format lock assert it.)
#pragma once

#include <windows.h>
#include <dshow.h>

#include <optional>

#include "settings/capture_device_settings.h"
#include "settings/capture_settings.h"
#include "picture/frame_picture.h"
#include "capture/graph_clock.h"
#include "capture/sample_stamper.h"
#include "produce/frame_producer.h"
#include "framework/source_stream.h"

class CZRV_Capture;

class CZRV_Stream : public IAMStreamConfig,
                    public IKsPropertySet,
                    public CSourceStream,
                    public ICaptureDeviceSettings3,
                    public ISpecifyPropertyPages,
                    public IAMPushSource {
public:
    // Registers the pin with the filter; a failure is stored in phr.
    // camera: 1..8, whose settings the pin reads and writes (camera 1's
    // for any other number).
    CZRV_Stream(HRESULT* phr, CZRV_Capture* filter, int camera = 1);
    ~CZRV_Stream() override;

    DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IAMStreamConfig
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** mt) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;

    // IKsPropertySet: the pin category, read only.
    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, void* instanceData, DWORD instanceLength, void* data,
                                  DWORD dataLength) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, void* instanceData, DWORD instanceLength, void* data,
                                  DWORD dataLength, DWORD* returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    // ICaptureDeviceSettings
    HRESULT STDMETHODCALLTYPE GetFrameSize(int* size) override;
    HRESULT STDMETHODCALLTYPE SetFrameSize(const int* size) override;
    HRESULT STDMETHODCALLTYPE SetSelectPixel(int index) override;
    // The rate, the standby text and the standby picture are plain
    // settings: stored, persisted, and read by the streaming thread with
    // each frame (the picture's file when its path changes).
    HRESULT STDMETHODCALLTYPE GetFrameRate(double* rate) override { return m_settings.GetFrameRate(rate); }
    HRESULT STDMETHODCALLTYPE SetFrameRate(double rate) override { return m_settings.SetFrameRate(rate); }
    HRESULT STDMETHODCALLTYPE GetTitleText(char* text) override { return m_settings.GetTitleText(text); }
    HRESULT STDMETHODCALLTYPE SetTitleText(const char* text) override { return m_settings.SetTitleText(text); }
    // ICaptureDeviceSettings2
    HRESULT STDMETHODCALLTYPE GetTitleTextW(wchar_t* text, int capacity) override {
        return m_settings.GetTitleTextW(text, capacity);
    }
    HRESULT STDMETHODCALLTYPE SetTitleTextW(const wchar_t* text) override { return m_settings.SetTitleTextW(text); }
    // ICaptureDeviceSettings3
    HRESULT STDMETHODCALLTYPE GetStandbyImage(wchar_t* path, int capacity) override {
        return m_settings.GetStandbyImage(path, capacity);
    }
    HRESULT STDMETHODCALLTYPE SetStandbyImage(const wchar_t* path) override {
        return m_settings.SetStandbyImage(path);
    }

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // IAMLatency, IAMPushSource: a live source stamped with stream times,
    // one frame time of latency.
    HRESULT STDMETHODCALLTYPE GetLatency(REFERENCE_TIME* latency) override;
    HRESULT STDMETHODCALLTYPE GetPushSourceFlags(ULONG* flags) override;
    HRESULT STDMETHODCALLTYPE SetPushSourceFlags(ULONG flags) override;
    HRESULT STDMETHODCALLTYPE SetStreamOffset(REFERENCE_TIME offset) override;
    HRESULT STDMETHODCALLTYPE GetStreamOffset(REFERENCE_TIME* offset) override;
    HRESULT STDMETHODCALLTYPE GetMaxStreamOffset(REFERENCE_TIME* maxOffset) override;
    HRESULT STDMETHODCALLTYPE SetMaxStreamOffset(REFERENCE_TIME maxOffset) override;

    // The filter's state changes that the pacing follows: Run with the
    // stream start (the base pin calls it), and a pause of a running graph.
    HRESULT Run(REFERENCE_TIME start) override;
    void OnGraphPaused();
    // Stops the streaming thread, then waits for the capture thread that
    // it told to end as it stopped: both end side by side, and the stop
    // leaves no thread behind.
    HRESULT Inactive() override;

    // Negotiation (the connection code calls these under the state lock;
    // queries come from any thread).
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT GetMediaType(CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    // Also makes a pending type the pin's type once the connection is gone.
    HRESULT BreakConnect() override;

    // A seam for tests: canvas builds that fail, which the platform
    // produces only when it runs out of memory.
    void InjectCanvasBuilderForTesting(CFramePicture::CanvasBuilder build) {
        m_picture.InjectCanvasBuilderForTesting(build);
    }
    // A seam for tests: how the standby picture's file is read (a slow
    // read, which the platform gives only for large files or slow disks).
    // Before the stream starts.
    void InjectStandbyLoadForTesting(CStandbyImageLoader::LoadFunction load) {
        m_producer.InjectStandbyLoadForTesting(load);
    }

protected:
    HRESULT FillBuffer(IMediaSample* sample) override;
    // Streaming thread, as each stream starts (the filter's Pause waits
    // for it): starts the producer, writes every buffer of the allocator
    // once and reads the window ahead.
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;

protected:
    // m_mt changes under the format lock, so ConnectionMediaType reads it
    // under that lock alone.
    CCritSec* MediaTypeLock() const override { return &m_formatLock; }

private:
    // The type offered and reported now; the caller holds the format lock.
    const CMediaType& SelectedType() const;
    // Makes `type` the selected type: pending while connected, else the
    // pin's type with the canvas sized to it. Takes ownership of `type`'s
    // contents when it succeeds; a failure (a canvas that cannot be built)
    // changes nothing. The caller holds the format lock.
    [[nodiscard]] HRESULT ApplySelectedType(CMediaType& type);
    // Sizes the picture to `type`, takes its pixel format for the frames
    // and forgets the captured window, so that the next frame searches
    // again. A failure keeps the canvas's size and format. The caller
    // holds the format lock.
    [[nodiscard]] HRESULT FitPictureTo(const CMediaType& type);
    // Streaming thread: a size or output format stored by someone else,
    // taken like one set here but not written back.
    void ApplyStoredFormat(const StoredFormat& stored);

    // Guards m_mt, m_pendingType and m_hasPendingType (see above).
    mutable CCritSec m_formatLock;
    CMediaType m_pendingType;
    bool m_hasPendingType = false;

    CCaptureSettings m_settings;
    // The canvas, sized to m_mt under the format lock: the frames are
    // drawn at the size and in the format of m_mt, the one fact of both.
    CFramePicture m_picture;
    // The graph's clock, which the pacing follows while the graph runs.
    CGraphClock m_graphClock;
    // The samples' times and the stream offset.
    CSampleStamper m_stamper;
    // Makes the frames; declared after what it refers to.
    CFrameProducer m_producer{m_settings, m_picture};
};
