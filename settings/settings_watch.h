// CSettingsWatch: tells the streaming thread when a settings key has
// changed, through the registry's own change notification rather than by
// reading it over and over. While the key does not exist, the nearest
// existing key above it is watched instead, until it appears.
//
// One thread starts, asks and stops it (checked): the registry drops a
// notification when the thread that asked for it ends.
#pragma once

#include <windows.h>

#include "settings/settings_store.h"
#include "framework/com_util.h"
#include "framework/thread_checks.h"

class CSettingsWatch {
public:
    // Arms the notification for the key at `keyPath` below
    // HKEY_CURRENT_USER. E_FAIL when nothing can be watched; the settings
    // then apply from the next start.
    [[nodiscard]] HRESULT Start(const char* keyPath = kSettingsKeyPath);
    void Stop();

    // True when the key (or a value in it) changed since the last call;
    // never waits. Re-arms the notification before it answers, so that no
    // change in between is missed.
    [[nodiscard]] bool Changed();

private:
    void Reset();
    [[nodiscard]] HRESULT Arm();

    char m_path[CSettingsKey::kMaxPath] = {};
    UniqueRegKey m_key;
    UniqueHandle m_event;
    // The key watched is an ancestor of the settings key, which is missing.
    bool m_watchingAncestor = false;
    CThreadChecker m_thread;
};
