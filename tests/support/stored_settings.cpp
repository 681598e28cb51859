#include "tests/support/stored_settings.h"

#include <cstring>
#include <cwchar>

#include "settings/capture_settings.h"
#include "framework/com_util.h"

namespace qmtest {

bool ReadStoredSetting(const char* name, DWORD* type, std::string* data) {
    UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    char buffer[1024] = {};
    DWORD size = sizeof(buffer);
    if (::RegQueryValueExA(key.get(), name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    data->assign(buffer, size);
    return true;
}

std::string StoredText(const char* name) {
    DWORD type = 0;
    std::string data;
    if (!ReadStoredSetting(name, &type, &data) || type != REG_SZ || data.empty() || data.back() != '\0') {
        return "<missing or malformed>";
    }
    return data.substr(0, data.size() - 1);
}

bool StoreSetting(const char* name, DWORD type, const void* data, DWORD size) {
    UniqueRegKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return ::RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool StoreText(const char* name, const char* text) {
    return StoreSetting(name, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
}

namespace {

// A value name as the wide-character registry functions take it.
std::wstring WideName(const char* name) {
    wchar_t wide[256] = {};
    ::MultiByteToWideChar(CP_ACP, 0, name, -1, wide, static_cast<int>(sizeof(wide) / sizeof(wide[0])) - 1);
    return wide;
}

}  // namespace

bool StoreWideSetting(const char* name, DWORD type, const void* data, DWORD size) {
    UniqueRegKey key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return ::RegSetValueExW(key.get(), WideName(name).c_str(), 0, type, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
}

std::wstring StoredWideText(const char* name) {
    const std::wstring missing = L"<missing or malformed>";
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, WideName(kSettingsKeyPath).c_str(), 0, KEY_READ, key.put()) !=
        ERROR_SUCCESS) {
        return missing;
    }
    wchar_t data[4096] = {};
    // One character short of the buffer, so that the text ends within it.
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key.get(), WideName(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data),
                           &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return missing;
    }
    return data;
}

bool StoreWideText(const char* name, const wchar_t* text) {
    UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, WideName(kSettingsKeyPath).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD size = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t));
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text);
    return ::RegSetValueExW(key.get(), WideName(name).c_str(), 0, REG_SZ, bytes, size) == ERROR_SUCCESS;
}

bool ReadSettingsKey(SettingsSnapshot* snapshot) {
    snapshot->clear();
    UniqueRegKey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameLength = sizeof(name);
        DWORD type = 0;
        BYTE data[4096];
        DWORD size = sizeof(data);
        const LONG result = ::RegEnumValueA(key.get(), index, name, &nameLength, nullptr, &type, data, &size);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS) {
            (*snapshot)[std::string("<error ") + std::to_string(result) + ">"] = {0, {}};
            break;
        }
        (*snapshot)[std::string(name, nameLength)] = {type, std::string(reinterpret_cast<char*>(data), size)};
    }
    return true;
}

}  // namespace qmtest
