// The streaming worker: its command protocol, the sample loop's endings,
// the pacing wait, and a worker that must end although nobody stopped it.
#include <gtest/gtest.h>

#include <dshow.h>

#include "tests/framework/test_graph.h"
#include "tests/support/fake_pins.h"

using namespace qmtest;

namespace {

HRESULT Call(CSourceStream* stream, DWORD command) {
    return static_cast<HRESULT>(stream->CallWorker(command));
}

// A source pin connected straight to the platform's null renderer, which
// runs without a clock and so takes every sample at once.
class WorkerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TestSource::Create(&source));
        stream = source->Stream(0);
        ASSERT_EQ(S_OK, ConnectToNullRenderer(source->Pin(0), &renderer));
        ASSERT_EQ(S_OK, renderer->SetSyncSource(nullptr));
        ASSERT_HRESULT_SUCCEEDED(renderer->Run(0));
    }
    void TearDown() override {
        source->Stop();
        renderer->Stop();
        Unhook(source->Pin(0));
    }

    ComPtr<TestSource> source;
    TestStream* stream = nullptr;
    ComPtr<IBaseFilter> renderer;
};

// A source pin connected to a fake downstream pin, for the faults that
// the platform's filters do not produce.
template <typename Peer = FakeInputPin>
class FakePeerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TestSource::Create(&source, 1, &lifetime));
        stream = source->Stream(0);
        peer = MakeFake<Peer>();
    }
    void TearDown() override {
        if (source) {
            source->Stop();
            Unhook(source->Pin(0));
        }
    }
    HRESULT ConnectPeer() { return source->Pin(0)->Connect(peer.Get(), nullptr); }

    SourceLifetime lifetime;
    ComPtr<TestSource> source;
    TestStream* stream = nullptr;
    ComPtr<Peer> peer;
};

// Tells the worker to send no more samples.
class RefusingReceiver : public FakeInputPin {
public:
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        FakeInputPin::Receive(sample);
        return S_FALSE;
    }
};

// An allocator that never has a buffer to give.
class EmptyAllocator : public FakeAllocator {
public:
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override {
        ++m_getBufferCalls;
        if (sample != nullptr) {
            *sample = nullptr;
        }
        return E_OUTOFMEMORY;
    }
};

// An allocator whose Decommit fails, while refusal is on, without
// decommitting: its buffers keep coming.
class DecommitRefusingAllocator : public FakeAllocator {
public:
    HRESULT STDMETHODCALLTYPE Decommit() override {
        ++m_decommits;
        return refuse ? VFW_E_WRONG_STATE : FakeAllocator::Decommit();
    }
    LONG Decommits() const { return m_decommits.load(); }
    std::atomic<bool> refuse{true};

private:
    std::atomic<LONG> m_decommits{0};
};

// Releases the last reference on another thread, which may block.
class ReleaseThread {
public:
    explicit ReleaseThread(ComPtr<TestSource>&& source) : m_source(std::move(source)) {
        m_thread = ::CreateThread(nullptr, 0, &ReleaseThread::Run, this, 0, nullptr);
    }
    ~ReleaseThread() { Join(INFINITE); }
    // True once the release has returned.
    bool Join(DWORD timeoutMs) {
        if (m_thread == nullptr) {
            return true;
        }
        if (::WaitForSingleObject(m_thread, timeoutMs) != WAIT_OBJECT_0) {
            return false;
        }
        ::CloseHandle(m_thread);
        m_thread = nullptr;
        return true;
    }

private:
    static DWORD WINAPI Run(LPVOID self) {
        static_cast<ReleaseThread*>(self)->m_source.Reset();
        return 0;
    }
    ComPtr<TestSource> m_source;
    HANDLE m_thread = nullptr;
};

using FakeInputTest = FakePeerTest<FakeInputPin>;
using RefusingReceiverTest = FakePeerTest<RefusingReceiver>;

}  // namespace

