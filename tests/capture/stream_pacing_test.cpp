// The streaming thread's pacing and the pin's sample times, with clocks of
// the test's own: the graph's reference clock (a fake whose time the test
// sets, followed through the pin's CGraphClock) and the counter used
// without one. Frames are due at the stream start plus their sample
// start; one frame is made while paused; stalls leave gaps; a pause and a
// later run continue the times; a request ends any wait; the stream
// offset shifts the samples' times.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>

#include "capture/graph_clock.h"
#include "capture/sample_stamper.h"
#include "timing/stream_pacing.h"
#include "tests/support/capture_test_support.h"
#include "tests/support/fake_clocks.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

constexpr REFERENCE_TIME kMs = 10000;
constexpr REFERENCE_TIME kFrameTime = 333333;
constexpr REFERENCE_TIME kStreamStart = 50000000;

using Times = std::pair<REFERENCE_TIME, REFERENCE_TIME>;

// A time the test sets; it stands still otherwise.
class ManualCounter final : public IPacingClock {
public:
    int64_t Now() override { return now.load(); }
    std::atomic<REFERENCE_TIME> now{0};
};

class StreamPacingTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_allocator.Init(16));
        ASSERT_EQ(S_OK, m_allocator.GetSample(&m_sample));
        ASSERT_TRUE(m_wake);
    }

    // One frame as the pin's streaming thread makes it: wait, then stamp.
    bool Frame(CStreamPacing& pacing, REFERENCE_TIME frameTime = kFrameTime) {
        if (!pacing.WaitUntilDue(m_wake.get(), frameTime)) {
            return false;
        }
        m_stamper.Stamp(m_sample.Get(), pacing.Take(frameTime));
        return true;
    }
    // The graph runs from `start` on `clock`, as the pin hands it over.
    void Run(CStreamPacing& pacing, REFERENCE_TIME start, IReferenceClock* clock) {
        m_graphClock.Set(clock);
        pacing.Run(start, &m_graphClock);
    }

    Times Stamped() {
        REFERENCE_TIME start = -1;
        REFERENCE_TIME end = -1;
        EXPECT_EQ(S_OK, m_sample->GetTime(&start, &end));
        EXPECT_EQ(S_OK, m_sample->IsSyncPoint());
        return {start, end};
    }
    bool Discontinuity() { return m_sample->IsDiscontinuity() == S_OK; }

    // Sets `time` after a while on another thread, while the test waits.
    std::thread SetLater(std::atomic<REFERENCE_TIME>& time, REFERENCE_TIME value, DWORD afterMs = 60) {
        return std::thread([&time, value, afterMs]() {
            ::Sleep(afterMs);
            time = value;
        });
    }

    SampleAllocator m_allocator;
    ComPtr<IMediaSample> m_sample;
    CGraphClock m_graphClock;
    CSampleStamper m_stamper;
    UniqueHandle m_wake{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

}  // namespace

TEST_F(StreamPacingTest, PausedOneFrameGoesAtOnceAndTheNextWaitsForRun) {
    ManualCounter counter;
    CStreamPacing pacing(&counter);
    ASSERT_EQ(S_OK, pacing.Start());
    ASSERT_TRUE(Frame(pacing));
    EXPECT_EQ(Times(0, kFrameTime), Stamped());
    // However much time passes, no second frame while paused: only the
    // request ends the wait, and then there is no frame.
    counter.now = 100 * kFrameTime;
    std::thread request([this]() {
        ::Sleep(60);
        ::SetEvent(m_wake.get());
    });
    EXPECT_FALSE(Frame(pacing));
    request.join();
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(m_wake.get(), 0)) << "the request stays pending";
    ::ResetEvent(m_wake.get());
    // Without a clock, the stream time runs on the counter from Run on.
    pacing.Run(0, nullptr);
    std::thread later = SetLater(counter.now, 100 * kFrameTime + kFrameTime);
    ASSERT_TRUE(Frame(pacing));
    later.join();
    EXPECT_EQ(100 * kFrameTime + kFrameTime, counter.now.load()) << "the frame left before it was due";
    EXPECT_EQ(Times(kFrameTime, 2 * kFrameTime), Stamped());
    pacing.Stop();
}

