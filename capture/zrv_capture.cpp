#include "capture/zrv_capture.h"

#include <dshow.h>

#include <new>

#include "settings/camera_list.h"
#include "settings/capture_device_ids.h"
#include "settings/capture_device_settings.h"
#include "capture/zrv_stream.h"

CUnknown* WINAPI CZRV_Capture::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return new (std::nothrow) CZRV_Capture(outer, phr, kFirstCamera);
}

CUnknown* CZRV_Capture::CreateCameraInstance(int camera, IUnknown* outer, HRESULT* phr) {
    if (CameraClassId(camera) == nullptr) {
        if (phr != nullptr) {
            *phr = E_INVALIDARG;
        }
        return nullptr;
    }
    return new (std::nothrow) CZRV_Capture(outer, phr, camera);
}

CZRV_Capture::CZRV_Capture(IUnknown* outer, HRESULT* phr, int camera)
    : CSource(L"QM Capture Device", outer, *CameraClassId(camera)) {
    CAutoLock lock(pStateLock());
    HRESULT hr = S_OK;
    auto* stream = new (std::nothrow) CZRV_Stream(&hr, this, camera);
    if (stream == nullptr) {
        hr = E_OUTOFMEMORY;
    } else if (GetStream(0) != stream) {
        // The pin could not join the table, so the filter's destructor would
        // never delete it.
        delete stream;
    }
    if (FAILED(hr) && phr != nullptr) {
        *phr = hr;
    }
}

CZRV_Stream* CZRV_Capture::Stream() {
    return static_cast<CZRV_Stream*>(GetStream(0));
}

HRESULT STDMETHODCALLTYPE CZRV_Capture::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IAMStreamConfig) || IsEqualIID(riid, IID_IKsPropertySet) ||
        IsEqualIID(riid, IID_ISpecifyPropertyPages) || IsEqualIID(riid, IID_ICaptureDeviceSettings) ||
        IsEqualIID(riid, IID_ICaptureDeviceSettings2) || IsEqualIID(riid, IID_ICaptureDeviceSettings3)) {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        CZRV_Stream* stream = Stream();
        if (stream == nullptr) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return stream->NonDelegatingQueryInterface(riid, ppv);
    }
    if (IsEqualIID(riid, IID_IAMFilterMiscFlags)) {
        RETURN_HR_IF_NULL(E_POINTER, ppv);
        return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    }
    return CSource::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CZRV_Capture::GetState(DWORD milliSecsTimeout, FILTER_STATE* state) {
    const HRESULT hr = CSource::GetState(milliSecsTimeout, state);
    // Paused, a live source cannot promise what the graph will show when
    // it runs: renderers must not wait for it.
    return hr == S_OK && *state == State_Paused ? VFW_S_CANT_CUE : hr;
}

HRESULT STDMETHODCALLTYPE CZRV_Capture::Pause() {
    CAutoLock lock(pStateLock());
    const bool wasRunning = m_State == State_Running;
    RETURN_IF_FAILED(CSource::Pause());
    CZRV_Stream* stream = Stream();
    if (wasRunning && stream != nullptr) {
        stream->OnGraphPaused();
    }
    return S_OK;
}

ULONG STDMETHODCALLTYPE CZRV_Capture::GetMiscFlags() {
    return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}
