// CStreamPacing: the streaming thread's pacing. It holds each frame until
// it is due on the frame schedule, waiting on a precise timer that a
// pending stop or pause request cuts short, and stamps the samples with
// contiguous stream times: the n-th sample since the thread started is
// stamped n x FrameTime .. (n + 1) x FrameTime (with the frame time in use
// at each sample).
//
// Used by the streaming thread only: the worker creates it with its thread
// (Start) and releases it as the thread ends (Stop).
#pragma once

#include <windows.h>
#include <strmif.h>

#include "capture/frame_pacer.h"
#include "capture/pacing_timer.h"

class CStreamPacing {
public:
    // clock is the pacing time source (not owned, must outlive this
    // object); null means the performance counter.
    explicit CStreamPacing(IPacingClock* clock = nullptr);
    CStreamPacing(const CStreamPacing&) = delete;
    CStreamPacing& operator=(const CStreamPacing&) = delete;

    // The first sample starts at 0 and is due at once; creates the timer
    // (without it the wait falls back to whole milliseconds).
    HRESULT Start();
    // Releases the timer.
    void Stop();

    // Waits until the current frame is due. wakeEvent (may be null) is the
    // worker's manual-reset request event: a signal ends the wait at once
    // and is left set.
    void WaitUntilDue(HANDLE wakeEvent);

    // Stamps the sample with the next stream times and a sync point, and
    // schedules the next frame frameTime later.
    void Stamp(IMediaSample* sample, REFERENCE_TIME frameTime);

    REFERENCE_TIME GetNextSampleStart() const { return NextSampleStart; }

private:
    CPerformanceCounterClock m_counterClock;
    IPacingClock& m_clock;
    CFramePacer m_pacer;
    CPacingTimer m_timer;
    REFERENCE_TIME NextSampleStart = 0;
};
