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
#include <cstdint>

class CFramePacer {
public:
    struct Slot {
        int64_t start;
        int64_t end;
        // The first sample after a gap.
        bool discontinuity;
    };

    // The next sample starts at stream time 0; nothing is taken yet.
    void Restart();

    // The stream time at which the next sample is due, given the stream
    // time now: where the previous sample ended, or, when now is a whole
    // frameTime or more past that, the start of the slot now lies in.
    int64_t Due(int64_t streamNow, int64_t frameTime);

    // The next sample's times, frameTime long; the one after starts at its
    // end.
    Slot Take(int64_t frameTime);

    int64_t NextStart() const { return m_nextStart; }
    // Whether a sample has been taken since the restart.
    bool HasTaken() const { return m_taken; }

private:
    int64_t m_nextStart = 0;
    bool m_taken = false;
    bool m_gap = false;
};
