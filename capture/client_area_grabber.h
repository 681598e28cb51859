// Copies the client area of a window, unscaled, into an off-screen 32-bit
// DIB of the client size. The DIB is kept while the size stays, so a frame
// costs one BitBlt and no allocation.
#pragma once

#include <windows.h>

#include "framework/com_util.h"

// A 32-bit top-down DIB section (BGRX rows, stride width x 4): the layout
// of the screen surface, so a BitBlt into it converts nothing. Null on
// failure; *pixels receives the pixel memory.
HBITMAP CreateTopDownDib32(int width, int height, void** pixels);

class CClientAreaGrabber {
public:
    CClientAreaGrabber() = default;
    ~CClientAreaGrabber() { Reset(); }
    CClientAreaGrabber(const CClientAreaGrabber&) = delete;
    CClientAreaGrabber& operator=(const CClientAreaGrabber&) = delete;

    // Copies the window's client area. False when the client area is empty
    // (a minimised window), the DIB cannot be made or the copy fails; the
    // picture is then not valid.
    bool Grab(HWND window);

    // The picture of the last successful Grab: top-down BGRX rows.
    const BYTE* Pixels() const { return m_pixels; }
    ptrdiff_t Stride() const { return static_cast<ptrdiff_t>(m_width) * 4; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Frees the DIB.
    void Reset();

private:
    bool Resize(int width, int height);

    UniqueMemoryDc m_dc;
    UniqueGdiObject m_dib;
    HGDIOBJ m_previousBitmap = nullptr;
    BYTE* m_pixels = nullptr;
    int m_width = 0;
    int m_height = 0;
};
