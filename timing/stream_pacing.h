// CStreamPacing: the stream clock of every camera, and when each frame of
// a stream is made. Media-neutral: times are 100-ns units of stream time.
//
// Frame times are stream times: the first frame starts at 0, and each
// starts where the one before it ended (CFramePacer, which also closes the
// distance after a stall). A frame is made when it is due: when the stream
// time reaches its start. The stream time is an outside clock's time (the
// DirectShow graph's, adapted by the pin) minus the stream start Run gave,
// or without one the performance counter from Run on. While the stream is
// paused the stream time stands still: one frame is made at once (some
// hosts wait for a frame before they run the graph), and the next waits
// for Run.
//
// The DirectShow pin, qmcamera's ring writer (through the producer) and
// the Media Foundation stream all pace their frames with it.
//
// Threads. Start, Stop, WaitUntilDue and Take belong to the streaming
// thread (checked; Stop lets the next Start come from another thread).
// Run and Pause come from any thread (the filter's, on the application's
// thread); they hand the state over under a leaf lock and wake the
// streaming thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "timing/frame_pacer.h"
#include "timing/pacing_clock.h"
#include "timing/pacing_timer.h"
#include "framework/com_util.h"
#include "framework/thread_checks.h"

// The times of one frame, in stream time (100-ns units), and whether it is
// the first after a gap.
struct FrameTimes {
    int64_t start;
    int64_t end;
    bool discontinuity;
};

class CStreamPacing {
public:
    // counter: the time source while the stream runs without a clock of
    // its own (not owned, must outlive this object); null means the
    // performance counter.
    explicit CStreamPacing(IPacingClock* counter = nullptr);
    CStreamPacing(const CStreamPacing&) = delete;
    CStreamPacing& operator=(const CStreamPacing&) = delete;

    // Streaming thread, as it starts: the first frame starts at 0, the
    // stream counts as paused, and the timer is created (without it the
    // wait falls back to whole milliseconds).
    [[nodiscard]] HRESULT Start();
    // Streaming thread, as it ends: releases the timer.
    void Stop();

    // Any thread: the stream runs from streamStart on clock (null: the
    // counter from now on). The clock is not owned: its owner keeps it as
    // long as this object (the pin has one for its life).
    void Run(int64_t streamStart, IStreamClock* clock);
    // Any thread: the stream pauses; the stream time stands still.
    void Pause();

    // Streaming thread: waits until the next frame is due. True when it is;
    // false when wakeEvent ended the wait (a manual-reset one, such as the
    // DirectShow worker's request, is left set): then no frame is to be
    // made.
    [[nodiscard]] bool WaitUntilDue(HANDLE wakeEvent, int64_t frameTime);

    // Streaming thread: the next frame's times, and whether it is the first
    // after a gap. A frame finished a whole frame time or more past the end
    // of its slot takes the slot it is finished in. Every frame made takes
    // its times, whether or not anything carries them.
    FrameTimes Take(int64_t frameTime);

    // Streaming thread: where the next frame starts, in stream time.
    int64_t GetNextStart() const { return m_pacer.NextStart(); }

private:
    // Streaming thread: takes over a state Run or Pause handed over.
    void FollowState();
    // Streaming thread: the stream time now, while running.
    int64_t StreamNow();

    CPerformanceCounterClock m_performanceCounter;
    IPacingClock& m_counter;

    // Handed over by Run and Pause under the lock.
    mutable CCritSec m_stateLock;
    bool m_stateRunning = false;
    int64_t m_stateStart = 0;
    IStreamClock* m_stateClock = nullptr;
    unsigned m_stateChanges = 0;
    // Auto-reset: the state changed.
    UniqueHandle m_changed;

    // Streaming thread only.
    CThreadChecker m_streamingThread;
    CFramePacer m_pacer;
    CPacingTimer m_timer;
    unsigned m_changesSeen = 0;
    bool m_running = false;
    int64_t m_start = 0;
    IStreamClock* m_clock = nullptr;
    // Without a clock: the counter time of stream time 0.
    int64_t m_counterAnchor = 0;
    // The stream time at which the stream last paused.
    int64_t m_pausedAt = 0;
};
