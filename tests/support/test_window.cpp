#include "tests/support/test_window.h"

#include <string>

namespace qmtest {

struct TestWindow::State {
    HWND window = nullptr;
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

namespace {

uint32_t ToPixel(COLORREF colour) {
    return (static_cast<uint32_t>(GetRValue(colour)) << 16) | (static_cast<uint32_t>(GetGValue(colour)) << 8) |
           GetBValue(colour);
}

// Shows the picture in a DC whose origin is the client area's.
void PaintPicture(HWND window, HDC dc, const std::vector<uint32_t>* state) {
    RECT client;
    ::GetClientRect(window, &client);
    if (state == nullptr || state->empty() ||
        state->size() != static_cast<size_t>(client.right) * static_cast<size_t>(client.bottom)) {
        return;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    ::SetDIBitsToDevice(dc, 0, 0, client.right, client.bottom, 0, 0, 0, client.bottom, state->data(), &info,
                        DIB_RGB_COLORS);
}

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    const auto* state = reinterpret_cast<const std::vector<uint32_t>*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(window, &paint);
        PaintPicture(window, dc, state);
        ::EndPaint(window, &paint);
        return 0;
    }
    case WM_PRINTCLIENT:
        // The window printing itself (PrintWindow) into another DC.
        PaintPicture(window, reinterpret_cast<HDC>(wParam), state);
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

HRESULT RegisterTestClass(const wchar_t* className) {
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof(existing);
    if (::GetClassInfoExW(::GetModuleHandleW(nullptr), className, &existing)) {
        return existing.lpfnWndProc == TestWindowProc ? S_OK : E_FAIL;
    }
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = TestWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = className;
    if (::RegisterClassExW(&windowClass) == 0) {
        return HRESULT_FROM_WIN32(::GetLastError());
    }
    return S_OK;
}

}  // namespace

namespace {

HDESK& PrivateDesktop() {
    static HDESK desktop = nullptr;
    return desktop;
}

}  // namespace

HRESULT PrivateTestDesktop::Enter() {
    HDESK& desktop = PrivateDesktop();
    if (desktop == nullptr) {
        // Named per process: desktops of one name are one desktop.
        const std::wstring name = L"QMCaptureTests-" + std::to_wstring(::GetCurrentProcessId());
        desktop = ::CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        if (desktop == nullptr) {
            return HRESULT_FROM_WIN32(::GetLastError());
        }
    }
    if (!::SetThreadDesktop(desktop)) {
        return HRESULT_FROM_WIN32(::GetLastError());
    }
    return S_OK;
}

HDESK PrivateTestDesktop::Handle() {
    return PrivateDesktop();
}

bool PrivateTestDesktop::IsCurrent() {
    return PrivateDesktop() != nullptr && ::GetThreadDesktop(::GetCurrentThreadId()) == PrivateDesktop();
}

TestWindowPainter SolidPainter(COLORREF colour) {
    return [colour](int, int) { return colour; };
}

TestWindowPainter QuadrantPainter(int width, int height, COLORREF topLeft, COLORREF topRight, COLORREF bottomLeft,
                                  COLORREF bottomRight) {
    return [=](int x, int y) {
        const bool right = x >= width / 2;
        const bool bottom = y >= height / 2;
        return bottom ? (right ? bottomRight : bottomLeft) : (right ? topRight : topLeft);
    };
}

TestWindowPainter CheckerboardPainter(COLORREF even, COLORREF odd) {
    return [=](int x, int y) { return ((x + y) % 2 == 0) ? even : odd; };
}

TestWindow::TestWindow() : m_state(std::make_unique<State>()) {}

TestWindow::~TestWindow() {
    Destroy();
}

HRESULT TestWindow::Create(const wchar_t* className, const wchar_t* title, int clientWidth, int clientHeight,
                           const TestWindowPainter& painter, int x, int y, DWORD exStyle) {
    if (m_state->window != nullptr || clientWidth <= 0 || clientHeight <= 0) {
        return E_UNEXPECTED;
    }
    const HRESULT hr = RegisterTestClass(className);
    if (FAILED(hr)) {
        return hr;
    }
    m_state->width = clientWidth;
    m_state->height = clientHeight;
    m_state->pixels.assign(static_cast<size_t>(clientWidth) * static_cast<size_t>(clientHeight), 0);
    for (int row = 0; row < clientHeight; ++row) {
        for (int column = 0; column < clientWidth; ++column) {
            m_state->pixels[static_cast<size_t>(row) * clientWidth + column] = ToPixel(painter(column, row));
        }
    }

    // A popup: its client area is the whole window, so it has exactly the
    // size asked for, and it has no frame for a window manager to manage
    // (without one, Wine waits two seconds for it whenever a managed window
    // is hidden). Capture sees only the client area either way.
    constexpr DWORD kStyle = WS_POPUP;
    m_state->window = ::CreateWindowExW(WS_EX_NOACTIVATE | exStyle, className, title, kStyle, x, y, clientWidth,
                                        clientHeight, nullptr, nullptr, ::GetModuleHandleW(nullptr),
                                        &m_state->pixels);
    if (m_state->window == nullptr) {
        const DWORD error = ::GetLastError();
        return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    RECT client = {};
    ::GetClientRect(m_state->window, &client);
    if (client.right != clientWidth || client.bottom != clientHeight) {
        Destroy();
        return E_FAIL;
    }
    ::ShowWindow(m_state->window, SW_SHOWNOACTIVATE);
    ::UpdateWindow(m_state->window);
    PumpMessages();
    return S_OK;
}

void TestWindow::Paint(const TestWindowPainter& painter) {
    for (int row = 0; row < m_state->height; ++row) {
        for (int column = 0; column < m_state->width; ++column) {
            m_state->pixels[static_cast<size_t>(row) * m_state->width + column] = ToPixel(painter(column, row));
        }
    }
    if (m_state->window != nullptr) {
        ::InvalidateRect(m_state->window, nullptr, FALSE);
        ::UpdateWindow(m_state->window);
        PumpMessages();
    }
}

const std::vector<uint32_t>& TestWindow::Pixels() const {
    return m_state->pixels;
}

COLORREF TestWindow::PixelAt(int x, int y) const {
    const uint32_t pixel = m_state->pixels[static_cast<size_t>(y) * m_state->width + x];
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

HWND TestWindow::hwnd() const {
    return m_state->window;
}

int TestWindow::clientWidth() const {
    return m_state->width;
}

int TestWindow::clientHeight() const {
    return m_state->height;
}

void TestWindow::Destroy() {
    if (m_state->window != nullptr) {
        ::DestroyWindow(m_state->window);
        m_state->window = nullptr;
        PumpMessages();
    }
}

}  // namespace qmtest
