// CWindowTracker: finds the window to capture by class and title, then
// follows it by its handle until it is gone or forgotten.
#pragma once

#include <windows.h>

#include <atomic>

class CWindowTracker {
public:
    // Streaming thread: the window to copy for this frame, or null for a
    // standby frame. While no live window is tracked it searches: the
    // window of the configured class and title, else any top-level window
    // of the built-in default class, whatever its title. A window found by
    // that search is copied from the next frame on: the frame that finds
    // it is still a standby frame.
    HWND WindowForFrame(const char* windowClass, const char* windowName);

    // Any thread: drops the tracked window, so that the next frame is a
    // standby frame and searches again.
    void Forget() { m_window.store(nullptr); }

    // The tracked window, null while none. Looked at, never owned: the
    // window belongs to another application.
    HWND Current() const { return m_window.load(); }

private:
    std::atomic<HWND> m_window{nullptr};
};
