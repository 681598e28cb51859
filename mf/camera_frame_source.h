// What the media stream's delivery thread fills each sample with: the
// latest frame that qmcamera wrote into the camera's frame ring, or, while
// no writer writes frames of the stream's format, the standby frame (black
// with a line of text, drawn once per format). The ring's writer converts
// to the format the reader asks for and lays frames out as the stream's
// media type does (LayoutOf, top-down), so frames are copied, never
// converted, here. Nothing here allocates per frame, nor builds a name:
// the ring's names come built (frame_ring::RingAccess).
//
// Used on one thread: the stream's delivery thread (SetRing before it).
#pragma once

#include <windows.h>
#include <mfobjects.h>

#include <cstdint>
#include <memory>

#include "ring/frame_ring.h"
#include "framework/thread_checks.h"
#include "mf/camera_media_types.h"
#include "mf/sample_pool.h"

class CCameraFrameSource {
public:
    // The text of the standby frame.
    static constexpr wchar_t kStandbyText[] = L"QM Capture Device: start qmcamera to show a window";
    // A ring that cannot be created is tried again on the heartbeat, at
    // most this often.
    static constexpr DWORD kRingRetryMs = 1000;

    CCameraFrameSource() = default;
    CCameraFrameSource(const CCameraFrameSource&) = delete;
    CCameraFrameSource& operator=(const CCameraFrameSource&) = delete;

    // The ring to read (copied), given once before the delivery thread
    // first runs: the stream does so from the source's Start, before it
    // creates the thread. Until then there is no ring, and only the
    // standby frame.
    void SetRing(const frame_ring::RingAccess& ring);

    // Prepares frames of `format` (buffers, standby frame, sample pool) and
    // asks the ring's writer for them. A ring that cannot be created
    // (another layout, no reader place, no rights) is no failure: the
    // stream shows the standby frame meanwhile, the reason is logged, and
    // the heartbeat tries again. Allocates only when the size changes;
    // E_OUTOFMEMORY then.
    [[nodiscard]] HRESULT Begin(const camera_media_types::StreamFormat& format);
    // Tells the writer that no frames are wanted any more.
    void End();
    // A sign of life to the ring, at least every second while it exists;
    // without a ring, another attempt at it (at most every kRingRetryMs).
    void Heartbeat();

    // The next sample: the latest frame, the last one again while the
    // writer is alive but has nothing new, or the standby frame. Its time
    // and duration are left to the caller. E_UNEXPECTED before Begin.
    [[nodiscard]] HRESULT NextSample(IMFSample** sample);


private:
    [[nodiscard]] HRESULT RenderStandby();
    // Creates the ring, when there is one to create and it is not open;
    // asks for the begun format once it is.
    void OpenRing();
    void WriteRequest();

    CThreadChecker m_thread;
    // Set once before the thread runs, read by it afterwards.
    frame_ring::RingAccess m_ring = {};
    bool m_hasRing = false;
    CFrameRingReader m_reader;
    bool m_ringOpen = false;
    // Whether the last attempt at the ring failed, when it was made, and
    // why (logged once per reason, not once per attempt).
    bool m_ringFailed = false;
    DWORD m_ringTriedAt = 0;
    HRESULT m_ringFailure = S_OK;
    camera_media_types::StreamFormat m_format = {};
    bool m_begun = false;
    // The writer's latest frame and the standby frame, both of the
    // stream's format and size.
    std::unique_ptr<BYTE[]> m_frame;
    std::unique_ptr<BYTE[]> m_standby;
    uint32_t m_bufferBytes = 0;
    bool m_haveFrame = false;
    CSamplePool m_pool;
};
