#include "capture/camera_list.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>

#include <dshow.h>
#include <strsafe.h>
#include <wrl/client.h>

#include "capture/capture_device_ids.h"
#include "framework/com_util.h"
#include "framework/diagnostic_log.h"

namespace {

// The list is one for the machine: both architectures' modules read the
// 64-bit view.
constexpr REGSAM kListView = KEY_WOW64_64KEY;

bool IsCameraNumber(int camera) {
    return camera >= kFirstCamera && camera <= kMaxCameras;
}

// "Software\QMCapture\Cameras\N".
void ListEntryPath(int camera, wchar_t (&path)[64]) {
    QM_IGNORE(::StringCchPrintfW(path, 64, L"%ls\\%d", kCameraListKeyPath, camera), "the path always fits");
}

bool IsValidName(const wchar_t* name) {
    const size_t length = std::wcslen(name);
    if (length == 0 || length >= kCameraNameCapacity) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (name[i] < L' ' || name[i] == 0x7F) {
            return false;
        }
    }
    return true;
}

HRESULT WriteName(int camera, const wchar_t* name) {
    wchar_t path[64];
    ListEntryPath(camera, path);
    UniqueRegKey key;
    const LONG created = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE | kListView,
                                           nullptr, key.put(), nullptr);
    RETURN_IF_FAILED(HResultFromWin32(static_cast<DWORD>(created)));
    const DWORD bytes = static_cast<DWORD>((std::wcslen(name) + 1) * sizeof(wchar_t));
    return HResultFromWin32(static_cast<DWORD>(
        ::RegSetValueExW(key.get(), kCameraNameValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(name), bytes)));
}

}  // namespace

const GUID* CameraClassId(int camera) {
    if (camera == kFirstCamera) {
        return &CLSID_CaptureDevice;
    }
    if (camera > kFirstCamera && camera <= kMaxCameras) {
        return &CLSID_CaptureDeviceCameras[camera - kFirstCamera - 1];
    }
    return nullptr;
}

int CameraOfClassId(const GUID& clsid) {
    for (int camera = kFirstCamera; camera <= kMaxCameras; ++camera) {
        if (IsEqualGUID(clsid, *CameraClassId(camera))) {
            return camera;
        }
    }
    return 0;
}

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

CameraSettingsPath SettingsPathOfCamera(int camera) {
    CameraSettingsPath path;
    if (camera > kFirstCamera && camera <= kMaxCameras) {
        std::snprintf(path.text, sizeof(path.text), "%s\\Cameras\\%d", kSettingsKeyPath, camera);
    } else {
        std::snprintf(path.text, sizeof(path.text), "%s", kSettingsKeyPath);
    }
    return path;
}

HRESULT CCameraList::GetName(int camera, wchar_t* name, size_t capacity) {
    RETURN_HR_IF_NULL(E_POINTER, name);
    if (capacity == 0 || !IsCameraNumber(camera)) {
        return E_INVALIDARG;
    }
    name[0] = L'\0';
    if (camera == kFirstCamera) {
        if (std::wcslen(kCaptureDeviceName) >= capacity) {
            return E_INVALIDARG;
        }
        return ::StringCchCopyW(name, capacity, kCaptureDeviceName);
    }
    wchar_t path[64];
    ListEntryPath(camera, path);
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | kListView, key.put()) != ERROR_SUCCESS) {
        return S_FALSE;
    }
    // One character more than a name may have: a longer value does not fit
    // and is not a name.
    wchar_t stored[kCameraNameCapacity + 1] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(stored) - sizeof(wchar_t);
    if (::RegQueryValueExW(key.get(), kCameraNameValue, nullptr, &type, reinterpret_cast<BYTE*>(stored), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return S_FALSE;
    }
    // The data may lack its terminator; the buffer's last one stays.
    stored[bytes / sizeof(wchar_t)] = L'\0';
    if (!IsValidName(stored) || std::wcslen(stored) >= capacity) {
        return S_FALSE;
    }
    return ::StringCchCopyW(name, capacity, stored);
}

HRESULT CCameraList::CheckName(const wchar_t* name, int camera) {
    RETURN_HR_IF_NULL(E_POINTER, name);
    if (!IsValidName(name)) {
        return E_INVALIDARG;
    }
    for (int other = kFirstCamera; other <= kMaxCameras; ++other) {
        wchar_t existing[kCameraNameCapacity];
        if (other != camera && GetName(other, existing, kCameraNameCapacity) == S_OK &&
            ::CompareStringOrdinal(existing, -1, name, -1, TRUE) == CSTR_EQUAL) {
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        }
    }
    return S_OK;
}

HRESULT CCameraList::Add(const wchar_t* name, int* camera) {
    RETURN_HR_IF_NULL(E_POINTER, camera);
    RETURN_IF_FAILED(CheckName(name, 0));
    for (int number = kFirstCamera + 1; number <= kMaxCameras; ++number) {
        wchar_t existing[kCameraNameCapacity];
        if (GetName(number, existing, kCameraNameCapacity) == S_FALSE) {
            RETURN_IF_FAILED(WriteName(number, name));
            *camera = number;
            return S_OK;
        }
    }
    return HRESULT_FROM_WIN32(ERROR_TOO_MANY_NAMES);
}

HRESULT CCameraList::Remove(int camera) {
    if (!IsCameraNumber(camera) || camera == kFirstCamera) {
        return E_INVALIDARG;
    }
    wchar_t existing[kCameraNameCapacity];
    if (GetName(camera, existing, kCameraNameCapacity) != S_OK) {
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    wchar_t path[64];
    ListEntryPath(camera, path);
    const LONG deleted = ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, kListView, 0);
    RETURN_IF_FAILED(HResultFromWin32(static_cast<DWORD>(deleted)));
    // The user's settings of that camera go with it.
    const CameraSettingsPath settings = SettingsPathOfCamera(camera);
    const LONG cleared = ::RegDeleteTreeA(HKEY_CURRENT_USER, settings.text);
    if (cleared != ERROR_SUCCESS && cleared != ERROR_FILE_NOT_FOUND) {
        diagnostic_log::Write("camera %d removed; its settings could not be removed (error %ld)", camera, cleared);
    }
    return S_OK;
}

HRESULT CCameraList::Rename(int camera, const wchar_t* name) {
    RETURN_HR_IF_NULL(E_POINTER, name);
    if (!IsCameraNumber(camera) || camera == kFirstCamera) {
        return E_INVALIDARG;
    }
    wchar_t existing[kCameraNameCapacity];
    if (GetName(camera, existing, kCameraNameCapacity) != S_OK) {
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    RETURN_IF_FAILED(CheckName(name, camera));
    return WriteName(camera, name);
}

int CCameraList::Find(const wchar_t* numberOrName) {
    if (numberOrName == nullptr || numberOrName[0] == L'\0') {
        return 0;
    }
    wchar_t name[kCameraNameCapacity];
    if (numberOrName[1] == L'\0' && numberOrName[0] >= L'1' && numberOrName[0] <= L'8') {
        const int camera = numberOrName[0] - L'0';
        return GetName(camera, name, kCameraNameCapacity) == S_OK ? camera : 0;
    }
    for (int camera = kFirstCamera; camera <= kMaxCameras; ++camera) {
        if (GetName(camera, name, kCameraNameCapacity) == S_OK &&
            ::CompareStringOrdinal(name, -1, numberOrName, -1, TRUE) == CSTR_EQUAL) {
            return camera;
        }
    }
    return 0;
}
