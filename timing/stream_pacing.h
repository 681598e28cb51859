// CStreamPacing: when the streaming thread makes each frame, and the times
// its samples carry.
//
// Sample times are stream times: the first sample starts at 0, and each
// starts where the one before ended (CFramePacer, which also closes the
// distance after a stall). A frame is made when it is due: when the stream
// time reaches its sample's start. With the graph's reference clock the
// stream time is that clock's time minus the stream start Run gave;
// without one it runs on the performance counter from Run on. While the
// graph is paused the stream time stands still: one frame is made at once
// (some hosts wait for a frame before they run the graph), and the next
// waits for Run.
//
// Threads. Start, Stop, WaitUntilDue and Stamp belong to the streaming
// thread (checked; Stop lets the next Start come from another thread).
// Run and Pause come from the filter, on the application's thread; they
// hand the graph's state over under a leaf lock and wake the streaming
// thread.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include <atomic>

#include "timing/frame_pacer.h"
#include "timing/pacing_clock.h"
#include "timing/pacing_timer.h"
#include "framework/com_util.h"
#include "framework/thread_checks.h"

class CStreamPacing {
public:
    // counter: the time source while the graph has no clock (not owned,
    // must outlive this object); null means the performance counter.
    explicit CStreamPacing(IPacingClock* counter = nullptr);
    CStreamPacing(const CStreamPacing&) = delete;
    CStreamPacing& operator=(const CStreamPacing&) = delete;

    // Streaming thread, as it starts: the first sample starts at 0, the
    // graph counts as paused, and the timer is created (without it the
    // wait falls back to whole milliseconds).
    [[nodiscard]] HRESULT Start();
    // Streaming thread, as it ends: releases the timer and the clock.
    void Stop();

    // Any thread: the graph runs from streamStart on clock (null: no clock).
    void Run(REFERENCE_TIME streamStart, IReferenceClock* clock);
    // Any thread: the graph pauses; the stream time stands still.
    void Pause();

    // Streaming thread: waits until the next frame is due. True when it is;
    // false when wakeEvent (the worker's request event, manual-reset, left
    // set) ended the wait: then no frame is to be made.
    [[nodiscard]] bool WaitUntilDue(HANDLE wakeEvent, REFERENCE_TIME frameTime);

    // Streaming thread: the next frame's times (plus the stream offset),
    // and whether it is the first after a gap. A frame finished a whole
    // frame time or more past the end of its slot takes the slot it is
    // finished in. Every frame made takes its times, whether or not a
    // sample carries them.
    struct SampleTimes {
        REFERENCE_TIME start;
        REFERENCE_TIME end;
        bool discontinuity;
    };
    SampleTimes Take(REFERENCE_TIME frameTime);
    // Streaming thread: stamps the sample with the next frame's times
    // (Take), as a sync point, and as a discontinuity when it is the first
    // after a gap.
    void Stamp(IMediaSample* sample, REFERENCE_TIME frameTime);

    // The offset added to every sample time (IAMPushSource); any thread.
    // E_INVALIDARG (and nothing changes) below 0 or above the largest
    // offset allowed: the one SetMaxStreamOffset set, or an hour while none
    // is set. A lower offset never sends times backwards: a sample starts
    // no earlier than the one before it ended, so the lower offset takes
    // effect where the stream has a gap, or when it starts again.
    [[nodiscard]] HRESULT SetStreamOffset(REFERENCE_TIME offset);
    REFERENCE_TIME GetStreamOffset() const;
    // E_INVALIDARG (and nothing changes) below 0 or above a day. 0: none.
    // An offset in use above the new largest one is lowered to it: the
    // largest offset is the graph's bound, and a graph that lowers it
    // expects no sample beyond it (refusing instead would make the order
    // of the two calls matter to every caller).
    [[nodiscard]] HRESULT SetMaxStreamOffset(REFERENCE_TIME maxOffset);
    REFERENCE_TIME GetMaxStreamOffset() const;
    static constexpr REFERENCE_TIME kDefaultMaxStreamOffset = 3600LL * 10000000;
    static constexpr REFERENCE_TIME kStreamOffsetCeiling = 24 * kDefaultMaxStreamOffset;

    // Streaming thread: where the next sample starts, in stream time.
    REFERENCE_TIME GetNextSampleStart() const { return m_pacer.NextStart(); }

private:
    // Streaming thread: takes over a state the filter handed over.
    void FollowGraph();
    // Streaming thread: the stream time now, while running.
    REFERENCE_TIME StreamNow();

    CPerformanceCounterClock m_performanceCounter;
    IPacingClock& m_counter;

    // Handed over by Run and Pause under the lock.
    mutable CCritSec m_graphLock;
    bool m_graphRunning = false;
    REFERENCE_TIME m_graphStart = 0;
    Microsoft::WRL::ComPtr<IReferenceClock> m_graphClock;
    unsigned m_graphChanges = 0;
    // Auto-reset: the graph's state changed.
    UniqueHandle m_changed;

    // Under the graph lock: what IAMPushSource set.
    REFERENCE_TIME m_streamOffset = 0;
    REFERENCE_TIME m_maxStreamOffset = 0;

    // Streaming thread only.
    CThreadChecker m_streamingThread;
    CFramePacer m_pacer;
    CPacingTimer m_timer;
    unsigned m_changesSeen = 0;
    bool m_running = false;
    REFERENCE_TIME m_start = 0;
    Microsoft::WRL::ComPtr<IReferenceClock> m_clock;
    // Without a clock: the counter time of stream time 0.
    REFERENCE_TIME m_counterAnchor = 0;
    // The stream time at which the graph last paused.
    REFERENCE_TIME m_pausedAt = 0;
    // The offset the last sample carried and where it ended.
    bool m_stamped = false;
    REFERENCE_TIME m_appliedOffset = 0;
    REFERENCE_TIME m_lastEnd = 0;
};
