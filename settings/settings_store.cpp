#include "settings/settings_store.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "settings/settings_values.h"
#include "framework/com_util.h"

namespace {

// Value and key names are ASCII; the wide registry calls take them
// converted.
constexpr size_t kMaxName = CSettingsKey::kMaxPath;

void Widen(const char* text, wchar_t (&wide)[kMaxName]) {
    wide[0] = L'\0';
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide, static_cast<int>(kMaxName - 1));
    wide[kMaxName - 1] = L'\0';
}

void CopyDefault(char* destination, const char* defaultText) {
    QM_IGNORE(CopySettingText(destination, defaultText != nullptr ? defaultText : ""),
              "a default longer than a setting is cut like any text");
}

}  // namespace

CSettingsKey::CSettingsKey(const char* path) {
    if (path != nullptr) {
        std::snprintf(m_path, sizeof(m_path), "%s", path);
    }
}

bool CSettingsKey::Read(const char* valueName, const char* defaultText, char* destination) const {
    UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, m_path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        CopyDefault(destination, defaultText);
        return true;
    }
    DWORD type = REG_NONE;
    DWORD size = kSettingsTextCapacity;
    BYTE data[kSettingsTextCapacity] = {};
    if (::RegQueryValueExA(key.get(), valueName, nullptr, &type, data, &size) != ERROR_SUCCESS) {
        CopyDefault(destination, defaultText);
        return true;
    }
    if (type != REG_SZ) {
        CopyDefault(destination, defaultText);
        return false;
    }
    // The registry does not promise a terminator: a REG_SZ value may have
    // been written without one.
    if (size == 0) {
        destination[0] = '\0';
        return true;
    }
    if (data[size - 1] != '\0') {
        if (size >= kSettingsTextCapacity) {
            CopyDefault(destination, defaultText);
            return false;
        }
        data[size] = '\0';
    }
    std::memcpy(destination, data, kSettingsTextCapacity);
    destination[kSettingsTextCapacity - 1] = '\0';
    return true;
}

bool CSettingsKey::ReadWide(const char* valueName, const wchar_t* defaultText, wchar_t* destination,
                            size_t capacity) const {
    if (destination == nullptr || capacity == 0) {
        return false;
    }
    const wchar_t* fallback = defaultText != nullptr ? defaultText : L"";
    wchar_t name[kMaxName];
    Widen(valueName, name);
    wchar_t path[kMaxName];
    Widen(m_path, path);
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        CopyWideText(destination, fallback, capacity);
        return true;
    }
    // Straight into the destination: a value longer than it is taken as
    // missing, like a missing one.
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(capacity * sizeof(wchar_t));
    if (::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(destination), &size) !=
        ERROR_SUCCESS) {
        CopyWideText(destination, fallback, capacity);
        return true;
    }
    if (type != REG_SZ) {
        CopyWideText(destination, fallback, capacity);
        return false;
    }
    // A value may lack its terminator, and one that fills the destination
    // without one is not taken.
    const size_t characters = size / sizeof(wchar_t);
    if (characters == 0) {
        destination[0] = L'\0';
        return true;
    }
    if (destination[characters - 1] != L'\0') {
        if (characters >= capacity) {
            CopyWideText(destination, fallback, capacity);
            return false;
        }
        destination[characters] = L'\0';
    }
    // Never half a surrogate pair at the end.
    const size_t length = std::wcslen(destination);
    if (length > 0 && IS_HIGH_SURROGATE(destination[length - 1])) {
        destination[length - 1] = L'\0';
    }
    return true;
}

bool CSettingsKey::Write(const char* valueName, const char* text) const {
    UniqueRegKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, m_path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD size = static_cast<DWORD>(std::strlen(text) + 1);
    return ::RegSetValueExA(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) ==
           ERROR_SUCCESS;
}

bool CSettingsKey::WriteWide(const char* valueName, const wchar_t* text) const {
    wchar_t name[kMaxName];
    Widen(valueName, name);
    wchar_t path[kMaxName];
    Widen(m_path, path);
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD size = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) ==
           ERROR_SUCCESS;
}

bool CSettingsKey::WriteNumber(const char* valueName, long long value) const {
    // Stored as "%d" of the low 32 bits: what every version has read.
    char text[16];
    std::snprintf(text, sizeof(text), "%d", static_cast<int>(value));
    return Write(valueName, text);
}

