// CFramePicture: draws the picture each sample carries (the captured
// window scaled into the canvas, or the standby frame) and copies it into
// the sample.
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
    // sample. With a window, its client area scaled to the canvas (the
    // aspect ratio is not kept); when nothing can be copied (a minimised
    // window) the canvas keeps its previous picture. Without a window, the
    // standby frame: black, with standbyText in white on one line,
    // centred, its bottom a few pixels above the bottom edge. A sample
    // with room for the picture gets it in front, with its data length
    // set; a smaller one is left untouched.
    void Render(HWND window, const char* standbyText, IMediaSample* sample);

    // Observers; any thread.
    int Width() const;
    int Height() const;
    // 0 while there is no canvas pixel memory.
    DWORD ImageSize() const;
    // Copies the canvas picture; E_INVALIDARG unless size is its image size.
    HRESULT CopyPixels(BYTE* destination, DWORD size) const;

private:
    // Under the lock, with canvas pixel memory.
    void ScaleGrabbedWindow();
    void DrawStandbyFrame(const char* text);
    void ClearCanvas();
    void CopyInto(IMediaSample* sample) const;

    mutable CCritSec m_lock;
    FrameCanvasPtr m_canvas;
    UniqueGdiObject m_standbyFont;
    // Streaming thread only.
    CClientAreaGrabber m_grabber;
    CFrameScaler m_scaler;
};
