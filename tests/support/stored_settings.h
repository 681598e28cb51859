// The device's settings key of the current user, read and written the way
// tests set up and check what the device stores. Use it inside a
// RegistrySandbox, which redirects HKEY_CURRENT_USER to a scratch key.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace qmtest {

// A value as stored: its type and raw bytes (a string's terminator
// included). False when the key or the value is missing.
bool ReadStoredSetting(const char* name, DWORD* type, std::string* data);

// The text of a stored REG_SZ value, whose terminator must be stored too;
// "<missing or malformed>" otherwise.
std::string StoredText(const char* name);

// Stores a value of any type and content, creating the key if need be.
bool StoreSetting(const char* name, DWORD type, const void* data, DWORD size);
// Stores a REG_SZ value with its terminator.
bool StoreText(const char* name, const char* text);

// The same through the wide-character registry functions, for texts
// outside the system's code page: a stored REG_SZ value up to its
// terminator, or "<missing or malformed>"; and a text stored with its
// terminator.
std::wstring StoredWideText(const char* name);
bool StoreWideText(const char* name, const wchar_t* text);
// Raw bytes through the wide-character functions (REG_SZ data is taken as
// UTF-16 as it is).
bool StoreWideSetting(const char* name, DWORD type, const void* data, DWORD size);

// Every value under the key: name -> (type, raw bytes).
struct StoredValue {
    DWORD type;
    std::string data;
    bool operator==(const StoredValue& other) const { return type == other.type && data == other.data; }
};
using SettingsSnapshot = std::map<std::string, StoredValue>;
// False when the key cannot be opened (then the snapshot is empty).
bool ReadSettingsKey(SettingsSnapshot* snapshot);

}  // namespace qmtest
