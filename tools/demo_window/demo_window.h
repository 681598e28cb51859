// The demo source window: a top-level window that repaints the test
// pattern on a timer, drawn off-screen first so that a capture never sees
// a half-drawn frame.
#pragma once

#include <windows.h>

#include <string>

#include "framework/com_util.h"
#include "tools/demo_window/test_pattern.h"

namespace qmdemo {

inline constexpr wchar_t kDemoWindowClass[] = L"Quillmere::MainFrame";
inline constexpr wchar_t kDemoWindowTitle[] = L"Quillmere";

struct DemoWindowOptions {
    int clientWidth = 1280;
    int clientHeight = 720;
    // The window's top left corner, when given; else the system's choice.
    bool hasPosition = false;
    int x = 0;
    int y = 0;
    int refreshRate = 60;
    // 0 runs until the window is closed.
    double seconds = 0.0;
    std::wstring title = kDemoWindowTitle;
    std::wstring windowClass = kDemoWindowClass;
    // Written once the first frame is on screen, for scripts that wait.
    std::wstring readyFile;
};

class DemoWindow {
public:
    explicit DemoWindow(const DemoWindowOptions& options);
    ~DemoWindow();
    DemoWindow(const DemoWindow&) = delete;
    DemoWindow& operator=(const DemoWindow&) = delete;

    // Registers the class and shows the window; `error` says what failed.
    bool Create(HINSTANCE instance, std::wstring* error);
    // Runs the message loop until the window is gone; returns the exit status.
    int Run();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnTimer();
    void OnPaint();
    void EnsureBackBuffer(HDC screen, int width, int height);
    double ElapsedSeconds() const;

    const DemoWindowOptions m_options;
    HINSTANCE m_instance = nullptr;
    bool m_classRegistered = false;
    HWND m_window = nullptr;
    LARGE_INTEGER m_frequency = {};
    LARGE_INTEGER m_started = {};
    uint64_t m_frameNumber = 0;
    bool m_readyWritten = false;

    // The back buffer: a bitmap compatible with the window, in its own DC.
    UniqueMemoryDc m_backDc;
    UniqueGdiObject m_backBitmap;
    HGDIOBJ m_originalBitmap = nullptr;
    int m_backWidth = 0;
    int m_backHeight = 0;
    TestPattern m_pattern;
};

}  // namespace qmdemo
