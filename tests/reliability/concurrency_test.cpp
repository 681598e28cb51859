// Concurrency: while the device streams into a real graph, two threads
// hammer the settings and stream configuration interfaces and the captured
// window comes and goes. Nothing may crash or deadlock, every delivered
// sample must be a whole picture of the connected size, and Stop must
// complete. Also: a graph without a reference clock still streams at the
// device's own rate.
#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <cstring>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "settings/capture_device_settings.h"
#include "capture/output_formats.h"
#include "framework/com_util.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/capture_graph.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/test_window.h"
#include "tools/capture_client/sample_callback.h"

using Microsoft::WRL::ComPtr;

using namespace output_formats;
using namespace qmtest;

namespace {

constexpr int kCallsPerThread = 6000;
constexpr ULONGLONG kMinimumHammerMs = 3000;
constexpr DWORD kSampleTimeoutMs = 20000;
// Far beyond what the work takes; only a hang reaches it.
constexpr DWORD kHangTimeoutMs = 180000;
constexpr wchar_t kCapturedClass[] = L"Quillmere::MainFrame";

struct SampleCheck {
    long count = 0;
    long stale = 0;
    long wrongSize = 0;
    long wrongLength = 0;
    long notSyncPoint = 0;
    long discontiguous = 0;
};

// Checks each sample as it arrives: the connected image size, a data
// length of the whole picture, a sync point, and stamps that continue the
// previous sample's. It also marks the first and last bytes of every
// buffer it sees; the allocator hands the buffers out again, and a buffer
// that comes back with a mark was not (or not wholly) filled with a new
// picture.
class CheckingRecorder final : public CSampleCallback {
public:
    explicit CheckingRecorder(long imageSize) : m_imageSize(imageSize) {}

    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
        REFERENCE_TIME start = 0;
        REFERENCE_TIME end = 0;
        const HRESULT hrTime = sample->GetTime(&start, &end);
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_check.count;
        if (sample->GetSize() != m_imageSize) {
            ++m_check.wrongSize;
        }
        if (sample->GetActualDataLength() != m_imageSize) {
            ++m_check.wrongLength;
        }
        if (sample->IsSyncPoint() != S_OK) {
            ++m_check.notSyncPoint;
        }
        // After a stall a gap may open, marked by the discontinuity flag;
        // times never overlap or go back.
        const bool gap = start != m_nextStart;
        if (FAILED(hrTime) || start < m_nextStart || end <= start || gap != (sample->IsDiscontinuity() == S_OK)) {
            ++m_check.discontiguous;
        }
        BYTE* data = nullptr;
        const long size = sample->GetSize();
        if (SUCCEEDED(sample->GetPointer(&data)) && data != nullptr && size >= 2 * kMarkLength) {
            BYTE* const ends[] = {data, data + size - kMarkLength};
            bool marked = false;
            for (BYTE* at : ends) {
                marked = marked || std::memcmp(at, kMark, kMarkLength) == 0;
                std::memcpy(at, kMark, kMarkLength);
            }
            if (marked) {
                ++m_check.stale;
            }
        }
        m_nextStart = end;
        m_arrivals.push_back(now.QuadPart);
        return S_OK;
    }

    SampleCheck Check() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_check;
    }
    long Count() const { return Check().count; }
    std::vector<LONGLONG> Arrivals() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_arrivals;
    }

private:
    static constexpr long kMarkLength = 16;
    static constexpr BYTE kMark[kMarkLength] = {0xA5, 0x5A, 0xC3, 0x3C, 0x96, 0x69, 0xF0, 0x0F,
                                                0xA5, 0x5A, 0xC3, 0x3C, 0x96, 0x69, 0xF0, 0x0F};
    const long m_imageSize;
    mutable std::mutex m_lock;
    SampleCheck m_check;
    REFERENCE_TIME m_nextStart = 0;
    std::vector<LONGLONG> m_arrivals;
};

void ExpectWholePictures(const SampleCheck& check) {
    EXPECT_EQ(0, check.stale) << "of " << check.count << " samples came without a new picture";
    EXPECT_EQ(0, check.wrongSize) << "of " << check.count << " samples";
    EXPECT_EQ(0, check.wrongLength) << "of " << check.count << " samples";
    EXPECT_EQ(0, check.notSyncPoint) << "of " << check.count << " samples";
    EXPECT_EQ(0, check.discontiguous) << "of " << check.count << " samples";
}

