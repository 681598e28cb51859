// The frame schedule, driven by a simulated clock whose sleeps end on a
// coarse system tick (as Sleep does on Windows without a finer timer
// resolution) and by real time; and the pacing timer's wake events.
#include <gtest/gtest.h>

#include <vector>

#include "timing/frame_pacer.h"
#include "timing/pacing_clock.h"
#include "timing/pacing_timer.h"

namespace {

constexpr REFERENCE_TIME kMs = 10000;
constexpr REFERENCE_TIME kThirtyFps = 333333;
// The default Windows timer tick: 15.625 ms.
constexpr REFERENCE_TIME kCoarseTick = 156250;

// Simulated time. Sleeping ends on the first tick at or after the
// requested moment; work takes exactly what it is told.
class SimulatedClock final : public IPacingClock {
public:
    explicit SimulatedClock(REFERENCE_TIME tick) : m_tick(tick) {}
    REFERENCE_TIME Now() override { return m_now; }
    void Sleep(REFERENCE_TIME duration) {
        const REFERENCE_TIME wake = m_now + duration;
        m_now = m_tick > 0 ? (wake + m_tick - 1) / m_tick * m_tick : wake;
    }
    void Work(REFERENCE_TIME duration) { m_now += duration; }

private:
    REFERENCE_TIME m_tick;
    REFERENCE_TIME m_now = 1000;
};

// A streaming worker in miniature, on stream time: wait until the next
// frame is due, work for it, take its slot. Returns the slots and the
// moments the frames were released to their work.
struct Frame {
    CFramePacer::Slot slot;
    REFERENCE_TIME released;
};

std::vector<Frame> RunFrames(SimulatedClock& clock, CFramePacer& pacer, int frames, REFERENCE_TIME frameTime,
                             const std::vector<REFERENCE_TIME>& work) {
    std::vector<Frame> result;
    for (int i = 0; i < frames; ++i) {
        for (REFERENCE_TIME now = clock.Now(); pacer.Due(now, frameTime) > now; now = clock.Now()) {
            clock.Sleep(pacer.Due(now, frameTime) - now);
        }
        const REFERENCE_TIME released = clock.Now();
        clock.Work(work.empty() ? 0 : work[static_cast<size_t>(i) % work.size()]);
        result.push_back({pacer.Take(frameTime), released});
    }
    return result;
}

}  // namespace

TEST(FramePacerTest, CoarseSleepsStillKeepTheRateAndTheTimesContiguous) {
    SimulatedClock clock(kCoarseTick);
    CFramePacer pacer;
    const std::vector<Frame> frames = RunFrames(clock, pacer, 300, kThirtyFps, {5 * kMs});
    // Every frame is released at its due time or within one tick after it,
    // never before: 300 frames in 300 frame times, not in 300 rounded-up
    // sleeps; and each sample starts where the one before ended.
    for (size_t n = 0; n < frames.size(); ++n) {
        const REFERENCE_TIME due = static_cast<REFERENCE_TIME>(n) * kThirtyFps;
        ASSERT_EQ(due, frames[n].slot.start) << n;
        ASSERT_EQ(due + kThirtyFps, frames[n].slot.end) << n;
        ASSERT_FALSE(frames[n].slot.discontinuity) << n;
        ASSERT_GE(frames[n].released, due) << n;
        ASSERT_LT(frames[n].released, due + kCoarseTick) << n;
    }
}

TEST(FramePacerTest, TheFirstSampleIsDueAtStreamTimeZeroAfterEachRestart) {
    CFramePacer pacer;
    EXPECT_FALSE(pacer.HasTaken());
    EXPECT_EQ(0, pacer.Due(5 * kMs, kThirtyFps));
    // However late the first frame: nothing to catch up before it.
    EXPECT_EQ(0, pacer.Due(10 * kThirtyFps, kThirtyFps));
    EXPECT_FALSE(pacer.Take(kThirtyFps).discontinuity);
    EXPECT_TRUE(pacer.HasTaken());
    EXPECT_EQ(kThirtyFps, pacer.Due(kThirtyFps - kMs, kThirtyFps));
    pacer.Restart();
    EXPECT_FALSE(pacer.HasTaken());
    EXPECT_EQ(0, pacer.NextStart());
}

TEST(FramePacerTest, AFrameLateByLessThanAFrameTimeKeepsTheSchedule) {
    SimulatedClock clock(0);
    CFramePacer pacer;
    // The third frame's work overruns its slot by 20 ms: the next frame is
    // due at once, on the original schedule; no gap, no discontinuity.
    const std::vector<Frame> frames = RunFrames(clock, pacer, 6, kThirtyFps, {0, 0, kThirtyFps + 20 * kMs, 0, 0, 0});
    for (size_t n = 0; n < frames.size(); ++n) {
        EXPECT_EQ(static_cast<REFERENCE_TIME>(n) * kThirtyFps, frames[n].slot.start) << n;
        EXPECT_FALSE(frames[n].slot.discontinuity) << n;
    }
    EXPECT_EQ(frames[2].released + kThirtyFps + 20 * kMs, frames[3].released);
    EXPECT_EQ(4 * kThirtyFps, frames[4].released);
}

