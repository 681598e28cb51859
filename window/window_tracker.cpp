#include "window/window_tracker.h"

HWND CWindowTracker::WindowForFrame(const WindowIdentity& identity) {
    QM_DCHECK_ON_THREAD(m_owner);
    const HWND followed = m_window.load();
    if (followed != nullptr && ::IsWindow(followed)) {
        if (::IsWindowVisible(followed) || ++m_hiddenFrames < kHiddenRecheckFrames) {
            return followed;
        }
        // Hidden: a visible match takes its place; else it stays followed,
        // since it may be shown again.
        m_hiddenFrames = 0;
        const WindowMatch match = FindCaptureWindow(identity);
        if (match.window != nullptr && match.visible) {
            Follow(match);
            return match.window;
        }
        return followed;
    }
    const WindowMatch match = FindCaptureWindow(identity);
    Follow(match);
    return match.window;
}

void CWindowTracker::Follow(const WindowMatch& match) {
    m_hiddenFrames = 0;
    m_rule.store(match.rule);
    m_window.store(match.window);
}
