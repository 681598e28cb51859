// One camera's side of qmcamera: a thread that, while a media source of
// the camera reads its frame ring, captures the camera's window (the
// window its settings name, found and followed as the DirectShow device
// does), scales it to the size the reader asked for, converts it to the
// asked format and commits it to the ring at the asked rate. While no
// reader asks, it only waits for one.
#pragma once

#include <windows.h>

#include <string>

#include "framework/com_util.h"

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

    const int m_camera;
    const std::wstring m_prefix;
    UniqueHandle m_stop;
    UniqueHandle m_thread;
    volatile long m_committed = 0;
};

}  // namespace qmcamera