bool CSettingsKey::Remove(const char* valueName) const {
    UniqueRegKey key;
    const LONG opened = ::RegOpenKeyExA(HKEY_CURRENT_USER, m_path, 0, KEY_SET_VALUE, key.put());
    if (opened == ERROR_FILE_NOT_FOUND) {
        return true;  // no key, no value
    }
    if (opened != ERROR_SUCCESS) {
        return false;
    }
    const LONG removed = ::RegDeleteValueA(key.get(), valueName);
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

bool ReadSetting(const char* defaultText, char* destination, const char* valueName) {
    return CSettingsKey().Read(valueName, defaultText, destination);
}

bool WriteSetting(const char* text, const char* valueName) {
    return CSettingsKey().Write(valueName, text);
}

bool ReadSettingW(const wchar_t* defaultText, wchar_t* destination, const char* valueName) {
    return CSettingsKey().ReadWide(valueName, defaultText, destination, kSettingsTextCapacity);
}

bool WriteSettingW(const wchar_t* text, const char* valueName) {
    return CSettingsKey().WriteWide(valueName, text);
}

bool StoreWindowChoice(const wchar_t* windowName, const wchar_t* windowClass, const wchar_t* windowProgram,
                       const char* keyPath) {
    if (windowName == nullptr || windowClass == nullptr || windowProgram == nullptr) {
        return false;
    }
    wchar_t name[kWindowTitleCapacity];
    wchar_t windowClassText[kWindowClassCapacity];
    wchar_t program[kWindowProgramCapacity];
    CopyWideText(name, windowName, kWindowTitleCapacity);
    CopyWideText(windowClassText, windowClass, kWindowClassCapacity);
    CopyWideText(program, windowProgram, kWindowProgramCapacity);
    // The class first, the title last: a device that reloads between the
    // writes searches for a mix of old and new, which at worst finds
    // nothing until the last write follows.
    const CSettingsKey key(keyPath);
    const bool classStored = key.WriteWide(kWindowClassValue, windowClassText);
    const bool programStored = key.WriteWide(kWindowProgramValue, program);
    const bool nameStored = key.WriteWide(kWindowNameValue, name);
    return classStored && programStored && nameStored;
}

bool StoreScaleMode(ScaleMode mode, const char* keyPath) {
    return CSettingsKey(keyPath).WriteNumber(kScaleModeValue, static_cast<int>(mode));
}

bool StoreCaptureMethod(CaptureMethod method, const char* keyPath) {
    const int value = static_cast<int>(method);
    if (value < static_cast<int>(CaptureMethod::Auto) || value > static_cast<int>(CaptureMethod::Graphics)) {
        return false;
    }
    return CSettingsKey(keyPath).WriteNumber(kCaptureMethodValue, value);
}

bool StoreSourceWindow(const char* keyPath) {
    return CSettingsKey(keyPath).WriteNumber(kSourceKindValue, static_cast<int>(SourceKind::Window));
}

bool StoreSourceMonitor(const wchar_t* deviceName, const char* keyPath) {
    if (deviceName == nullptr || std::wcslen(deviceName) >= kMonitorNameCapacity) {
        return false;
    }
    // The name first: a device that reloads between the writes shows the
    // monitor it names from the kind's write on.
    const CSettingsKey key(keyPath);
    return key.WriteWide(kSourceMonitorValue, deviceName) &&
           key.WriteNumber(kSourceKindValue, static_cast<int>(SourceKind::Monitor));
}

bool StoreSourceRegion(const StoredRect& region, const char* keyPath) {
    if (!IsStorableRect(region)) {
        return false;
    }
    char text[kSettingsTextCapacity];
    FormatStoredRect(region, text);
    const CSettingsKey key(keyPath);
    return key.Write(kSourceRegionValue, text) &&
           key.WriteNumber(kSourceKindValue, static_cast<int>(SourceKind::Region));
}

bool StoreCropRect(const StoredRect& crop, const char* keyPath) {
    if (!crop.Empty() && !IsStorableRect(crop)) {
        return false;
    }
    char text[kSettingsTextCapacity];
    FormatStoredRect(crop, text);
    return CSettingsKey(keyPath).Write(kCropRectValue, text);
}

bool StoreShowCursor(CursorChoice choice, const char* keyPath) {
    const CSettingsKey key(keyPath);
    if (choice == CursorChoice::Default) {
        return key.Remove(kShowCursorValue);
    }
    return key.WriteNumber(kShowCursorValue, static_cast<int>(choice));
}

bool StoreMirror(bool mirror, const char* keyPath) {
    return CSettingsKey(keyPath).WriteNumber(kMirrorValue, mirror ? 1 : 0);
}

bool StoreStandbyImage(const wchar_t* path, const char* keyPath) {
    if (path == nullptr || std::wcslen(path) >= kStandbyImageCapacity) {
        return false;
    }
    return CSettingsKey(keyPath).WriteWide(kStandbyImageValue, path);
}
