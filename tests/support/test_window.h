// Real top-level windows for capture tests: a window of a given class and
// title whose client area has a given size and shows a known picture,
// destroyed with its owner. The window belongs to the creating thread,
// which must also destroy it. It is a frameless popup, so the client area
// is the whole window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "tests/support/message_pump.h"

namespace qmtest {

// The colour of client pixel (x, y), y = 0 at the top.
using TestWindowPainter = std::function<COLORREF(int x, int y)>;

TestWindowPainter SolidPainter(COLORREF colour);
// Four quadrants split at (width / 2, height / 2): top left, top right,
// bottom left, bottom right.
TestWindowPainter QuadrantPainter(int width, int height, COLORREF topLeft, COLORREF topRight, COLORREF bottomLeft,
                                  COLORREF bottomRight);
// A checkerboard of one-pixel squares; (0, 0) has colour `even`.
TestWindowPainter CheckerboardPainter(COLORREF even, COLORREF odd);

// A desktop of this process alone. Test programs run side by side under one
// display, and a window search (FindWindow) sees every window on the
// caller's desktop: on a private desktop, windows created there and
// searches made from there see no other process's windows.
class PrivateTestDesktop {
public:
    // Creates the process's private desktop (once) and moves the calling
    // thread to it. A thread can move only before it uses any window
    // function (for the main thread: before main, from a static
    // initializer, since test_main starts COM first). S_OK or the error.
    static HRESULT Enter();
    // The private desktop, or null before Enter: another thread joins it
    // with SetThreadDesktop before its first window function.
    static HDESK Handle();
    // True when the calling thread is on the private desktop.
    static bool IsCurrent();
};

class TestWindow {
public:
    TestWindow();
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    // Registers the class (once per process and class name), creates the
    // window at (x, y) with the client size, paints it with painter, shows
    // it without activating it and handles its first paint. exStyle: more
    // extended styles (WS_EX_LAYOUTRTL for a mirrored window).
    HRESULT Create(const wchar_t* className, const wchar_t* title, int clientWidth, int clientHeight,
                   const TestWindowPainter& painter, int x = 0, int y = 0, DWORD exStyle = 0);

    // Repaints the client area with another picture, at once.
    void Paint(const TestWindowPainter& painter);

    // The picture as shown: top-down rows of 0x00RRGGBB.
    const std::vector<uint32_t>& Pixels() const;
    COLORREF PixelAt(int x, int y) const;

    HWND hwnd() const;
    int clientWidth() const;
    int clientHeight() const;

    // Destroys the window now (a closed application).
    void Destroy();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace qmtest
