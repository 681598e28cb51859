#include "settings/frame_time.h"

#include <type_traits>

// The units of framework/time_units.h mix with frame times unconverted.
static_assert(std::is_same_v<REFERENCE_TIME, int64_t>, "REFERENCE_TIME is int64_t");

REFERENCE_TIME ClampFrameTime(REFERENCE_TIME frameTime) {
    if (frameTime < kMinFrameTime) {
        return kMinFrameTime;
    }
    if (frameTime > kMaxFrameTime) {
        return kMaxFrameTime;
    }
    return frameTime;
}

bool FrameTimeFromRate(double rate, REFERENCE_TIME* frameTime) {
    // Written so that NaN fails the test as well.
    if (!(rate > 0.0)) {
        return false;
    }
    const double exact = static_cast<double>(kUnitsPerSecond) / rate;
    // Clamped as a double first: a tiny rate would overflow the integer.
    if (exact >= static_cast<double>(kMaxFrameTime)) {
        *frameTime = kMaxFrameTime;
    } else {
        *frameTime = ClampFrameTime(static_cast<REFERENCE_TIME>(exact));
    }
    return true;
}

double FrameRateFromFrameTime(REFERENCE_TIME frameTime) {
    if (frameTime <= 0) {
        return 0.0;
    }
    return static_cast<double>(kUnitsPerSecond / frameTime);
}

DWORD MillisecondsOf(REFERENCE_TIME time) {
    if (time <= 0) {
        return 0;
    }
    const REFERENCE_TIME milliseconds = time / kUnitsPerMillisecond;
    return milliseconds > static_cast<REFERENCE_TIME>(MAXDWORD) ? MAXDWORD : static_cast<DWORD>(milliseconds);
}
