// What the media stream's delivery thread fills each sample with: the
// latest frame that qmcamera wrote into the camera's frame ring, or, while
// no writer writes frames of the stream's format, the standby frame (black
// with a line of text, drawn once per format). The ring's writer converts
// to the format the reader asks for, so frames are copied, never
// converted, here.
//
// Used on one thread: the stream's delivery thread.
#pragma once

#include <windows.h>
#include <mfobjects.h>

#include <cstdint>
#include <memory>
#include <string>

#include "capture/frame_ring.h"
#include "framework/thread_checks.h"
#include "mf/camera_media_types.h"
#include "mf/sample_pool.h"

class CCameraFrameSource {
public:
    // The text of the standby frame.
    static constexpr wchar_t kStandbyText[] = L"QM Capture Device: start qmcamera to show a window";

    // Reads camera 1..8's ring under `ringPrefix` (frame_ring::kGlobalPrefix
    // but in tests).
    CCameraFrameSource(int camera, const wchar_t* ringPrefix);
    ~CCameraFrameSource();
    CCameraFrameSource(const CCameraFrameSource&) = delete;
    CCameraFrameSource& operator=(const CCameraFrameSource&) = delete;

    // Prepares frames of `format` (buffers, standby frame, sample pool) and
    // asks the ring's writer for them. A ring that cannot be created
    // (another layout, no reader place, no rights) is no failure: the
    // stream then shows the standby frame; the reason is logged.
    [[nodiscard]] HRESULT Begin(const camera_media_types::StreamFormat& format);
    // Tells the writer that no frames are wanted any more.
    void End();
    // A sign of life to the ring, at least every second while it exists.
    void Heartbeat();

    // The next sample: the latest frame, the last one again while the
    // writer is alive but has nothing new, or the standby frame. Its time
    // and duration are left to the caller. E_UNEXPECTED before Begin.
    [[nodiscard]] HRESULT NextSample(IMFSample** sample);

    // Whether the last sample carried the writer's frame (for tests and
    // the log).
    bool LastWasWriterFrame() const { return m_lastWasWriterFrame; }

private:
    [[nodiscard]] HRESULT RenderStandby();
    void OpenRing();

    CThreadChecker m_thread;
    const int m_camera;
    const std::wstring m_prefix;
    std::unique_ptr<CFrameRingReader> m_reader;
    bool m_ringFailed = false;
    camera_media_types::StreamFormat m_format = {};
    bool m_begun = false;
    // The writer's latest frame and the standby frame, both of the
    // stream's format and size.
    std::unique_ptr<BYTE[]> m_frame;
    std::unique_ptr<BYTE[]> m_standby;
    uint32_t m_bufferBytes = 0;
    bool m_haveFrame = false;
    bool m_lastWasWriterFrame = false;
    CSamplePool m_pool;
};
