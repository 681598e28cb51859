#include "tests/support/counter_window.h"

#include <cstdint>
#include <functional>

#include "timing/frame_pacer.h"
#include "timing/pacing_clock.h"
#include "framework/memory_dib.h"
#include "tests/support/message_pump.h"

namespace qmtest {

namespace {

constexpr int kColumns = 8;
constexpr int kRows = 5;  // four rows of bits, one row of check bits
constexpr int kBits = 32;
// The reading's unit: 100 us, so 32 bits last almost five days.
constexpr LONGLONG kUnit = 1000;
constexpr LONGLONG kWrap = 1LL << kBits;

LONGLONG CounterNow() {
    return CPerformanceCounterClock().Now();
}

// Whether the block of grid cell (column, row) is lit.
bool Lit(uint32_t value, int column, int row) {
    if (row < kBits / kColumns) {
        return ((value >> (row * kColumns + column)) & 1u) != 0;
    }
    // The check row: the complement of the first row.
    return ((value >> column) & 1u) == 0;
}

// Draws the reading aside, then onto the window in one copy, so that a
// read of the window rarely finds it half drawn.
void Paint(HWND window, CMemoryDib& back, uint32_t value) {
    RECT client = {};
    ::GetClientRect(window, &client);
    if (back.Width() != client.right || back.Height() != client.bottom) {
        if (!back.Create(client.right, client.bottom, 32, /*topDown=*/true)) {
            return;
        }
    }
    const HBRUSH black = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    const HBRUSH white = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const RECT cell = {client.right * column / kColumns, client.bottom * row / kRows,
                               client.right * (column + 1) / kColumns, client.bottom * (row + 1) / kRows};
            ::FillRect(back.Dc(), &cell, Lit(value, column, row) ? white : black);
        }
    }
    const HDC dc = ::GetDC(window);
    if (dc == nullptr) {
        return;
    }
    ::BitBlt(dc, 0, 0, client.right, client.bottom, back.Dc(), 0, 0, SRCCOPY);
    ::GdiFlush();
    ::ReleaseDC(window, dc);
}

LRESULT CALLBACK CounterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) {
        return 1;
    }
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        ::BeginPaint(window, &paint);
        ::EndPaint(window, &paint);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// The reading from a picture by the brightness of each cell's centre.
bool Decode(const std::function<int(int x, int y)>& level, int width, int height, LONGLONG now, LONGLONG* shown) {
    uint32_t value = 0;
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const int x = width * (2 * column + 1) / (2 * kColumns);
            const int y = height * (2 * row + 1) / (2 * kRows);
            const int brightness = level(x, y);
            // A cell half drawn, or blurred across an edge, is neither.
            if (brightness > 64 && brightness < 192) {
                return false;
            }
            const bool lit = brightness >= 192;
            if (row < kBits / kColumns) {
                value |= static_cast<uint32_t>(lit) << (row * kColumns + column);
            } else if (lit == (((value >> column) & 1u) != 0)) {
                return false;
            }
        }
    }
    // The full time: the latest one at or before now with these low bits.
    const LONGLONG units = now / kUnit;
    LONGLONG candidate = units - ((units - static_cast<LONGLONG>(value)) % kWrap + kWrap) % kWrap;
    *shown = candidate * kUnit;
    return true;
}

}  // namespace

CounterWindow::~CounterWindow() {
    Stop();
}

HRESULT CounterWindow::Start(const wchar_t* className, const wchar_t* title, int width, int height, HDESK desktop) {
    if (m_thread != nullptr) {
        return E_UNEXPECTED;
    }
    m_className = className;
    m_title = title;
    m_width = width;
    m_height = height;
    m_desktop = desktop;
    m_stop = false;
    m_ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_ready == nullptr) {
        return E_OUTOFMEMORY;
    }
    m_thread = ::CreateThread(nullptr, 0, &ThreadProc, this, 0, nullptr);
    if (m_thread != nullptr) {
        ::WaitForSingleObject(m_ready, INFINITE);
    }
    ::CloseHandle(m_ready);
    m_ready = nullptr;
    if (m_thread == nullptr || m_window.load() == nullptr) {
        Stop();
        return E_FAIL;
    }
    return S_OK;
}

void CounterWindow::Stop() {
    if (m_thread == nullptr) {
        return;
    }
    m_stop = true;
    ::WaitForSingleObject(m_thread, INFINITE);
    ::CloseHandle(m_thread);
    m_thread = nullptr;
}

DWORD WINAPI CounterWindow::ThreadProc(LPVOID parameter) {
    auto* self = static_cast<CounterWindow*>(parameter);
    if (self->m_desktop != nullptr) {
        ::SetThreadDesktop(self->m_desktop);
    }
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = CounterWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = self->m_className;
    ::RegisterClassExW(&windowClass);
    const HWND window =
        ::CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_TOPMOST, self->m_className, self->m_title, WS_POPUP, 0, 0,
                          self->m_width, self->m_height, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    CMemoryDib back;
    if (window != nullptr) {
        ::ShowWindow(window, SW_SHOWNOACTIVATE);
        Paint(window, back, 0);
    }
    self->m_window = window;
    ::SetEvent(self->m_ready);
    if (window == nullptr) {
        return 1;
    }
    while (!self->m_stop) {
        PumpMessages();
        Paint(window, back, static_cast<uint32_t>((CounterNow() / kUnit) % kWrap));
        ::Sleep(1);
    }
    ::DestroyWindow(window);
    self->m_window = nullptr;
    return 0;
}

bool CounterWindow::DecodeRgb24(const BYTE* picture, int width, int height, LONGLONG now, LONGLONG* shown) {
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    return Decode(
        [&](int x, int y) {
            const BYTE* p = picture + static_cast<size_t>(height - 1 - y) * stride + static_cast<size_t>(x) * 3;
            return (p[0] + p[1] + p[2]) / 3;
        },
        width, height, now, shown);
}

bool CounterWindow::DecodeBgrx(const BYTE* topRow, ptrdiff_t stride, int width, int height, LONGLONG now,
                               LONGLONG* shown) {
    return Decode(
        [&](int x, int y) {
            const BYTE* p = topRow + y * stride + x * 4;
            return (p[0] + p[1] + p[2]) / 3;
        },
        width, height, now, shown);
}

}  // namespace qmtest
