// Faults: task-memory allocations failing one at a time across whole
// operations (each must succeed or fail with E_OUTOFMEMORY, and leak
// nothing), and downstream pins and allocators that refuse: types, Commit,
// GetBuffer, Receive. The errors must be clean and Stop must complete.
#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "settings/capture_device_ids.h"
#include "settings/capture_device_settings.h"
#include "framework/com_util.h"
#include "framework/unknown.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/malloc_spy.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

// More allocations than any single operation here makes.
constexpr long kMaxAllocationsPerOperation = 400;
constexpr DWORD kStreamTimeoutMs = 20000;
constexpr DWORD kStateChangeTimeoutMs = 60000;
// One type per size of the table, the stored size in the first place.
// Every size in RGB24, NV12, YUY2, I420 and RGB32.
constexpr ULONG kOfferedTypes = 50;

class AllocationFaultTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sandbox.ok());
        ASSERT_EQ(S_OK, CreateCaptureFilter(&m_filter));
        ASSERT_EQ(S_OK, GetPin(m_filter.Get(), PINDIR_OUTPUT, &m_pin));
        ASSERT_EQ(S_OK, m_filter.As(&m_config));
        AM_MEDIA_TYPE* current = nullptr;
        ASSERT_EQ(S_OK, m_config->GetFormat(&current));
        m_current = *current;
        DeleteMediaType(current);
        ASSERT_TRUE(m_spy.registered());
    }

    // Runs `operation` once with each of its task-memory allocations made to
    // fail in turn (the first, then the second, ...), until a run sees no
    // injected failure. The operation releases whatever it obtained; each
    // run must end with S_OK or E_OUTOFMEMORY, no task memory and no object
    // left, and the device's current format as it was.
    // `undo`, when given, takes back a successful operation's change once
    // the allocations succeed again. Every operation swept here allocates
    // task memory, so a first run without an injected failure means the
    // sweep tested nothing: that fails too.
    void SweepAllocationFailures(const char* what, const std::function<HRESULT()>& operation,
                                 const std::function<void()>& undo = nullptr) {
        for (long n = 0; n < kMaxAllocationsPerOperation; ++n) {
            SCOPED_TRACE(std::string(what) + ", allocation " + std::to_string(n) + " failing");
            const long outstanding = m_spy.outstanding();
            const LONG objects = CBaseObject::ObjectsActive();
            m_spy.FailAllocation(n);
            const HRESULT hr = operation();
            const long failures = m_spy.failures();
            m_spy.Disarm();
            if (hr == S_OK && undo) {
                undo();
            }
            EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY) << "result 0x" << std::hex << hr;
            EXPECT_EQ(outstanding, m_spy.outstanding()) << "task memory leaked";
            EXPECT_EQ(objects, CBaseObject::ObjectsActive()) << "an object leaked";
            ExpectCurrentFormatUnchanged();
            if (HasFailure()) {
                return;
            }
            if (failures == 0) {
                EXPECT_GT(n, 0) << what << " made no task-memory allocation, so no failure was injected";
                EXPECT_EQ(S_OK, hr) << "the operation failed with no allocation failing";
                return;
            }
        }
        ADD_FAILURE() << what << " makes more than " << kMaxAllocationsPerOperation << " allocations";
    }

    void ExpectCurrentFormatUnchanged() {
        AM_MEDIA_TYPE* now = nullptr;
        ASSERT_EQ(S_OK, m_config->GetFormat(&now));
        EXPECT_TRUE(*CMediaType::From(now) == m_current) << "the current format changed";
        DeleteMediaType(now);
    }

    RegistrySandbox m_sandbox;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPin> m_pin;
    ComPtr<IAMStreamConfig> m_config;
    CMediaType m_current;
    MallocSpy m_spy;
};

