// CFramePicture: draws the picture each frame carries, into a frame target
// (a DirectShow sample, a slot of the frame ring, a bitmap): a window's
// picture scaled straight into the target, the standby frame, or the last
// picture again. The canvas holds only what is sent again as it is: the
// standby frame (drawn once, copied into each frame) and black; a window's
// last picture is scaled again from the picture the window capture keeps.
//
// Pictures are made in 24-bit BGR. A target of that format gets them
// directly, in whatever row order its stride gives; a target of another
// format gets them a band of rows at a time through a BGR strip (kept,
// not made per frame), converted into it by the frame converter while the
// strip is in the cache.
//
// Threads and locks. Any thread may resize the picture; the streaming
// thread renders. A private lock guards the canvas and the standby font,
// so that a resize never overlaps a frame being drawn or copied. The
// scaler belongs to the streaming thread.
#pragma once

#include <windows.h>

#include <memory>

#include "picture/frame_canvas.h"
#include "picture/frame_target.h"
#include "picture/frame_converter.h"
#include "scaler/frame_geometry.h"
#include "scaler/frame_scaler.h"
#include "picture/standby_image.h"
#include "framework/com_util.h"

class CFramePicture {
public:
    // A black 204x360 canvas and the standby font.
    CFramePicture();
    CFramePicture(const CFramePicture&) = delete;
    CFramePicture& operator=(const CFramePicture&) = delete;

    // The standby text's font: `height` pixels high, in the first face of a
    // Japanese-capable list that the system has (so that Japanese standby
    // texts show their glyphs), else in the system's icon-title face, whose
    // font linking supplies what it lacks.
    static UniqueGdiObject CreateStandbyFont(LONG height = kStandbyFontHeight);

    // The standby text's height and its line's margin above the bottom edge
    // for a picture size: 16 and 5 pixels for pictures whose shorter side is
    // under 720 (the six sizes before HD), in proportion to the shorter side
    // from there on (32 and 10 at 720, 48 and 15 at 1080), so that the text
    // reads alike at every size.
    static constexpr LONG kStandbyFontHeight = 16;
    static LONG StandbyFontHeightFor(int width, int height);
    static int StandbyTextMarginFor(int width, int height);

    // Sizes the canvas (black). When the new canvas cannot be built the
    // previous one is kept (cleared to black) and an error returned
    // (E_INVALIDARG for a size that is not positive or too large, else
    // E_OUTOFMEMORY): samples of the new size then receive no picture.
    [[nodiscard]] HRESULT Resize(int width, int height);

    // What builds a canvas: BuildCanvas, unless a test injects a builder
    // that fails, which the platform does only when memory runs out.
    using CanvasBuilder = bool (*)(FrameCanvas* canvas, int width, int height);
    void InjectCanvasBuilderForTesting(CanvasBuilder build);

    // Streaming thread: draws the next picture into the target. A target
    // of the canvas's size with every plane it needs (IsUsable) gets it,
    // and the call answers true; any other is left untouched (false).
    //
    // A window's picture (32-bit top-down rows), framed as `mode` says
    // (ComputeFrameGeometry) and mirrored left-right if `mirror`, scaled
    // straight into the target. The bars of Fit are black: cleared in the
    // target, since the scaler writes only its target rectangle and
    // targets come back with earlier pictures in them.
    bool RenderWindow(const BYTE* topRow, ptrdiff_t stride, int width, int height, ScaleMode mode, bool mirror,
                      const FrameTarget& target);
    // The standby frame, never mirrored: black, with the standby picture
    // (SetStandbyImage) fitted into it, aspect kept and centred, and over
    // it the text in white on one line, centred, its bottom a little above
    // the bottom edge (no text when it is empty). Drawn into the canvas
    // only when it does not show it already (after a resize, a new picture
    // or another text), then copied.
    bool RenderStandby(const wchar_t* text, const FrameTarget& target);
    // Takes over the standby picture (empty: none); the next standby frame
    // is drawn with it. Streaming thread; the file is read beforehand, off
    // that thread (CStandbyImageLoader).
    void SetStandbyImage(CStandbyImage&& image);
    // The last picture again: when the last frame showed a window, its
    // picture as the window capture kept it (keptTopRow and the rest, null
    // when there is none), scaled again; else the canvas.
    bool RenderPrevious(const BYTE* keptTopRow, ptrdiff_t keptStride, int keptWidth, int keptHeight, ScaleMode mode,
                        bool mirror, const FrameTarget& target);

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
    enum class Content { Black, Standby };

    // Under the lock.
    bool HasCanvas() const { return m_canvas && m_canvas->Pixels() != nullptr; }
    void ClearCanvas();
    // The standby picture fitted into the black canvas.
    void DrawStandbyImage();
    // Whether the target takes a picture of the canvas's size.
    bool Fits(const FrameTarget& target) const;
    bool CopyInto(const FrameTarget& target);
    bool ScaleInto(const BYTE* topRow, ptrdiff_t stride, int width, int height, ScaleMode mode, bool mirror,
                   const FrameTarget& target);
    // A BGR picture of the canvas's size into a target of another format.
    bool Convert(const Bgr24Picture& picture, const FrameTarget& target) const;
    // The BGR strip that pictures for targets of other formats are scaled
    // into, kStripRows rows of 3 bytes a pixel, top-down; made once per
    // width (null when memory runs out).
    static constexpr int kStripRows = 16;
    BYTE* BgrStrip();

    mutable CCritSec m_lock;
    CanvasBuilder m_build = &BuildCanvas;
    FrameCanvasPtr m_canvas;
    UniqueGdiObject m_standbyFont;
    // What the canvas shows: the standby text (texts that do not fit here
    // are drawn every time), or black. Whether the last frame was a
    // window's picture, which the canvas does not hold. Under the lock.
    static constexpr size_t kRememberedTextLength = 128;
    Content m_content = Content::Black;
    wchar_t m_standbyText[kRememberedTextLength] = {};
    bool m_lastWasWindow = false;
    LONG m_standbyFontHeight = kStandbyFontHeight;
    // The standby picture; under the lock.
    CStandbyImage m_standbyImage;
    // Streaming thread only (under the lock, as it writes the canvas); it
    // scales the windows' pictures and the standby picture.
    CFrameScaler m_scaler;
    CFrameConverter m_converter;
    std::unique_ptr<BYTE[]> m_bgrStrip;
    size_t m_bgrStripBytes = 0;
};
