// The frame producer on its own, against a frame source and a sink of the
// test's own: one call per frame draws what the source gives (a picture,
// the standby frame, the last picture again) into the sink's target and
// hands the sink the frame's times; a target without room passes its slot
// with one trace per stream; a stored size or format reaches the sink with
// only what changed; the wake event ends a frame; a stored window makes
// the source look again.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <vector>

#include "produce/frame_producer.h"
#include "framework/com_util.h"
#include "tests/support/message_pump.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/stored_settings.h"
#include "tests/support/survived_failures.h"

using namespace qmtest;

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 36;
constexpr int64_t kFrameTime = 333333;

// Hands out the outcomes a test queues (Standby once they run out), with
// a picture of one colour.
class FakeSource final : public IFrameSource {
public:
    FakeSource() : m_pixels(static_cast<size_t>(kWidth) * kHeight, 0) {}

    HRESULT Start() override {
        ++starts;
        return S_OK;
    }
    void Stop() override { ++stops; }
    void WaitUntilEnded() override {}
    Outcome Read(const CCaptureSettings::Values&, DWORD, HANDLE) override {
        ++reads;
        if (outcomes.empty()) {
            return Outcome::Standby;
        }
        const Outcome outcome = outcomes.front();
        outcomes.pop_front();
        return outcome;
    }
    SourcePicture LastPicture() const override {
        return {reinterpret_cast<const BYTE*>(m_pixels.data()), kWidth * 4, kWidth, kHeight};
    }
    void Forget() override { ++forgets; }
    WindowMatchRule MatchRule() const override { return WindowMatchRule::None; }
    void DetachFromThread() override {}

    // The picture's colour, 0x00RRGGBB.
    void Paint(DWORD colour) { m_pixels.assign(m_pixels.size(), colour); }

    std::deque<Outcome> outcomes;
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    std::atomic<int> reads{0};
    std::atomic<int> forgets{0};

private:
    std::vector<DWORD> m_pixels;
};

// An RGB24 frame of its own, top-down; or no room at all.
class FakeSink final : public IFrameSink {
public:
    FakeSink() : m_frame(static_cast<size_t>(kWidth) * kHeight * 3, 0xEE) {}

    void StoredFormatChanged(const StoredFormat& format) override { stored.push_back(format); }
    FrameTarget Target() override {
        return TargetOf(PixelFormat::Rgb24, kWidth, kHeight, noRoom ? nullptr : m_frame.data(), false);
    }
    void FrameDrawn(const FrameTimes& frameTimes) override { times.push_back(frameTimes); }

    // The middle pixel as 0x00RRGGBB.
    DWORD Centre() const {
        const BYTE* p = &m_frame[(static_cast<size_t>(kHeight / 2) * kWidth + kWidth / 2) * 3];
        return static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[1]) << 8 | p[0];
    }

    bool noRoom = false;
    std::vector<StoredFormat> stored;
    std::vector<FrameTimes> times;

private:
    std::vector<BYTE> m_frame;
};

// Stands where the test sets it.
class ManualStreamClock final : public IStreamClock {
public:
    bool Now(int64_t* time) override {
        *time = now.load();
        return true;
    }
    std::atomic<int64_t> now{0};
};

class FrameProducerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sandbox.ok());
        ASSERT_TRUE(m_wake);
        ASSERT_TRUE(StoreText(kFrameTimeValue, "333333"));
        m_settings.reset(new CCaptureSettings());
        m_producer.reset(new CFrameProducer(*m_settings, m_picture, &m_source));
        ASSERT_EQ(S_OK, m_picture.Resize(kWidth, kHeight));
    }
    void TearDown() override {
        if (m_started) {
            m_producer->Stop();
        }
    }

    // Starts the stream and runs it on the test's clock from 0.
    void StartRunning() {
        std::optional<StoredFormat> stored;
        ASSERT_EQ(S_OK, m_producer->Start(&stored));
        m_started = true;
        m_producer->Run(0, &m_clock);
    }
    // The next frame, with the clock at its slot.
    CFrameProducer::FrameOutcome NextAt(int slot) {
        m_clock.now = slot * kFrameTime;
        return m_producer->Next(m_sink, m_wake.get());
    }

    RegistrySandbox m_sandbox;
    std::unique_ptr<CCaptureSettings> m_settings;
    CFramePicture m_picture;
    FakeSource m_source;
    FakeSink m_sink;
    ManualStreamClock m_clock;
    UniqueHandle m_wake{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::unique_ptr<CFrameProducer> m_producer;
    bool m_started = false;
};

}  // namespace

