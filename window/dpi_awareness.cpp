#include "window/dpi_awareness.h"

SetThreadDpiContextFunction SystemSetThreadDpiContext() {
    // Resolved once; user32 is loaded in every process that has windows,
    // and its exports never move.
    static const SetThreadDpiContextFunction function = []() -> SetThreadDpiContextFunction {
        const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
        if (user32 == nullptr) {
            return nullptr;
        }
        // Through void* because GCC warns about casts between function types.
        return reinterpret_cast<SetThreadDpiContextFunction>(
            reinterpret_cast<void*>(::GetProcAddress(user32, "SetThreadDpiAwarenessContext")));
    }();
    return function;
}

CPerMonitorDpiScope::CPerMonitorDpiScope(SetThreadDpiContextFunction setContext)
    : m_setContext(setContext != nullptr ? setContext : SystemSetThreadDpiContext()) {
    if (m_setContext != nullptr) {
        // Systems before Windows 10 1703 (and Wine) refuse v2; per-monitor
        // awareness v1 gives the same coordinates for a capture. Null when
        // both are refused: then there is nothing to restore.
        m_previous = m_setContext(PerMonitorAwareV2());
        if (m_previous == nullptr) {
            m_previous = m_setContext(PerMonitorAware());
        }
    }
}

CPerMonitorDpiScope::~CPerMonitorDpiScope() {
    if (m_setContext != nullptr && m_previous != nullptr) {
        m_setContext(m_previous);
    }
}
