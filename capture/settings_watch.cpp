#include "capture/settings_watch.h"

#include "capture/capture_settings.h"

namespace {

constexpr char kSettingsParentPath[] = "Software";

}  // namespace

HRESULT CSettingsWatch::Start() {
    Stop();
    m_event.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    RETURN_HR_IF(E_OUTOFMEMORY, !m_event);
    return Arm();
}

void CSettingsWatch::Stop() {
    // Closing the key ends its notification.
    m_key.reset();
    m_event.reset();
    m_watchingAncestor = false;
}

HRESULT CSettingsWatch::Arm() {
    if (!m_key || m_watchingAncestor) {
        // The settings key itself when it exists; else the nearest key
        // above it, watched with its subkeys for the key's creation.
        UniqueRegKey key;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_NOTIFY | KEY_READ, key.put()) ==
            ERROR_SUCCESS) {
            m_watchingAncestor = false;
        } else if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsParentPath, 0, KEY_NOTIFY, key.put()) ==
                       ERROR_SUCCESS ||
                   ::RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_NOTIFY, key.put()) == ERROR_SUCCESS) {
            m_watchingAncestor = true;
        } else {
            return E_FAIL;
        }
        m_key = std::move(key);
    }
    // Values set or deleted, and (for an ancestor) keys created below it.
    const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    const LONG status = ::RegNotifyChangeKeyValue(m_key.get(), m_watchingAncestor ? TRUE : FALSE, filter,
                                                  m_event.get(), TRUE);
    return status == ERROR_SUCCESS ? S_OK : HResultFromWin32(static_cast<DWORD>(status));
}

bool CSettingsWatch::Changed() {
    if (!m_event || ::WaitForSingleObject(m_event.get(), 0) != WAIT_OBJECT_0) {
        return false;
    }
    // A key that was deleted and created again is a new key: open it anew.
    if (!m_watchingAncestor) {
        m_key.reset();
    }
    Arm();
    return true;
}
