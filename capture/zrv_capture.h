// CZRV_Capture: the capture device's filter, a source filter with exactly
// one output pin (CZRV_Stream). The pin's configuration interfaces are
// reachable from the filter too.
#pragma once

#include <dshow.h>

#include "framework/source.h"

class CZRV_Stream;

class CZRV_Capture : public CSource, public IAMFilterMiscFlags {
public:
    DECLARE_IUNKNOWN

    // The module's creation function for CLSID_CaptureDevice.
    static CUnknown* WINAPI CreateInstance(IUnknown* outer, HRESULT* phr);
    // The creation functions of cameras 2..8, one per class: the camera
    // reads its own settings.
    template <int Camera>
    static CUnknown* WINAPI CreateCamera(IUnknown* outer, HRESULT* phr) {
        static_assert(Camera >= 2 && Camera <= 8, "cameras 2..8");
        return CreateCameraInstance(Camera, outer, phr);
    }
    static CUnknown* CreateCameraInstance(int camera, IUnknown* outer, HRESULT* phr);

    // IAMStreamConfig, IKsPropertySet, ISpecifyPropertyPages and the
    // ICaptureDeviceSettings interfaces are answered by the pin, without
    // waiting for the filter's state lock.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // A live source: it cannot cue while paused (VFW_S_CANT_CUE), says it
    // is a source, and its pin follows the graph out of Running.
    HRESULT STDMETHODCALLTYPE GetState(DWORD milliSecsTimeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    ULONG STDMETHODCALLTYPE GetMiscFlags() override;

private:
    CZRV_Capture(IUnknown* outer, HRESULT* phr, int camera);
    ~CZRV_Capture() override = default;

    CZRV_Stream* Stream();
};
