// The streaming thread's pacing driven by clocks of the test's own: sample
// times, restarts, and waits that the clock or the worker's request event
// end.
#include <gtest/gtest.h>

#include <utility>

#include "capture/stream_pacing.h"
#include "tests/capture/capture_test_support.h"

using Microsoft::WRL::ComPtr;

namespace {

using Times = std::pair<REFERENCE_TIME, REFERENCE_TIME>;

class StreamPacingTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_allocator.Init(16));
        ASSERT_EQ(S_OK, m_allocator.GetSample(&m_sample));
    }

    std::pair<REFERENCE_TIME, REFERENCE_TIME> Stamped() {
        REFERENCE_TIME start = -1;
        REFERENCE_TIME end = -1;
        EXPECT_EQ(S_OK, m_sample->GetTime(&start, &end));
        EXPECT_EQ(S_OK, m_sample->IsSyncPoint());
        return {start, end};
    }

    SampleAllocator m_allocator;
    ComPtr<IMediaSample> m_sample;
};


}  // namespace

TEST_F(StreamPacingTest, TimestampsAreContiguousFrameTimesFromZeroAtEachStart) {
    AlwaysLateClock clock;
    CStreamPacing pacing(&clock);
    ASSERT_EQ(S_OK, pacing.Start());
    auto frame = [&](REFERENCE_TIME frameTime) {
        pacing.WaitUntilDue(nullptr);
        pacing.Stamp(m_sample.Get(), frameTime);
        return Stamped();
    };
    EXPECT_EQ(Times(0, 333333), frame(333333));
    EXPECT_EQ(Times(333333, 666666), frame(333333));
    EXPECT_EQ(Times(666666, 999999), frame(333333));
    // A new frame time continues from where the stream stands.
    EXPECT_EQ(Times(999999, 1666665), frame(666666));
    // A new streaming thread starts again at 0.
    pacing.Stop();
    ASSERT_EQ(S_OK, pacing.Start());
    EXPECT_EQ(0, pacing.GetNextSampleStart());
    EXPECT_EQ(Times(0, 666666), frame(666666));
    pacing.Stop();
}

TEST_F(StreamPacingTest, ASignalledWakeEventEndsTheWaitAtOnceAndStaysSet) {
    // One frame per second; the clock moves a quarter second per reading.
    SteppingClock clock(2500000);
    CStreamPacing pacing(&clock);
    ASSERT_EQ(S_OK, pacing.Start());
    UniqueHandle wake(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    ASSERT_TRUE(wake);
    pacing.WaitUntilDue(wake.get());  // due at once
    pacing.Stamp(m_sample.Get(), 10000000);
    clock.ResetReads();
    pacing.WaitUntilDue(wake.get());
    pacing.Stamp(m_sample.Get(), 10000000);
    // One reading to see the frame is not due, one to release it: the wait
    // itself ended on the event, not on the clock.
    EXPECT_EQ(2, clock.reads());
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(wake.get(), 0));
    EXPECT_EQ(Times(10000000, 20000000), Stamped());
    pacing.Stop();
}

TEST_F(StreamPacingTest, WithoutARequestTheFrameWaitsUntilItIsDue) {
    SteppingClock clock(2500000);
    CStreamPacing pacing(&clock);
    ASSERT_EQ(S_OK, pacing.Start());
    UniqueHandle wake(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    pacing.WaitUntilDue(wake.get());
    pacing.Stamp(m_sample.Get(), 10000000);
    clock.ResetReads();
    pacing.WaitUntilDue(wake.get());
    pacing.Stamp(m_sample.Get(), 10000000);
    // Not due at 0.5 s and 0.75 s after the first frame, due at 1 s, then
    // released: the clock decided, four readings.
    EXPECT_EQ(4, clock.reads());
    pacing.Stop();
}