TEST_F(WorkerTest, PauseStartsTheWorkerAndStopEndsIt) {
    ASSERT_EQ(S_OK, source->Pause());
    EXPECT_TRUE(stream->ThreadExists());
    EXPECT_TRUE(WaitUntil([&] { return stream->filled.load() >= 10; }));
    // The worker lives in the multithreaded apartment.
    EXPECT_EQ(APTTYPE_MTA, stream->workerApartment.load());
    // Already active: a second activation changes nothing.
    EXPECT_EQ(S_FALSE, stream->Active());
    ASSERT_EQ(S_OK, source->Stop());
    EXPECT_FALSE(stream->ThreadExists());
    EXPECT_EQ(1, stream->threadCreates.load());
    EXPECT_EQ(1, stream->threadDestroys.load());
    // The allocator is decommitted again.
    ComPtr<IMediaSample> sample;
    EXPECT_EQ(VFW_E_NOT_COMMITTED, stream->GetDeliveryBuffer(&sample, nullptr, nullptr, 0));
}

TEST_F(WorkerTest, TheWorkerFollowsItsCommandProtocol) {
    ASSERT_EQ(S_OK, stream->BaseActive());
    ASSERT_TRUE(stream->Create());
    EXPECT_FALSE(stream->Create());

    // Created: only CMD_INIT is understood.
    EXPECT_EQ(E_UNEXPECTED, Call(stream, CSourceStream::CMD_PAUSE));
    EXPECT_EQ(E_UNEXPECTED, Call(stream, CSourceStream::CMD_STOP));
    EXPECT_EQ(0, stream->threadCreates.load());
    EXPECT_EQ(S_OK, Call(stream, CSourceStream::CMD_INIT));
    EXPECT_EQ(1, stream->threadCreates.load());

    // Idle: a second CMD_INIT and unknown codes are not implemented.
    EXPECT_EQ(E_NOTIMPL, Call(stream, CSourceStream::CMD_INIT));
    EXPECT_EQ(E_NOTIMPL, Call(stream, 99));
    EXPECT_EQ(S_OK, Call(stream, CSourceStream::CMD_STOP));

    // CMD_RUN starts streaming just as CMD_PAUSE does.
    EXPECT_EQ(S_OK, Call(stream, CSourceStream::CMD_RUN));
    EXPECT_TRUE(WaitUntil([&] { return stream->filled.load() >= 3; }));

    // Streaming: CMD_EXIT and CMD_INIT are refused and streaming goes on;
    // CMD_PAUSE is answered and streaming goes on.
    EXPECT_EQ(E_UNEXPECTED, Call(stream, CSourceStream::CMD_EXIT));
    LONG filled = stream->filled.load();
    EXPECT_TRUE(WaitUntil([&] { return stream->filled.load() > filled + 3; }));
    EXPECT_EQ(E_UNEXPECTED, Call(stream, CSourceStream::CMD_INIT));
    EXPECT_EQ(S_OK, Call(stream, CSourceStream::CMD_PAUSE));
    filled = stream->filled.load();
    EXPECT_TRUE(WaitUntil([&] { return stream->filled.load() > filled + 3; }));

    // CMD_STOP ends streaming; the idle worker then exits on CMD_EXIT.
    EXPECT_EQ(S_OK, Call(stream, CSourceStream::CMD_STOP));
    EXPECT_EQ(S_OK, Call(stream, CSourceStream::CMD_EXIT));
    stream->Close();
    EXPECT_FALSE(stream->ThreadExists());
    EXPECT_EQ(1, stream->threadDestroys.load());
    EXPECT_EQ(E_FAIL, Call(stream, CSourceStream::CMD_INIT));
    EXPECT_EQ(S_OK, stream->BaseInactive());
}

TEST_F(WorkerTest, AFailedStartUpDoesNotBlockTheNextPause) {
    stream->onThreadCreateResult = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, source->Pause());
    EXPECT_EQ(State_Stopped, source->State());
    // The ended worker's handle is closed and the allocator given back.
    EXPECT_FALSE(stream->ThreadExists());
    EXPECT_EQ(1, stream->threadDestroys.load());
    ComPtr<IMediaSample> sample;
    EXPECT_EQ(VFW_E_NOT_COMMITTED, stream->GetDeliveryBuffer(&sample, nullptr, nullptr, 0));

    stream->onThreadCreateResult = S_OK;
    ASSERT_EQ(S_OK, source->Pause());
    EXPECT_TRUE(WaitUntil([&] { return stream->filled.load() > 0; }));
    EXPECT_EQ(S_OK, source->Stop());
    EXPECT_FALSE(stream->ThreadExists());
}