// A format of the device for SetFormat: table entry `index` with a frame
// time, or one of the malformed variants.
CMediaType FormatFor(int index, REFERENCE_TIME frameTime) {
    CMediaType type;
    EXPECT_EQ(S_OK, BuildMediaType(&type, frameTime, index));
    return type;
}

// A thread in the multithreaded apartment that is told to stop and joined
// when it goes out of scope, also when a failed assertion returns early.
class HammerThread {
public:
    template <typename Body>
    explicit HammerThread(Body body)
        : m_thread([this, body] {
              ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
              body(m_stop);
              ::CoUninitialize();
          }) {}
    ~HammerThread() { Join(); }
    HammerThread(const HammerThread&) = delete;
    HammerThread& operator=(const HammerThread&) = delete;

    void Join() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A downstream pin whose Receive, once held, waits until the test lets it
// go on: a renderer that waits for another thread of its host (the UI
// thread, say) while that thread talks to the device.
class HeldReceiver : public FakeInputPin {
public:
    HeldReceiver()
        : inReceive(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          letGo(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        if (hold.exchange(false)) {
            ::SetEvent(inReceive.get());
            ::WaitForSingleObject(letGo.get(), INFINITE);
        }
        return FakeInputPin::Receive(sample);
    }
    std::atomic<bool> hold{false};
    UniqueHandle inReceive;
    UniqueHandle letGo;
};

// What a host's UI thread asks of the device while a page is opened.
HRESULT AskWhatAPageAsks(IBaseFilter* filter, IPin* pin) {
    ComPtr<IAMStreamConfig> config;
    RETURN_IF_FAILED(filter->QueryInterface(IID_PPV_ARGS(&config)));
    CMediaType connected;
    RETURN_IF_FAILED(pin->ConnectionMediaType(&connected));
    RETURN_HR_IF(E_UNEXPECTED, pin->QueryAccept(&connected) != S_OK);
    AM_MEDIA_TYPE* format = nullptr;
    RETURN_IF_FAILED(config->GetFormat(&format));
    DeleteMediaType(format);
    ComPtr<IEnumMediaTypes> types;
    RETURN_IF_FAILED(pin->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* first = nullptr;
    RETURN_HR_IF(E_UNEXPECTED, types->Next(1, &first, nullptr) != S_OK);
    DeleteMediaType(first);
    return S_OK;
}

}  // namespace

TEST(Concurrency, QueriesThatADownstreamReceiveWaitsForDoNotWaitForStop) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, GetPin(filter.Get(), PINDIR_OUTPUT, &pin));
    auto renderer = MakeFake<HeldReceiver>();
    ASSERT_EQ(S_OK, pin->Connect(renderer.Get(), nullptr));
    Watchdog watchdog("queries while Stop waits for a held Receive", 60000);
    ASSERT_EQ(S_OK, filter->Run(0));
    ASSERT_TRUE(WaitUntil([&] { return renderer->Samples() >= 1; }, kSampleTimeoutMs));
    // The worker is held inside Receive; Stop takes the state lock and
    // waits for the worker.
    renderer->hold = true;
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(renderer->inReceive.get(), kSampleTimeoutMs));
    std::atomic<HRESULT> stopped{E_PENDING};
    std::thread stopper([&] { stopped = filter->Stop(); });
    ::Sleep(200);
    // Receive goes on only once the queries are answered.
    std::atomic<HRESULT> asked{E_PENDING};
    std::thread asker([&] {
        asked = AskWhatAPageAsks(filter.Get(), pin.Get());
        ::SetEvent(renderer->letGo.get());
    });
    asker.join();
    stopper.join();
    EXPECT_EQ(S_OK, asked.load());
    EXPECT_EQ(S_OK, stopped.load());
    EXPECT_EQ(S_OK, pin->Disconnect());
    renderer->Disconnect();
}

