#include "tools/demo_window/demo_window.h"

#include <algorithm>

namespace qmdemo {

namespace {

constexpr UINT_PTR kRepaintTimer = 1;
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW;

}  // namespace

DemoWindow::DemoWindow(const DemoWindowOptions& options) : m_options(options) {
    ::QueryPerformanceFrequency(&m_frequency);
    ::QueryPerformanceCounter(&m_started);
}

DemoWindow::~DemoWindow() {
    if (m_window != nullptr) {
        ::DestroyWindow(m_window);
    }
    if (m_backDc && m_originalBitmap != nullptr) {
        ::SelectObject(m_backDc.get(), m_originalBitmap);
    }
    if (m_classRegistered) {
        ::UnregisterClassW(m_options.windowClass.c_str(), m_instance);
    }
}

bool DemoWindow::Create(HINSTANCE instance, std::wstring* error) {
    m_instance = instance;
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &DemoWindow::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    // No background brush: every pixel is painted from the back buffer.
    windowClass.hbrBackground = nullptr;
    windowClass.lpszClassName = m_options.windowClass.c_str();
    if (::RegisterClassExW(&windowClass) == 0) {
        *error = L"cannot register the window class (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    m_classRegistered = true;

    RECT frame = {0, 0, m_options.clientWidth, m_options.clientHeight};
    ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
    m_window = ::CreateWindowExW(0, m_options.windowClass.c_str(), m_options.title.c_str(), kWindowStyle,
                                 m_options.hasPosition ? m_options.x : CW_USEDEFAULT,
                                 m_options.hasPosition ? m_options.y : CW_USEDEFAULT, frame.right - frame.left,
                                 frame.bottom - frame.top,
                                 nullptr, nullptr, instance, this);
    if (m_window == nullptr) {
        *error = L"cannot create the window (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    const UINT interval = static_cast<UINT>(std::max(1, 1000 / m_options.refreshRate));
    if (::SetTimer(m_window, kRepaintTimer, interval, nullptr) == 0) {
        *error = L"cannot start the repaint timer (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    ::ShowWindow(m_window, SW_SHOWNORMAL);
    ::UpdateWindow(m_window);
    return true;
}

int DemoWindow::Run() {
    MSG message;
    BOOL result;
    while ((result = ::GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (result == -1) {
            return 1;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

LRESULT CALLBACK DemoWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* self = static_cast<DemoWindow*>(create->lpCreateParams);
        self->m_window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<DemoWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT DemoWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == kRepaintTimer) {
            OnTimer();
            return 0;
        }
        break;
    case WM_ERASEBKGND:
        // The paint covers the whole client area; erasing would flicker.
        return 1;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_PRINTCLIENT:
        // Printed (PrintWindow, as a capture may ask): the frame last shown.
        if (m_backBitmap) {
            ::BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, m_backWidth, m_backHeight, m_backDc.get(), 0, 0,
                     SRCCOPY);
        }
        return 0;
    case WM_DESTROY:
        ::KillTimer(m_window, kRepaintTimer);
        ::SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        m_window = nullptr;
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(m_window, message, wParam, lParam);
}

double DemoWindow::ElapsedSeconds() const {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - m_started.QuadPart) / static_cast<double>(m_frequency.QuadPart);
}

void DemoWindow::OnTimer() {
    if (m_options.seconds > 0.0 && ElapsedSeconds() >= m_options.seconds) {
        ::DestroyWindow(m_window);
        return;
    }
    ::InvalidateRect(m_window, nullptr, FALSE);
}

void DemoWindow::EnsureBackBuffer(HDC screen, int width, int height) {
    if (m_backDc && width == m_backWidth && height == m_backHeight) {
        return;
    }
    if (!m_backDc) {
        m_backDc.reset(::CreateCompatibleDC(screen));
        if (!m_backDc) {
            return;
        }
    }
    UniqueGdiObject bitmap(::CreateCompatibleBitmap(screen, width, height));
    if (!bitmap) {
        return;
    }
    const HGDIOBJ previous = ::SelectObject(m_backDc.get(), bitmap.get());
    if (m_originalBitmap == nullptr) {
        m_originalBitmap = previous;
    }
    // The old bitmap is no longer selected, so it may be deleted now.
    m_backBitmap = std::move(bitmap);
    m_backWidth = width;
    m_backHeight = height;
}

void DemoWindow::OnPaint() {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(m_window, &paint);
    if (dc == nullptr) {
        return;
    }
    RECT client;
    ::GetClientRect(m_window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width > 0 && height > 0) {
        EnsureBackBuffer(dc, width, height);
        PatternFrame frame;
        frame.frameNumber = m_frameNumber++;
        frame.elapsedSeconds = ElapsedSeconds();
        frame.refreshRate = m_options.refreshRate;
        ::GetLocalTime(&frame.localTime);
        if (m_backBitmap) {
            m_pattern.Draw(m_backDc.get(), width, height, frame);
            ::BitBlt(dc, 0, 0, width, height, m_backDc.get(), 0, 0, SRCCOPY);
        }
    }
    ::EndPaint(m_window, &paint);

    if (!m_readyWritten && !m_options.readyFile.empty()) {
        m_readyWritten = true;
        UniqueHandle file(::CreateFileW(m_options.readyFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) {
            file.release();
        }
    }
}

}  // namespace qmdemo
