// A thread of the test's own that owns test windows and answers their
// messages, as an application's UI thread does: windows that must be
// printed (PrintWindow runs on the window's thread) or found by another
// thread live here. The thread can also be made to hang, like an
// application that stops answering.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "tests/support/test_window.h"

namespace qmtest {

class TestWindowThread {
public:
    // desktop: the desktop the thread joins before it makes any window
    // (for a caller on a private desktop); null keeps the process's.
    explicit TestWindowThread(HDESK desktop = nullptr);
    // Destroys the thread's windows, then ends it (after a hang is over).
    ~TestWindowThread();
    TestWindowThread(const TestWindowThread&) = delete;
    TestWindowThread& operator=(const TestWindowThread&) = delete;

    bool ok() const { return m_thread != nullptr; }

    // Runs work on the thread and waits until it is done.
    void Run(const std::function<void()>& work);

    // Creates a test window on the thread (TestWindow::Create); it lives
    // until Destroy or the end of the thread.
    HRESULT Create(const wchar_t* className, const wchar_t* title, int clientWidth, int clientHeight,
                   const TestWindowPainter& painter, HWND* window, int x = 0, int y = 0, DWORD exStyle = 0);
    void Paint(HWND window, const TestWindowPainter& painter);
    void Destroy(HWND window);

    // The thread sleeps for the time given without answering any message;
    // returns at once.
    void Hang(DWORD milliseconds);

private:
    static DWORD WINAPI ThreadProc(LPVOID parameter);
    TestWindow* Find(HWND window);

    HDESK m_desktop = nullptr;
    HANDLE m_ready = nullptr;
    HANDLE m_thread = nullptr;
    DWORD m_threadId = 0;
    // Touched on the thread only.
    std::vector<std::unique_ptr<TestWindow>> m_windows;
};

}  // namespace qmtest