// Enumerates every type one at a time; a short list counts as a failure.
HRESULT EnumerateOneByOne(IPin* pin) {
    ComPtr<IEnumMediaTypes> types;
    RETURN_IF_FAILED(pin->EnumMediaTypes(&types));
    ULONG count = 0;
    for (;;) {
        AM_MEDIA_TYPE* type = nullptr;
        ULONG fetched = 0;
        const HRESULT hr = types->Next(1, &type, &fetched);
        if (FAILED(hr)) {
            RETURN_HR_IF(E_UNEXPECTED, fetched != 0 || type != nullptr);
            return hr;
        }
        if (hr == S_FALSE) {
            RETURN_HR_IF(E_UNEXPECTED, fetched != 0);
            break;
        }
        RETURN_HR_IF(E_UNEXPECTED, type == nullptr || type->cbFormat < sizeof(VIDEOINFOHEADER) ||
                                       type->pbFormat == nullptr);
        DeleteMediaType(type);
        ++count;
    }
    // S_FALSE before the last type would be a failure passed off as the
    // end of the list.
    return count == kOfferedTypes ? S_OK : E_FAIL;
}

HRESULT EnumerateAtOnce(IPin* pin) {
    ComPtr<IEnumMediaTypes> types;
    RETURN_IF_FAILED(pin->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* all[kOfferedTypes + 1] = {};
    ULONG fetched = 0;
    const HRESULT hr = types->Next(kOfferedTypes + 1, all, &fetched);
    for (ULONG i = 0; i < fetched && i <= kOfferedTypes; ++i) {
        DeleteMediaType(all[i]);
    }
    if (FAILED(hr)) {
        RETURN_HR_IF(E_UNEXPECTED, fetched != 0);
        return hr;
    }
    return hr == S_FALSE && fetched == kOfferedTypes ? S_OK : E_FAIL;
}

}  // namespace

TEST_F(AllocationFaultTest, MediaTypeEnumeration) {
    SweepAllocationFailures("Next(1) to the end", [&] { return EnumerateOneByOne(m_pin.Get()); });
    SweepAllocationFailures("Next(all and one more)", [&] { return EnumerateAtOnce(m_pin.Get()); });
}

TEST_F(AllocationFaultTest, GetFormat) {
    SweepAllocationFailures("GetFormat", [&] {
        AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
        const HRESULT hr = m_config->GetFormat(&type);
        if (FAILED(hr)) {
            return type == nullptr ? hr : E_UNEXPECTED;
        }
        const bool whole = *CMediaType::From(type) == m_current;
        DeleteMediaType(type);
        return whole ? hr : E_UNEXPECTED;
    });
}

TEST_F(AllocationFaultTest, GetStreamCaps) {
    for (int index = 0; index < 6; ++index) {
        SweepAllocationFailures(("GetStreamCaps " + std::to_string(index)).c_str(), [&] {
            AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
            VIDEO_STREAM_CONFIG_CAPS caps = {};
            const HRESULT hr = m_config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps));
            if (FAILED(hr)) {
                return type == nullptr ? hr : E_UNEXPECTED;
            }
            const bool whole = type->pbFormat != nullptr && type->cbFormat >= sizeof(VIDEOINFOHEADER);
            DeleteMediaType(type);
            return whole ? hr : E_UNEXPECTED;
        });
    }
}

TEST_F(AllocationFaultTest, GetPages) {
    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(S_OK, m_filter.As(&pages));
    SweepAllocationFailures("GetPages", [&] {
        CAUUID ids = {7, reinterpret_cast<GUID*>(1)};
        const HRESULT hr = pages->GetPages(&ids);
        if (FAILED(hr)) {
            return ids.pElems == nullptr && ids.cElems == 0 ? hr : E_UNEXPECTED;
        }
        const bool right = ids.cElems == 2 && IsEqualGUID(ids.pElems[0], CLSID_CaptureDeviceProp) &&
                           IsEqualGUID(ids.pElems[1], CLSID_CaptureWindowProp);
        ::CoTaskMemFree(ids.pElems);
        return right ? hr : E_UNEXPECTED;
    });
}

