#include "settings/settings_watch.h"

#include <cstdio>
#include <cstring>

HRESULT CSettingsWatch::Start(const char* keyPath) {
    QM_DCHECK_ON_THREAD(m_thread);
    Reset();
    RETURN_HR_IF_NULL(E_POINTER, keyPath);
    std::snprintf(m_path, sizeof(m_path), "%s", keyPath);
    m_event.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    RETURN_HR_IF(E_OUTOFMEMORY, !m_event);
    return Arm();
}

void CSettingsWatch::Stop() {
    QM_DCHECK_ON_THREAD(m_thread);
    Reset();
    // The next start may come from another thread.
    m_thread.Detach();
}

void CSettingsWatch::Reset() {
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
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, m_path, 0, KEY_NOTIFY | KEY_READ, key.put()) == ERROR_SUCCESS) {
            m_watchingAncestor = false;
        } else {
            char ancestor[CSettingsKey::kMaxPath];
            std::memcpy(ancestor, m_path, sizeof(ancestor));
            bool opened = false;
            while (!opened) {
                char* separator = std::strrchr(ancestor, '\\');
                if (separator == nullptr) {
                    // The root of the user's hive.
                    opened = ::RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_NOTIFY, key.put()) == ERROR_SUCCESS;
                    break;
                }
                *separator = '\0';
                opened = ::RegOpenKeyExA(HKEY_CURRENT_USER, ancestor, 0, KEY_NOTIFY, key.put()) == ERROR_SUCCESS;
            }
            RETURN_HR_IF(E_FAIL, !opened);
            m_watchingAncestor = true;
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
    QM_DCHECK_ON_THREAD(m_thread);
    if (!m_event || ::WaitForSingleObject(m_event.get(), 0) != WAIT_OBJECT_0) {
        return false;
    }
    // A key that was deleted and created again is a new key: open it anew.
    if (!m_watchingAncestor) {
        m_key.reset();
    }
    // A watch that cannot be armed again reports no more changes: logged.
    LOG_IF_FAILED(Arm());
    return true;
}
