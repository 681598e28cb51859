// CFramePicture: puts the picture each sample carries into it: the
// captured window, scaled and framed straight into the sample, or the
// canvas (the standby frame, or black after a resize), copied.
//
// Threads and locks. Any thread may resize the picture; the streaming
// thread renders. A private lock guards the canvas, its size and the
// standby font, so that a resize never overlaps a frame being drawn or
// copied. The grabber and the scaler belong to the streaming thread: the
// window is copied before the lock is taken, so a slow window never holds
// up a resize.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "capture/client_area_grabber.h"
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

    // Sizes the canvas (black): the picture of the next frames until a
    // window is captured. When the new canvas cannot be built the previous
    // one is kept (cleared to black) and an error returned (E_INVALIDARG
    // for a size that is not positive or too large, else E_OUTOFMEMORY):
    // samples of the new size then receive no picture.
    HRESULT Resize(int width, int height);

    // Streaming thread: puts the next picture into the sample. With a
    // window, its client area framed as `mode` says (ComputeFrameGeometry),
    // mirrored left-right if `mirror`, with black bars for Fit. When
    // nothing can be copied (a minimised window) the previous picture
    // again: the last copy of the window, framed as now asked, or the
    // canvas if that was shown last. Without a window, the standby frame,
    // never mirrored: black, with standbyText in white on one line,
    // centred, its bottom a few pixels above the bottom edge. A sample with
    // room for the picture gets it in front, with its data length set; a
    // smaller one is left untouched.
    void Render(HWND window, const char* standbyText, ScaleMode mode, bool mirror, IMediaSample* sample);

    // Observers; any thread.
    int Width() const;
    int Height() const;
    // 0 while there is no canvas pixel memory.
    DWORD ImageSize() const;
    // Copies the canvas (black after a resize, or the standby frame; window
    // pictures never pass through it); E_INVALIDARG unless size is its
    // image size.
    HRESULT CopyPixels(BYTE* destination, DWORD size) const;

private:
    // What the canvas holds besides black.
    enum class Content { Black, Standby };

    // Under the lock, with canvas pixel memory.
    void ScaleWindowInto(IMediaSample* sample, bool grabbed, ScaleMode mode, bool mirror);
    void DrawStandbyFrame(const char* text);
    void ClearCanvas();
    void CopyInto(IMediaSample* sample) const;

    mutable CCritSec m_lock;
    FrameCanvasPtr m_canvas;
    UniqueGdiObject m_standbyFont;
    // The standby text the canvas shows, so that it is not drawn again
    // while it stays (texts that do not fit here are drawn every time).
    static constexpr size_t kRememberedTextBytes = 256;
    Content m_content = Content::Black;
    char m_standbyText[kRememberedTextBytes] = {};
    // Whether the last picture was the window's (else the canvas): what a
    // frame without a new copy of the window repeats.
    bool m_windowShown = false;
    // Streaming thread only.
    CClientAreaGrabber m_grabber;
    CFrameScaler m_scaler;
};