TEST_F(WorkerTest, ARequestToAnEndedWorkerFailsInsteadOfWaitingForEver) {
    stream->onThreadCreateResult = E_ACCESSDENIED;
    ASSERT_TRUE(stream->Create());
    EXPECT_EQ(E_ACCESSDENIED, Call(stream, CSourceStream::CMD_INIT));
    // The worker has ended; its handle is still recorded.
    EXPECT_EQ(E_FAIL, Call(stream, CSourceStream::CMD_PAUSE));
    EXPECT_EQ(E_FAIL, Call(stream, CSourceStream::CMD_EXIT));
    // Create replaces the ended worker with a new one.
    stream->onThreadCreateResult = S_OK;
    ASSERT_TRUE(stream->Create());
    EXPECT_EQ(S_OK, Call(stream, CSourceStream::CMD_INIT));
    EXPECT_EQ(S_OK, Call(stream, CSourceStream::CMD_EXIT));
    stream->Close();
    EXPECT_EQ(2, stream->threadCreates.load());
    EXPECT_EQ(2, stream->threadDestroys.load());
}

TEST_F(WorkerTest, ThePacingWaitEndsAtOnceWhenACommandArrives) {
    // A frame wait of an hour: only the stop request can end it.
    stream->paceMs = 3600 * 1000;
    ASSERT_EQ(S_OK, source->Pause());
    ASSERT_TRUE(WaitUntil([&] { return stream->pacing.load(); }));
    ASSERT_EQ(S_OK, source->Stop());
    EXPECT_TRUE(stream->paceEndedByRequest.load());
    EXPECT_FALSE(stream->ThreadExists());
}

TEST(UnconnectedWorkerTest, AnUnconnectedPinStartsNoWorker) {
    ComPtr<TestSource> source;
    ASSERT_EQ(S_OK, TestSource::Create(&source));
    TestStream* stream = source->Stream(0);
    EXPECT_EQ(S_OK, stream->Active());
    EXPECT_EQ(S_OK, source->Pause());
    EXPECT_FALSE(stream->ThreadExists());
    EXPECT_EQ(S_OK, source->Run(0));
    EXPECT_EQ(S_OK, source->Stop());
    EXPECT_EQ(S_OK, stream->Inactive());
    EXPECT_EQ(0, stream->threadCreates.load());
    EXPECT_EQ(E_FAIL, Call(stream, CSourceStream::CMD_INIT));
}

TEST_F(FakeInputTest, EndOfStreamFromFillBufferGoesDownstream) {
    stream->samplesBeforeEnd = 3;
    stream->fillEndResult = S_FALSE;
    ASSERT_EQ(S_OK, ConnectPeer());
    ASSERT_EQ(S_OK, source->Pause());
    ASSERT_TRUE(WaitUntil([&] { return peer->EndOfStreams() == 1; }));
    EXPECT_EQ(3, peer->Samples());
    // The samples carried contiguous times from 0.
    const auto times = peer->Times();
    ASSERT_EQ(3u, times.size());
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * kTestFrameTime, times[i].first);
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i + 1) * kTestFrameTime, times[i].second);
    }
    // The worker idles until the filter stops.
    EXPECT_TRUE(stream->ThreadExists());
    EXPECT_EQ(S_OK, source->Stop());
    EXPECT_FALSE(stream->ThreadExists());
    EXPECT_EQ(1, peer->EndOfStreams());
}

TEST_F(FakeInputTest, AFillThatARequestCutShortDeliversNothing) {
    // A frame due in an hour, and the stop request comes first: the frame
    // must not leave early.
    stream->paceMs = 3600 * 1000;
    stream->noSampleWhenInterrupted = true;
    ASSERT_EQ(S_OK, ConnectPeer());
    ASSERT_EQ(S_OK, source->Pause());
    ASSERT_TRUE(WaitUntil([&] { return stream->pacing.load(); }));
    ASSERT_EQ(S_OK, source->Stop());
    EXPECT_TRUE(stream->paceEndedByRequest.load());
    EXPECT_EQ(0, peer->Samples());
    EXPECT_EQ(0, peer->EndOfStreams()) << "no sample is no end of the stream";
    EXPECT_FALSE(stream->ThreadExists());
}

