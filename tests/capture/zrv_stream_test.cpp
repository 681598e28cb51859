// The capture pin in process, without COM registration: the filter from
// its creation function, connected to an input pin of the test's own that
// keeps every picture it receives, run without a graph (Run(0) without a
// clock paces on the performance counter). What is checked is what the
// pin alone couples: the stored size index, the selected media type, the
// canvas and the samples the streaming thread fills from them; which
// window it shows, and when; the live-source interfaces and pacing.
#include <gtest/gtest.h>

#include <dshow.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <mutex>
#include <vector>

#include "settings/capture_device_settings.h"
#include "settings/capture_settings.h"
#include "capture/output_formats.h"
#include "capture/zrv_capture.h"
#include "capture/zrv_stream.h"
#include "framework/memory_dib.h"
#include "tests/support/capture_test_support.h"
#include "tests/support/standby_test_files.h"
#include "tests/support/counter_window.h"
#include "tests/support/fake_clocks.h"
#include "tests/support/fake_com_object.h"
#include "tests/support/fake_pins.h"
#include "tests/support/graph_lookup.h"
#include "tests/support/message_pump.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/resource_counts.h"
#include "tests/support/survived_failures.h"
#include "tests/support/test_window_thread.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

constexpr DWORD kSampleTimeoutMs = 10000;

struct ReceivedSample {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    long size = 0;
    ULONGLONG arrival = 0;
    // The performance counter at arrival, in 100-ns units.
    REFERENCE_TIME arrivalCounter = 0;
    std::vector<BYTE> picture;
};

// A willing input pin that keeps a copy of every sample it receives.
class PictureRecorder final : public FakeInputPin {
public:
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        ReceivedSample received;
        received.arrival = ::GetTickCount64();
        received.arrivalCounter = CPerformanceCounterClock().Now();
        sample->GetTime(&received.start, &received.end);
        received.size = sample->GetSize();
        BYTE* data = nullptr;
        if (SUCCEEDED(sample->GetPointer(&data)) && data != nullptr) {
            received.picture.assign(data, data + sample->GetActualDataLength());
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_received.push_back(std::move(received));
        }
        return FakeInputPin::Receive(sample);
    }

    // Waits until `count` samples have come, then hands out what came.
    std::vector<ReceivedSample> WaitFor(size_t count) {
        ::WaitUntil(
            [&] {
                std::lock_guard<std::mutex> lock(m_lock);
                return m_received.size() >= count;
            },
            kSampleTimeoutMs);
        std::lock_guard<std::mutex> lock(m_lock);
        return m_received;
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_received.clear();
    }

    // Waits until a sample satisfies `test`; the samples up to it, or all
    // that came when none did.
    template <typename Test>
    std::vector<ReceivedSample> WaitUntil(Test test, DWORD timeoutMs = kSampleTimeoutMs) {
        size_t seen = 0;
        const bool found = ::WaitUntil(
            [&] {
                std::lock_guard<std::mutex> lock(m_lock);
                for (; seen < m_received.size(); ++seen) {
                    if (test(m_received[seen])) {
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
        std::lock_guard<std::mutex> lock(m_lock);
        return found ? std::vector<ReceivedSample>(m_received.begin(), m_received.begin() + seen + 1) : m_received;
    }

private:
    std::mutex m_lock;
    std::vector<ReceivedSample> m_received;
};

bool IsStandbyPicture(const ReceivedSample& sample, int width, int height) {
    if (sample.picture.size() != static_cast<size_t>(DibStride(width, 24) * height)) {
        return false;
    }
    // Black all round; white text somewhere in the bottom rows.
    const BYTE* p = sample.picture.data();
    if (PixelOf(p, width, height, 0, 0) != 0 || PixelOf(p, width, height, width - 1, height - 1) != 0 ||
        PixelOf(p, width, height, width / 2, height / 2) != 0) {
        return false;
    }
    for (int y = height - 30; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (PixelOf(p, width, height, x, y) == RGB(255, 255, 255)) {
                return true;
            }
        }
    }
    return false;
}

COLORREF CentreOf(const ReceivedSample& sample, int width, int height) {
    if (sample.picture.size() != static_cast<size_t>(DibStride(width, 24) * height)) {
        return CLR_INVALID;
    }
    return PixelOf(sample.picture.data(), width, height, width / 2, height / 2);
}

class ZrvStreamTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_sandbox.ok()); }

    void TearDown() override {
        if (m_filter) {
            m_filter->Stop();
        }
        if (m_pin) {
            m_pin->Disconnect();
        }
    }

    // A window of a class of the test's own, which the device is set to
    // capture; the built-in fallback finds no window of its class here.
    HWND CreateTarget(const wchar_t* className, const char* storedClass, COLORREF colour) {
        HWND window = nullptr;
        EXPECT_EQ(S_OK, m_ui.Create(className, L"Target", 320, 240, SolidPainter(colour), &window));
        if (storedClass != nullptr) {
            EXPECT_TRUE(StoreText(kWindowClassValue, storedClass));
            EXPECT_TRUE(StoreText(kWindowNameValue, ""));
        }
        return window;
    }

    // Creates the filter over the settings stored so far.
    void Create() {
        HRESULT hr = S_OK;
        CUnknown* object = CZRV_Capture::CreateInstance(nullptr, &hr);
        ASSERT_NE(nullptr, object);
        ASSERT_EQ(S_OK, hr);
        object->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, object->NonDelegatingQueryInterface(IID_PPV_ARGS(&m_filter)));
        object->NonDelegatingRelease();
        ASSERT_EQ(S_OK, GetPin(m_filter.Get(), PINDIR_OUTPUT, &m_pin));
        ASSERT_EQ(S_OK, m_pin.As(&m_settings));
        ASSERT_EQ(S_OK, m_pin.As(&m_config));
    }

    void Connect() {
        m_recorder = MakeFake<PictureRecorder>();
        ASSERT_EQ(S_OK, m_pin->Connect(m_recorder.Get(), nullptr));
    }

    // Creates and connects the filter over the settings stored so far and
    // runs it until its first frame shows `colour` in the middle.
    void RunUntilFirstFrameShows(COLORREF colour) {
        ASSERT_NO_FATAL_FAILURE(Create());
        ASSERT_NO_FATAL_FAILURE(Connect());
        ASSERT_EQ(S_OK, m_filter->Run(0));
        ASSERT_EQ(colour, CentreOf(m_recorder->WaitFor(1).at(0), 204, 360));
    }

    void Disconnect() {
        ASSERT_EQ(S_OK, m_pin->Disconnect());
        m_recorder->Disconnect();
    }

    SIZE FormatSize() {
        AM_MEDIA_TYPE* mt = nullptr;
        EXPECT_EQ(S_OK, m_config->GetFormat(&mt));
        if (mt == nullptr) {
            return {0, 0};
        }
        const VIDEOINFOHEADER* vih = output_formats::GetVideoInfo(*mt);
        const SIZE size = vih != nullptr ? SIZE{vih->bmiHeader.biWidth, vih->bmiHeader.biHeight} : SIZE{0, 0};
        DeleteMediaType(mt);
        return size;
    }

    SIZE ConnectionSize() {
        CMediaType mt;
        if (m_pin->ConnectionMediaType(&mt) != S_OK) {
            return {0, 0};
        }
        const VIDEOINFOHEADER* vih = output_formats::GetVideoInfo(mt);
        return vih != nullptr ? SIZE{vih->bmiHeader.biWidth, vih->bmiHeader.biHeight} : SIZE{0, 0};
    }

    RegistrySandbox m_sandbox;
    // Windows for the streaming thread to find: on the process's own
    // desktop, where that thread searches.
    TestWindowThread m_ui;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPin> m_pin;
    ComPtr<ICaptureDeviceSettings> m_settings;
    ComPtr<IAMStreamConfig> m_config;
    ComPtr<PictureRecorder> m_recorder;
};

}  // namespace

