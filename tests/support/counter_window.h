// A window that shows the performance counter and repaints itself all the
// time, on a thread of its own, for measuring how old a captured picture
// is: the time a picture of it shows is when that content was drawn. The
// reading is 32 bits of the counter in 100-us units, as an 8 x 4 grid of
// black and white blocks over the client area, with a fifth row that
// holds the complement of the first, so that a picture caught half drawn
// or blurred is refused rather than misread.
#pragma once

#include <windows.h>

#include <atomic>

namespace qmtest {

class CounterWindow {
public:
    CounterWindow() = default;
    ~CounterWindow();
    CounterWindow(const CounterWindow&) = delete;
    CounterWindow& operator=(const CounterWindow&) = delete;

    // Shows a window of the class (registered here) with that client size
    // at (0, 0) of the calling process's desktop (or of `desktop`), top-most.
    HRESULT Start(const wchar_t* className, const wchar_t* title, int width, int height, HDESK desktop = nullptr);
    void Stop();
    HWND hwnd() const { return m_window.load(); }

    // The counter time (100-ns units, as CPerformanceCounterClock gives it)
    // that a picture of the window shows: a bottom-up 24-bit picture of any
    // size, the window stretched over it; or a top-down 32-bit one. now is
    // the counter at or after the picture was taken. False when the
    // picture holds no whole reading.
    static bool DecodeRgb24(const BYTE* picture, int width, int height, LONGLONG now, LONGLONG* shown);
    static bool DecodeBgrx(const BYTE* topRow, ptrdiff_t stride, int width, int height, LONGLONG now,
                           LONGLONG* shown);

private:
    static DWORD WINAPI ThreadProc(LPVOID parameter);

    HANDLE m_thread = nullptr;
    HANDLE m_ready = nullptr;
    std::atomic<bool> m_stop{false};
    std::atomic<HWND> m_window{nullptr};
    const wchar_t* m_className = nullptr;
    const wchar_t* m_title = nullptr;
    int m_width = 0;
    int m_height = 0;
    HDESK m_desktop = nullptr;
};

}  // namespace qmtest