TEST_F(FrameProducerTest, EachFrameShowsWhatTheSourceGivesWithContiguousTimes) {
    constexpr DWORD kRed = 0xC81E1E;
    constexpr DWORD kBlue = 0x1E1EC8;
    ASSERT_NO_FATAL_FAILURE(StartRunning());
    EXPECT_EQ(1, m_source.starts.load());
    using Outcome = IFrameSource::Outcome;
    struct Step {
        Outcome outcome;
        DWORD paint;
        DWORD shown;
    };
    // A picture; the standby frame (black in the middle); the picture again
    // while the source has nothing new; a new picture.
    const Step steps[] = {
        {Outcome::Picture, kRed, kRed},
        {Outcome::Standby, kRed, 0},
        {Outcome::Picture, kBlue, kBlue},
        {Outcome::KeepPrevious, kRed, kBlue},
    };
    for (int i = 0; i < static_cast<int>(sizeof(steps) / sizeof(steps[0])); ++i) {
        SCOPED_TRACE(i);
        m_source.outcomes.push_back(steps[i].outcome);
        if (steps[i].outcome == Outcome::Picture) {
            m_source.Paint(steps[i].paint);
        }
        ASSERT_EQ(CFrameProducer::FrameOutcome::Drawn, NextAt(i));
        EXPECT_EQ(steps[i].shown, m_sink.Centre());
    }
    ASSERT_EQ(4u, m_sink.times.size());
    for (size_t i = 0; i < m_sink.times.size(); ++i) {
        EXPECT_EQ(static_cast<int64_t>(i) * kFrameTime, m_sink.times[i].start);
        EXPECT_EQ(static_cast<int64_t>(i + 1) * kFrameTime, m_sink.times[i].end);
        EXPECT_FALSE(m_sink.times[i].discontinuity);
    }
}

TEST_F(FrameProducerTest, ATargetWithoutRoomPassesItsSlotAndLeavesOneTracePerStream) {
    ExpectSurvivedFailures provoked;
    const long before = qm_failures::SurvivedCount();
    ASSERT_NO_FATAL_FAILURE(StartRunning());
    m_sink.noRoom = true;
    EXPECT_EQ(CFrameProducer::FrameOutcome::NotDrawn, NextAt(0));
    EXPECT_EQ(CFrameProducer::FrameOutcome::NotDrawn, NextAt(1));
    EXPECT_TRUE(m_sink.times.empty());
    m_sink.noRoom = false;
    ASSERT_EQ(CFrameProducer::FrameOutcome::Drawn, NextAt(2));
    ASSERT_EQ(1u, m_sink.times.size());
    EXPECT_EQ(2 * kFrameTime, m_sink.times[0].start) << "the frames without room took their slots";
    EXPECT_EQ(1, qm_failures::SurvivedCount() - before);
    // The next stream leaves its own trace.
    m_producer->Stop();
    ASSERT_NO_FATAL_FAILURE(StartRunning());
    m_sink.noRoom = true;
    EXPECT_EQ(CFrameProducer::FrameOutcome::NotDrawn, NextAt(0));
    EXPECT_EQ(2, qm_failures::SurvivedCount() - before);
}

TEST_F(FrameProducerTest, TheWakeEventEndsAFrameBeforeAndDuringItsRead) {
    ASSERT_NO_FATAL_FAILURE(StartRunning());
    ASSERT_EQ(CFrameProducer::FrameOutcome::Drawn, NextAt(0));
    // Woken while waiting for the next slot: no read at all.
    const int reads = m_source.reads;
    ::SetEvent(m_wake.get());
    m_clock.now = 0;
    EXPECT_EQ(CFrameProducer::FrameOutcome::Woken, m_producer->Next(m_sink, m_wake.get()));
    EXPECT_EQ(reads, m_source.reads.load());
    // Woken during a read that brought nothing new: no frame either.
    m_source.outcomes.push_back(IFrameSource::Outcome::KeepPrevious);
    m_clock.now = kFrameTime;
    EXPECT_EQ(CFrameProducer::FrameOutcome::Woken, m_producer->Next(m_sink, m_wake.get()));
    EXPECT_EQ(1u, m_sink.times.size());
}

TEST_F(FrameProducerTest, StoredChangesReachTheSinkWithOnlyWhatChangedAndANewWindowIsLookedFor) {
    ASSERT_NO_FATAL_FAILURE(StartRunning());
    struct Change {
        const char* name;
        const char* value;
        bool size;
        bool format;
    };
    const Change changes[] = {
        {kSelectPixelValue, "3", true, false},
        {kOutputFormatValue, "2", false, true},
        {kWindowClassValue, "Other::Class", false, false},
    };
    int slot = 0;
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        m_sink.stored.clear();
        const int forgets = m_source.forgets;
        ASSERT_TRUE(StoreText(change.name, change.value));
        // The registry's notification reaches the next frame that follows.
        ASSERT_TRUE(WaitUntil(
            [&] {
                EXPECT_EQ(CFrameProducer::FrameOutcome::Drawn, NextAt(slot++));
                return !m_sink.stored.empty() || m_source.forgets.load() != forgets;
            },
            5000));
        if (change.size || change.format) {
            ASSERT_EQ(1u, m_sink.stored.size());
            EXPECT_EQ(change.size, m_sink.stored[0].sizeIndex.has_value());
            EXPECT_EQ(change.format, m_sink.stored[0].outputFormat.has_value());
        } else {
            EXPECT_TRUE(m_sink.stored.empty());
            EXPECT_EQ(forgets + 1, m_source.forgets.load()) << "a new window is looked for";
        }
    }
}
