// The one clock the frame path times itself by: the performance counter in
// 100-ns units. The pacing of both cameras, the frame ring's frame times
// and the media stream read it; Media Foundation's MFGetSystemTime runs on
// the same counter, so frame times compare with a client's clock.
#pragma once

#include <cstdint>

// 100-ns units since an arbitrary start (the counter's), monotonic.
int64_t PerformanceCounterTime();
