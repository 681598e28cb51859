// The frame schedule, driven by a simulated clock whose sleeps end on a
// coarse system tick (as Sleep does on Windows without a finer timer
// resolution) and by real time; and the pacing timer's wake event.
#include <gtest/gtest.h>

#include <vector>

#include "capture/frame_pacer.h"
#include "capture/pacing_timer.h"

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

// A streaming worker in miniature: work for a frame, wait until it is due,
// release it. Returns the release times.
std::vector<REFERENCE_TIME> RunFrames(SimulatedClock& clock, CFramePacer& pacer, int frames,
                                      REFERENCE_TIME frameTime, const std::vector<REFERENCE_TIME>& work) {
    std::vector<REFERENCE_TIME> released;
    for (int i = 0; i < frames; ++i) {
        clock.Work(work.empty() ? 0 : work[static_cast<size_t>(i) % work.size()]);
        for (REFERENCE_TIME remaining = pacer.TimeUntilDue(); remaining > 0; remaining = pacer.TimeUntilDue()) {
            clock.Sleep(remaining);
        }
        released.push_back(clock.Now());
        pacer.Advance(frameTime);
    }
    return released;
}

}  // namespace

TEST(FramePacerTest, CoarseSleepsStillKeepTheRateOverTheLongRun) {
    SimulatedClock clock(kCoarseTick);
    CFramePacer pacer(clock);
    const std::vector<REFERENCE_TIME> released = RunFrames(clock, pacer, 300, kThirtyFps, {5 * kMs});
    // Every frame is released at its due time or within one tick after it,
    // never before: 300 frames in 300 frame times, not in 300 rounded-up
    // sleeps.
    for (size_t n = 0; n < released.size(); ++n) {
        const REFERENCE_TIME due = released[0] + static_cast<REFERENCE_TIME>(n) * kThirtyFps;
        ASSERT_GE(released[n], due) << n;
        ASSERT_LT(released[n], due + kCoarseTick) << n;
    }
    const REFERENCE_TIME span = released.back() - released.front();
    EXPECT_LT(span, 299 * kThirtyFps + kCoarseTick);
}

TEST(FramePacerTest, TheFirstFrameAfterARestartIsDueAtOnce) {
    SimulatedClock clock(0);
    CFramePacer pacer(clock);
    EXPECT_EQ(0, pacer.TimeUntilDue());
    pacer.Advance(kThirtyFps);
    EXPECT_EQ(kThirtyFps, pacer.TimeUntilDue());
    clock.Work(10 * kMs);
    EXPECT_EQ(kThirtyFps - 10 * kMs, pacer.TimeUntilDue());
    pacer.Restart();
    EXPECT_EQ(0, pacer.TimeUntilDue());
}

TEST(FramePacerTest, AFrameLateByLessThanAFrameTimeKeepsTheSchedule) {
    SimulatedClock clock(0);
    CFramePacer pacer(clock);
    // The third frame's work overruns by 20 ms: it goes out late, and the
    // next one is due on the original schedule, so the rate holds.
    const std::vector<REFERENCE_TIME> released =
        RunFrames(clock, pacer, 6, kThirtyFps, {0, 0, kThirtyFps + 20 * kMs, 0, 0, 0});
    EXPECT_EQ(released[0] + 2 * kThirtyFps + 20 * kMs, released[2]);
    EXPECT_EQ(released[0] + 3 * kThirtyFps, released[3]);
    EXPECT_EQ(released[0] + 5 * kThirtyFps, released[5]);
}

TEST(FramePacerTest, AFrameLateByMoreThanAFrameTimeRestartsWithoutABurst) {
    SimulatedClock clock(0);
    CFramePacer pacer(clock);
    // The third frame's work takes 100 ms: three frame times. Catching up
    // would release the next frames back to back; instead the schedule
    // restarts from the late frame.
    const std::vector<REFERENCE_TIME> released = RunFrames(clock, pacer, 6, kThirtyFps, {0, 0, 100 * kMs, 0, 0, 0});
    for (size_t n = 3; n < released.size(); ++n) {
        EXPECT_EQ(kThirtyFps, released[n] - released[n - 1]) << n;
    }
}

TEST(FramePacerTest, ANewFrameTimeAppliesFromTheNextFrame) {
    SimulatedClock clock(0);
    CFramePacer pacer(clock);
    EXPECT_EQ(0, pacer.TimeUntilDue());
    pacer.Advance(kThirtyFps);
    clock.Sleep(pacer.TimeUntilDue());
    pacer.Advance(10000000);
    EXPECT_EQ(10000000, pacer.TimeUntilDue());
}

TEST(FramePacerTest, RealTimeFramesAreNeverReleasedEarly) {
    CPerformanceCounterClock clock;
    CFramePacer pacer(clock);
    CPacingTimer timer;
    ASSERT_EQ(S_OK, timer.Start());
    constexpr REFERENCE_TIME kFrameTime = 20 * kMs;
    std::vector<REFERENCE_TIME> released;
    for (int i = 0; i < 6; ++i) {
        for (REFERENCE_TIME remaining = pacer.TimeUntilDue(); remaining > 0; remaining = pacer.TimeUntilDue()) {
            timer.Wait(remaining, nullptr);
        }
        released.push_back(clock.Now());
        pacer.Advance(kFrameTime);
    }
    for (size_t n = 1; n < released.size(); ++n) {
        // Due n frame times after the first at the earliest (a late frame
        // only moves later ones further out).
        EXPECT_GE(released[n] - released[0], static_cast<REFERENCE_TIME>(n) * kFrameTime) << n;
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