TEST(Concurrency, SettersHammeredWhileStreamingAndTheWindowComesAndGoes) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
    CaptureGraph graph;
    ASSERT_EQ(S_OK, graph.Build(filter.Get(), false));
    CMediaType connected;
    ASSERT_EQ(S_OK, graph.ConnectedType(&connected));
    const long imageSize = static_cast<long>(GetVideoInfo(connected)->bmiHeader.biSizeImage);
    CheckingRecorder recorder(imageSize);
    ASSERT_EQ(S_OK, graph.grabber->SetCallback(&recorder, 0));

    ComPtr<ICaptureDeviceSettings> settings;
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, filter.As(&settings));
    ASSERT_EQ(S_OK, filter.As(&config));

    Watchdog watchdog("the concurrency test", kHangTimeoutMs);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count() >= 3; }, kSampleTimeoutMs));

    std::atomic<long> calls{0};
    std::atomic<int> finished{0};
    // At least this long, so that the calls meet frames of every kind.
    const ULONGLONG until = ::GetTickCount64() + kMinimumHammerMs;
    // The settings setters: size, rate (up to 60, so mostly the device's
    // 30), standby text of every length.
    HammerThread setters([&](const std::atomic<bool>& stop) {
        for (int i = 0; !stop && (i < kCallsPerThread / 3 || ::GetTickCount64() < until); ++i) {
            settings->SetSelectPixel(i % 6);
            settings->SetFrameRate(15.0 + (i % 46));
            const std::string text(static_cast<size_t>(i % 90), static_cast<char>('A' + i % 26));
            settings->SetTitleText(text.c_str());
            calls += 3;
        }
        ++finished;
    });
    // Stream configuration: valid formats of every size at rates around
    // 30 fps, malformed ones, and the capabilities.
    HammerThread configurer([&](const std::atomic<bool>& stop) {
        for (int i = 0; !stop && (i < kCallsPerThread / 2 || ::GetTickCount64() < until); ++i) {
            CMediaType type = FormatFor(i % 6, 333333 + (i % 7) * 10000);
            if (i % 5 == 4) {
                reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader.biHeight = -360;
            }
            config->SetFormat(&type);
            AM_MEDIA_TYPE* caps = nullptr;
            VIDEO_STREAM_CONFIG_CAPS capsRecord;
            if (SUCCEEDED(config->GetStreamCaps(i % 6, &caps, reinterpret_cast<BYTE*>(&capsRecord)))) {
                DeleteMediaType(caps);
            }
            calls += 2;
        }
        ++finished;
    });

    // Meanwhile the captured window opens and closes on this thread.
    long windows = 0;
    while (finished < 2) {
        TestWindow window;
        if (SUCCEEDED(window.Create(kCapturedClass, L"Quillmere", 320 + windows % 3 * 100, 240,
                                    SolidPainter(RGB(200, 40, 40)), 10, 10))) {
            ++windows;
        }
        PumpFor(20);
        window.Destroy();
        PumpFor(5);
    }
    setters.Join();
    configurer.Join();
    EXPECT_GE(calls.load(), 10000);
    EXPECT_GT(windows, 0);

    // Still streaming after the storm, then a Stop that completes.
    settings->SetFrameRate(30);
    const long before = recorder.Count();
    EXPECT_TRUE(WaitUntil([&] { return recorder.Count() >= before + 3; }, kSampleTimeoutMs))
        << "streaming stopped during the concurrent calls";
    EXPECT_EQ(S_OK, graph.Stop());
    const SampleCheck check = recorder.Check();
    ExpectWholePictures(check);
    std::printf("[          ] %ld calls, %ld windows, %ld samples of %ld bytes\n", calls.load(), windows, check.count,
                imageSize);
    graph.grabber->SetCallback(nullptr, 0);
}

TEST(Concurrency, StopCompletesWhileSettersRun) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
    CaptureGraph graph;
    ASSERT_EQ(S_OK, graph.Build(filter.Get(), false));
    ComPtr<ICaptureDeviceSettings> settings;
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, filter.As(&settings));
    ASSERT_EQ(S_OK, filter.As(&config));

    Watchdog watchdog("run and stop under concurrent calls", kHangTimeoutMs);
    // Nothing here asks the graph to reconnect: the platform's Reconnect
    // is not atomic with a Run on another thread (see SetFormat).
    HammerThread hammer([&](const std::atomic<bool>& stop) {
        for (int i = 0; !stop; ++i) {
            settings->SetSelectPixel(i % 6);
            const int size[2] = {FrameSizeTable[(i + 3) % 6].width, FrameSizeTable[(i + 3) % 6].height};
            settings->SetFrameSize(size);
            settings->SetFrameRate(i % 2 ? 30.0 : 20.0);
            AM_MEDIA_TYPE* caps = nullptr;
            VIDEO_STREAM_CONFIG_CAPS capsRecord;
            if (SUCCEEDED(config->GetStreamCaps(i % 6, &caps, reinterpret_cast<BYTE*>(&capsRecord)))) {
                DeleteMediaType(caps);
            }
        }
    });
    CMediaType connected;
    ASSERT_EQ(S_OK, graph.ConnectedType(&connected));
    const long connectedSize = static_cast<long>(GetVideoInfo(connected)->bmiHeader.biSizeImage);
    for (int cycle = 0; cycle < 8; ++cycle) {
        SCOPED_TRACE(cycle);
        graph.recorder.Clear();
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        EXPECT_TRUE(graph.recorder.WaitForSamples(2, kSampleTimeoutMs));
        EXPECT_EQ(S_OK, graph.Stop());
        // Each run delivers whole pictures of the connected size.
        const std::vector<RecordedSample> samples = graph.recorder.samples();
        ASSERT_FALSE(samples.empty());
        for (const RecordedSample& sample : samples) {
            EXPECT_EQ(connectedSize, sample.size);
            EXPECT_EQ(connectedSize, sample.actualLength);
        }
    }
    hammer.Join();
}

