// The frame schedule: each frame is due one frame time after the previous
// frame's due time, so waits that end late (a coarse timer, a slow frame)
// do not pile up into a lower rate. A frame later than one whole frame
// time restarts the schedule from its release, so there is never a burst
// of frames that catch up, and the rate never exceeds the setting.
#pragma once

#include <windows.h>
#include <strmif.h>

// A monotonic time source in 100-ns units. Injected so that the schedule
// can be driven by a simulated clock.
class IPacingClock {
public:
    virtual REFERENCE_TIME Now() = 0;

protected:
    ~IPacingClock() = default;
};

// The high-resolution performance counter.
class CPerformanceCounterClock final : public IPacingClock {
public:
    CPerformanceCounterClock();
    REFERENCE_TIME Now() override;

private:
    LONGLONG m_frequency = 1;
};

// Schedule arithmetic only; the caller waits. Used by one thread.
class CFramePacer {
public:
    // clock is not owned and must outlive the pacer.
    explicit CFramePacer(IPacingClock& clock) : m_clock(clock) {}

    // Forgets the schedule: the next frame is due at once.
    void Restart() { m_scheduled = false; }

    // Time until the current frame is due, 0 or less when it is due. The
    // first call after Restart makes the frame due now.
    REFERENCE_TIME TimeUntilDue();

    // Releases the current frame now and schedules the next one frameTime
    // after this frame's due time, or frameTime after now when this frame
    // is later than one whole frameTime.
    void Advance(REFERENCE_TIME frameTime);

    // Due time of the current frame (valid once scheduled).
    REFERENCE_TIME DueTime() const { return m_due; }

private:
    IPacingClock& m_clock;
    bool m_scheduled = false;
    REFERENCE_TIME m_due = 0;
};
