// Timing of the frames of one capture: delivered rate, interval
// percentiles and whether the sample timestamps are contiguous.
#pragma once

#include <cstdint>
#include <vector>

namespace qmcapture {

// What was seen of one frame when it reached the sample grabber.
struct FrameTiming {
    // Sample start and end, 100-ns stream time; valid per the flags.
    int64_t start = 0;
    int64_t end = 0;
    bool hasStart = false;
    bool hasEnd = false;
    // Performance-counter ticks when the frame arrived.
    int64_t arrivalTicks = 0;
};

struct IntervalStatistics {
    // Number of intervals measured; the rest is 0 when it is 0.
    size_t count = 0;
    // Milliseconds, by the nearest-rank method.
    double p50 = 0.0;
    double p90 = 0.0;
    double p99 = 0.0;
    double max = 0.0;
};

struct FrameStatistics {
    size_t frames = 0;
    // Time from the first to the last arrival, seconds.
    double arrivalSpan = 0.0;
    // (frames - 1) / arrivalSpan; 0 below two frames.
    double deliveredFps = 0.0;
    // Arrival interval from the first frame to the second, milliseconds (0
    // below two frames). A graph with a reference clock holds the first
    // frame in its renderer until the clock's start time, so this interval
    // shows the graph's start-up rather than the device's pacing.
    double firstArrivalIntervalMs = 0.0;
    // Delivered rate from the second frame on: (frames - 2) / (last arrival
    // - second arrival); 0 below three frames.
    double steadyFps = 0.0;
    // Frame rate the timestamps describe: (timed frames - 1) / (last start - first start).
    double timestampFps = 0.0;

    IntervalStatistics sampleIntervals;
    IntervalStatistics arrivalIntervals;

    // Frames without a start time (these are left out of the timestamp figures).
    size_t framesWithoutTime = 0;
    // Consecutive timed pairs checked for contiguity, and how many failed:
    // a gap (start later than the previous end) or an overlap (earlier).
    size_t pairsChecked = 0;
    size_t gaps = 0;
    size_t overlaps = 0;
    // First pair that failed: the later frame's index, its start and the
    // previous end; -1 when none failed.
    int64_t firstBreakFrame = -1;
    int64_t firstBreakStart = 0;
    int64_t firstBreakPreviousEnd = 0;

    bool Contiguous() const { return pairsChecked > 0 && gaps == 0 && overlaps == 0; }
};

// Nearest-rank percentile (0 < percent <= 100) of unsorted values; 0 for none.
double Percentile(std::vector<double> values, double percent);

IntervalStatistics ComputeIntervalStatistics(const std::vector<double>& intervalsMs);

// `ticksPerSecond` is the performance-counter frequency of the arrival ticks.
FrameStatistics ComputeFrameStatistics(const std::vector<FrameTiming>& frames, int64_t ticksPerSecond);

}  // namespace qmcapture
