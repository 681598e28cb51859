#include "settings/frame_time.h"

int64_t ClampFrameTime(int64_t frameTime) {
    if (frameTime < kMinFrameTime) {
        return kMinFrameTime;
    }
    if (frameTime > kMaxFrameTime) {
        return kMaxFrameTime;
    }
    return frameTime;
}

bool FrameTimeFromRate(double rate, int64_t* frameTime) {
    // Written so that NaN fails the test as well.
    if (!(rate > 0.0)) {
        return false;
    }
    const double exact = static_cast<double>(kUnitsPerSecond) / rate;
    // Clamped as a double first: a tiny rate would overflow the integer.
    if (exact >= static_cast<double>(kMaxFrameTime)) {
        *frameTime = kMaxFrameTime;
    } else {
        *frameTime = ClampFrameTime(static_cast<int64_t>(exact));
    }
    return true;
}

double FrameRateFromFrameTime(int64_t frameTime) {
    if (frameTime <= 0) {
        return 0.0;
    }
    return static_cast<double>(kUnitsPerSecond / frameTime);
}

DWORD MillisecondsOf(int64_t time) {
    if (time <= 0) {
        return 0;
    }
    const int64_t milliseconds = time / kUnitsPerMillisecond;
    return milliseconds > static_cast<int64_t>(MAXDWORD) ? MAXDWORD : static_cast<DWORD>(milliseconds);
}