TEST(FramePacerTest, AStallLeavesAGapAndTheNextFrameTakesTheCurrentSlot) {
    SimulatedClock clock(0);
    CFramePacer pacer;
    // The third frame's work takes 100 ms: three frame times. The next
    // frame takes the slot the stream has reached (slot 5 of 33.3 ms
    // contains 66.7 + 100 = 166.7 ms), at once, marked as a discontinuity;
    // then the schedule goes on from there.
    const std::vector<Frame> frames = RunFrames(clock, pacer, 7, kThirtyFps, {0, 0, 100 * kMs, 0, 0, 0, 0});
    EXPECT_EQ(2 * kThirtyFps, frames[2].slot.start);
    EXPECT_EQ(5 * kThirtyFps, frames[3].slot.start);
    EXPECT_TRUE(frames[3].slot.discontinuity);
    EXPECT_EQ(frames[2].released + 100 * kMs, frames[3].released) << "due at once";
    for (size_t n = 4; n < frames.size(); ++n) {
        EXPECT_EQ(frames[n - 1].slot.end, frames[n].slot.start) << n;
        EXPECT_FALSE(frames[n].slot.discontinuity) << n;
        EXPECT_EQ(frames[n].slot.start, frames[n].released) << "back on the clock: " << n;
    }
}

TEST(FramePacerTest, ANewFrameTimeAppliesFromTheNextSample) {
    CFramePacer pacer;
    EXPECT_EQ(0, pacer.Due(0, kThirtyFps));
    EXPECT_EQ(kThirtyFps, pacer.Take(kThirtyFps).end);
    EXPECT_EQ(kThirtyFps, pacer.Due(kThirtyFps, 10000000));
    const CFramePacer::Slot slot = pacer.Take(10000000);
    EXPECT_EQ(kThirtyFps, slot.start);
    EXPECT_EQ(kThirtyFps + 10000000, slot.end);
    // A frame time of 0 has no slots to miss.
    EXPECT_EQ(slot.end, pacer.Due(slot.end + 50 * 10000000, 0));
}

TEST(FramePacerTest, RealTimeFramesAreNeverReleasedEarly) {
    CPerformanceCounterClock clock;
    CFramePacer pacer;
    CPacingTimer timer;
    ASSERT_EQ(S_OK, timer.Start());
    constexpr REFERENCE_TIME kFrameTime = 20 * kMs;
    const REFERENCE_TIME origin = clock.Now();
    for (int i = 0; i < 6; ++i) {
        for (REFERENCE_TIME now = clock.Now() - origin; pacer.Due(now, kFrameTime) > now;
             now = clock.Now() - origin) {
            timer.Wait(pacer.Due(now, kFrameTime) - now, nullptr);
        }
        const CFramePacer::Slot slot = pacer.Take(kFrameTime);
        EXPECT_GE(clock.Now() - origin, slot.start) << i;
    }
}

TEST(PacingTimerTest, ASignalledWakeEventEndsTheWaitAndStaysSet) {
    UniqueHandle wake(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    ASSERT_TRUE(wake);
    CPacingTimer timer;
    // Without the timer (fallback) and with it: a ten-second wait that the
    // event ends at once, reported as such.
    EXPECT_TRUE(timer.Wait(100000000, wake.get()));
    ASSERT_EQ(S_OK, timer.Start());
    EXPECT_TRUE(timer.IsStarted());
    EXPECT_TRUE(timer.Wait(100000000, wake.get()));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(wake.get(), 0));
    EXPECT_TRUE(timer.Wait(0, wake.get()));
    timer.Stop();
    EXPECT_FALSE(timer.IsStarted());
}

TEST(PacingTimerTest, AnUnsignalledEventLetsTheTimeRunOut) {
    UniqueHandle wake(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CPacingTimer timer;
    ASSERT_EQ(S_OK, timer.Start());
    EXPECT_FALSE(timer.Wait(5 * kMs, wake.get()));
    EXPECT_FALSE(timer.Wait(2 * kMs, nullptr));
    EXPECT_FALSE(timer.Wait(0, nullptr));
}

TEST(PacingTimerTest, TheFirstOfSeveralEventsEndsTheWaitAndSaysWhichItWas) {
    UniqueHandle first(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle second(::CreateEventW(nullptr, FALSE, TRUE, nullptr));
    CPacingTimer timer;
    ASSERT_EQ(S_OK, timer.Start());
    const HANDLE events[] = {first.get(), nullptr, second.get()};
    EXPECT_EQ(2, timer.Wait(100000000, events, 3));
    // The auto-reset event was consumed; nothing else is set.
    EXPECT_EQ(-1, timer.Wait(2 * kMs, events, 3));
    ::SetEvent(first.get());
    ::SetEvent(second.get());
    EXPECT_EQ(0, timer.Wait(100000000, events, 3)) << "the first listed wins";
}
