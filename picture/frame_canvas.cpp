#include "picture/frame_canvas.h"

#include <climits>

void FrameCanvas::Release() {
    dib.Reset();
    header.reset();
}

bool BuildCanvas(FrameCanvas* canvas, int width, int height) {
    if (canvas == nullptr) {
        return false;
    }
    canvas->Release();
    if (width <= 0 || height <= 0) {
        return false;
    }
    const long long imageSize = DibStride(width, 24) * height;
    if (imageSize > INT_MAX) {
        return false;
    }

    canvas->header.reset(::GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, kCanvasHeaderBytes));
    if (!canvas->header) {
        return false;
    }
    auto* info = static_cast<BITMAPINFO*>(static_cast<void*>(canvas->header.get()));
    BITMAPINFOHEADER& header = info->bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    // Positive: rows bottom-up, as an RGB24 video sample stores them.
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(imageSize);
    for (int i = 0; i < 256; ++i) {
        info->bmiColors[i].rgbBlue = static_cast<BYTE>(i);
        info->bmiColors[i].rgbGreen = static_cast<BYTE>(i);
        info->bmiColors[i].rgbRed = static_cast<BYTE>(i);
    }

    const HWND desktop = ::GetDesktopWindow();
    WindowDc desktopDc(desktop);
    return canvas->dib.Create(*info, desktopDc.get());
}

void DestroyCanvas(FrameCanvas* canvas) {
    delete canvas;
}