TEST_F(AllocationFaultTest, QueryId) {
    SweepAllocationFailures("QueryId", [&] {
        LPWSTR id = reinterpret_cast<LPWSTR>(1);
        const HRESULT hr = m_pin->QueryId(&id);
        if (FAILED(hr)) {
            return id == nullptr ? hr : E_UNEXPECTED;
        }
        const bool right = std::wcscmp(id, L"1") == 0;
        ::CoTaskMemFree(id);
        return right ? hr : E_UNEXPECTED;
    });
}

TEST_F(AllocationFaultTest, FormatChanges) {
    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, m_filter.As(&settings));
    AM_MEDIA_TYPE* largest = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, m_config->GetStreamCaps(5, &largest, reinterpret_cast<BYTE*>(&caps)));
    CMediaType target(*largest);
    DeleteMediaType(largest);
    reinterpret_cast<VIDEOINFOHEADER*>(target.pbFormat)->AvgTimePerFrame = 333333;
    // Each change either happens whole or leaves the format as it was.
    const auto expectChanged = [&](int width, int height) {
        int size[2] = {};
        settings->GetFrameSize(size);
        return size[0] == width && size[1] == height ? S_OK : E_UNEXPECTED;
    };
    SweepAllocationFailures(
        "SetFormat", [&] {
            const HRESULT hr = m_config->SetFormat(&target);
            return FAILED(hr) ? hr : expectChanged(1136, 640);
        },
        [&] { EXPECT_EQ(S_OK, m_config->SetFormat(&m_current)); });
    SweepAllocationFailures(
        "SetSelectPixel", [&] {
            const HRESULT hr = settings->SetSelectPixel(3);
            return FAILED(hr) ? hr : expectChanged(568, 320);
        },
        [&] { EXPECT_EQ(S_OK, settings->SetSelectPixel(0)); });
    SweepAllocationFailures(
        "SetFrameSize", [&] {
            const int size[2] = {852, 480};
            const HRESULT hr = settings->SetFrameSize(size);
            return FAILED(hr) ? hr : expectChanged(852, 480);
        },
        [&] {
            const int size[2] = {204, 360};
            EXPECT_EQ(S_OK, settings->SetFrameSize(size));
        });
}

TEST_F(AllocationFaultTest, ConnectionAndConnectionMediaType) {
    const auto connect = [&](const AM_MEDIA_TYPE* type) {
        auto peer = MakeFake<FakeInputPin>();
        const HRESULT hr = m_pin->Connect(peer.Get(), type);
        ComPtr<IPin> connected;
        const HRESULT connectedTo = m_pin->ConnectedTo(&connected);
        if (FAILED(hr)) {
            // A failed connection leaves both ends unconnected.
            return connectedTo == VFW_E_NOT_CONNECTED && peer->Connector() == nullptr ? hr : E_UNEXPECTED;
        }
        connected.Reset();
        const bool unchanged = peer->ReceivedTypes().size() == 1;
        CMediaType agreed;
        const HRESULT hrType = m_pin->ConnectionMediaType(&agreed);
        RETURN_HR_IF(E_UNEXPECTED, hrType == S_OK && !(agreed == m_current));
        m_pin->Disconnect();
        peer->Disconnect();
        if (!unchanged) {
            return E_UNEXPECTED;
        }
        return hrType;
    };
    SweepAllocationFailures("Connect without a type", [&] { return connect(nullptr); });
    SweepAllocationFailures("Connect with the current type", [&] { return connect(&m_current); });
}

TEST_F(AllocationFaultTest, ConnectionMediaTypeWhileConnected) {
    auto peer = MakeFake<FakeInputPin>();
    ASSERT_EQ(S_OK, m_pin->Connect(peer.Get(), nullptr));
    SweepAllocationFailures("ConnectionMediaType", [&] {
        AM_MEDIA_TYPE agreed = {};
        const HRESULT hr = m_pin->ConnectionMediaType(&agreed);
        if (FAILED(hr)) {
            return agreed.pbFormat == nullptr && agreed.cbFormat == 0 ? hr : E_UNEXPECTED;
        }
        // Success means a whole type, format block included.
        const bool whole = *CMediaType::From(&agreed) == m_current;
        FreeMediaType(agreed);
        return whole ? hr : E_UNEXPECTED;
    });
    EXPECT_EQ(S_OK, m_pin->Disconnect());
}

