#include "bench/support/configured_device.h"

#include "capture/zrv_capture.h"
#include "framework/com_util.h"
#include "framework/media_type.h"

namespace qmbench {

HRESULT CreateConfiguredDevice(int capability, REFERENCE_TIME frameTime, Microsoft::WRL::ComPtr<IBaseFilter>* filter,
                               GUID* subtype) {
    RETURN_HR_IF_NULL(E_POINTER, filter);
    HRESULT hr = S_OK;
    CUnknown* object = CZRV_Capture::CreateInstance(nullptr, &hr);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, object);
    Microsoft::WRL::ComPtr<IBaseFilter> made;
    RETURN_IF_FAILED(object->NonDelegatingQueryInterface(IID_PPV_ARGS(&made)));
    Microsoft::WRL::ComPtr<IAMStreamConfig> config;
    RETURN_IF_FAILED(made.As(&config));
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    RETURN_IF_FAILED(config->GetStreamCaps(capability, &mt, reinterpret_cast<BYTE*>(&caps)));
    reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame = frameTime;
    if (subtype != nullptr) {
        *subtype = mt->subtype;
    }
    hr = config->SetFormat(mt);
    DeleteMediaType(mt);
    RETURN_IF_FAILED(hr);
    *filter = std::move(made);
    return S_OK;
}

}  // namespace qmbench
