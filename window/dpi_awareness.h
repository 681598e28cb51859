// Per-monitor DPI awareness (v2 where the system has it) of the calling
// thread for one scope.
// A host that is not DPI-aware sees the windows of aware applications on a
// scaled display at virtualised, scaled-down coordinates, so a capture in
// its context would read only part of them. The thread's context is
// changed only for the scope and restored after; the host process's own
// awareness is never touched.
#pragma once

#include <windows.h>

// SetThreadDpiAwarenessContext's shape, for a system that has it (Windows
// 10 1703 and later) or a test that records the calls.
using SetThreadDpiContextFunction = HANDLE(WINAPI*)(HANDLE context);

// The system's SetThreadDpiAwarenessContext, looked up once; null where
// the system lacks it (the module must still load there).
SetThreadDpiContextFunction SystemSetThreadDpiContext();

class CPerMonitorDpiScope {
public:
    // Per-monitor awareness v2 and v1, in the values the system defines.
    static HANDLE PerMonitorAwareV2() { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)); }
    static HANDLE PerMonitorAware() { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3)); }

    // setContext: the function to call; null means the system's (and
    // nothing happens where the system has none).
    explicit CPerMonitorDpiScope(SetThreadDpiContextFunction setContext = nullptr);
    ~CPerMonitorDpiScope();
    CPerMonitorDpiScope(const CPerMonitorDpiScope&) = delete;
    CPerMonitorDpiScope& operator=(const CPerMonitorDpiScope&) = delete;

private:
    SetThreadDpiContextFunction m_setContext;
    // The context before the scope; null when none was changed.
    HANDLE m_previous = nullptr;
};
