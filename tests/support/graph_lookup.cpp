#include "tests/support/graph_lookup.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <cwchar>

#include "framework/com_util.h"

using Microsoft::WRL::ComPtr;

namespace qmtest {

namespace {

// Calls `visit(moniker, friendlyName)` for each device of the video input
// category that has a friendly name, until it returns false. S_OK also
// for an empty category.
template <typename Visitor>
HRESULT ForEachVideoInputDevice(Visitor&& visit) {
    ComPtr<ICreateDevEnum> devices;
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devices)));
    ComPtr<IEnumMoniker> monikers;
    const HRESULT hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    RETURN_IF_FAILED(hr);
    // S_FALSE: the category is empty and no enumerator was made.
    if (hr != S_OK || !monikers) {
        return S_OK;
    }
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) {
            continue;
        }
        VARIANT name;
        ::VariantInit(&name);
        bool more = true;
        if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR) {
            more = visit(moniker.Get(), name.bstrVal);
        }
        ::VariantClear(&name);
        if (!more) {
            break;
        }
    }
    return S_OK;
}

}  // namespace

HRESULT GetPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin) {
    RETURN_HR_IF_NULL(E_POINTER, pin);
    *pin = nullptr;
    RETURN_HR_IF_NULL(E_POINTER, filter);
    ComPtr<IEnumPins> pins;
    RETURN_IF_FAILED(filter->EnumPins(&pins));
    ComPtr<IPin> candidate;
    while (pins->Next(1, candidate.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION found = PINDIR_INPUT;
        if (SUCCEEDED(candidate->QueryDirection(&found)) && found == direction) {
            *pin = candidate.Detach();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FindVideoInputDevice(const wchar_t* friendlyName, IMoniker** moniker) {
    RETURN_HR_IF_NULL(E_POINTER, moniker);
    *moniker = nullptr;
    RETURN_HR_IF_NULL(E_POINTER, friendlyName);
    ComPtr<IMoniker> match;
    RETURN_IF_FAILED(ForEachVideoInputDevice([&](IMoniker* candidate, const wchar_t* name) {
        if (std::wcscmp(name, friendlyName) != 0) {
            return true;
        }
        match = candidate;
        return false;
    }));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), !match);
    *moniker = match.Detach();
    return S_OK;
}

std::vector<std::wstring> ListVideoInputDevices() {
    std::vector<std::wstring> names;
    ForEachVideoInputDevice([&](IMoniker*, const wchar_t* name) {
        names.emplace_back(name);
        return true;
    });
    return names;
}

}  // namespace qmtest