TEST_F(ZrvStreamTest, TheStoredSizeShapesTypeCanvasAndSamples) {
    ASSERT_TRUE(StoreText(kSelectPixelValue, "3"));
    ASSERT_NO_FATAL_FAILURE(Create());
    int size[2] = {};
    ASSERT_EQ(S_OK, m_settings->GetFrameSize(size));
    EXPECT_EQ(568, size[0]);
    EXPECT_EQ(320, size[1]);
    const SIZE format = FormatSize();
    EXPECT_EQ(568, format.cx);
    EXPECT_EQ(320, format.cy);
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    const auto samples = m_recorder->WaitFor(2);
    ASSERT_GE(samples.size(), 2u);
    EXPECT_EQ(545280, samples[0].size);
    EXPECT_TRUE(IsStandbyPicture(samples[0], 568, 320));
    EXPECT_TRUE(IsStandbyPicture(samples[1], 568, 320));
}

TEST_F(ZrvStreamTest, AFormatStoredWhileConnectedWaitsForTheNextConnection) {
    // The stored OutputFormat changes while the pin streams RGB24: the
    // change is taken from the registry's notification like a stored size,
    // and waits for the next connection, while the samples keep the
    // connected type.
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    ASSERT_GE(m_recorder->WaitFor(2).size(), 2u);
    ASSERT_TRUE(StoreText(kOutputFormatValue, "2"));  // YUY2
    bool selected = false;
    for (int attempt = 0; attempt < 100 && !selected; ++attempt) {
        AM_MEDIA_TYPE* mt = nullptr;
        ASSERT_EQ(S_OK, m_config->GetFormat(&mt));
        selected = IsEqualGUID(MEDIASUBTYPE_YUY2, mt->subtype);
        DeleteMediaType(mt);
        ::Sleep(20);
    }
    EXPECT_TRUE(selected) << "the stored format was not taken while streaming";
    const size_t seen = m_recorder->WaitFor(1).size();
    const auto samples = m_recorder->WaitFor(seen + 2);
    ASSERT_GE(samples.size(), seen + 2);
    EXPECT_EQ(static_cast<size_t>(DibStride(204, 24) * 360), samples.back().picture.size())
        << "RGB24 until reconnected";
    AM_MEDIA_TYPE connected = {};
    ASSERT_EQ(S_OK, m_pin->ConnectionMediaType(&connected));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, connected.subtype));
    FreeMediaType(connected);
}

TEST_F(ZrvStreamTest, SamplesAreStampedContiguouslyFromZeroAtEachStart) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    auto samples = m_recorder->WaitFor(3);
    ASSERT_GE(samples.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * 333333, samples[i].start) << i;
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i + 1) * 333333, samples[i].end) << i;
    }
    // A rate set while streaming applies to the samples after it.
    ASSERT_EQ(S_OK, m_settings->SetFrameRate(15.0));
    m_recorder->Clear();
    samples = m_recorder->WaitFor(3);
    ASSERT_GE(samples.size(), 3u);
    EXPECT_EQ(666666, samples.back().end - samples.back().start);
    EXPECT_EQ(samples[1].end, samples[2].start);

    ASSERT_EQ(S_OK, m_filter->Stop());
    m_recorder->Clear();
    ASSERT_EQ(S_OK, m_filter->Run(0));
    samples = m_recorder->WaitFor(1);
    ASSERT_GE(samples.size(), 1u);
    EXPECT_EQ(0, samples[0].start);
    EXPECT_EQ(666666, samples[0].end);
}

TEST_F(ZrvStreamTest, ASizeChosenWhileConnectedWaitsForTheNextConnection) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    ASSERT_GE(m_recorder->WaitFor(1).size(), 1u);

    ASSERT_EQ(S_OK, m_settings->SetSelectPixel(4));
    EXPECT_EQ("4", StoredText(kSelectPixelValue));
    int size[2] = {};
    ASSERT_EQ(S_OK, m_settings->GetFrameSize(size));
    EXPECT_EQ(852, size[0]);
    EXPECT_EQ(480, size[1]);
    EXPECT_EQ(852, FormatSize().cx);
    // The running connection keeps its size, and its samples their pictures.
    EXPECT_EQ(204, ConnectionSize().cx);
    m_recorder->Clear();
    auto samples = m_recorder->WaitFor(2);
    ASSERT_GE(samples.size(), 2u);
    EXPECT_TRUE(IsStandbyPicture(samples[1], 204, 360));

    ASSERT_EQ(S_OK, m_filter->Stop());
    ASSERT_NO_FATAL_FAILURE(Disconnect());
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(852, ConnectionSize().cx);
    EXPECT_EQ(480, ConnectionSize().cy);
    ASSERT_EQ(S_OK, m_filter->Run(0));
    samples = m_recorder->WaitFor(1);
    ASSERT_GE(samples.size(), 1u);
    EXPECT_EQ(1226880, samples[0].size);
    EXPECT_TRUE(IsStandbyPicture(samples[0], 852, 480));
}

TEST_F(ZrvStreamTest, ASizeChosenWhileUnconnectedActsAtOnce) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_EQ(S_OK, m_settings->SetSelectPixel(5));
    EXPECT_EQ("5", StoredText(kSelectPixelValue));
    EXPECT_EQ(1136, FormatSize().cx);
    EXPECT_EQ(E_INVALIDARG, m_settings->SetSelectPixel(10));
    EXPECT_EQ(E_INVALIDARG, m_settings->SetSelectPixel(-1));
    EXPECT_EQ("5", StoredText(kSelectPixelValue));
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(1136, ConnectionSize().cx);
    ASSERT_EQ(S_OK, m_filter->Run(0));
    const auto samples = m_recorder->WaitFor(1);
    ASSERT_GE(samples.size(), 1u);
    EXPECT_EQ(2181120, samples[0].size);
    EXPECT_TRUE(IsStandbyPicture(samples[0], 1136, 640));
}

namespace {

// A canvas build that fails, as the platform's does when memory runs out.
bool FailingCanvasBuild(FrameCanvas*, int, int) {
    return false;
}

CZRV_Stream* StreamOf(IPin* pin) {
    return static_cast<CZRV_Stream*>(static_cast<CBasePin*>(pin));
}

}  // namespace

TEST_F(ZrvStreamTest, AFormatWhoseCanvasCannotBeBuiltChangesNothing_CanvasFailureInjected) {
    ASSERT_TRUE(StoreText(kFrameTimeValue, "333333"));
    ASSERT_NO_FATAL_FAILURE(Create());
    AM_MEDIA_TYPE* largest = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, m_config->GetStreamCaps(5, &largest, reinterpret_cast<BYTE*>(&caps)));
    CMediaType target(*largest);
    DeleteMediaType(largest);
    reinterpret_cast<VIDEOINFOHEADER*>(target.pbFormat)->AvgTimePerFrame = 10000000;

    StreamOf(m_pin.Get())->InjectCanvasBuilderForTesting(&FailingCanvasBuild);
    EXPECT_EQ(E_OUTOFMEMORY, m_config->SetFormat(&target));
    EXPECT_EQ(204, FormatSize().cx) << "the format changed";
    double rate = 0;
    ASSERT_EQ(S_OK, m_settings->GetFrameRate(&rate));
    EXPECT_EQ(30.0, rate) << "the frame rate changed";
    // The size setters report the failure and change nothing either.
    EXPECT_EQ(E_OUTOFMEMORY, m_settings->SetSelectPixel(3));
    const int size[2] = {852, 480};
    EXPECT_EQ(E_OUTOFMEMORY, m_settings->SetFrameSize(size));
    int now[2] = {};
    ASSERT_EQ(S_OK, m_settings->GetFrameSize(now));
    EXPECT_EQ(204, now[0]);
    EXPECT_EQ(360, now[1]);
    EXPECT_EQ("<missing or malformed>", StoredText(kSelectPixelValue)) << "a size that did not apply was stored";

    // Where canvases can be built, the same calls take effect.
    StreamOf(m_pin.Get())->InjectCanvasBuilderForTesting(nullptr);
    EXPECT_EQ(S_OK, m_config->SetFormat(&target));
    EXPECT_EQ(1136, FormatSize().cx);
    ASSERT_EQ(S_OK, m_settings->GetFrameRate(&rate));
    EXPECT_EQ(1.0, rate);
    EXPECT_EQ(S_OK, m_settings->SetSelectPixel(3));
    EXPECT_EQ("3", StoredText(kSelectPixelValue));
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(568, ConnectionSize().cx);
}

