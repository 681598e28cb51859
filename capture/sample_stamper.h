// CSampleStamper: the times a DirectShow sample of the pin carries. The
// stream's frame times (CStreamPacing: stream time, each frame where the
// one before it ended) plus the stream offset an application sets through
// IAMPushSource, as a sync point, and as a discontinuity after a gap or
// where the offset changed.
//
// Threads. Restart and Stamp belong to the streaming thread (checked; a
// restart lets the next stream run on another thread). The offsets are
// set and read from any thread under a leaf lock.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "timing/stream_pacing.h"
#include "framework/time_units.h"
#include "framework/com_util.h"
#include "framework/thread_checks.h"

class CSampleStamper {
public:
    // Streaming thread, as each stream starts: the next sample is the
    // stream's first.
    void Restart();
    // Streaming thread: stamps the sample with the frame's times plus the
    // offset. A lower offset never sends times backwards: a sample starts
    // no earlier than the one before it ended, so the lower offset takes
    // effect where the stream has a gap, or when it starts again.
    void Stamp(IMediaSample* sample, const FrameTimes& times);

    // The offset added to every sample time; any thread. E_INVALIDARG (and
    // nothing changes) below 0 or above the largest offset allowed: the one
    // SetMaxStreamOffset set, or an hour while none is set.
    [[nodiscard]] HRESULT SetStreamOffset(REFERENCE_TIME offset);
    REFERENCE_TIME GetStreamOffset() const;
    // E_INVALIDARG (and nothing changes) below 0 or above a day. 0: none.
    // An offset in use above the new largest one is lowered to it: the
    // largest offset is the graph's bound, and a graph that lowers it
    // expects no sample beyond it (refusing instead would make the order
    // of the two calls matter to every caller).
    [[nodiscard]] HRESULT SetMaxStreamOffset(REFERENCE_TIME maxOffset);
    REFERENCE_TIME GetMaxStreamOffset() const;
    static constexpr REFERENCE_TIME kDefaultMaxStreamOffset = 3600 * kUnitsPerSecond;
    static constexpr REFERENCE_TIME kStreamOffsetCeiling = 24 * kDefaultMaxStreamOffset;

private:
    // What IAMPushSource set; under the lock.
    mutable CCritSec m_lock;
    REFERENCE_TIME m_streamOffset = 0;
    REFERENCE_TIME m_maxStreamOffset = 0;

    // Streaming thread only: the offset the last sample carried and where
    // it ended.
    CThreadChecker m_streamingThread;
    bool m_stamped = false;
    REFERENCE_TIME m_appliedOffset = 0;
    REFERENCE_TIME m_lastEnd = 0;
};
