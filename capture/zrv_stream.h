// CZRV_Stream: the capture device's output pin "RGB Out". It carries the
// device's format model and its configuration interfaces, and is the one
// place that couples the selected media type, the canvas size and the
// stored size index. Each frame it puts together from the parts it owns:
// the settings (reloaded when their registry key changes), the window
// tracker, the window capture, the picture and the pacing.
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
// the state lock too) and the pending type. Queries and setters take only
// the format lock, never the filter's state lock: Stop holds that while it
// waits for the streaming thread, which may itself wait in a downstream
// Receive for a thread that makes one of these calls. Order: state lock,
// then format lock, then the leaf locks of the settings and the picture.
// The streaming thread takes the format lock only to apply a size stored
// by someone else, and never the state lock or the worker's access lock.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "capture/capture_device_settings.h"
#include "capture/capture_settings.h"
#include "capture/frame_picture.h"
#include "capture/settings_watch.h"
#include "capture/stream_pacing.h"
#include "capture/window_capture.h"
#include "capture/window_tracker.h"
#include "framework/source_stream.h"

class CZRV_Capture;

class CZRV_Stream : public IAMStreamConfig,
                    public IKsPropertySet,
                    public CSourceStream,
                    public ICaptureDeviceSettings2,
                    public ISpecifyPropertyPages,
                    public IAMPushSource {
public:
    // Registers the pin with the filter; a failure is stored in phr.
    CZRV_Stream(HRESULT* phr, CZRV_Capture* filter);
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
    HRESULT STDMETHODCALLTYPE GetFrameRate(double* rate) override;
    HRESULT STDMETHODCALLTYPE SetFrameRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetTitleText(char* text) override;
    HRESULT STDMETHODCALLTYPE SetTitleText(const char* text) override;
    // ICaptureDeviceSettings2
    HRESULT STDMETHODCALLTYPE GetTitleTextW(wchar_t* text, int capacity) override;
    HRESULT STDMETHODCALLTYPE SetTitleTextW(const wchar_t* text) override;

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

    // Negotiation (the connection code calls these under the state lock;
    // queries come from any thread).
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT SetMediaType(const CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT GetMediaType(CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    // Also makes a pending type the pin's type once the connection is gone.
    HRESULT BreakConnect() override;

protected:
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;

private:
    // The type offered and reported now; the caller holds the format lock.
    const CMediaType& SelectedType() const;
    // Makes `type` the selected type: pending while connected, else the
    // pin's type with the canvas sized to it. Takes ownership of `type`'s
    // contents. The caller holds the format lock.
    HRESULT ApplySelectedType(CMediaType& type);
    // Sizes the picture to the pin's type and forgets the captured window,
    // so that the next frame searches again. The caller holds the format
    // lock.
    HRESULT FitPictureToType();
    // Streaming thread: takes over what changed in the registry.
    void ApplyStoredChanges();

    // Guards m_mt, m_pendingType and m_hasPendingType (see above).
    mutable CCritSec m_formatLock;
    CMediaType m_pendingType;
    bool m_hasPendingType = false;

    CCaptureSettings m_settings;
    // The streaming thread's: it watches the settings, finds and reads the
    // window and paces the frames. Any thread may make the tracker forget
    // its window.
    CSettingsWatch m_watch;
    CWindowTracker m_tracker;
    CWindowCapture m_capture;
    CStreamPacing m_pacing;
    CFramePicture m_picture;
    // What the graph set as the largest stream offset it allows.
    std::atomic<REFERENCE_TIME> m_maxStreamOffset{0};
};
