#include "page/camera_of_object.h"

#include <dshow.h>
#include <wrl/client.h>

#include "settings/camera_list.h"

int CameraOfObject(IUnknown* object) {
    if (object == nullptr) {
        return kFirstCamera;
    }
    Microsoft::WRL::ComPtr<IBaseFilter> filter;
    if (FAILED(object->QueryInterface(IID_PPV_ARGS(&filter)))) {
        Microsoft::WRL::ComPtr<IPin> pin;
        PIN_INFO info{};
        if (FAILED(object->QueryInterface(IID_PPV_ARGS(&pin))) || FAILED(pin->QueryPinInfo(&info))) {
            return kFirstCamera;
        }
        // QueryPinInfo hands over a reference to the filter.
        filter.Attach(info.pFilter);
    }
    CLSID clsid = GUID_NULL;
    if (filter == nullptr || FAILED(filter->GetClassID(&clsid))) {
        return kFirstCamera;
    }
    const int camera = CameraOfClassId(clsid);
    return camera != 0 ? camera : kFirstCamera;
}
