#include "timing/pacing_clock.h"

#include "framework/performance_counter.h"

REFERENCE_TIME CPerformanceCounterClock::Now() {
    return PerformanceCounterTime();
}
