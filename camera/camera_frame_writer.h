// One camera's side of qmcamera: a thread that, while a media source of
// the camera reads its frame ring, makes the camera's frames with the
// producer the DirectShow device uses (CFrameProducer: the window its
// settings name, found and followed, framed, scaled, or the standby
// frame), at the size, in the format and at the rate the reader asked
// for, drawn straight into the ring's slots. While no reader asks, it only
// waits for one.
#pragma once

#include <windows.h>

#include <string>

#include "framework/com_util.h"
#include "ring/frame_ring.h"

class CFramePicture;
class CFrameProducer;

namespace qmcamera {

class CCameraFrameWriter {
public:
    // Camera 1..8; `ringPrefix` frame_ring::kGlobalPrefix but in tests.
    CCameraFrameWriter(int camera, const wchar_t* ringPrefix);
    ~CCameraFrameWriter();
    CCameraFrameWriter(const CCameraFrameWriter&) = delete;
    CCameraFrameWriter& operator=(const CCameraFrameWriter&) = delete;

    [[nodiscard]] HRESULT Start();
    // Ends the thread and waits for it.
    void Stop();

    // Frames committed so far (any thread).
    long Committed() const { return m_committed; }

private:
    static DWORD WINAPI ThreadProc(void* parameter);
    void Run();
    // Sizes the picture, sets the rate and starts the producer for a
    // reader's request; on failure nothing of the stream runs.
    [[nodiscard]] static HRESULT StartStream(CFrameProducer& producer, CFramePicture& picture,
                                             const frame_ring::FrameRequest& request);

    const int m_camera;
    const std::wstring m_prefix;
    UniqueHandle m_stop;
    UniqueHandle m_thread;
    volatile long m_committed = 0;
};

}  // namespace qmcamera