TEST_F(StreamPacingTest, OnTheGraphClockFramesAreDueAtTheStreamStartPlusTheirSampleStart_ClockInjected) {
    auto clock = MakeFake<ManualReferenceClock>();
    clock->now = kStreamStart - 100 * kMs;
    CStreamPacing pacing;
    ASSERT_EQ(S_OK, pacing.Start());
    Run(pacing, kStreamStart, clock.Get());
    // The first frame waits for the stream start itself.
    std::thread atStart = SetLater(clock->now, kStreamStart);
    ASSERT_TRUE(Frame(pacing));
    atStart.join();
    EXPECT_EQ(Times(0, kFrameTime), Stamped());
    for (REFERENCE_TIME k = 1; k <= 3; ++k) {
        clock->now = kStreamStart + k * kFrameTime - 1;
        std::thread due = SetLater(clock->now, kStreamStart + k * kFrameTime);
        ASSERT_TRUE(Frame(pacing));
        due.join();
        EXPECT_EQ(kStreamStart + k * kFrameTime, clock->now.load()) << "frame " << k << " left early";
        EXPECT_EQ(Times(k * kFrameTime, (k + 1) * kFrameTime), Stamped());
        EXPECT_FALSE(Discontinuity());
    }
    pacing.Stop();
}

TEST_F(StreamPacingTest, AStallLeavesAGapMarkedAsADiscontinuityAndThenKeepsTheClock_ClockInjected) {
    auto clock = MakeFake<ManualReferenceClock>();
    clock->now = kStreamStart;
    CStreamPacing pacing;
    ASSERT_EQ(S_OK, pacing.Start());
    Run(pacing, kStreamStart, clock.Get());
    ASSERT_TRUE(Frame(pacing));
    clock->now = kStreamStart + kFrameTime;
    ASSERT_TRUE(Frame(pacing));
    EXPECT_EQ(Times(kFrameTime, 2 * kFrameTime), Stamped());
    // That frame took 100 ms: the next takes the slot the clock is in.
    clock->now = kStreamStart + kFrameTime + 100 * kMs;
    ASSERT_TRUE(Frame(pacing));
    EXPECT_EQ(Times(4 * kFrameTime, 5 * kFrameTime), Stamped());
    EXPECT_TRUE(Discontinuity());
    // And the one after is due on the clock again, contiguous.
    std::thread due = SetLater(clock->now, kStreamStart + 5 * kFrameTime);
    ASSERT_TRUE(Frame(pacing));
    due.join();
    EXPECT_EQ(Times(5 * kFrameTime, 6 * kFrameTime), Stamped());
    EXPECT_FALSE(Discontinuity());
    pacing.Stop();
}

TEST_F(StreamPacingTest, AFrameSlowerToMakeThanItsSlotTakesTheSlotItIsFinishedIn_ClockInjected) {
    auto clock = MakeFake<ManualReferenceClock>();
    clock->now = kStreamStart;
    CStreamPacing pacing;
    ASSERT_EQ(S_OK, pacing.Start());
    Run(pacing, kStreamStart, clock.Get());
    ASSERT_TRUE(Frame(pacing));
    // Frame 1 is due at one frame time; reading the window takes 2.5.
    clock->now = kStreamStart + kFrameTime;
    ASSERT_TRUE(pacing.WaitUntilDue(m_wake.get(), kFrameTime));
    clock->now = kStreamStart + kFrameTime + 5 * kFrameTime / 2;
    m_stamper.Stamp(m_sample.Get(), pacing.Take(kFrameTime));
    const Times times = Stamped();
    EXPECT_EQ(Times(3 * kFrameTime, 4 * kFrameTime), times);
    EXPECT_TRUE(Discontinuity());
    EXPECT_LT(clock->now - kStreamStart - times.first, kFrameTime) << "the time trails the clock";
    pacing.Stop();
}

