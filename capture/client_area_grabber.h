// Copies the client area of a window, unscaled, into an off-screen 32-bit
// DIB of the client size. The DIB is kept while the size stays, so a frame
// costs one BitBlt and no allocation; and it keeps the last picture that
// was copied whole until another one is, so that a frame without a new copy
// can show it again.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

#include "framework/memory_dib.h"

class CClientAreaGrabber {
public:
    // Copies the window's client area. False when the client area is empty
    // (a minimised window), a DIB of a new size cannot be made or the copy
    // fails; the previous picture then stays (a copy of a new size goes to
    // a new DIB, which replaces the old one only when it succeeded).
    bool Grab(HWND window);

    // Whether a picture has been copied since the last Reset.
    bool HasPicture() const { return m_dib && *m_dib; }

    // The picture of the last successful Grab: top-down BGRX rows, the
    // layout of the screen surface, so the copy converts nothing and the
    // scaler reads aligned pixels. Null and 0 without a picture.
    const BYTE* Pixels() const { return HasPicture() ? m_dib->Pixels() : nullptr; }
    ptrdiff_t Stride() const { return HasPicture() ? m_dib->Stride() : 0; }
    int Width() const { return HasPicture() ? m_dib->Width() : 0; }
    int Height() const { return HasPicture() ? m_dib->Height() : 0; }

    // Frees the DIB.
    void Reset() { m_dib.reset(); }

private:
    std::unique_ptr<CMemoryDib> m_dib;
};
