// The frame schedule in stream time. Each sample starts where the one
// before it ended and is due when the stream time reaches its start, so
// the sample times are contiguous and the long-run rate is the setting.
// A frame that finishes a whole frame time or more past the end of its
// slot (a stall, or a window too large to copy at the rate) lets the next
// frame take the slot the stream has reached instead: the missed slots
// leave a gap in the sample times, the first sample after the gap is a
// discontinuity, and the stream is back on time at once, without a burst
// of late frames and without times that trail the clock.
//
// Arithmetic only: the caller reads the time and waits. One thread.
#pragma once

#include <windows.h>
#include <strmif.h>

class CFramePacer {
public:
    struct Slot {
        REFERENCE_TIME start;
        REFERENCE_TIME end;
        // The first sample after a gap.
        bool discontinuity;
    };

    // The next sample starts at stream time 0; nothing is taken yet.
    void Restart();

    // The stream time at which the next sample is due, given the stream
    // time now: where the previous sample ended, or, when now is a whole
    // frameTime or more past that, the start of the slot now lies in.
    REFERENCE_TIME Due(REFERENCE_TIME streamNow, REFERENCE_TIME frameTime);

    // The next sample's times, frameTime long; the one after starts at its
    // end.
    Slot Take(REFERENCE_TIME frameTime);

    REFERENCE_TIME NextStart() const { return m_nextStart; }
    // Whether a sample has been taken since the restart.
    bool HasTaken() const { return m_taken; }

private:
    REFERENCE_TIME m_nextStart = 0;
    bool m_taken = false;
    bool m_gap = false;
};
