#include "capture/window_tracker.h"

#include "capture/settings_values.h"

namespace {

// The first visible top-level window of a class and title (title null:
// any), else the first hidden one, else null.
HWND FindPreferringVisible(const char* windowClass, const char* windowName) {
    HWND hidden = nullptr;
    for (HWND window = ::FindWindowExA(nullptr, nullptr, windowClass, windowName); window != nullptr;
         window = ::FindWindowExA(nullptr, window, windowClass, windowName)) {
        if (::IsWindowVisible(window)) {
            return window;
        }
        if (hidden == nullptr) {
            hidden = window;
        }
    }
    return hidden;
}

}  // namespace

HWND CWindowTracker::WindowForFrame(const char* windowClass, const char* windowName) {
    QM_DCHECK_ON_THREAD(m_owner);
    const HWND tracked = m_window.load();
    if (tracked != nullptr && ::IsWindow(tracked)) {
        return tracked;
    }
    // An empty title stands for any title: the class alone decides.
    HWND found = FindPreferringVisible(windowClass, windowName[0] != '\0' ? windowName : nullptr);
    if (found == nullptr) {
        found = FindPreferringVisible(kDefaultWindowClass, nullptr);
    }
    m_window.store(found);
    return found;
}
