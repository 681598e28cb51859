// CFramePicture: draws the picture each sample carries (a window's picture
// scaled into the canvas, the standby frame, or the last picture again)
// and copies it into the sample.
//
// Threads and locks. Any thread may resize the picture; the streaming
// thread renders. A private lock guards the canvas and the standby font,
// so that a resize never overlaps a frame being drawn or copied. The
// scaler belongs to the streaming thread.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "capture/frame_canvas.h"
#include "capture/frame_geometry.h"
#include "capture/frame_scaler.h"
#include "framework/com_util.h"

class CFramePicture {
public:
    // A black 204x360 canvas and the standby font.
    CFramePicture();
    CFramePicture(const CFramePicture&) = delete;
    CFramePicture& operator=(const CFramePicture&) = delete;

    // The standby text's font: 16 pixels high, in the first face of a
    // Japanese-capable list that the system has (so that Japanese standby
    // texts show their glyphs), else in the system's icon-title face, whose
    // font linking supplies what it lacks.
    static UniqueGdiObject CreateStandbyFont();

    // Sizes the canvas (black). When the new canvas cannot be built the
    // previous one is kept (cleared to black) and an error returned
    // (E_INVALIDARG for a size that is not positive or too large, else
    // E_OUTOFMEMORY): samples of the new size then receive no picture.
    [[nodiscard]] HRESULT Resize(int width, int height);

    // What builds a canvas: BuildCanvas, unless a test injects a builder
    // that fails, which the platform does only when memory runs out.
    using CanvasBuilder = bool (*)(FrameCanvas* canvas, int width, int height);
    void InjectCanvasBuilder(CanvasBuilder build);

    // Streaming thread: draws the next picture and copies it into the
    // sample (may be null). A sample with room for the picture gets it in
    // front, with its data length set; a smaller one is left untouched.
    //
    // A window's picture (32-bit top-down rows), framed into the canvas as
    // `mode` says (ComputeFrameGeometry) and mirrored left-right if
    // `mirror`. The bars of Fit are black: cleared when the framing
    // changes, since the scaler writes only its target rectangle.
    void RenderWindow(const BYTE* topRow, ptrdiff_t stride, int width, int height, ScaleMode mode, bool mirror,
                      IMediaSample* sample);
    // The standby frame, never mirrored: black, with text in white on one
    // line, centred, its bottom a few pixels above the bottom edge. Drawn
    // only when the canvas does not show it already.
    void RenderStandby(const wchar_t* text, IMediaSample* sample);
    // The last picture again.
    void RenderPrevious(IMediaSample* sample);

    // The stream ended: the next one may render on another thread.
    void DetachFromStreamingThread();

    // Observers; any thread.
    int Width() const;
    int Height() const;
    // 0 while there is no canvas pixel memory.
    DWORD ImageSize() const;
    // Copies the canvas picture; E_INVALIDARG unless size is its image size.
    [[nodiscard]] HRESULT CopyPixels(BYTE* destination, DWORD size) const;

private:
    // What the canvas shows besides black.
    enum class Content { Black, Standby, Window };

    // Under the lock.
    bool HasCanvas() const { return m_canvas && m_canvas->Pixels() != nullptr; }
    void ClearCanvas();
    void CopyInto(IMediaSample* sample) const;

    mutable CCritSec m_lock;
    CanvasBuilder m_build = &BuildCanvas;
    FrameCanvasPtr m_canvas;
    UniqueGdiObject m_standbyFont;
    // What the canvas shows: the standby text (texts that do not fit here
    // are drawn every time), or a window's picture framed by
    // m_windowGeometry (around which the canvas is black). Under the lock.
    static constexpr size_t kRememberedTextLength = 128;
    Content m_content = Content::Black;
    wchar_t m_standbyText[kRememberedTextLength] = {};
    FrameGeometry m_windowGeometry = {};
    // Streaming thread only (under the lock, as it writes the canvas).
    CFrameScaler m_scaler;
};
