// Frame timing figures: percentiles, delivered rate and the contiguity
// check of sample timestamps.
#include <gtest/gtest.h>

#include "tools/capture_client/frame_statistics.h"

using namespace qmcapture;

namespace {

constexpr int64_t kFrameTime = 333333;
constexpr int64_t kTicksPerSecond = 10000000;

// Frames stamped n x frameTime .. (n + 1) x frameTime, arriving every frameTime.
std::vector<FrameTiming> ContiguousFrames(int count) {
    std::vector<FrameTiming> frames;
    for (int i = 0; i < count; ++i) {
        FrameTiming frame;
        frame.start = i * kFrameTime;
        frame.end = (i + 1) * kFrameTime;
        frame.hasStart = true;
        frame.hasEnd = true;
        frame.arrivalTicks = 5000 + i * kFrameTime;
        frames.push_back(frame);
    }
    return frames;
}

}  // namespace

TEST(PercentileTest, UsesTheNearestRank) {
    std::vector<double> values;
    for (int i = 100; i >= 1; --i) {
        values.push_back(i);
    }
    EXPECT_EQ(50.0, Percentile(values, 50));
    EXPECT_EQ(90.0, Percentile(values, 90));
    EXPECT_EQ(99.0, Percentile(values, 99));
    EXPECT_EQ(100.0, Percentile(values, 100));
    EXPECT_EQ(1.0, Percentile({1.0, 2.0}, 50));
    EXPECT_EQ(2.0, Percentile({1.0, 2.0}, 90));
    EXPECT_EQ(7.0, Percentile({7.0}, 99));
    EXPECT_EQ(0.0, Percentile({}, 50));
}

TEST(FrameStatisticsTest, ContiguousStreamAtThirtyFramesPerSecond) {
    const FrameStatistics stats = ComputeFrameStatistics(ContiguousFrames(31), kTicksPerSecond);
    EXPECT_EQ(31u, stats.frames);
    EXPECT_TRUE(stats.Contiguous());
    EXPECT_EQ(30u, stats.pairsChecked);
    EXPECT_EQ(-1, stats.firstBreakFrame);
    // 30 intervals of 333333 units span 0.999999 s.
    EXPECT_NEAR(0.999999, stats.arrivalSpan, 1e-12);
    EXPECT_NEAR(30.0 / 0.999999, stats.deliveredFps, 1e-9);
    EXPECT_NEAR(30.0 / 0.999999, stats.timestampFps, 1e-9);
    EXPECT_EQ(30u, stats.sampleIntervals.count);
    EXPECT_NEAR(33.3333, stats.sampleIntervals.p50, 1e-6);
    EXPECT_NEAR(33.3333, stats.sampleIntervals.max, 1e-6);
    EXPECT_NEAR(33.3333, stats.arrivalIntervals.p99, 1e-6);
}

TEST(FrameStatisticsTest, GapAndOverlapAreCountedAndTheFirstIsNamed) {
    std::vector<FrameTiming> frames = ContiguousFrames(10);
    // Frame 4 starts one frame late (a gap before it; its own end moves too).
    frames[4].start += kFrameTime;
    frames[4].end += kFrameTime;
    // Frame 5 now starts before frame 4 ends: an overlap.
    const FrameStatistics stats = ComputeFrameStatistics(frames, kTicksPerSecond);
    EXPECT_FALSE(stats.Contiguous());
    EXPECT_EQ(9u, stats.pairsChecked);
    EXPECT_EQ(1u, stats.gaps);
    EXPECT_EQ(1u, stats.overlaps);
    EXPECT_EQ(4, stats.firstBreakFrame);
    EXPECT_EQ(5 * kFrameTime, stats.firstBreakStart);
    EXPECT_EQ(4 * kFrameTime, stats.firstBreakPreviousEnd);
    EXPECT_NEAR(66.6666, stats.sampleIntervals.max, 1e-6);
}

