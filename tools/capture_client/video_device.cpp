#include "tools/capture_client/video_device.h"

#include <dshow.h>
#include <oleauto.h>
#include <uuids.h>
#include <wrl/client.h>

#include "framework/com_util.h"
#include "tools/capture_client/console_output.h"

using Microsoft::WRL::ComPtr;

namespace qmcapture {

namespace {

// A VARIANT cleared at the end of its scope.
class ScopedVariant {
public:
    ScopedVariant() { ::VariantInit(&m_value); }
    ~ScopedVariant() { ::VariantClear(&m_value); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    VARIANT* get() { return &m_value; }

private:
    VARIANT m_value;
};

std::wstring ReadStringProperty(IPropertyBag* bag, const wchar_t* name) {
    ScopedVariant value;
    value.get()->vt = VT_BSTR;
    if (FAILED(bag->Read(name, value.get(), nullptr)) || value.get()->vt != VT_BSTR ||
        value.get()->bstrVal == nullptr) {
        return std::wstring();
    }
    return std::wstring(value.get()->bstrVal, ::SysStringLen(value.get()->bstrVal));
}

// Calls `visit(moniker, info)` for each device until it returns false.
template <typename Visitor>
HRESULT ForEachVideoInputDevice(Visitor visit) {
    ComPtr<ICreateDevEnum> devEnum;
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(&devEnum)));
    ComPtr<IEnumMoniker> monikers;
    const HRESULT hr = devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    RETURN_IF_FAILED(hr);
    // S_FALSE: the category is empty and no enumerator was made.
    if (hr != S_OK || monikers == nullptr) {
        return S_OK;
    }
    for (;;) {
        ComPtr<IMoniker> moniker;
        if (monikers->Next(1, &moniker, nullptr) != S_OK) {
            break;
        }
        VideoDeviceInfo info;
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) {
            info.friendlyName = ReadStringProperty(bag.Get(), L"FriendlyName");
            info.devicePath = ReadStringProperty(bag.Get(), L"DevicePath");
        }
        if (!visit(moniker.Get(), info)) {
            break;
        }
    }
    return S_OK;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

}  // namespace

HRESULT ListVideoInputDevices(std::vector<VideoDeviceInfo>* devices) {
    RETURN_HR_IF_NULL(E_POINTER, devices);
    devices->clear();
    std::vector<VideoDeviceInfo> found;
    RETURN_IF_FAILED(ForEachVideoInputDevice([&](IMoniker*, const VideoDeviceInfo& info) {
        found.push_back(info);
        return true;
    }));
    *devices = std::move(found);
    return S_OK;
}

std::wstring FormatDeviceList(const std::vector<VideoDeviceInfo>& devices) {
    if (devices.empty()) {
        return L"No video input devices are registered.\n";
    }
    std::wstring text = FormatText(L"Video input devices (%u):\n", static_cast<unsigned>(devices.size()));
    for (size_t i = 0; i < devices.size(); ++i) {
        const std::wstring& name = devices[i].friendlyName;
        text += FormatText(L"  %u  %ls\n", static_cast<unsigned>(i), name.empty() ? L"(no name)" : name.c_str());
        if (!devices[i].devicePath.empty()) {
            text += L"     path: " + devices[i].devicePath + L"\n";
        }
    }
    return text;
}

HRESULT OpenVideoInputDevice(const std::wstring& name, IBaseFilter** filter) {
    RETURN_HR_IF_NULL(E_POINTER, filter);
    *filter = nullptr;
    ComPtr<IMoniker> match;
    RETURN_IF_FAILED(ForEachVideoInputDevice([&](IMoniker* moniker, const VideoDeviceInfo& info) {
        if (SameName(info.friendlyName, name)) {
            match = moniker;
            return false;
        }
        return true;
    }));
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), match == nullptr);
    ComPtr<IBaseFilter> bound;
    RETURN_IF_FAILED(match->BindToObject(nullptr, nullptr, IID_PPV_ARGS(&bound)));
    *filter = bound.Detach();
    return S_OK;
}

HRESULT FindCapturePin(IBaseFilter* filter, IPin** pin) {
    RETURN_HR_IF_NULL(E_POINTER, pin);
    *pin = nullptr;
    RETURN_HR_IF_NULL(E_POINTER, filter);
    ComPtr<IEnumPins> pins;
    RETURN_IF_FAILED(filter->EnumPins(&pins));
    ComPtr<IPin> firstOutput;
    ComPtr<IPin> candidate;
    while (pins->Next(1, &candidate, nullptr) == S_OK) {
        PIN_DIRECTION direction = PINDIR_INPUT;
        if (FAILED(candidate->QueryDirection(&direction)) || direction != PINDIR_OUTPUT) {
            candidate.Reset();
            continue;
        }
        if (firstOutput == nullptr) {
            firstOutput = candidate;
        }
        ComPtr<IKsPropertySet> properties;
        GUID category = GUID_NULL;
        DWORD returned = 0;
        if (SUCCEEDED(candidate.As(&properties)) &&
            SUCCEEDED(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                      sizeof(category), &returned)) &&
            returned == sizeof(category) && category == PIN_CATEGORY_CAPTURE) {
            *pin = candidate.Detach();
            return S_OK;
        }
        candidate.Reset();
    }
    RETURN_HR_IF(VFW_E_NOT_FOUND, firstOutput == nullptr);
    *pin = firstOutput.Detach();
    return S_OK;
}

}  // namespace qmcapture
