// CWindowTracker: finds the window to capture by class and title, then
// follows it by its handle until it is gone, forgotten or retargeted.
#pragma once

#include <windows.h>

#include <atomic>

class CWindowTracker {
public:
    // Streaming thread: the window to capture for this frame, or null when
    // there is none. While no live window is tracked it searches, so that
    // the frame that finds a window already shows it: first a window of
    // the configured class and title (an empty title: any title), else
    // any top-level window of the built-in default class, whatever its
    // title. Among several matches a visible one wins, so that a hidden
    // helper window of the same class does not hide the main window.
    HWND WindowForFrame(const char* windowClass, const char* windowName);

    // Any thread: drops the tracked window, so that the next frame
    // searches again.
    void Forget() { m_window.store(nullptr); }

    // The tracked window, null while none. Looked at, never owned: the
    // window belongs to another application.
    HWND Current() const { return m_window.load(); }

private:
    std::atomic<HWND> m_window{nullptr};
};