TEST_F(FakeInputTest, AFillErrorEndsTheStream) {
    stream->samplesBeforeEnd = 2;
    stream->fillEndResult = E_ACCESSDENIED;
    ASSERT_EQ(S_OK, ConnectPeer());
    ASSERT_EQ(S_OK, source->Pause());
    ASSERT_TRUE(WaitUntil([&] { return peer->EndOfStreams() == 1; }));
    EXPECT_EQ(2, peer->Samples());
    EXPECT_EQ(S_OK, source->Stop());
    EXPECT_EQ(3, stream->fillCalls.load());
}

TEST_F(RefusingReceiverTest, ADownstreamRefusalStopsStreamingQuietly) {
    ASSERT_EQ(S_OK, ConnectPeer());
    ASSERT_EQ(S_OK, source->Pause());
    ASSERT_TRUE(WaitUntil([&] { return peer->Samples() == 1; }));
    EXPECT_EQ(S_OK, source->Stop());
    EXPECT_FALSE(stream->ThreadExists());
    // One sample, then nothing: no end of stream either.
    EXPECT_EQ(1, peer->Samples());
    EXPECT_EQ(1, stream->fillCalls.load());
    EXPECT_EQ(0, peer->EndOfStreams());
}

TEST_F(FakeInputTest, AWorkerWithoutBuffersKeepsTryingAndStillStops) {
    auto allocator = MakeFake<EmptyAllocator>();
    ASSERT_TRUE(allocator->ok());
    peer->OfferAllocator(allocator.Get());
    ASSERT_EQ(S_OK, ConnectPeer());
    ASSERT_EQ(allocator.Get(), stream->Allocator());
    ASSERT_EQ(S_OK, source->Pause());
    EXPECT_TRUE(WaitUntil([&] { return allocator->GetBufferCalls() >= 5; }));
    EXPECT_EQ(S_OK, source->Stop());
    EXPECT_FALSE(stream->ThreadExists());
    EXPECT_EQ(0, stream->fillCalls.load());
}

TEST_F(FakeInputTest, AWorkerWithoutBuffersWaitsBetweenTriesInsteadOfSpinning) {
    auto allocator = MakeFake<EmptyAllocator>();
    ASSERT_TRUE(allocator->ok());
    peer->OfferAllocator(allocator.Get());
    ASSERT_EQ(S_OK, ConnectPeer());
    ASSERT_EQ(S_OK, source->Pause());
    ASSERT_TRUE(WaitUntil([&] { return allocator->GetBufferCalls() >= 1; }));
    const LONG first = allocator->GetBufferCalls();
    ::Sleep(500);
    const LONG tries = allocator->GetBufferCalls() - first;
    // It waits on its request event between tries: a few dozen tries in
    // half a second, not hundreds (a busy machine makes fewer, never more).
    EXPECT_LE(tries, 100) << "tries in 500 ms";
    EXPECT_GE(tries, 2) << "tries in 500 ms";
    EXPECT_EQ(S_OK, source->Stop());
    EXPECT_FALSE(stream->ThreadExists());
}

TEST_F(FakeInputTest, AFilterReleasedWhilePausedEndsItsWorker) {
    ASSERT_EQ(S_OK, ConnectPeer());
    ASSERT_EQ(S_OK, source->Pause());
    ASSERT_TRUE(WaitUntil([&] { return peer->Samples() >= 5; }));
    // The peer lets go of our pin; the host drops the filter unstopped.
    peer->Disconnect();
    source.Reset();
    EXPECT_TRUE(lifetime.destroyed.load());
    // The worker ended before any part of the filter was destroyed.
    EXPECT_EQ(1, lifetime.workersEnded.load());
    // Our pin let go of the peer too.
    EXPECT_EQ(1, peer->RefCount());
}

