// CFramePicture: draws the picture each sample carries (the captured
// window scaled and framed into the canvas, or the standby frame) and
// copies it into the sample.
//
// Threads and locks. Any thread may resize the picture; the streaming
// thread renders. A private lock guards the canvas and the standby font,
// so that a resize never overlaps a frame being drawn or copied. The
// grabber and the scaler belong to the streaming thread: the window is
// copied before the lock is taken, so a slow window never holds up a
// resize.
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

    // Sizes the canvas (black). When the new canvas cannot be built the
    // previous one is kept (cleared to black) and an error returned
    // (E_INVALIDARG for a size that is not positive or too large, else
    // E_OUTOFMEMORY): samples of the new size then receive no picture.
    HRESULT Resize(int width, int height);

    // Streaming thread: draws the next picture and copies it into the
    // sample. With a window, its client area framed into the canvas as
    // `mode` says (ComputeFrameGeometry), mirrored left-right if `mirror`;
    // the bars of Fit are black. When nothing can be copied (a minimised
    // window) the canvas keeps its previous picture. Without a window, the
    // standby frame, never mirrored: black, with standbyText in white on
    // one line, centred, its bottom a few pixels above the bottom edge. A
    // sample with room for the picture gets it in front, with its data
    // length set; a smaller one is left untouched.
    void Render(HWND window, const char* standbyText, ScaleMode mode, bool mirror, IMediaSample* sample);

    // Observers; any thread.
    int Width() const;
    int Height() const;
    // 0 while there is no canvas pixel memory.
    DWORD ImageSize() const;
    // Copies the canvas picture; E_INVALIDARG unless size is its image size.
    HRESULT CopyPixels(BYTE* destination, DWORD size) const;

private:
    // What the canvas holds besides black.
    enum class Content { Black, Standby, Window };

    // Under the lock, with canvas pixel memory.
    void ScaleGrabbedWindow(ScaleMode mode, bool mirror);
    void DrawStandbyFrame(const char* text);
    void ClearCanvas();
    void CopyInto(IMediaSample* sample) const;

    mutable CCritSec m_lock;
    FrameCanvasPtr m_canvas;
    UniqueGdiObject m_standbyFont;
    // The canvas's content: the standby text it shows (texts that do not
    // fit here are drawn every time), or the geometry of the window picture
    // (whose bars are black); so that neither is drawn or cleared again
    // while it stays.
    static constexpr size_t kRememberedTextBytes = 256;
    Content m_content = Content::Black;
    char m_standbyText[kRememberedTextBytes] = {};
    FrameGeometry m_windowGeometry = {};
    // Streaming thread only.
    CClientAreaGrabber m_grabber;
    CFrameScaler m_scaler;
};
