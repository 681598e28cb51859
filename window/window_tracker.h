// CWindowTracker: finds the window to capture by its stored identity
// (class, title, program; see window_search.h), then follows it by its
// handle while it exists, whatever its title becomes, until it is
// forgotten (the stored identity changed) or gone. While the followed
// window is hidden, every few frames it looks again and moves to a visible
// match: hidden helper windows of an application's main class must not
// hide its main window.
//
// Threads. WindowForFrame belongs to the owner's thread (checked): the
// streaming thread of a device, the dialog thread of the window page.
// Forget, Current and CurrentRule may come from any thread.
#pragma once

#include <windows.h>

#include <atomic>

#include "window/window_search.h"
#include "framework/thread_checks.h"

class CWindowTracker {
public:
    // While the followed window is hidden, a search every this many frames.
    static constexpr int kHiddenRecheckFrames = 5;

    // Owner's thread: the window to capture for this frame, or null when
    // there is none. While no live window is followed it searches, so that
    // the frame that finds a window already shows it.
    HWND WindowForFrame(const WindowIdentity& identity);

    // Any thread: drops the followed window, so that the next frame
    // searches again.
    void Forget() {
        m_window.store(nullptr);
        m_rule.store(WindowMatchRule::None);
    }

    // The followed window, null while none. Looked at, never owned: the
    // window belongs to another application.
    HWND Current() const { return m_window.load(); }
    // The rule that found it (None while none).
    WindowMatchRule CurrentRule() const { return m_rule.load(); }

    // The owner's thread changes (a new stream starts on another thread).
    void DetachFromThread() { m_owner.Detach(); }

private:
    void Follow(const WindowMatch& match);

    std::atomic<HWND> m_window{nullptr};
    std::atomic<WindowMatchRule> m_rule{WindowMatchRule::None};
    CThreadChecker m_owner;
    // Owner's thread: frames since the hidden window was last searched past.
    int m_hiddenFrames = 0;
};
