#include "timing/pacing_clock.h"

#include "framework/performance_counter.h"

int64_t CPerformanceCounterClock::Now() {
    return PerformanceCounterTime();
}