TEST(Concurrency, SetFormatRacingRunAndStopLeavesTheDeviceConsistent) {
    // One thread sets formats while another runs and stops the graph: a
    // SetFormat that meets a graph that is not stopped is refused and
    // changes nothing; one that meets a stopped graph reconnects it.
    // Whatever the graph's reconnection leaves (Wine's graph manager can
    // leave both pins disconnected when a Run comes between the device's
    // look at its state and the graph's own), the device stays whole: it
    // accepts its connection's type, connects again where the graph left
    // it unconnected, and streams whole pictures of the connected size.
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
    CaptureGraph graph;
    ASSERT_EQ(S_OK, graph.Build(filter.Get(), false));
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, filter.As(&config));
    Watchdog watchdog("SetFormat racing Run and Stop", kHangTimeoutMs);

    std::atomic<long> refused{0};
    std::atomic<long> taken{0};
    std::atomic<long> unexpected{0};
    std::atomic<long> refusalsThatChanged{0};
    HammerThread configurer([&](const std::atomic<bool>& stop) {
        for (int i = 0; !stop; ++i) {
            CMediaType type = FormatFor(i % 2 == 0 ? 0 : 3, 333333);
            AM_MEDIA_TYPE* before = nullptr;
            if (FAILED(config->GetFormat(&before))) {
                ++unexpected;
                continue;
            }
            const HRESULT hr = config->SetFormat(&type);
            AM_MEDIA_TYPE* after = nullptr;
            if (FAILED(config->GetFormat(&after))) {
                DeleteMediaType(before);
                ++unexpected;
                continue;
            }
            if (hr == VFW_E_NOT_STOPPED) {
                ++refused;
                // Only this thread changes the format.
                if (before->cbFormat != after->cbFormat ||
                    std::memcmp(before->pbFormat, after->pbFormat, before->cbFormat) != 0) {
                    ++refusalsThatChanged;
                }
            } else if (hr == S_OK) {
                ++taken;
            } else {
                ++unexpected;
            }
            DeleteMediaType(before);
            DeleteMediaType(after);
        }
    });
    const ULONGLONG until = ::GetTickCount64() + kMinimumHammerMs;
    int cycles = 0;
    while (::GetTickCount64() < until || cycles < 20) {
        graph.control->Run();
        ::Sleep(static_cast<DWORD>(cycles % 5));
        graph.control->Stop();
        ++cycles;
    }
    configurer.Join();
    EXPECT_GT(refused.load(), 0) << "no SetFormat met a running graph";
    EXPECT_GT(taken.load(), 0);
    EXPECT_EQ(0, unexpected.load());
    EXPECT_EQ(0, refusalsThatChanged.load()) << "a refused SetFormat changed the format";

    // The device afterwards: connected (again, if the graph left it
    // disconnected) in the format it reports, and streaming it.
    ComPtr<IPin> source;
    ASSERT_EQ(S_OK, GetPin(filter.Get(), PINDIR_OUTPUT, &source));
    ComPtr<IPin> peer;
    const bool leftConnected = source->ConnectedTo(&peer) == S_OK;
    if (!leftConnected) {
        ComPtr<IPin> grabberIn;
        ASSERT_EQ(S_OK, GetPin(graph.grabberFilter.Get(), PINDIR_INPUT, &grabberIn));
        ComPtr<IPin> grabberPeer;
        if (grabberIn->ConnectedTo(&grabberPeer) == S_OK) {
            ASSERT_EQ(S_OK, graph.graph->Disconnect(grabberIn.Get()));
        }
        ASSERT_EQ(S_OK, graph.graph->ConnectDirect(source.Get(), grabberIn.Get(), nullptr));
    }
    std::printf("[          ] %d runs, %ld formats taken, %ld refused, pins left %s\n", cycles, taken.load(),
                refused.load(), leftConnected ? "connected" : "disconnected");
    CMediaType connected;
    ASSERT_EQ(S_OK, graph.ConnectedType(&connected));
    EXPECT_EQ(S_OK, source->QueryAccept(&connected)) << "the connection's own type is refused";
    const long connectedSize = static_cast<long>(GetVideoInfo(connected)->bmiHeader.biSizeImage);
    graph.recorder.Clear();
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    EXPECT_TRUE(graph.recorder.WaitForSamples(3, kSampleTimeoutMs));
    EXPECT_EQ(S_OK, graph.Stop());
    for (const RecordedSample& sample : graph.recorder.samples()) {
        EXPECT_EQ(connectedSize, sample.size);
        EXPECT_EQ(connectedSize, sample.actualLength);
    }
}

