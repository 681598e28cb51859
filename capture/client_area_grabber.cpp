#include "capture/client_area_grabber.h"

#include <new>

#include "framework/com_util.h"

namespace {

bool CopyClientArea(HWND window, const RECT& client, const CMemoryDib& dib) {
    WindowDc windowDc(window);
    if (windowDc.get() == nullptr) {
        return false;
    }
    return ::BitBlt(dib.Dc(), 0, 0, dib.Width(), dib.Height(), windowDc.get(), client.left, client.top, SRCCOPY) !=
           FALSE;
}

}  // namespace

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
    if (HasPicture() && width == m_dib->Width() && height == m_dib->Height()) {
        return CopyClientArea(window, client, *m_dib);
    }
    std::unique_ptr<CMemoryDib> fresh(new (std::nothrow) CMemoryDib);
    if (!fresh || !fresh->Create(width, height, 32, /*topDown=*/true) || !CopyClientArea(window, client, *fresh)) {
        return false;
    }
    m_dib = std::move(fresh);
    return true;
}