TEST_F(RefusingReceiverTest, AFilterReleasedWhileRunningWithAnIdleWorkerEndsIt) {
    ASSERT_EQ(S_OK, ConnectPeer());
    ASSERT_EQ(S_OK, source->Run(0));
    ASSERT_TRUE(WaitUntil([&] { return peer->Samples() == 1; }));
    peer->Disconnect();
    source.Reset();
    EXPECT_TRUE(lifetime.destroyed.load());
    // The worker ended before any part of the filter was destroyed.
    EXPECT_EQ(1, lifetime.workersEnded.load());
    EXPECT_EQ(1, peer->RefCount());
}

TEST_F(FakeInputTest, AStopWhoseDecommitFailsStillEndsTheWorker) {
    auto allocator = MakeFake<DecommitRefusingAllocator>();
    ASSERT_TRUE(allocator->ok());
    peer->OfferAllocator(allocator.Get());
    ASSERT_EQ(S_OK, ConnectPeer());
    ASSERT_EQ(S_OK, source->Pause());
    ASSERT_TRUE(WaitUntil([&] { return peer->Samples() >= 3; }));
    // The failure is reported, but no worker is left behind it.
    EXPECT_EQ(VFW_E_WRONG_STATE, source->Stop());
    EXPECT_FALSE(stream->ThreadExists());
    EXPECT_EQ(1, stream->threadDestroys.load());
    const LONG samples = peer->Samples();
    ::Sleep(50);
    EXPECT_EQ(samples, peer->Samples()) << "samples still arrive after Stop";
    allocator->refuse = false;
    EXPECT_EQ(S_OK, source->Pause());
    EXPECT_EQ(S_OK, source->Stop());
    source->Pin(0)->Disconnect();
    peer->Disconnect();
    peer->OfferAllocator(nullptr);
}

TEST_F(FakeInputTest, AFilterReleasedWhenItsDecommitFailsEndsItsWorkerWhileThePinIsWhole) {
    auto allocator = MakeFake<DecommitRefusingAllocator>();
    ASSERT_TRUE(allocator->ok());
    peer->OfferAllocator(allocator.Get());
    ASSERT_EQ(S_OK, ConnectPeer());
    ASSERT_EQ(S_OK, source->Pause());
    ASSERT_TRUE(WaitUntil([&] { return peer->Samples() >= 3; }));
    peer->Disconnect();
    source.Reset();
    EXPECT_TRUE(lifetime.destroyed.load());
    // The pin's own OnThreadDestroy ran: the worker ended before any part
    // of the pin went.
    EXPECT_EQ(1, lifetime.workersEnded.load());
    EXPECT_EQ(1, peer->RefCount());
    allocator->refuse = false;
    allocator->Decommit();
    peer->OfferAllocator(nullptr);
}

