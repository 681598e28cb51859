// The time the pacing reads: the performance counter (the one clock of
// the frame path, framework/performance_counter.h), or a simulated clock
// in tests.
#pragma once

#include <windows.h>
#include <strmif.h>

// A monotonic time source in 100-ns units: the performance counter, or a
// simulated clock in tests.
class IPacingClock {
public:
    virtual REFERENCE_TIME Now() = 0;

protected:
    ~IPacingClock() = default;
};

// The high-resolution performance counter.
class CPerformanceCounterClock final : public IPacingClock {
public:
    REFERENCE_TIME Now() override;
};

