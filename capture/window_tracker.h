// CWindowTracker: finds the window to capture by class and title, then
// follows it by its handle until it is gone, forgotten or retargeted.
//
// Threads. WindowForFrame belongs to the owner's thread (checked): the
// streaming thread of a device, the dialog thread of the window page.
// Forget and Current may come from any thread.
#pragma once

#include <windows.h>

#include <atomic>

#include "framework/thread_checks.h"

class CWindowTracker {
public:
    // Owner's thread: the window to capture for this frame, or null when
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

    // The owner's thread changes (a new stream starts on another thread).
    void DetachFromThread() { m_owner.Detach(); }

private:
    std::atomic<HWND> m_window{nullptr};
    CThreadChecker m_owner;
};