TEST_F(ZrvStreamTest, AWaitingSizeWhoseCanvasCannotBeBuiltIsGivenUpWithTheConnection_CanvasFailureInjected) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_settings->SetSelectPixel(3));
    EXPECT_EQ(568, FormatSize().cx);
    StreamOf(m_pin.Get())->InjectCanvasBuilderForTesting(&FailingCanvasBuild);
    ASSERT_NO_FATAL_FAILURE(Disconnect());
    // The pin offers the size its canvas has, not one it cannot fill.
    EXPECT_EQ(204, FormatSize().cx);
    StreamOf(m_pin.Get())->InjectCanvasBuilderForTesting(nullptr);
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(204, ConnectionSize().cx);
    ASSERT_EQ(S_OK, m_filter->Run(0));
    const auto samples = m_recorder->WaitFor(1);
    ASSERT_GE(samples.size(), 1u);
    EXPECT_TRUE(IsStandbyPicture(samples[0], 204, 360));
}

TEST_F(ZrvStreamTest, TheConnectedTypeStaysAcceptableWhileANewSizeWaits) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    CMediaType connected;
    ASSERT_EQ(S_OK, m_pin->ConnectionMediaType(&connected));
    ASSERT_EQ(S_OK, m_settings->SetSelectPixel(3));
    AM_MEDIA_TYPE* waiting = nullptr;
    ASSERT_EQ(S_OK, m_config->GetFormat(&waiting));
    CMediaType other;
    ASSERT_EQ(S_OK, output_formats::BuildMediaType(&other, kDefaultFrameTime, 4));
    // Both the type the samples have and the one that waits are accepted.
    EXPECT_EQ(S_OK, m_pin->QueryAccept(&connected));
    EXPECT_EQ(S_OK, m_pin->QueryAccept(waiting));
    EXPECT_EQ(S_FALSE, m_pin->QueryAccept(&other));
    // Once the connection has ended, only the new size is.
    ASSERT_NO_FATAL_FAILURE(Disconnect());
    EXPECT_EQ(S_FALSE, m_pin->QueryAccept(&connected));
    EXPECT_EQ(S_OK, m_pin->QueryAccept(waiting));
    DeleteMediaType(waiting);
}

TEST_F(ZrvStreamTest, SetFormatOfAFilterThatIsNotStoppedIsRefusedAndChangesNothing) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    AM_MEDIA_TYPE* other = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, m_config->GetStreamCaps(3, &other, reinterpret_cast<BYTE*>(&caps)));
    reinterpret_cast<VIDEOINFOHEADER*>(other->pbFormat)->AvgTimePerFrame = 666666;
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running ? "running" : "paused");
        ASSERT_EQ(S_OK, running ? m_filter->Run(0) : m_filter->Pause());
        EXPECT_EQ(VFW_E_NOT_STOPPED, m_config->SetFormat(other));
        EXPECT_EQ(204, FormatSize().cx);
        double rate = 0;
        ASSERT_EQ(S_OK, m_settings->GetFrameRate(&rate));
        EXPECT_EQ(30.0, rate);
        EXPECT_EQ("<missing or malformed>", StoredText(kFrameTimeValue));
    }
    ASSERT_EQ(S_OK, m_filter->Stop());
    EXPECT_EQ(S_OK, m_config->SetFormat(other));
    EXPECT_EQ(568, FormatSize().cx);
    DeleteMediaType(other);
}

// A size stored by another program (the settings program, another
// instance, reg add) changes the size, and only the size: the format the
// application chose stays, whether the size is stored before the stream
// starts or while it runs.
class StoredSizeTest : public ZrvStreamTest, public testing::WithParamInterface<bool> {};

TEST_P(StoredSizeTest, AStoredSizeKeepsTheFormatTheApplicationChose) {
    const bool whileStreaming = GetParam();
    ASSERT_NO_FATAL_FAILURE(Create());
    AM_MEDIA_TYPE* nv12 = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, m_config->GetStreamCaps(kFrameSizeTableCount, &nv12, reinterpret_cast<BYTE*>(&caps)));
    ASSERT_TRUE(IsEqualGUID(MEDIASUBTYPE_NV12, nv12->subtype));
    ASSERT_EQ(S_OK, m_config->SetFormat(nv12));
    DeleteMediaType(nv12);
    ASSERT_NO_FATAL_FAILURE(Connect());
    if (whileStreaming) {
        ASSERT_EQ(S_OK, m_filter->Run(0));
        ASSERT_GE(m_recorder->WaitFor(1).size(), 1u);
    }
    ASSERT_TRUE(StoreText(kSelectPixelValue, "3"));  // 568x320
    if (!whileStreaming) {
        ASSERT_EQ(S_OK, m_filter->Run(0));
    }
    ASSERT_TRUE(::WaitUntil([&] { return FormatSize().cx == 568; }, 5000)) << "the stored size was not taken";
    AM_MEDIA_TYPE* selected = nullptr;
    ASSERT_EQ(S_OK, m_config->GetFormat(&selected));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_NV12, selected->subtype)) << "the chosen format gave way";
    DeleteMediaType(selected);
    CMediaType own;
    ASSERT_EQ(S_OK, output_formats::BuildMediaType(&own, kDefaultFrameTime, 3, PixelFormat::Nv12));
    EXPECT_EQ(S_OK, m_pin->QueryAccept(&own));
    // The next connection has the new size in the chosen format.
    ASSERT_EQ(S_OK, m_filter->Stop());
    ASSERT_NO_FATAL_FAILURE(Disconnect());
    ASSERT_NO_FATAL_FAILURE(Connect());
    CMediaType connected;
    ASSERT_EQ(S_OK, m_pin->ConnectionMediaType(&connected));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_NV12, connected.subtype));
    EXPECT_EQ(568, ConnectionSize().cx);
}

INSTANTIATE_TEST_SUITE_P(BeforeAndWhileStreaming, StoredSizeTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& when) {
                             return when.param ? "WhileStreaming" : "BeforeTheStreamStarts";
                         });

namespace {

// Every other buffer comes from an allocator of buffers smaller than a
// frame, though SetProperties granted frames: what a downstream allocator
// that misbehaves (or changes the format under the pin) hands out.
class ShortSampleAllocator final : public FakeAllocator {
public:
    ShortSampleAllocator() { m_shortOk = SUCCEEDED(m_short.Init(4096, 2)); }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                        DWORD flags) override {
        if ((m_calls++ % 2) == 1 && m_shortOk) {
            return m_short.get()->GetBuffer(sample, start, end, flags);
        }
        return FakeAllocator::GetBuffer(sample, start, end, flags);
    }
    LONG Calls() const { return m_calls.load(); }

private:
    SampleAllocator m_short;
    bool m_shortOk = false;
    std::atomic<LONG> m_calls{0};
};

}  // namespace

