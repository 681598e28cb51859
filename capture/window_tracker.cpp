#include "capture/window_tracker.h"

#include "capture/capture_settings.h"

HWND CWindowTracker::WindowForFrame(const char* windowClass, const char* windowName) {
    const HWND tracked = m_window.load();
    if (tracked != nullptr && ::IsWindow(tracked)) {
        return tracked;
    }
    HWND found = ::FindWindowA(windowClass, windowName);
    if (found == nullptr) {
        found = ::FindWindowA(kDefaultWindowClass, nullptr);
    }
    m_window.store(found);
    return nullptr;
}
