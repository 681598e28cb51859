#include "settings/camera_list.h"

#include <cstdio>
#include <cwchar>
#include <iterator>

#include <strsafe.h>
#include <wrl/client.h>

#include "settings/camera_list_lock.h"
#include "settings/capture_device_ids.h"
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

// Characters no name may hold: controls (C0, DEL, C1), which lists show as
// nothing or break lines on, and the text-direction controls and marks,
// which make a name read in another order than it is stored (U+202E can
// make one camera's name read as another's) or make two names that differ
// look the same.
bool IsForbiddenCharacter(wchar_t c) {
    return c < L' ' || (c >= 0x7F && c <= 0x9F) ||
           c == 0x061C ||                   // ARABIC LETTER MARK
           c == 0x200E || c == 0x200F ||    // LEFT-TO-RIGHT and RIGHT-TO-LEFT MARK
           (c >= 0x2028 && c <= 0x202E) ||  // line and paragraph separators, embeddings and overrides
           (c >= 0x2066 && c <= 0x2069);    // isolates
}

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A name of digits alone would read as a camera's number, and Find takes
// "2" for camera 2. Digits of every script count: the system folds them
// to ASCII ones first (fullwidth, Arabic-Indic, Devanagari and the rest).
bool IsDigitsOnly(const wchar_t* name, size_t length) {
    // Folding may widen a character ("10" for a circled ten).
    wchar_t folded[kCameraNameCapacity * 4];
    const int foldedLength =
        ::FoldStringW(MAP_FOLDDIGITS, name, static_cast<int>(length), folded, static_cast<int>(std::size(folded)));
    const wchar_t* text = foldedLength > 0 ? folded : name;
    const size_t count = foldedLength > 0 ? static_cast<size_t>(foldedLength) : length;
    for (size_t i = 0; i < count; ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return false;
        }
    }
    return true;
}

// What any camera's name must be, stored or given: a stored name that
// breaks it is no camera's, so that the module never registers it.
bool HasNameCharacters(const wchar_t* name) {
    const size_t length = std::wcslen(name);
    if (length == 0 || length >= kCameraNameCapacity) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (IsForbiddenCharacter(name[i]) || IsLowSurrogate(name[i])) {
            return false;
        }
        // A pair is one character; a high surrogate alone is none.
        if (IsHighSurrogate(name[i])) {
            if (i + 1 == length || !IsLowSurrogate(name[i + 1])) {
                return false;
            }
            ++i;
        }
    }
    return true;
}

// What a name given now must be besides: not digits alone. A camera that
// was named so before this rule keeps its name (it can still be reached
// by its number), rather than disappearing from every application.
bool IsValidNewName(const wchar_t* name) {
    return HasNameCharacters(name) && !IsDigitsOnly(name, std::wcslen(name));
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

// Removes a camera's entry with everything below it. RegDeleteKeyExW
// refuses a key that has subkeys, to administrators too, and the refusal
// reads as access denied.
HRESULT DeleteListEntry(int camera) {
    wchar_t path[64];
    ListEntryPath(camera, path);
    UniqueRegKey key;
    const LONG opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0,
                                        DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | kListView,
                                        key.put());
    RETURN_IF_FAILED(HResultFromWin32(static_cast<DWORD>(opened)));
    RETURN_IF_FAILED(HResultFromWin32(static_cast<DWORD>(::RegDeleteTreeW(key.get(), nullptr))));
    key.reset();
    return HResultFromWin32(static_cast<DWORD>(::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, kListView, 0)));
}

// The current user's settings of a camera number (2..8).
HRESULT ClearSettings(int camera) {
    const CameraSettingsPath settings = SettingsPathOfCamera(camera);
    const LONG cleared = ::RegDeleteTreeA(HKEY_CURRENT_USER, settings.text);
    return cleared == ERROR_FILE_NOT_FOUND ? S_OK : HResultFromWin32(static_cast<DWORD>(cleared));
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
    if (!HasNameCharacters(stored) || std::wcslen(stored) >= capacity) {
        return S_FALSE;
    }
    return ::StringCchCopyW(name, capacity, stored);
}

HRESULT CCameraList::CheckName(const wchar_t* name, int camera) {
    RETURN_HR_IF_NULL(E_POINTER, name);
    if (!IsValidNewName(name)) {
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
    RETURN_HR_IF_NULL(E_POINTER, name);
    RETURN_HR_IF(E_INVALIDARG, !IsValidNewName(name));
    CCameraListLock lock;
    RETURN_IF_FAILED(lock.Acquire());
    RETURN_IF_FAILED(CheckName(name, 0));
    for (int number = kFirstCamera + 1; number <= kMaxCameras; ++number) {
        wchar_t existing[kCameraNameCapacity];
        if (GetName(number, existing, kCameraNameCapacity) == S_FALSE) {
            // A free number may have been a camera's: removed by another
            // user, or left as an entry that is no name. What the current
            // user set for it goes first, so that the new camera starts
            // afresh as after Remove.
            RETURN_IF_FAILED(ClearSettings(number));
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
    CCameraListLock lock;
    RETURN_IF_FAILED(lock.Acquire());
    wchar_t existing[kCameraNameCapacity];
    if (GetName(camera, existing, kCameraNameCapacity) != S_OK) {
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    RETURN_IF_FAILED(DeleteListEntry(camera));
    // The user's settings of that camera go with it.
    const HRESULT cleared = ClearSettings(camera);
    if (FAILED(cleared)) {
        diagnostic_log::Write("camera %d removed; its settings could not be removed (0x%08lX)", camera,
                              static_cast<unsigned long>(cleared));
    }
    return S_OK;
}

HRESULT CCameraList::Rename(int camera, const wchar_t* name) {
    RETURN_HR_IF_NULL(E_POINTER, name);
    if (!IsCameraNumber(camera) || camera == kFirstCamera || !IsValidNewName(name)) {
        return E_INVALIDARG;
    }
    CCameraListLock lock;
    RETURN_IF_FAILED(lock.Acquire());
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