namespace {

class DownstreamFaultTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sandbox.ok());
        ASSERT_EQ(S_OK, CreateCaptureFilter(&m_filter));
        ASSERT_EQ(S_OK, GetPin(m_filter.Get(), PINDIR_OUTPUT, &m_pin));
        m_graph = MakeFake<RecordingGraph>();
        ASSERT_EQ(S_OK, m_filter->JoinFilterGraph(m_graph.Get(), L"Capture"));
        m_threads = CountProcessThreads();
    }
    void TearDown() override {
        if (m_filter) {
            m_filter->Stop();
            m_pin->Disconnect();
            m_filter->JoinFilterGraph(nullptr, nullptr);
        }
        EXPECT_EQ(m_threads, CountProcessThreads()) << "a worker thread outlived its stream";
        EXPECT_TRUE(m_graph->Events().empty()) << "an event reached the graph";
    }
    FILTER_STATE State() {
        FILTER_STATE state = State_Running;
        m_filter->GetState(0, &state);
        return state;
    }

    RegistrySandbox m_sandbox;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPin> m_pin;
    ComPtr<RecordingGraph> m_graph;
    long m_threads = 0;
};

}  // namespace

TEST_F(DownstreamFaultTest, PeerThatRefusesEveryType) {
    auto peer = MakeFake<PickyInputPin>();
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, m_pin->Connect(peer.Get(), nullptr));
    AM_MEDIA_TYPE* current = nullptr;
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_filter.As(&config));
    ASSERT_EQ(S_OK, config->GetFormat(&current));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, m_pin->Connect(peer.Get(), current));
    DeleteMediaType(current);
    // Only the current type is acceptable to the pin itself, so that one
    // reached the peer each time.
    EXPECT_EQ(2u, peer->ReceivedTypes().size());
    ComPtr<IPin> connected;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_pin->ConnectedTo(&connected));
    EXPECT_EQ(1, peer->RefCount());
    // Unconnected, the filter changes state without a worker.
    EXPECT_EQ(S_OK, m_filter->Run(0));
    EXPECT_EQ(S_OK, m_filter->Stop());
}

TEST_F(DownstreamFaultTest, AllocatorWhoseCommitFails) {
    auto allocator = MakeFake<FaultyAllocator>();
    ASSERT_TRUE(allocator->ok());
    allocator->FailCommit(E_OUTOFMEMORY);
    auto peer = MakeFake<FakeInputPin>();
    peer->OfferAllocator(allocator.Get());
    ASSERT_EQ(S_OK, m_pin->Connect(peer.Get(), nullptr));
    ASSERT_EQ(allocator.Get(), peer->NotifiedAllocator());
    {
        Watchdog watchdog("Pause and Run with a failing Commit", kStateChangeTimeoutMs);
        EXPECT_EQ(E_OUTOFMEMORY, m_filter->Pause());
        EXPECT_EQ(State_Stopped, State());
        EXPECT_EQ(E_OUTOFMEMORY, m_filter->Run(0));
        EXPECT_EQ(State_Stopped, State());
        // The watchdog is the one thread more.
        EXPECT_EQ(m_threads + 1, CountProcessThreads()) << "a worker started without an allocator";
        EXPECT_EQ(S_OK, m_filter->Stop());
    }
    EXPECT_EQ(0, peer->Samples());
    // Once Commit works again, so does streaming.
    allocator->FailCommit(S_OK);
    {
        Watchdog watchdog("streaming after a failed Commit", kStateChangeTimeoutMs);
        ASSERT_EQ(S_OK, m_filter->Run(0));
        EXPECT_TRUE(WaitUntil([&] { return peer->Samples() >= 2; }, kStreamTimeoutMs));
        EXPECT_EQ(S_OK, m_filter->Stop());
    }
    EXPECT_EQ(S_OK, m_pin->Disconnect());
    peer->OfferAllocator(nullptr);
    peer.Reset();
    EXPECT_EQ(1, allocator->RefCount());
}