TEST_F(StreamPacingTest, PauseThenRunWithALaterStartContinuesTheTimes_ClockInjected) {
    auto clock = MakeFake<ManualReferenceClock>();
    clock->now = kStreamStart;
    CStreamPacing pacing;
    ASSERT_EQ(S_OK, pacing.Start());
    Run(pacing, kStreamStart, clock.Get());
    for (REFERENCE_TIME k = 0; k < 3; ++k) {
        clock->now = kStreamStart + k * kFrameTime;
        ASSERT_TRUE(Frame(pacing));
    }
    EXPECT_EQ(Times(2 * kFrameTime, 3 * kFrameTime), Stamped());
    pacing.Pause();
    // Paused for 10 s of clock time; the graph runs again with its stream
    // start moved on by as much.
    clock->now = kStreamStart + 2 * kFrameTime + 100000000;
    const REFERENCE_TIME laterStart = kStreamStart + 100000000;
    std::thread run([&]() {
        ::Sleep(60);
        Run(pacing, laterStart, clock.Get());
    });
    std::thread due = SetLater(clock->now, laterStart + 3 * kFrameTime, 150);
    ASSERT_TRUE(Frame(pacing));
    run.join();
    due.join();
    EXPECT_EQ(Times(3 * kFrameTime, 4 * kFrameTime), Stamped()) << "the times go on, neither back nor leaping";
    EXPECT_FALSE(Discontinuity());
    pacing.Stop();
}

TEST_F(StreamPacingTest, ARequestEndsAWaitForAFrameAtOnce) {
    auto clock = MakeFake<ManualReferenceClock>();
    CStreamPacing pacing;
    ASSERT_EQ(S_OK, pacing.Start());
    // A whole second to the first frame; the request comes first.
    clock->now = kStreamStart - 10000000;
    Run(pacing, kStreamStart, clock.Get());
    ::SetEvent(m_wake.get());
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(Frame(pacing));
    EXPECT_LT(::GetTickCount64() - start, 500u);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(m_wake.get(), 0));
    pacing.Stop();
}

TEST_F(StreamPacingTest, TheStreamOffsetIsAddedToEverySampleTime) {
    ManualCounter counter;
    CStreamPacing pacing(&counter);
    ASSERT_EQ(S_OK, pacing.Start());
    ASSERT_EQ(S_OK, m_stamper.SetStreamOffset(5 * kMs));
    EXPECT_EQ(5 * kMs, m_stamper.GetStreamOffset());
    ASSERT_TRUE(Frame(pacing));
    EXPECT_EQ(Times(5 * kMs, kFrameTime + 5 * kMs), Stamped());
    pacing.Stop();
    // A new streaming thread starts again at 0.
    ASSERT_EQ(S_OK, pacing.Start());
    m_stamper.Restart();
    EXPECT_EQ(0, pacing.GetNextStart());
    pacing.Stop();
}

TEST_F(StreamPacingTest, AnOffsetBeyondTheLargestAllowedIsRefusedAndChangesNothing) {
    CStreamPacing pacing;
    ASSERT_EQ(S_OK, m_stamper.SetStreamOffset(kMs));
    // Without a largest offset set, an hour is the most.
    EXPECT_EQ(S_OK, m_stamper.SetStreamOffset(CSampleStamper::kDefaultMaxStreamOffset));
    EXPECT_EQ(E_INVALIDARG, m_stamper.SetStreamOffset(CSampleStamper::kDefaultMaxStreamOffset + 1));
    EXPECT_EQ(E_INVALIDARG, m_stamper.SetStreamOffset(9223372036854774807LL));
    EXPECT_EQ(E_INVALIDARG, m_stamper.SetStreamOffset(-1));
    EXPECT_EQ(CSampleStamper::kDefaultMaxStreamOffset, m_stamper.GetStreamOffset());
    // The graph's own largest offset, which itself is bounded by a day.
    ASSERT_EQ(S_OK, m_stamper.SetMaxStreamOffset(10 * kMs));
    EXPECT_EQ(10 * kMs, m_stamper.GetMaxStreamOffset());
    EXPECT_EQ(S_OK, m_stamper.SetStreamOffset(10 * kMs));
    EXPECT_EQ(E_INVALIDARG, m_stamper.SetStreamOffset(10 * kMs + 1));
    EXPECT_EQ(E_INVALIDARG, m_stamper.SetMaxStreamOffset(CSampleStamper::kStreamOffsetCeiling + 1));
    EXPECT_EQ(E_INVALIDARG, m_stamper.SetMaxStreamOffset(-1));
    EXPECT_EQ(10 * kMs, m_stamper.GetMaxStreamOffset());
}

