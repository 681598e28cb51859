// Frame times: the duration of one frame in 100-ns units (REFERENCE_TIME,
// whose units framework/time_units.h defines), the range the device runs
// at, and the conversions to and from frames per second.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "framework/time_units.h"

// About 60 frames per second at the shortest, one frame per second at the
// longest; about 30 unless a setting says otherwise.
inline constexpr REFERENCE_TIME kMinFrameTime = 166666;
inline constexpr REFERENCE_TIME kMaxFrameTime = kUnitsPerSecond;
inline constexpr REFERENCE_TIME kDefaultFrameTime = 333333;

// A frame time clamped into kMinFrameTime..kMaxFrameTime.
REFERENCE_TIME ClampFrameTime(REFERENCE_TIME frameTime);

// The frame time for a rate in frames per second, clamped into
// kMinFrameTime..kMaxFrameTime; false (and nothing changed) for a rate
// that is not above zero or not a number.
[[nodiscard]] bool FrameTimeFromRate(double rate, REFERENCE_TIME* frameTime);

// Whole frames per second for a frame time (10,000,000 / frameTime,
// truncated); 0 for a frame time that is not positive.
double FrameRateFromFrameTime(REFERENCE_TIME frameTime);

// Whole milliseconds of a time, rounded down; 0 below zero.
DWORD MillisecondsOf(REFERENCE_TIME time);
