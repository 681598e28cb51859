// The times the pacing reads: the performance counter (the one clock of
// the frame path, framework/performance_counter.h), or a simulated clock
// in tests; and a clock of the stream's own that it may follow instead.
#pragma once

#include <windows.h>

#include <cstdint>

// A monotonic time source in 100-ns units: the performance counter, or a
// simulated clock in tests.
class IPacingClock {
public:
    virtual int64_t Now() = 0;

protected:
    ~IPacingClock() = default;
};

// The high-resolution performance counter.
class CPerformanceCounterClock final : public IPacingClock {
public:
    int64_t Now() override;
};

// A clock a stream follows instead of the counter (a DirectShow graph's
// reference clock, which the pin adapts), in 100-ns units. False when it
// cannot tell the time just now: the pacing then goes by the counter.
class IStreamClock {
public:
    virtual bool Now(int64_t* time) = 0;

protected:
    ~IStreamClock() = default;
};