TEST_F(StreamPacingTest, ALowerOffsetWhileStreamingNeverSendsTimesBackwards) {
    ManualCounter counter;
    CStreamPacing pacing(&counter);
    ASSERT_EQ(S_OK, pacing.Start());
    pacing.Run(0, nullptr);
    ASSERT_EQ(S_OK, m_stamper.SetStreamOffset(1000 * kMs));
    ASSERT_TRUE(Frame(pacing));
    EXPECT_EQ(Times(1000 * kMs, 1000 * kMs + kFrameTime), Stamped());
    REFERENCE_TIME lastEnd = Stamped().second;
    ASSERT_EQ(S_OK, m_stamper.SetStreamOffset(0));
    for (int i = 0; i < 5; ++i) {
        counter.now = counter.now + kFrameTime;
        ASSERT_TRUE(Frame(pacing));
        const Times times = Stamped();
        EXPECT_EQ(lastEnd, times.first) << "frame " << i;
        EXPECT_EQ(kFrameTime, times.second - times.first);
        EXPECT_FALSE(Discontinuity()) << "frame " << i;
        lastEnd = times.second;
    }
    // Where the stream has a gap anyway, the lower offset takes effect.
    counter.now = counter.now + 2000 * kMs;
    ASSERT_TRUE(Frame(pacing));
    const Times afterGap = Stamped();
    EXPECT_TRUE(Discontinuity());
    EXPECT_GE(afterGap.first, lastEnd);
    EXPECT_LT(afterGap.first, counter.now.load() + kFrameTime) << "the offset is 0 again";
    // A higher offset leaves a gap, marked as one.
    ASSERT_EQ(S_OK, m_stamper.SetStreamOffset(50 * kMs));
    counter.now = counter.now + kFrameTime;
    ASSERT_TRUE(Frame(pacing));
    EXPECT_TRUE(Discontinuity());
    pacing.Stop();
}

TEST_F(StreamPacingTest, ALargestOffsetBelowTheOffsetInUseBringsTheOffsetDownToIt) {
    ManualCounter counter;
    CStreamPacing pacing(&counter);
    ASSERT_EQ(S_OK, m_stamper.SetStreamOffset(CSampleStamper::kDefaultMaxStreamOffset));
    ASSERT_EQ(S_OK, m_stamper.SetMaxStreamOffset(1000 * kMs));
    EXPECT_EQ(1000 * kMs, m_stamper.GetStreamOffset());
    // The samples of a stream that starts then carry the lower offset.
    ASSERT_EQ(S_OK, pacing.Start());
    pacing.Run(0, nullptr);
    ASSERT_TRUE(Frame(pacing));
    EXPECT_EQ(Times(1000 * kMs, 1000 * kMs + kFrameTime), Stamped());
    pacing.Stop();
    // Back to no largest offset set: the hour's bound holds again, and an
    // offset within it is left alone.
    ASSERT_EQ(S_OK, m_stamper.SetMaxStreamOffset(CSampleStamper::kStreamOffsetCeiling));
    ASSERT_EQ(S_OK, m_stamper.SetStreamOffset(2 * CSampleStamper::kDefaultMaxStreamOffset));
    ASSERT_EQ(S_OK, m_stamper.SetMaxStreamOffset(0));
    EXPECT_EQ(CSampleStamper::kDefaultMaxStreamOffset, m_stamper.GetStreamOffset());
    ASSERT_EQ(S_OK, m_stamper.SetMaxStreamOffset(CSampleStamper::kDefaultMaxStreamOffset));
    EXPECT_EQ(CSampleStamper::kDefaultMaxStreamOffset, m_stamper.GetStreamOffset());
}
