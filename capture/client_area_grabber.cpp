#include "capture/client_area_grabber.h"

bool CClientAreaGrabber::Grab(HWND window) {
    RECT client = {};
    if (!::GetClientRect(window, &client)) {
        return false;
    }
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    if ((width != m_width || height != m_height || m_pixels == nullptr) && !Resize(width, height)) {
        return false;
    }
    WindowDc windowDc(window);
    if (windowDc.get() == nullptr) {
        return false;
    }
    return ::BitBlt(m_dc.get(), 0, 0, width, height, windowDc.get(), client.left, client.top, SRCCOPY) != FALSE;
}

void CClientAreaGrabber::Reset() {
    if (m_dc && m_previousBitmap != nullptr) {
        ::SelectObject(m_dc.get(), m_previousBitmap);
    }
    m_previousBitmap = nullptr;
    m_dib.reset();
    m_dc.reset();
    m_pixels = nullptr;
    m_width = 0;
    m_height = 0;
}

HBITMAP CreateTopDownDib32(int width, int height, void** pixels) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    // Negative: top-down rows, the order the scaler walks them in.
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    // 32 bits: aligned pixels for the scaler, and no conversion on copy.
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    *pixels = nullptr;
    return ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, pixels, nullptr, 0);
}

bool CClientAreaGrabber::Resize(int width, int height) {
    Reset();
    m_dc.reset(::CreateCompatibleDC(nullptr));
    if (!m_dc) {
        return false;
    }
    void* pixels = nullptr;
    m_dib.reset(CreateTopDownDib32(width, height, &pixels));
    if (!m_dib || pixels == nullptr) {
        Reset();
        return false;
    }
    m_previousBitmap = ::SelectObject(m_dc.get(), m_dib.get());
    m_pixels = static_cast<BYTE*>(pixels);
    m_width = width;
    m_height = height;
    return true;
}