TEST_F(ZrvStreamTest, ASampleTooSmallForTheFrameIsNotDeliveredAndTheStreamGoesOn) {
    ExpectSurvivedFailures provoked;
    const long survivedBefore = qm_failures::SurvivedCount();
    ASSERT_NO_FATAL_FAILURE(Create());
    m_recorder = MakeFake<PictureRecorder>();
    const ComPtr<ShortSampleAllocator> allocator = MakeFake<ShortSampleAllocator>();
    ASSERT_TRUE(allocator->ok());
    m_recorder->OfferAllocator(allocator.Get());
    ASSERT_EQ(S_OK, m_pin->Connect(m_recorder.Get(), nullptr));
    ASSERT_EQ(S_OK, m_filter->Run(0));
    const auto samples = m_recorder->WaitFor(6);
    ASSERT_GE(samples.size(), 6u);
    ASSERT_EQ(S_OK, m_filter->Stop());
    EXPECT_GE(allocator->Calls(), 10) << "short buffers were handed out";
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_TRUE(IsStandbyPicture(samples[i], 204, 360)) << "sample " << i << " carries no frame";
    }
    // One trace per stream, not one per short buffer.
    EXPECT_EQ(1, qm_failures::SurvivedCount() - survivedBefore);
}

// ---- Which window, and when ---------------------------------------------------

namespace {

constexpr COLORREF kRed = RGB(200, 30, 30);
constexpr COLORREF kBlue = RGB(30, 30, 200);
constexpr wchar_t kFirstClass[] = L"QMCaptureTest::First";
constexpr wchar_t kSecondClass[] = L"QMCaptureTest::Second";

// Runs a program to its end; its exit code, or -1.
int RunProgram(std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &process)) {
        return -1;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// A slow first read, injected through the print method: the window prints
// itself only after a sleep on its first prints, as the first read into
// each of the capture's new buffers costs, under Wine, for a window of
// another process (40 to 60 ms, more than a frame time).
std::atomic<int> g_slowPrintsLeft{0};
WNDPROC g_paintingProc = nullptr;
LRESULT CALLBACK SlowFirstPrintsProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PRINTCLIENT && g_slowPrintsLeft.fetch_sub(1) > 0) {
        ::Sleep(120);
    }
    return ::CallWindowProcW(g_paintingProc, window, message, wParam, lParam);
}

}  // namespace

TEST_F(ZrvStreamTest, TheFirstFrameAlreadyShowsAWindowThatExists) {
    ASSERT_NE(nullptr, CreateTarget(kFirstClass, "QMCaptureTest::First", kRed));
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    const auto samples = m_recorder->WaitFor(1);
    ASSERT_GE(samples.size(), 1u);
    EXPECT_EQ(kRed, CentreOf(samples[0], 204, 360));
}

// The stream of a red window whose first two reads are slow, started by
// `start` once the filter is connected: the first frame shows the window,
// and the frames after it follow without a skipped frame time.
template <typename Start>
void ExpectASlowStartToLeaveNoMark(HWND window, TestWindowThread& ui, Start start) {
    g_slowPrintsLeft = 2;
    ui.Run([&]() {
        g_paintingProc = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SlowFirstPrintsProc)));
    });
    ASSERT_NE(nullptr, g_paintingProc);
    const std::vector<ReceivedSample> samples = start();
    ui.Run([&]() { ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_paintingProc)); });
    ASSERT_GE(samples.size(), 6u);
    // Not a black frame for a read that took more than a frame time.
    EXPECT_EQ(kRed, CentreOf(samples[0], 204, 360));
    EXPECT_LE(g_slowPrintsLeft.load(), 0) << "both slow reads came before the first frame";
    for (size_t i = 1; i < samples.size(); ++i) {
        EXPECT_EQ(kRed, CentreOf(samples[i], 204, 360)) << "frame " << i;
        EXPECT_EQ(samples[i - 1].end, samples[i].start) << "no frame is skipped after the slow start: frame " << i;
    }
}

TEST_F(ZrvStreamTest, SlowFirstReadsStillShowTheWindowInTheFirstFrameAndLeaveNoGap_SlowPrintsInjected) {
    const HWND window = CreateTarget(kFirstClass, "QMCaptureTest::First", kRed);
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "2"));
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ExpectASlowStartToLeaveNoMark(window, m_ui, [&] {
        // The first frame comes while the graph is paused.
        EXPECT_EQ(S_OK, m_filter->Pause());
        EXPECT_GE(m_recorder->WaitFor(1).size(), 1u);
        EXPECT_EQ(S_OK, m_filter->Run(0));
        const auto samples = m_recorder->WaitFor(6);
        m_filter->Stop();
        return samples;
    });
}

TEST_F(ZrvStreamTest, SlowFirstReadsLeaveNoGapWhenTheGraphRunsAtOnce_SlowPrintsAndClockInjected) {
    // As a graph manager runs a graph: Run straight from stopped, with a
    // stream start a little ahead of its clock (300 ms here; the two slow
    // reads take 240 ms), so that the first frame waits for its time.
    const HWND window = CreateTarget(kFirstClass, "QMCaptureTest::First", kRed);
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "2"));
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    auto clock = MakeFake<CounterReferenceClock>();
    ASSERT_EQ(S_OK, m_filter->SetSyncSource(clock.Get()));
    ExpectASlowStartToLeaveNoMark(window, m_ui, [&] {
        REFERENCE_TIME now = 0;
        EXPECT_EQ(S_OK, clock->GetTime(&now));
        EXPECT_EQ(S_OK, m_filter->Run(now + 3000000));
        const auto samples = m_recorder->WaitFor(6);
        m_filter->Stop();
        return samples;
    });
    ASSERT_EQ(S_OK, m_filter->SetSyncSource(nullptr));
}

TEST_F(ZrvStreamTest, SlowFirstReadsLeaveNoGapWhenTheGraphRunsAsSoonAsItHasPaused_SlowPrintsAndClockInjected) {
    // As a graph manager that gives the stream no head start: Pause, then
    // Run with a stream start of the clock's time at once. The slow first
    // reads must be over before Pause returns, or the first frames come
    // after their time.
    const HWND window = CreateTarget(kFirstClass, "QMCaptureTest::First", kRed);
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "2"));
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    auto clock = MakeFake<CounterReferenceClock>();
    ASSERT_EQ(S_OK, m_filter->SetSyncSource(clock.Get()));
    ExpectASlowStartToLeaveNoMark(window, m_ui, [&] {
        EXPECT_EQ(S_OK, m_filter->Pause());
        REFERENCE_TIME now = 0;
        EXPECT_EQ(S_OK, clock->GetTime(&now));
        EXPECT_EQ(S_OK, m_filter->Run(now));
        const auto samples = m_recorder->WaitFor(6);
        m_filter->Stop();
        return samples;
    });
    ASSERT_EQ(S_OK, m_filter->SetSyncSource(nullptr));
}

TEST_F(ZrvStreamTest, AHiddenWindowGivesTheStandbyFrameUntilItIsShown) {
    const HWND window = CreateTarget(kFirstClass, "QMCaptureTest::First", kRed);
    m_ui.Run([&]() { ::ShowWindow(window, SW_HIDE); });
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    auto samples = m_recorder->WaitFor(3);
    ASSERT_GE(samples.size(), 3u);
    for (const ReceivedSample& sample : samples) {
        EXPECT_TRUE(IsStandbyPicture(sample, 204, 360));
    }
    m_ui.Run([&]() { ::ShowWindow(window, SW_SHOWNOACTIVATE); });
    samples = m_recorder->WaitUntil([](const ReceivedSample& s) { return CentreOf(s, 204, 360) == kRed; });
    ASSERT_FALSE(samples.empty());
    EXPECT_EQ(kRed, CentreOf(samples.back(), 204, 360)) << "the shown window never came";
}

