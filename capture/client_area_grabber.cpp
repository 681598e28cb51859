#include "capture/client_area_grabber.h"

#include "framework/com_util.h"

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
    if ((width != m_dib.Width() || height != m_dib.Height() || !m_dib) &&
        !m_dib.Create(width, height, 32, /*topDown=*/true)) {
        return false;
    }
    WindowDc windowDc(window);
    if (windowDc.get() == nullptr) {
        return false;
    }
    return ::BitBlt(m_dib.Dc(), 0, 0, width, height, windowDc.get(), client.left, client.top, SRCCOPY) != FALSE;
}
