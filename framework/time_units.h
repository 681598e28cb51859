// Time in 100-ns units: DirectShow's REFERENCE_TIME, Media Foundation's
// sample times and the performance counter clock all count in them. The
// constants are int64_t, which is REFERENCE_TIME's and LONGLONG's type as
// well (long long), so they mix with either without a conversion.
#pragma once

#include <cstdint>

inline constexpr int64_t kUnitsPerSecond = 10000000;
inline constexpr int64_t kUnitsPerMillisecond = 10000;