TEST_F(ZrvStreamTest, AnotherProcessRetargetsTheRunningStreamWithinASecond) {
    ASSERT_NE(nullptr, CreateTarget(kFirstClass, "QMCaptureTest::First", kRed));
    ASSERT_NE(nullptr, CreateTarget(kSecondClass, nullptr, kBlue));
    ASSERT_NO_FATAL_FAILURE(RunUntilFirstFrameShows(kRed));

    // reg.exe writes where this process's HKEY_CURRENT_USER is redirected.
    const std::wstring key = L"HKCU\\" + m_sandbox.ScratchPath(HKEY_CURRENT_USER) + L"\\Software\\QMCapture";
    ASSERT_EQ(0, RunProgram(L"reg.exe add \"" + key + L"\" /v WindowClass /t REG_SZ /d QMCaptureTest::Second /f"));
    const ULONGLONG written = ::GetTickCount64();
    const auto samples = m_recorder->WaitUntil([](const ReceivedSample& s) { return CentreOf(s, 204, 360) == kBlue; });
    ASSERT_FALSE(samples.empty());
    ASSERT_EQ(kBlue, CentreOf(samples.back(), 204, 360)) << "the stream never showed the other window";
    // reg.exe may still be ending when the stream already shows the window.
    EXPECT_LE(static_cast<LONGLONG>(samples.back().arrival) - static_cast<LONGLONG>(written), 1000);
}

TEST_F(ZrvStreamTest, AFrameTimeStoredWhileStreamingChangesTheRateWithinASecond) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    ASSERT_GE(m_recorder->WaitFor(2).size(), 2u);
    ASSERT_TRUE(StoreText(kFrameTimeValue, "1000000"));
    const ULONGLONG written = ::GetTickCount64();
    const auto samples =
        m_recorder->WaitUntil([](const ReceivedSample& s) { return s.end - s.start == 1000000; });
    ASSERT_FALSE(samples.empty());
    ASSERT_EQ(1000000, samples.back().end - samples.back().start);
    EXPECT_LE(samples.back().arrival - written, 1000u);
    double rate = 0;
    ASSERT_EQ(S_OK, m_settings->GetFrameRate(&rate));
    EXPECT_EQ(10.0, rate);
}

TEST_F(ZrvStreamTest, MirrorAndFitStoredWhileStreamingFrameTheNextPictures) {
    // A 320x240 window, red on the left and blue on the right, into the
    // 204x360 portrait picture.
    HWND window = nullptr;
    ASSERT_EQ(S_OK, m_ui.Create(kFirstClass, L"Target", 320, 240,
                                [](int x, int) { return x < 160 ? kRed : kBlue; }, &window));
    ASSERT_TRUE(StoreText(kWindowClassValue, "QMCaptureTest::First"));
    ASSERT_TRUE(StoreText(kWindowNameValue, ""));
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    const auto at = [](const ReceivedSample& s, int x, int y) {
        return s.picture.size() == static_cast<size_t>(DibStride(204, 24) * 360)
                   ? PixelOf(s.picture.data(), 204, 360, x, y)
                   : CLR_INVALID;
    };
    auto samples = m_recorder->WaitFor(1);
    ASSERT_GE(samples.size(), 1u);
    ASSERT_EQ(kRed, at(samples.back(), 20, 180));
    ASSERT_EQ(kRed, at(samples.back(), 20, 20)) << "stretched over the whole picture";

    ASSERT_TRUE(StoreText(kMirrorValue, "1"));
    samples = m_recorder->WaitUntil([&](const ReceivedSample& s) { return at(s, 20, 180) == kBlue; });
    ASSERT_EQ(kBlue, at(samples.back(), 20, 180)) << "mirror never came";
    EXPECT_EQ(kRed, at(samples.back(), 183, 180));

    // Fit: 204x153 in the middle, with black bars of 103 and 104 rows.
    ASSERT_TRUE(StoreText(kScaleModeValue, "1"));
    samples = m_recorder->WaitUntil([&](const ReceivedSample& s) { return at(s, 20, 20) == RGB(0, 0, 0); });
    const ReceivedSample& fitted = samples.back();
    ASSERT_EQ(RGB(0, 0, 0), at(fitted, 20, 20)) << "fit never came";
    EXPECT_EQ(RGB(0, 0, 0), at(fitted, 20, 102));
    EXPECT_EQ(kBlue, at(fitted, 20, 104));
    EXPECT_EQ(kRed, at(fitted, 183, 255));
    EXPECT_EQ(RGB(0, 0, 0), at(fitted, 183, 257));
}

TEST_F(ZrvStreamTest, AJapaneseStandbyTextStoredAsUnicodeIsDrawnAsItself) {
    // "待機中" (standing by).
    ASSERT_TRUE(StoreWideText(kTitleTextValue, L"\u5F85\u6A5F\u4E2D"));
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    const std::vector<BYTE> japanese = m_recorder->WaitFor(1).at(0).picture;
    // What a code page without these characters would have made of them.
    ASSERT_TRUE(StoreWideText(kTitleTextValue, L"???"));
    const auto samples = m_recorder->WaitUntil([&](const ReceivedSample& s) { return s.picture != japanese; });
    ASSERT_FALSE(samples.empty());
    EXPECT_NE(japanese, samples.back().picture);
    EXPECT_TRUE(IsStandbyPicture(samples.back(), 204, 360));
}

TEST_F(ZrvStreamTest, ATargetThatStopsAnsweringNeitherSlowsTheStreamNorHoldsUpStop) {
    ASSERT_NE(nullptr, CreateTarget(kFirstClass, "QMCaptureTest::First", kRed));
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "2"));
    ASSERT_NO_FATAL_FAILURE(RunUntilFirstFrameShows(kRed));
    // The window's thread sleeps for 10 s: every print waits for it.
    m_ui.Hang(10000);
    ::Sleep(100);
    m_recorder->Clear();
    ::Sleep(2000);
    const auto samples = m_recorder->WaitFor(1);
    // 60 frames are due in 2 s; a stream held up by the target would get
    // a handful.
    EXPECT_GE(samples.size(), 40u);
    // The samples follow one another on the frame grid. A stall of the
    // machine itself (not of the target, whose reads are left behind) lets
    // the stream skip to the slot it has reached: whole frames, and rarely.
    int gaps = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(kRed, CentreOf(samples[i], 204, 360)) << "the last picture is repeated";
        if (i > 0 && samples[i].start != samples[i - 1].end) {
            ++gaps;
            const REFERENCE_TIME frameTime = samples[i - 1].end - samples[i - 1].start;
            const REFERENCE_TIME gap = samples[i].start - samples[i - 1].end;
            const REFERENCE_TIME frames = frameTime > 0 ? (gap + frameTime / 2) / frameTime : 0;
            // Frame times are rounded to 100 ns: a unit off per frame.
            EXPECT_TRUE(frames >= 1 && std::llabs(gap - frames * frameTime) <= frames)
                << "a gap of whole frames: " << samples[i - 1].end << " to " << samples[i].start;
        }
    }
    EXPECT_LE(gaps, 2) << "the stream kept its pace";
    const ULONGLONG stopping = ::GetTickCount64();
    ASSERT_EQ(S_OK, m_filter->Stop());
    EXPECT_LT(::GetTickCount64() - stopping, 1000u);
    m_pin->Disconnect();
    m_pin.Reset();
    m_settings.Reset();
    m_config.Reset();
    m_filter.Reset();
}