TEST(Concurrency, StopRightAfterRunWhileTheGraphStillStarts) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
    CaptureGraph graph;
    ASSERT_EQ(S_OK, graph.Build(filter.Get(), false));
    Watchdog watchdog("Stop right after Run", kHangTimeoutMs);
    // The platform's graph completes Run on a thread of its own; a Stop
    // may come before it has run every filter, or while the device's first
    // sample waits in the paused renderer.
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        if (i % 2 == 1) {
            ::Sleep(static_cast<DWORD>(i % 7));
        }
        ASSERT_EQ(S_OK, graph.Stop());
        FILTER_STATE state = State_Running;
        ASSERT_EQ(S_OK, filter->GetState(0, &state));
        EXPECT_EQ(State_Stopped, state);
    }
    // Still a working device afterwards.
    graph.recorder.Clear();
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    EXPECT_TRUE(graph.recorder.WaitForSamples(2, kSampleTimeoutMs));
    EXPECT_EQ(S_OK, graph.Stop());
}

TEST(Concurrency, WithoutAReferenceClockTheDeviceKeepsItsOwnRate) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, filter.As(&settings));
    constexpr double kRate = 10.0;
    constexpr REFERENCE_TIME kFrameTime = 1000000;
    ASSERT_EQ(S_OK, settings->SetFrameRate(kRate));
    CaptureGraph graph;
    ASSERT_EQ(S_OK, graph.Build(filter.Get(), false));
    CMediaType connected;
    ASSERT_EQ(S_OK, graph.ConnectedType(&connected));
    CheckingRecorder recorder(static_cast<long>(GetVideoInfo(connected)->bmiHeader.biSizeImage));
    ASSERT_EQ(S_OK, graph.grabber->SetCallback(&recorder, 0));
    ComPtr<IMediaFilter> graphFilter;
    ASSERT_EQ(S_OK, graph.graph.As(&graphFilter));
    ASSERT_EQ(S_OK, graphFilter->SetSyncSource(nullptr));
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(S_OK, filter->GetSyncSource(&clock));
    EXPECT_EQ(nullptr, clock.Get()) << "the graph gave the filter a clock";

    Watchdog watchdog("streaming without a clock", kHangTimeoutMs);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    constexpr long kSamples = 12;
    EXPECT_TRUE(WaitUntil([&] { return recorder.Count() >= kSamples; }, 60000));
    // Taken before Stop: a stop request releases the frame in wait at once.
    std::vector<LONGLONG> arrivals = recorder.Arrivals();
    EXPECT_EQ(S_OK, graph.Stop());
    graph.grabber->SetCallback(nullptr, 0);

    const SampleCheck check = recorder.Check();
    ExpectWholePictures(check);
    ASSERT_GE(arrivals.size(), static_cast<size_t>(kSamples));
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    // Frame n is due n frame times after the first (a late frame may be
    // followed closely by the next, but the schedule never runs ahead).
    // Nothing downstream paces the stream without a clock, so this is the
    // device's own pacing.
    // From the second frame on: the first is the one a paused graph gets,
    // before it runs.
    const size_t intervals = arrivals.size() - 2;
    const double seconds = static_cast<double>(arrivals.back() - arrivals[1]) /
                           static_cast<double>(frequency.QuadPart);
    const double rate = static_cast<double>(intervals) / seconds;
    std::printf("[          ] without a clock: %.2f frames per second over %zu intervals (set: %.0f)\n", rate,
                intervals, kRate);
    // Each frame is read when it is due, so its delivery follows by the
    // read; the first read after Run (a scaler to set up) may take a
    // little longer than the last.
    constexpr double kDeliveryGrainSeconds = 0.01;
    EXPECT_GE(seconds + kDeliveryGrainSeconds, static_cast<double>(intervals) * kFrameTime / 1e7)
        << "frames came faster than the set rate";
}