TEST_F(FakeInputTest, AFilterReleasedDuringABlockedFillWaitsForItWithThePinWhole) {
    // With an allocator that decommits, and with one that refuses to.
    for (const bool refusingAllocator : {false, true}) {
        SCOPED_TRACE(refusingAllocator ? "Decommit fails" : "Decommit works");
        SourceLifetime life;
        ComPtr<TestSource> filter;
        ASSERT_EQ(S_OK, TestSource::Create(&filter, 1, &life));
        TestStream* pin = filter->Stream(0);
        auto input = MakeFake<FakeInputPin>();
        auto allocator = MakeFake<DecommitRefusingAllocator>();
        ASSERT_TRUE(allocator->ok());
        allocator->refuse = refusingAllocator;
        input->OfferAllocator(allocator.Get());
        ASSERT_EQ(S_OK, filter->Pin(0)->Connect(input.Get(), nullptr));
        UniqueHandle gate(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        pin->fillGate = gate.get();
        ASSERT_EQ(S_OK, filter->Pause());
        ASSERT_TRUE(WaitUntil([&] { return pin->inGatedFill.load(); }));
        input->Disconnect();
        {
            ReleaseThread release(std::move(filter));
            // The release waits for the fill, which the test holds up.
            EXPECT_FALSE(release.Join(200)) << "the release did not wait for the fill";
            EXPECT_FALSE(life.destroyed.load());
            EXPECT_FALSE(life.streamDestroyed.load());
            ::SetEvent(gate.get());
            EXPECT_TRUE(release.Join(20000)) << "the release hangs after the fill ended";
        }
        EXPECT_TRUE(life.destroyed.load());
        EXPECT_EQ(0, life.fillsInDestroyedStream.load()) << "the fill ran on in a destroyed pin";
        EXPECT_EQ(1, life.workersEnded.load());
        EXPECT_EQ(1, input->RefCount());
        allocator->refuse = false;
        allocator->Decommit();
        input->OfferAllocator(nullptr);
    }
}

TEST_F(FakeInputTest, APauseWhoseWorkerRefusesToStreamLeavesNoWorker) {
    stream->pauseRefusal = E_ACCESSDENIED;
    ASSERT_EQ(S_OK, ConnectPeer());
    EXPECT_EQ(E_ACCESSDENIED, source->Pause());
    EXPECT_EQ(State_Stopped, source->State());
    // The pin that failed was taken back: no worker, no committed buffers.
    EXPECT_FALSE(stream->ThreadExists());
    EXPECT_EQ(1, stream->threadDestroys.load());
    ComPtr<IMediaSample> sample;
    EXPECT_EQ(VFW_E_NOT_COMMITTED, stream->GetDeliveryBuffer(&sample, nullptr, nullptr, 0));
    // And the next Pause starts afresh.
    stream->pauseRefusal = S_OK;
    ASSERT_EQ(S_OK, source->Pause());
    EXPECT_TRUE(WaitUntil([&] { return peer->Samples() >= 1; }));
    EXPECT_EQ(S_OK, source->Stop());
    EXPECT_FALSE(stream->ThreadExists());
}

TEST_F(FakeInputTest, APinDestroyedWithALiveWorkerEndsIt) {
    ASSERT_EQ(S_OK, ConnectPeer());
    HRESULT hr = S_OK;
    // A second pin whose workers never got a Stop: one idle, one still
    // waiting for its start-up command.
    auto* idle = new TestStream(&hr, source.Get(), L"Idle");
    ASSERT_EQ(S_OK, hr);
    ASSERT_TRUE(idle->Create());
    ASSERT_EQ(S_OK, Call(idle, CSourceStream::CMD_INIT));
    delete idle;
    auto* waiting = new TestStream(&hr, source.Get(), L"Waiting");
    ASSERT_EQ(S_OK, hr);
    ASSERT_TRUE(waiting->Create());
    delete waiting;
    EXPECT_EQ(1, source->GetPinCount());
}

TEST(SourceStreamTypesTest, TheDefaultsServeOneFixedFormat) {
    ComPtr<TestSource> source;
    ASSERT_EQ(S_OK, TestSource::Create(&source));
    TestStream* stream = source->Stream(0);
    CMediaType mt;
    EXPECT_EQ(S_OK, stream->CSourceStream::GetMediaType(0, &mt));
    EXPECT_TRUE(mt == TestFormat());
    EXPECT_EQ(VFW_S_NO_MORE_ITEMS, stream->CSourceStream::GetMediaType(1, &mt));
    EXPECT_EQ(E_INVALIDARG, stream->CSourceStream::GetMediaType(-1, &mt));
    EXPECT_EQ(E_POINTER, stream->CSourceStream::GetMediaType(0, nullptr));

    const CMediaType format = TestFormat();
    EXPECT_EQ(S_OK, stream->CSourceStream::CheckMediaType(&format));
    const CMediaType other = MakeRgbType(32, 32);
    EXPECT_EQ(E_FAIL, stream->CSourceStream::CheckMediaType(&other));
    EXPECT_EQ(E_POINTER, stream->CSourceStream::CheckMediaType(nullptr));
    // Without a format of its own a pin has nothing to offer.
    EXPECT_EQ(E_UNEXPECTED, stream->CSourceStream::GetMediaType(&mt));
    // A pin that cannot say its format says why, rather than "no match".
    stream->formatResult = E_OUTOFMEMORY;
    EXPECT_EQ(E_OUTOFMEMORY, stream->CSourceStream::CheckMediaType(&format));
}
