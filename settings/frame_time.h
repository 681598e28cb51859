// Frame times: the duration of one frame in 100-ns units (whose units
// framework/time_units.h defines: DirectShow's REFERENCE_TIME and Media
// Foundation's times), the range the device runs at, and the conversions
// to and from frames per second.
#pragma once

#include <windows.h>
#include <cstdint>

#include "framework/time_units.h"

// About 60 frames per second at the shortest, one frame per second at the
// longest; about 30 unless a setting says otherwise.
inline constexpr int64_t kMinFrameTime = 166666;
inline constexpr int64_t kMaxFrameTime = kUnitsPerSecond;
inline constexpr int64_t kDefaultFrameTime = 333333;

// A frame time clamped into kMinFrameTime..kMaxFrameTime.
int64_t ClampFrameTime(int64_t frameTime);

// The frame time for a rate in frames per second, clamped into
// kMinFrameTime..kMaxFrameTime; false (and nothing changed) for a rate
// that is not above zero or not a number.
[[nodiscard]] bool FrameTimeFromRate(double rate, int64_t* frameTime);

// Whole frames per second for a frame time (10,000,000 / frameTime,
// truncated); 0 for a frame time that is not positive.
double FrameRateFromFrameTime(int64_t frameTime);

// Whole milliseconds of a time, rounded down; 0 below zero.
DWORD MillisecondsOf(int64_t time);
