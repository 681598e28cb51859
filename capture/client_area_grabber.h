// Copies the client area of a window, unscaled, into an off-screen 32-bit
// DIB of the client size. The DIB is kept while the size stays, so a frame
// costs one BitBlt and no allocation.
#pragma once

#include <windows.h>

#include <cstddef>

#include "framework/memory_dib.h"

class CClientAreaGrabber {
public:
    // Copies the window's client area. False when the client area is empty
    // (a minimised window), the DIB cannot be made or the copy fails; the
    // picture is then not valid.
    bool Grab(HWND window);

    // The picture of the last successful Grab: top-down BGRX rows, the
    // layout of the screen surface, so the copy converts nothing and the
    // scaler reads aligned pixels.
    const BYTE* Pixels() const { return m_dib.Pixels(); }
    ptrdiff_t Stride() const { return m_dib.Stride(); }
    int Width() const { return m_dib.Width(); }
    int Height() const { return m_dib.Height(); }

    // Frees the DIB.
    void Reset() { m_dib.Reset(); }

private:
    CMemoryDib m_dib;
};
