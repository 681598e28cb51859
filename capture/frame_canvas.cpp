#include "capture/frame_canvas.h"

#include <climits>

void FrameCanvas::Release() {
    if (memoryDc && dibSection && previousBitmap != nullptr) {
        ::SelectObject(memoryDc.get(), previousBitmap);
    }
    previousBitmap = nullptr;
    dibSection.reset();
    memoryDc.reset();
    header.reset();
    pixels = nullptr;
}

bool BuildCanvas(FrameCanvas* canvas, int width, int height) {
    if (canvas == nullptr) {
        return false;
    }
    canvas->Release();
    if (width <= 0 || height <= 0) {
        return false;
    }
    const long long stride = ((static_cast<long long>(width) * 24 + 31) / 32) * 4;
    const long long imageSize = stride * height;
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

    canvas->memoryDc.reset(::CreateCompatibleDC(nullptr));
    if (!canvas->memoryDc) {
        return false;
    }
    void* pixels = nullptr;
    {
        const HWND desktop = ::GetDesktopWindow();
        WindowDc desktopDc(desktop);
        canvas->dibSection.reset(::CreateDIBSection(desktopDc.get(), info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    }
    if (!canvas->dibSection || pixels == nullptr) {
        canvas->dibSection.reset();
        return false;
    }
    canvas->previousBitmap = ::SelectObject(canvas->memoryDc.get(), canvas->dibSection.get());
    canvas->pixels = static_cast<BYTE*>(pixels);
    return true;
}

void DestroyCanvas(FrameCanvas* canvas) {
    delete canvas;
}
