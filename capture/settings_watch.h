// CSettingsWatch: tells the streaming thread when the settings key has
// changed, through the registry's own change notification rather than by
// reading it over and over. While the key does not exist, the nearest
// existing key above it is watched instead, until it appears.
//
// One thread starts, asks and stops it: the registry drops a notification
// when the thread that asked for it ends.
#pragma once

#include <windows.h>

#include "framework/com_util.h"

class CSettingsWatch {
public:
    // Arms the notification. E_FAIL when nothing can be watched; the
    // settings then apply from the next start.
    HRESULT Start();
    void Stop();

    // True when the key (or a value in it) changed since the last call;
    // never waits. Re-arms the notification before it answers, so that no
    // change in between is missed.
    bool Changed();

private:
    HRESULT Arm();

    UniqueRegKey m_key;
    UniqueHandle m_event;
    // The key watched is an ancestor of the settings key, which is missing.
    bool m_watchingAncestor = false;
};