TEST(FrameStatisticsTest, FramesWithoutTimeBreakTheChainAndAreCounted) {
    std::vector<FrameTiming> frames = ContiguousFrames(6);
    frames[2].hasStart = false;
    frames[2].hasEnd = false;
    const FrameStatistics stats = ComputeFrameStatistics(frames, kTicksPerSecond);
    EXPECT_EQ(1u, stats.framesWithoutTime);
    // Pairs 0-1, 3-4, 4-5; frame 3 is not compared with frame 1.
    EXPECT_EQ(3u, stats.pairsChecked);
    EXPECT_TRUE(stats.Contiguous());
    EXPECT_EQ(5u, stats.arrivalIntervals.count);
    EXPECT_EQ(3u, stats.sampleIntervals.count);
}

TEST(FrameStatisticsTest, StartTimesWithoutEndTimesAreNotCheckedForContiguity) {
    std::vector<FrameTiming> frames = ContiguousFrames(5);
    for (FrameTiming& frame : frames) {
        frame.hasEnd = false;
    }
    const FrameStatistics stats = ComputeFrameStatistics(frames, kTicksPerSecond);
    EXPECT_EQ(0u, stats.pairsChecked);
    EXPECT_FALSE(stats.Contiguous());
    EXPECT_EQ(4u, stats.sampleIntervals.count);
}

TEST(FrameStatisticsTest, ArrivalIntervalsFollowTheCounterFrequency) {
    std::vector<FrameTiming> frames(3);
    frames[0].arrivalTicks = 1000;
    frames[1].arrivalTicks = 1100;
    frames[2].arrivalTicks = 1300;
    const FrameStatistics stats = ComputeFrameStatistics(frames, 1000);
    EXPECT_NEAR(0.3, stats.arrivalSpan, 1e-9);
    EXPECT_NEAR(2.0 / 0.3, stats.deliveredFps, 1e-9);
    EXPECT_EQ(100.0, stats.arrivalIntervals.p50);
    EXPECT_EQ(200.0, stats.arrivalIntervals.max);
    EXPECT_EQ(3u, stats.framesWithoutTime);
    EXPECT_EQ(0.0, stats.timestampFps);
}

TEST(FrameStatisticsTest, ALateSecondFrameIsSetApartFromTheSteadyRate) {
    // The renderer held the first frame 200 ms; then every frame time.
    std::vector<FrameTiming> frames = ContiguousFrames(32);
    for (size_t i = 1; i < frames.size(); ++i) {
        frames[i].arrivalTicks += 2000000 - kFrameTime;
    }
    const FrameStatistics stats = ComputeFrameStatistics(frames, kTicksPerSecond);
    EXPECT_NEAR(200.0, stats.firstArrivalIntervalMs, 1e-9);
    EXPECT_NEAR(30.0 / 0.999999, stats.steadyFps, 1e-9);
    EXPECT_NEAR(31.0 / 1.199999, stats.deliveredFps, 1e-9);
}

TEST(FrameStatisticsTest, TwoFramesGiveAFirstIntervalButNoSteadyRate) {
    const FrameStatistics stats = ComputeFrameStatistics(ContiguousFrames(2), kTicksPerSecond);
    EXPECT_NEAR(33.3333, stats.firstArrivalIntervalMs, 1e-9);
    EXPECT_EQ(0.0, stats.steadyFps);
}

TEST(FrameStatisticsTest, OneFrameOrNoneGivesNoRates) {
    const FrameStatistics none = ComputeFrameStatistics({}, kTicksPerSecond);
    EXPECT_EQ(0u, none.frames);
    EXPECT_EQ(0.0, none.deliveredFps);
    const FrameStatistics one = ComputeFrameStatistics(ContiguousFrames(1), kTicksPerSecond);
    EXPECT_EQ(1u, one.frames);
    EXPECT_EQ(0.0, one.deliveredFps);
    EXPECT_EQ(0.0, one.timestampFps);
    EXPECT_EQ(0.0, one.firstArrivalIntervalMs);
    EXPECT_EQ(0.0, one.steadyFps);
    EXPECT_EQ(0u, one.sampleIntervals.count);
    EXPECT_FALSE(one.Contiguous());
}