TEST_F(ZrvStreamTest, AWindowWhoseTitleChangesWhileStreamingStaysOnThePicture) {
    HWND window = nullptr;
    ASSERT_EQ(S_OK, m_ui.Create(kFirstClass, L"notes.txt - Editor", 320, 240, SolidPainter(kRed), &window));
    ASSERT_TRUE(StoreWindowChoice(L"notes.txt - Editor", kFirstClass, L""));
    ASSERT_NO_FATAL_FAILURE(RunUntilFirstFrameShows(kRed));
    m_ui.Run([&]() { ::SetWindowTextW(window, L"plans.txt - Editor"); });
    m_recorder->Clear();
    const auto samples = m_recorder->WaitFor(10);
    ASSERT_GE(samples.size(), 10u);
    for (const ReceivedSample& sample : samples) {
        EXPECT_EQ(kRed, CentreOf(sample, 204, 360)) << "the window was lost with its title";
    }
}

TEST_F(ZrvStreamTest, AVisibleWindowThatComesAfterAHiddenOneOfTheClassIsShownWithinASecond) {
    const HWND helper = CreateTarget(kFirstClass, "QMCaptureTest::First", kRed);
    m_ui.Run([&]() { ::ShowWindow(helper, SW_HIDE); });
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    ASSERT_TRUE(IsStandbyPicture(m_recorder->WaitFor(3).at(2), 204, 360));
    HWND main = nullptr;
    ASSERT_EQ(S_OK, m_ui.Create(kFirstClass, L"Main", 320, 240, SolidPainter(kBlue), &main, 400, 0));
    const ULONGLONG shown = ::GetTickCount64();
    const auto samples = m_recorder->WaitUntil([](const ReceivedSample& s) { return CentreOf(s, 204, 360) == kBlue; });
    ASSERT_FALSE(samples.empty());
    ASSERT_EQ(kBlue, CentreOf(samples.back(), 204, 360)) << "the visible window never came";
    EXPECT_LE(static_cast<LONGLONG>(samples.back().arrival) - static_cast<LONGLONG>(shown), 1000);
}

TEST_F(ZrvStreamTest, StreamsStartedAndStoppedUnderAHungTargetLeaveTheThreadCountLevel) {
    ASSERT_NE(nullptr, CreateTarget(kFirstClass, "QMCaptureTest::First", kRed));
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "2"));
    ASSERT_NO_FATAL_FAILURE(RunUntilFirstFrameShows(kRed));
    ASSERT_EQ(S_OK, m_filter->Stop());
    m_ui.Hang(8000);
    ::Sleep(100);
    long afterFirst = 0;
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(S_OK, m_filter->Run(0));
        m_recorder->WaitFor(2);
        ASSERT_EQ(S_OK, m_filter->Stop());
        if (cycle == 0) {
            afterFirst = CountProcessThreads();
        }
    }
    // Threads that waited their turn behind the hung print end by themselves.
    for (int i = 0; i < 100 && CountProcessThreads() > afterFirst; ++i) {
        ::Sleep(20);
    }
    EXPECT_EQ(afterFirst, CountProcessThreads());
}

TEST_F(ZrvStreamTest, RetargetingAwayFromAHungWindowShowsTheNewOneWithinASecond) {
    ASSERT_NE(nullptr, CreateTarget(kFirstClass, "QMCaptureTest::First", kRed));
    // On the process's desktop, with a thread of its own that keeps answering.
    TestWindowThread otherUi;
    HWND other = nullptr;
    ASSERT_EQ(S_OK, otherUi.Create(kSecondClass, L"Other", 320, 240, SolidPainter(kBlue), &other, 400, 0));
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "2"));
    ASSERT_NO_FATAL_FAILURE(RunUntilFirstFrameShows(kRed));
    m_ui.Hang(6000);
    ::Sleep(200);
    ASSERT_TRUE(StoreText(kWindowClassValue, "QMCaptureTest::Second"));
    const ULONGLONG retargeted = ::GetTickCount64();
    const auto samples = m_recorder->WaitUntil([](const ReceivedSample& s) { return CentreOf(s, 204, 360) == kBlue; });
    ASSERT_FALSE(samples.empty());
    ASSERT_EQ(kBlue, CentreOf(samples.back(), 204, 360)) << "the stream never showed the other window";
    EXPECT_LE(static_cast<LONGLONG>(samples.back().arrival) - static_cast<LONGLONG>(retargeted), 1000);
}

// ---- A live source -------------------------------------------------------------

namespace {

constexpr REFERENCE_TIME kFrameTime = 333333;

}  // namespace

TEST_F(ZrvStreamTest, ItSaysItIsALiveSourceWithOneFrameOfLatency) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(S_OK, m_filter.As(&flags));
    EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_SOURCE), flags->GetMiscFlags());

    ComPtr<IAMPushSource> push;
    ASSERT_EQ(S_OK, m_pin.As(&push));
    ComPtr<IAMLatency> latency;
    ASSERT_EQ(S_OK, m_pin.As(&latency));
    ULONG pushFlags = 99;
    ASSERT_EQ(S_OK, push->GetPushSourceFlags(&pushFlags));
    EXPECT_EQ(0u, pushFlags) << "live, stamped with stream times";
    REFERENCE_TIME value = 0;
    ASSERT_EQ(S_OK, latency->GetLatency(&value));
    EXPECT_EQ(kFrameTime, value);
    // The latency follows the frame time, whoever sets it.
    ASSERT_EQ(S_OK, m_settings->SetFrameRate(10.0));
    ASSERT_EQ(S_OK, push->GetLatency(&value));
    EXPECT_EQ(1000000, value);
    AM_MEDIA_TYPE* format = nullptr;
    ASSERT_EQ(S_OK, m_config->GetFormat(&format));
    reinterpret_cast<VIDEOINFOHEADER*>(format->pbFormat)->AvgTimePerFrame = 666666;
    ASSERT_EQ(S_OK, m_config->SetFormat(format));
    DeleteMediaType(format);
    ASSERT_EQ(S_OK, push->GetLatency(&value));
    EXPECT_EQ(666666, value);
    ASSERT_EQ(S_OK, push->GetStreamOffset(&value));
    EXPECT_EQ(0, value);
    ASSERT_EQ(S_OK, push->GetMaxStreamOffset(&value));
    EXPECT_EQ(0, value);
    EXPECT_EQ(E_POINTER, push->GetLatency(nullptr));
    EXPECT_EQ(E_NOTIMPL, push->SetPushSourceFlags(AM_PUSHSOURCECAPS_NOT_LIVE));

    ASSERT_NO_FATAL_FAILURE(Connect());
    FILTER_STATE state = State_Running;
    ASSERT_EQ(S_OK, m_filter->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    ASSERT_EQ(S_OK, m_filter->Pause());
    EXPECT_EQ(VFW_S_CANT_CUE, m_filter->GetState(0, &state));
    EXPECT_EQ(State_Paused, state);
    ASSERT_EQ(S_OK, m_filter->Run(0));
    EXPECT_EQ(S_OK, m_filter->GetState(0, &state));
    EXPECT_EQ(State_Running, state);
}

TEST_F(ZrvStreamTest, PausedItSendsOneFrameAndRunningItFollowsTheGraphClock_ClockInjected) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    auto clock = MakeFake<ManualReferenceClock>();
    clock->now = 1000 * kFrameTime;
    ASSERT_EQ(S_OK, m_filter->SetSyncSource(clock.Get()));
    ASSERT_EQ(S_OK, m_filter->Pause());
    ASSERT_EQ(1u, m_recorder->WaitFor(1).size());
    ::Sleep(300);
    ASSERT_EQ(1u, m_recorder->WaitFor(1).size()) << "a second frame while paused";

    const REFERENCE_TIME start = clock->now + 20 * kFrameTime;
    ASSERT_EQ(S_OK, m_filter->Run(start));
    // Frame 1 is due at the stream start plus one frame time.
    clock->now = start + kFrameTime - 1;
    ::Sleep(200);
    EXPECT_EQ(1u, m_recorder->WaitFor(1).size()) << "frame 1 left before it was due";
    clock->now = start + kFrameTime;
    auto samples = m_recorder->WaitFor(2);
    ASSERT_EQ(2u, samples.size());
    EXPECT_EQ(kFrameTime, samples[1].start);
    // The clock jumps 10 frames on: the stream takes the slot it reached.
    clock->now = start + 12 * kFrameTime;
    samples = m_recorder->WaitFor(3);
    ASSERT_EQ(3u, samples.size());
    EXPECT_EQ(12 * kFrameTime, samples[2].start);
    ASSERT_EQ(S_OK, m_filter->Stop());
    ASSERT_EQ(S_OK, m_filter->SetSyncSource(nullptr));
}

