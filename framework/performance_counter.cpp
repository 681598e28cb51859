#include "framework/performance_counter.h"

#include <windows.h>

#include "framework/time_units.h"

namespace {

int64_t CounterFrequency() {
    // The frequency is fixed at boot; asked once. Never 0 on Windows XP and
    // later, but 1 keeps the division defined if a system says so.
    static const int64_t frequency = [] {
        LARGE_INTEGER f = {};
        return ::QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? static_cast<int64_t>(f.QuadPart) : 1;
    }();
    return frequency;
}

}  // namespace

int64_t PerformanceCounterTime() {
    const int64_t frequency = CounterFrequency();
    LARGE_INTEGER counter = {};
    ::QueryPerformanceCounter(&counter);
    // Whole seconds and the remainder apart: counter * 10^7 would overflow
    // after some days of uptime at a 10 MHz counter.
    const int64_t seconds = counter.QuadPart / frequency;
    const int64_t remainder = counter.QuadPart % frequency;
    return seconds * kUnitsPerSecond + remainder * kUnitsPerSecond / frequency;
}
