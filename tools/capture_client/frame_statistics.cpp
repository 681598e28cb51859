#include "tools/capture_client/frame_statistics.h"

#include <algorithm>
#include <cmath>

namespace qmcapture {

namespace {

constexpr double kReferenceTimePerMs = 10000.0;

}  // namespace

double Percentile(std::vector<double> values, double percent) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(percent / 100.0 * static_cast<double>(values.size()));
    const size_t index = rank < 1.0 ? 0 : static_cast<size_t>(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}

IntervalStatistics ComputeIntervalStatistics(const std::vector<double>& intervalsMs) {
    IntervalStatistics stats;
    stats.count = intervalsMs.size();
    if (intervalsMs.empty()) {
        return stats;
    }
    stats.p50 = Percentile(intervalsMs, 50.0);
    stats.p90 = Percentile(intervalsMs, 90.0);
    stats.p99 = Percentile(intervalsMs, 99.0);
    stats.max = *std::max_element(intervalsMs.begin(), intervalsMs.end());
    return stats;
}

FrameStatistics ComputeFrameStatistics(const std::vector<FrameTiming>& frames, int64_t ticksPerSecond) {
    FrameStatistics stats;
    stats.frames = frames.size();
    if (frames.empty()) {
        return stats;
    }

    std::vector<double> arrivalMs;
    std::vector<double> sampleMs;
    arrivalMs.reserve(frames.size());
    sampleMs.reserve(frames.size());
    const double ticksPerMs = static_cast<double>(ticksPerSecond) / 1000.0;

    const FrameTiming* previousTimed = nullptr;
    const FrameTiming* firstTimed = nullptr;
    const FrameTiming* lastTimed = nullptr;
    size_t timedFrames = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const FrameTiming& frame = frames[i];
        if (i > 0 && ticksPerMs > 0.0) {
            arrivalMs.push_back(static_cast<double>(frame.arrivalTicks - frames[i - 1].arrivalTicks) /
                                ticksPerMs);
        }
        if (!frame.hasStart) {
            ++stats.framesWithoutTime;
            // A frame without a time breaks the chain: the next timed frame
            // is not compared with one before the untimed frame.
            previousTimed = nullptr;
            continue;
        }
        if (previousTimed != nullptr) {
            sampleMs.push_back(static_cast<double>(frame.start - previousTimed->start) / kReferenceTimePerMs);
            if (previousTimed->hasEnd) {
                ++stats.pairsChecked;
                if (frame.start != previousTimed->end) {
                    if (frame.start > previousTimed->end) {
                        ++stats.gaps;
                    } else {
                        ++stats.overlaps;
                    }
                    if (stats.firstBreakFrame < 0) {
                        stats.firstBreakFrame = static_cast<int64_t>(i);
                        stats.firstBreakStart = frame.start;
                        stats.firstBreakPreviousEnd = previousTimed->end;
                    }
                }
            }
        }
        if (firstTimed == nullptr) {
            firstTimed = &frame;
        }
        ++timedFrames;
        lastTimed = &frame;
        previousTimed = &frame;
    }

    if (frames.size() >= 2 && ticksPerSecond > 0) {
        stats.arrivalSpan = static_cast<double>(frames.back().arrivalTicks - frames.front().arrivalTicks) /
                            static_cast<double>(ticksPerSecond);
        if (stats.arrivalSpan > 0.0) {
            stats.deliveredFps = static_cast<double>(frames.size() - 1) / stats.arrivalSpan;
        }
        stats.firstArrivalIntervalMs = arrivalMs.empty() ? 0.0 : arrivalMs.front();
    }
    if (frames.size() >= 3 && ticksPerSecond > 0) {
        const double span = static_cast<double>(frames.back().arrivalTicks - frames[1].arrivalTicks) /
                            static_cast<double>(ticksPerSecond);
        if (span > 0.0) {
            stats.steadyFps = static_cast<double>(frames.size() - 2) / span;
        }
    }
    if (timedFrames >= 2) {
        const double span = static_cast<double>(lastTimed->start - firstTimed->start) / 1e7;
        if (span > 0.0) {
            stats.timestampFps = static_cast<double>(timedFrames - 1) / span;
        }
    }
    stats.sampleIntervals = ComputeIntervalStatistics(sampleMs);
    stats.arrivalIntervals = ComputeIntervalStatistics(arrivalMs);
    return stats;
}

}  // namespace qmcapture