TEST_F(ZrvStreamTest, ARendererThatQueuesShowsEachFrameWithinAFrameTimeOfItsRead_ClockInjected) {
    CounterWindow window;
    ASSERT_EQ(S_OK, window.Start(L"QMCaptureTest::Counter", L"Counter", 160, 100));
    ASSERT_TRUE(StoreText(kWindowClassValue, "QMCaptureTest::Counter"));
    ASSERT_TRUE(StoreText(kWindowNameValue, ""));
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "1"));
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    auto clock = MakeFake<CounterReferenceClock>();
    ASSERT_EQ(S_OK, m_filter->SetSyncSource(clock.Get()));
    // As a graph does: pause, then run with a stream start a while ahead.
    ASSERT_EQ(S_OK, m_filter->Pause());
    ASSERT_EQ(1u, m_recorder->WaitFor(1).size());
    REFERENCE_TIME now = 0;
    ASSERT_EQ(S_OK, clock->GetTime(&now));
    const REFERENCE_TIME start = now + 2000000;
    ASSERT_EQ(S_OK, m_filter->Run(start));
    const auto samples = m_recorder->WaitFor(41);
    ASSERT_EQ(S_OK, m_filter->Stop());
    ASSERT_GE(samples.size(), 40u);
    int checked = 0;
    // The frame the paused graph got (sample 0) was read before it ran.
    for (size_t i = 1; i < samples.size(); ++i) {
        LONGLONG read = 0;
        ASSERT_TRUE(CounterWindow::DecodeRgb24(samples[i].picture.data(), 204, 360, samples[i].arrivalCounter, &read))
            << "sample " << i << " shows no reading";
        // Queued, the frame is shown when the clock reaches its time, or
        // on arrival if that is later.
        const REFERENCE_TIME shown = std::max(samples[i].arrivalCounter, start + samples[i].start);
        EXPECT_LE(shown - read, kFrameTime) << "sample " << i << " was shown " << (shown - read) / 10000
                                            << " ms after its read";
        ++checked;
    }
    EXPECT_EQ(40, checked);
    ASSERT_EQ(S_OK, m_filter->SetSyncSource(nullptr));
}

TEST_F(ZrvStreamTest, AStopDuringAReadSendsNoFrameWithThePreviousPicture_OneFramePerSecond) {
    ASSERT_NE(nullptr, CreateTarget(kFirstClass, "QMCaptureTest::First", kRed));
    // Printing waits for the window's thread, which the test holds up.
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "2"));
    ASSERT_TRUE(StoreText(kFrameTimeValue, "10000000"));
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    ASSERT_EQ(1u, m_recorder->WaitFor(1).size());
    const ULONGLONG first = ::GetTickCount64();
    // The frame due at 1 s waits for the print until 2 s; the stop comes
    // at 1.4 s, while it waits.
    m_ui.Hang(4000);
    ::Sleep(1400);
    ASSERT_EQ(S_OK, m_filter->Stop());
    const ULONGLONG stopped = ::GetTickCount64();
    const auto samples = m_recorder->WaitFor(0);
    EXPECT_EQ(1u, samples.size()) << "a frame left at the stop, " << stopped - first
                                  << " ms after the first, with the previous picture";
}

TEST_F(ZrvStreamTest, AStopBetweenFramesSendsNoFrameBeforeItsTime_OneFramePerSecond) {
    constexpr REFERENCE_TIME kSecond = 10000000;
    ASSERT_TRUE(StoreText(kFrameTimeValue, "10000000"));
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    auto clock = MakeFake<CounterReferenceClock>();
    ASSERT_EQ(S_OK, m_filter->SetSyncSource(clock.Get()));
    // Paused, one frame goes at once; the rest follow the clock from Run.
    ASSERT_EQ(S_OK, m_filter->Pause());
    ASSERT_EQ(1u, m_recorder->WaitFor(1).size());
    REFERENCE_TIME start = 0;
    ASSERT_EQ(S_OK, clock->GetTime(&start));
    ASSERT_EQ(S_OK, m_filter->Run(start));
    // Stop halfway between the frame due at 1.0 s and the one due at 2.0 s.
    while (clock->Now() < start + kSecond * 3 / 2) {
        ::Sleep(1);
    }
    ASSERT_EQ(S_OK, m_filter->Stop());
    ASSERT_EQ(S_OK, m_filter->SetSyncSource(nullptr));
    const auto samples = m_recorder->WaitFor(0);
    ASSERT_EQ(2u, samples.size()) << "the paused frame and the one stamped 1.0-2.0 s, nothing else";
    EXPECT_EQ(kSecond, samples[1].start);
    EXPECT_EQ(2 * kSecond, samples[1].end);
    for (size_t i = 1; i < samples.size(); ++i) {
        // Every frame leaves when the stream time reaches its start, never
        // before: one stamped for later would be shown late or dropped.
        EXPECT_GE(samples[i].arrivalCounter - start, samples[i].start)
            << "the frame stamped " << samples[i].start / 10000 << " ms left at "
            << (samples[i].arrivalCounter - start) / 10000 << " ms";
    }
}

namespace {

constexpr COLORREF kPictureOrange = RGB(255, 128, 0);
constexpr COLORREF kPictureTeal = RGB(0, 128, 128);

bool CentreIs(const ReceivedSample& sample, COLORREF colour) {
    return CentreOf(sample, 204, 360) == colour;
}

}  // namespace

namespace {

// A standby picture whose file is slow to read (a large picture, a slow
// disk): each load waits until the test opens the gate (or, so that a
// stream that waits for it cannot hang the test, for 15 s).
UniqueHandle g_loadGate;
HRESULT GatedStandbyLoad(const wchar_t* path, const std::atomic<bool>& cancel, CStandbyImage* image) {
    ::WaitForSingleObject(g_loadGate.get(), 15000);
    return image->Load(path, &cancel);
}

}  // namespace

TEST_F(ZrvStreamTest, AStandbyImageStoredBeforeTheStreamIsShownOnceReadWithThePlainFrameUntilThen) {
    ScratchFolder folder;
    const std::wstring path = folder.File(L"first.png");
    // 90 x 30 into 204 x 360: 204 x 68, rows 146 to 213.
    ASSERT_EQ(S_OK, WritePng(path, 90, 30, Solid(kPictureOrange)));
    ASSERT_TRUE(StoreWideText(kStandbyImageValue, path.c_str()));
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    const auto samples = m_recorder->WaitUntil([](const ReceivedSample& s) { return CentreIs(s, kPictureOrange); });
    ASSERT_FALSE(samples.empty());
    const ReceivedSample& shown = samples.back();
    ASSERT_EQ(static_cast<size_t>(220320), shown.picture.size());
    EXPECT_EQ(kPictureOrange, PixelOf(shown.picture.data(), 204, 360, 102, 180));
    EXPECT_EQ(kPictureOrange, PixelOf(shown.picture.data(), 204, 360, 0, 147));
    EXPECT_EQ(0u, PixelOf(shown.picture.data(), 204, 360, 102, 144));
    EXPECT_EQ(0u, PixelOf(shown.picture.data(), 204, 360, 102, 215));
    EXPECT_EQ(0u, PixelOf(shown.picture.data(), 204, 360, 0, 0));
    for (size_t i = 0; i + 1 < samples.size(); ++i) {
        EXPECT_TRUE(IsStandbyPicture(samples[i], 204, 360)) << "frame " << i;
    }
}