TEST_F(DownstreamFaultTest, AllocatorWhoseGetBufferAlwaysFails) {
    auto allocator = MakeFake<FaultyAllocator>();
    ASSERT_TRUE(allocator->ok());
    allocator->FailGetBuffer(1, E_OUTOFMEMORY);
    auto peer = MakeFake<FakeInputPin>();
    peer->OfferAllocator(allocator.Get());
    ASSERT_EQ(S_OK, m_pin->Connect(peer.Get(), nullptr));
    {
        Watchdog watchdog("Stop with a failing GetBuffer", kStateChangeTimeoutMs);
        ASSERT_EQ(S_OK, m_filter->Run(0));
        EXPECT_TRUE(WaitUntil([&] { return allocator->GetBufferCalls() >= 20; }, kStreamTimeoutMs));
        EXPECT_EQ(S_OK, m_filter->Stop());
    }
    EXPECT_EQ(0, peer->Samples());
    EXPECT_EQ(0, peer->EndOfStreams());
    const LONG calls = allocator->GetBufferCalls();
    PumpFor(50);
    EXPECT_EQ(calls, allocator->GetBufferCalls()) << "the worker still runs after Stop";
}

TEST_F(DownstreamFaultTest, AllocatorWhoseGetBufferFailsEveryOtherCall) {
    auto allocator = MakeFake<FaultyAllocator>();
    ASSERT_TRUE(allocator->ok());
    allocator->FailGetBuffer(2, VFW_E_TIMEOUT);
    auto peer = MakeFake<FakeInputPin>();
    peer->OfferAllocator(allocator.Get());
    ASSERT_EQ(S_OK, m_pin->Connect(peer.Get(), nullptr));
    {
        Watchdog watchdog("streaming with a flaky GetBuffer", kStateChangeTimeoutMs);
        ASSERT_EQ(S_OK, m_filter->Run(0));
        EXPECT_TRUE(WaitUntil([&] { return peer->Samples() >= 6; }, kStreamTimeoutMs));
        EXPECT_EQ(S_OK, m_filter->Stop());
    }
    // A failed GetBuffer costs no frame: the stamps stay contiguous.
    const auto times = peer->Times();
    ASSERT_GE(times.size(), 6u);
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * 333333, times[i].first) << "sample " << i;
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i + 1) * 333333, times[i].second) << "sample " << i;
    }
}

TEST_F(DownstreamFaultTest, ReceiveThatRefusesEndsTheStreamQuietly) {
    for (const HRESULT refusal : {S_FALSE, E_FAIL, VFW_E_WRONG_STATE, E_OUTOFMEMORY, VFW_E_RUNTIME_ERROR}) {
        SCOPED_TRACE(testing::Message() << "Receive answers 0x" << std::hex << refusal);
        constexpr LONG kAccepted = 3;
        auto peer = MakeFake<RefusingInputPin>(kAccepted, refusal);
        ASSERT_EQ(S_OK, m_pin->Connect(peer.Get(), nullptr));
        {
            Watchdog watchdog("Stop after a refused sample", kStateChangeTimeoutMs);
            ASSERT_EQ(S_OK, m_filter->Run(0));
            EXPECT_TRUE(WaitUntil([&] { return peer->Refused() == 1; }, kStreamTimeoutMs));
            // Nothing more is sent until the filter is started again.
            PumpFor(150);
            EXPECT_EQ(kAccepted, peer->Samples());
            EXPECT_EQ(0, peer->EndOfStreams());
            EXPECT_EQ(S_OK, m_filter->Stop());
            // Started again, it streams again.
            ASSERT_EQ(S_OK, m_filter->Run(0));
            EXPECT_TRUE(WaitUntil([&] { return peer->Samples() >= kAccepted + 2; }, kStreamTimeoutMs));
            EXPECT_EQ(S_OK, m_filter->Stop());
        }
        EXPECT_EQ(S_OK, m_pin->Disconnect());
        EXPECT_EQ(1, peer->RefCount());
    }
}
