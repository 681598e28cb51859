// CZRV_Stream: the capture device's output pin "RGB Out". It carries the
// device's format model and its configuration interfaces, and is the one
// place that couples the selected media type, the canvas size and the
// stored size index. Each frame it puts together from the parts it owns:
// the settings, the window tracker, the picture and the pacing.
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
// Locks: the filter's state lock guards m_mt and the pending type. The
// settings and the picture guard themselves with leaf locks of their own,
// so the pin may call them under the state lock. The streaming thread
// takes neither the state lock nor the worker's access lock.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "capture/capture_device_settings.h"
#include "capture/capture_settings.h"
#include "capture/frame_picture.h"
#include "capture/stream_pacing.h"
#include "capture/window_tracker.h"
#include "framework/source_stream.h"

class CZRV_Capture;

class CZRV_Stream : public IAMStreamConfig,
                    public IKsPropertySet,
                    public CSourceStream,
                    public ICaptureDeviceSettings,
                    public ISpecifyPropertyPages {
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

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // Negotiation (called under the state lock by the connection code).
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
    // The type offered and reported now; the caller holds the state lock.
    const CMediaType& SelectedType() const;
    // Makes `type` the selected type: pending while connected, else the
    // pin's type with the canvas sized to it. Takes ownership of `type`'s
    // contents. The caller holds the state lock.
    HRESULT ApplySelectedType(CMediaType& type);
    // Sizes the picture to the pin's type and forgets the captured window,
    // so that the next frame is a fresh standby frame that searches again.
    HRESULT FitPictureToType();

    CCaptureSettings m_settings;
    // The streaming thread's: it finds the window and paces the frames.
    // Any thread may make the tracker forget its window.
    CWindowTracker m_tracker;
    CStreamPacing m_pacing;
    CFramePicture m_picture;
    // Guarded by the state lock.
    CMediaType m_pendingType;
    bool m_hasPendingType = false;
};