TEST_F(ZrvStreamTest, AStandbyImageSlowToReadHoldsUpNoFrameAndIsShownOnceRead_SlowLoadInjected) {
    ScratchFolder folder;
    const std::wstring path = folder.File(L"slow.png");
    ASSERT_EQ(S_OK, WritePng(path, 40, 40, Solid(kPictureTeal)));
    ASSERT_TRUE(StoreWideText(kStandbyImageValue, path.c_str()));
    g_loadGate.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(g_loadGate);
    // Whatever fails below, the load ends, so that the stream can stop.
    struct OpenGate {
        ~OpenGate() { ::SetEvent(g_loadGate.get()); }
    } openAtEnd;
    ASSERT_NO_FATAL_FAILURE(Create());
    StreamOf(m_pin.Get())->InjectStandbyLoadForTesting(&GatedStandbyLoad);
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    // The frames go while the file is still being read: the plain standby
    // frame.
    const auto waiting = m_recorder->WaitFor(4);
    ASSERT_GE(waiting.size(), 4u) << "the frames waited for the standby picture";
    for (const ReceivedSample& sample : waiting) {
        EXPECT_TRUE(IsStandbyPicture(sample, 204, 360));
    }
    ASSERT_TRUE(::SetEvent(g_loadGate.get()));
    const auto samples = m_recorder->WaitUntil([](const ReceivedSample& s) { return CentreIs(s, kPictureTeal); });
    ASSERT_FALSE(samples.empty());
    EXPECT_TRUE(CentreIs(samples.back(), kPictureTeal)) << "the picture never came";
}

TEST_F(ZrvStreamTest, AStandbyImageChangedWhileStreamingIsTakenOverLive) {
    ScratchFolder folder;
    LogInFolder log(folder.Path());
    ASSERT_TRUE(log.ok());
    // The device turns the log on or off from its own setting.
    ASSERT_TRUE(StoreText(kDiagnosticLogValue, "1"));
    const std::wstring orange = folder.File(L"orange.png");
    const std::wstring teal = folder.File(L"teal.bmp");
    const std::wstring broken = folder.File(L"broken.png");
    ASSERT_EQ(S_OK, WritePng(orange, 40, 40, Solid(kPictureOrange)));
    ASSERT_TRUE(WriteBytes(teal, BmpBytes(40, 40, Solid(kPictureTeal))));
    ASSERT_TRUE(WriteBytes(broken, "no picture here"));
    ASSERT_NO_FATAL_FAILURE(Create());
    ComPtr<ICaptureDeviceSettings3> settings;
    ASSERT_EQ(S_OK, m_pin.As(&settings));
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Run(0));
    ASSERT_TRUE(IsStandbyPicture(m_recorder->WaitFor(1).at(0), 204, 360));

    // Stored by another process: the registry watch brings it in.
    ASSERT_TRUE(StoreWideText(kStandbyImageValue, orange.c_str()));
    auto samples = m_recorder->WaitUntil([](const ReceivedSample& s) { return CentreIs(s, kPictureOrange); });
    ASSERT_TRUE(CentreIs(samples.back(), kPictureOrange));

    // Set through the interface: the next frame reads the new file.
    ASSERT_EQ(S_OK, settings->SetStandbyImage(teal.c_str()));
    samples = m_recorder->WaitUntil([](const ReceivedSample& s) { return CentreIs(s, kPictureTeal); });
    ASSERT_TRUE(CentreIs(samples.back(), kPictureTeal));

    // A file that is no picture: the plain standby frame, a log line, and
    // the stream goes on.
    ASSERT_EQ(S_OK, settings->SetStandbyImage(broken.c_str()));
    m_recorder->Clear();
    samples = m_recorder->WaitUntil([](const ReceivedSample& s) { return CentreIs(s, RGB(0, 0, 0)); });
    ASSERT_TRUE(IsStandbyPicture(samples.back(), 204, 360));
    const size_t seen = m_recorder->WaitFor(0).size();
    EXPECT_GT(m_recorder->WaitFor(seen + 3).size(), seen + 2) << "the stream stopped after the bad file";
    const std::vector<std::string> lines = log.LinesWith("standby image");
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(Utf8(broken))) << lines[0];

    // Cleared: plain black from then on.
    ASSERT_EQ(S_OK, settings->SetStandbyImage(teal.c_str()));
    m_recorder->WaitUntil([](const ReceivedSample& s) { return CentreIs(s, kPictureTeal); });
    ASSERT_EQ(S_OK, settings->SetStandbyImage(L""));
    samples = m_recorder->WaitUntil([](const ReceivedSample& s) { return CentreIs(s, RGB(0, 0, 0)); });
    EXPECT_TRUE(IsStandbyPicture(samples.back(), 204, 360));
    EXPECT_EQ("", StoredText(kStandbyImageValue));
    EXPECT_EQ(1u, log.LinesWith("standby image").size()) << "an empty path is not a failure";
}

TEST_F(ZrvStreamTest, TheStandbyImageInterfaceRefusesBadArgumentsAndChangesNothing) {
    ASSERT_TRUE(StoreWideText(kStandbyImageValue, L"C:\\pictures\\away.png"));
    ASSERT_NO_FATAL_FAILURE(Create());
    ComPtr<ICaptureDeviceSettings3> settings;
    ASSERT_EQ(S_OK, m_pin.As(&settings));
    // The filter routes the interface to its pin.
    ComPtr<ICaptureDeviceSettings3> fromFilter;
    ASSERT_EQ(S_OK, m_filter.As(&fromFilter));
    EXPECT_EQ(settings.Get(), fromFilter.Get());
    ComPtr<ICaptureDeviceSettings2> older;
    ASSERT_EQ(S_OK, m_filter.As(&older));

    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(E_POINTER, settings->GetStandbyImage(nullptr, MAX_PATH));
    EXPECT_EQ(E_INVALIDARG, settings->GetStandbyImage(path, 0));
    EXPECT_EQ(E_POINTER, settings->SetStandbyImage(nullptr));
    const std::wstring tooLong(MAX_PATH, L'a');
    EXPECT_EQ(E_INVALIDARG, settings->SetStandbyImage(tooLong.c_str()));
    ASSERT_EQ(S_OK, settings->GetStandbyImage(path, MAX_PATH));
    EXPECT_STREQ(L"C:\\pictures\\away.png", path);
    EXPECT_EQ(L"C:\\pictures\\away.png", StoredWideText(kStandbyImageValue));
    // A buffer too small gets nothing rather than a cut path.
    wchar_t small[8] = {L'x'};
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), settings->GetStandbyImage(small, 8));
    EXPECT_STREQ(L"", small);

    // The longest path that fits is stored whole; empty clears.
    const std::wstring longest(MAX_PATH - 1, L'b');
    ASSERT_EQ(S_OK, settings->SetStandbyImage(longest.c_str()));
    ASSERT_EQ(S_OK, settings->GetStandbyImage(path, MAX_PATH));
    EXPECT_EQ(longest, path);
    EXPECT_EQ(longest, StoredWideText(kStandbyImageValue));
    ASSERT_EQ(S_OK, settings->SetStandbyImage(L""));
    ASSERT_EQ(S_OK, settings->GetStandbyImage(path, 1));
    EXPECT_STREQ(L"", path);
    EXPECT_EQ(L"", StoredWideText(kStandbyImageValue));
}
