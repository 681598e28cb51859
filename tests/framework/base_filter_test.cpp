// The filter base and the source filter: state transitions as the pins
// see them, the clock, graph membership, pin lookup and the pin table.
#include <gtest/gtest.h>

#include <dshow.h>
#include <evcode.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/framework/test_graph.h"

using namespace qmtest;

namespace {

using Calls = std::vector<std::string>;

// A source whose pins are connected straight to null renderers, without a
// graph: the pins see exactly what the filter tells them.
class FilterTest : public testing::Test {
protected:
    void Make(int pins, int connected) {
        ASSERT_EQ(S_OK, TestSource::Create(&source, pins));
        renderers.resize(static_cast<size_t>(connected));
        for (int i = 0; i < connected; ++i) {
            ASSERT_EQ(S_OK, ConnectToNullRenderer(source->Pin(i), &renderers[static_cast<size_t>(i)]));
        }
    }
    void TearDown() override {
        if (!source) {
            return;
        }
        source->Stop();
        for (int i = 0; i < source->GetPinCount(); ++i) {
            Unhook(source->Pin(i));
        }
    }
    Calls TakeCalls(int pin) {
        Calls calls;
        calls.swap(source->Stream(pin)->calls);
        return calls;
    }

    ComPtr<TestSource> source;
    std::vector<ComPtr<IBaseFilter>> renderers;
};

}  // namespace

TEST_F(FilterTest, TransitionsReachOnlyConnectedPinsAsTheTableSays) {
    Make(2, 1);
    IBaseFilter* filter = source.Get();

    // Stopped -> Stop: nothing.
    EXPECT_EQ(S_OK, filter->Stop());
    EXPECT_EQ(Calls{}, TakeCalls(0));

    // Stopped -> Pause: Active.
    EXPECT_EQ(S_OK, filter->Pause());
    EXPECT_EQ(State_Paused, source->State());
    EXPECT_EQ(Calls{"A"}, TakeCalls(0));
    EXPECT_TRUE(source->Stream(0)->ThreadExists());

    // Paused -> Pause: nothing.
    EXPECT_EQ(S_OK, filter->Pause());
    EXPECT_EQ(Calls{}, TakeCalls(0));

    // Paused -> Run: the pin's Run with the offset.
    EXPECT_EQ(S_OK, filter->Run(5));
    EXPECT_EQ(State_Running, source->State());
    EXPECT_EQ(5, source->StartOffset());
    EXPECT_EQ(Calls{"R5"}, TakeCalls(0));

    // Running -> Run: only the offset changes.
    EXPECT_EQ(S_OK, filter->Run(7));
    EXPECT_EQ(State_Running, source->State());
    EXPECT_EQ(7, source->StartOffset());
    EXPECT_EQ(Calls{}, TakeCalls(0));

    // Running -> Pause: nothing; the worker keeps streaming.
    EXPECT_EQ(S_OK, filter->Pause());
    EXPECT_EQ(State_Paused, source->State());
    EXPECT_EQ(Calls{}, TakeCalls(0));
    EXPECT_TRUE(source->Stream(0)->ThreadExists());

    // Paused -> Stop: Inactive, and the worker is gone.
    EXPECT_EQ(S_OK, filter->Stop());
    EXPECT_EQ(State_Stopped, source->State());
    EXPECT_EQ(Calls{"I"}, TakeCalls(0));
    EXPECT_FALSE(source->Stream(0)->ThreadExists());

    // Stopped -> Run: Pause through the interface (Active), then Run.
    const LONG pausesBefore = source->pauseCalls.load();
    EXPECT_EQ(S_OK, filter->Run(9));
    EXPECT_EQ(pausesBefore + 1, source->pauseCalls.load());
    EXPECT_EQ((Calls{"A", "R9"}), TakeCalls(0));

    // Running -> Stop: Inactive.
    EXPECT_EQ(S_OK, filter->Stop());
    EXPECT_EQ(Calls{"I"}, TakeCalls(0));

    // The unconnected pin saw nothing at all and started no worker.
    EXPECT_EQ(Calls{}, TakeCalls(1));
    EXPECT_EQ(0, source->Stream(1)->threadCreates.load());
}

TEST_F(FilterTest, AFailedPauseStaysStoppedAndTakesBackEarlierPins) {
    Make(2, 2);
    source->Stream(1)->onThreadCreateResult = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, source->Pause());
    EXPECT_EQ(State_Stopped, source->State());
    // Both pins were activated, then deactivated again: the one that
    // failed too, since it may have started something before it failed.
    EXPECT_EQ((Calls{"A", "I"}), TakeCalls(0));
    EXPECT_EQ((Calls{"A", "I"}), TakeCalls(1));
    EXPECT_FALSE(source->Stream(0)->ThreadExists());
    EXPECT_FALSE(source->Stream(1)->ThreadExists());

    // Nothing is left half-started: the next Pause works for both.
    source->Stream(1)->onThreadCreateResult = S_OK;
    EXPECT_EQ(S_OK, source->Pause());
    EXPECT_TRUE(source->Stream(0)->ThreadExists());
    EXPECT_TRUE(source->Stream(1)->ThreadExists());
    EXPECT_EQ(S_OK, source->Stop());
    EXPECT_FALSE(source->Stream(0)->ThreadExists());
    EXPECT_FALSE(source->Stream(1)->ThreadExists());
}

TEST_F(FilterTest, RunKeepsTheOffsetEvenWhenPauseFails) {
    Make(1, 1);
    source->Stream(0)->onThreadCreateResult = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, source->Run(42));
    EXPECT_EQ(42, source->StartOffset());
    EXPECT_EQ(State_Stopped, source->State());
    EXPECT_EQ((Calls{"A", "I"}), TakeCalls(0));
}

TEST_F(FilterTest, StopDeactivatesEveryPinAndReportsTheFirstFailure) {
    Make(2, 2);
    ASSERT_EQ(S_OK, source->Pause());
    source->Stream(0)->inactiveReport = E_ACCESSDENIED;
    source->Stream(1)->inactiveReport = E_FAIL;
    EXPECT_EQ(E_ACCESSDENIED, source->Stop());
    EXPECT_EQ(State_Stopped, source->State());
    EXPECT_EQ((Calls{"A", "I"}), TakeCalls(0));
    EXPECT_EQ((Calls{"A", "I"}), TakeCalls(1));
    EXPECT_FALSE(source->Stream(0)->ThreadExists());
    EXPECT_FALSE(source->Stream(1)->ThreadExists());
}

TEST_F(FilterTest, GetStateAnswersAtOnceWhateverTheTimeout) {
    Make(1, 1);
    FILTER_STATE state = State_Running;
    EXPECT_EQ(S_OK, source->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    ASSERT_EQ(S_OK, source->Pause());
    EXPECT_EQ(S_OK, source->GetState(INFINITE, &state));
    EXPECT_EQ(State_Paused, state);
    ASSERT_EQ(S_OK, source->Run(0));
    EXPECT_EQ(S_OK, source->GetState(10, &state));
    EXPECT_EQ(State_Running, state);
    EXPECT_EQ(E_POINTER, source->GetState(0, nullptr));
}

TEST_F(FilterTest, SettingTheSameClockAgainKeepsItAlive) {
    Make(1, 0);
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&clock)));
    ASSERT_EQ(S_OK, source->SetSyncSource(clock.Get()));
    IReferenceClock* raw = clock.Get();
    clock.Reset();
    // Only the filter holds the clock now; setting it again must not
    // drop it.
    ASSERT_EQ(S_OK, source->SetSyncSource(raw));
    EXPECT_EQ(2u, raw->AddRef());
    EXPECT_EQ(1u, raw->Release());

    ComPtr<IReferenceClock> current;
    ASSERT_EQ(S_OK, source->GetSyncSource(&current));
    EXPECT_EQ(raw, current.Get());
    current.Reset();

    EXPECT_EQ(S_OK, source->SetSyncSource(nullptr));
    ASSERT_EQ(S_OK, source->GetSyncSource(&current));
    EXPECT_EQ(nullptr, current.Get());
    EXPECT_EQ(E_POINTER, source->GetSyncSource(nullptr));
}

TEST_F(FilterTest, StreamTimeIsTheClockTimeLessTheRunOffset) {
    Make(1, 0);
    REFERENCE_TIME streamTime = 0;
    EXPECT_EQ(VFW_E_NO_CLOCK, source->StreamTime(&streamTime));
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&clock)));
    ASSERT_EQ(S_OK, source->SetSyncSource(clock.Get()));
    REFERENCE_TIME start = 0;
    // GetTime answers S_FALSE when the time has not moved since last asked.
    ASSERT_HRESULT_SUCCEEDED(clock->GetTime(&start));
    ASSERT_EQ(S_OK, source->Run(start));
    REFERENCE_TIME before = 0;
    REFERENCE_TIME after = 0;
    ASSERT_HRESULT_SUCCEEDED(clock->GetTime(&before));
    ASSERT_HRESULT_SUCCEEDED(source->StreamTime(&streamTime));
    ASSERT_HRESULT_SUCCEEDED(clock->GetTime(&after));
    EXPECT_GE(streamTime, before - start);
    EXPECT_LE(streamTime, after - start);
    EXPECT_EQ(E_POINTER, source->StreamTime(nullptr));
}

TEST_F(FilterTest, FindPinMapsIdsBackToPins) {
    Make(1, 0);
    const LONG refs = source->RefCount();
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, source->FindPin(L"1", &pin));
    EXPECT_EQ(source->Pin(0), pin.Get());
    // The pin is handed out with a reference, which reaches the filter.
    EXPECT_EQ(refs + 1, source->RefCount());
    pin.Reset();

    for (const wchar_t* id : {L"0", L"2", L"x", L"", L"-1"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(id)));
        IPin* found = reinterpret_cast<IPin*>(1);
        EXPECT_EQ(VFW_E_NOT_FOUND, source->FindPin(id, &found));
        EXPECT_EQ(nullptr, found);
    }
    IPin* found = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(E_POINTER, source->FindPin(nullptr, &found));
    EXPECT_EQ(nullptr, found);
    EXPECT_EQ(E_POINTER, source->FindPin(L"1", nullptr));
    EXPECT_EQ(refs, source->RefCount());
}

TEST_F(FilterTest, QueryIdGivesEachPinItsPosition) {
    Make(2, 0);
    for (int i = 0; i < 2; ++i) {
        LPWSTR id = nullptr;
        ASSERT_EQ(S_OK, source->Pin(i)->QueryId(&id));
        EXPECT_EQ(std::to_wstring(i + 1), id);
        ComPtr<IPin> back;
        EXPECT_EQ(S_OK, source->FindPin(id, &back));
        EXPECT_EQ(source->Pin(i), back.Get());
        ::CoTaskMemFree(id);
    }
    EXPECT_EQ(E_POINTER, source->Pin(0)->QueryId(nullptr));
}

TEST_F(FilterTest, QueryFilterInfoKeepsTheFirst127CharactersOfTheName) {
    Make(1, 0);
    const std::wstring longName(200, L'n');
    ASSERT_EQ(S_OK, source->JoinFilterGraph(nullptr, longName.c_str()));
    FILTER_INFO info = {};
    ASSERT_EQ(S_OK, source->QueryFilterInfo(&info));
    EXPECT_EQ(longName.substr(0, 127), info.achName);
    EXPECT_EQ(nullptr, info.pGraph);

    ASSERT_EQ(S_OK, source->JoinFilterGraph(nullptr, nullptr));
    ASSERT_EQ(S_OK, source->QueryFilterInfo(&info));
    EXPECT_STREQ(L"", info.achName);
    EXPECT_EQ(E_POINTER, source->QueryFilterInfo(nullptr));
}

TEST_F(FilterTest, JoiningAGraphGivesItsEventSinkAndLeavingClearsEverything) {
    Make(1, 0);
    EXPECT_EQ(E_NOTIMPL, source->NotifyEvent(EC_ERRORABORT, E_FAIL, 0));

    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
    ComPtr<IMediaEventEx> events;
    ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(events.GetAddressOf())));
    ASSERT_EQ(S_OK, graph->AddFilter(source.Get(), L"Joined"));
    EXPECT_EQ(static_cast<IFilterGraph*>(graph.Get()), source->GetFilterGraph().Get());
    FILTER_INFO info = {};
    ASSERT_EQ(S_OK, source->QueryFilterInfo(&info));
    EXPECT_STREQ(L"Joined", info.achName);
    EXPECT_EQ(static_cast<IFilterGraph*>(graph.Get()), info.pGraph);
    info.pGraph->Release();

    EXPECT_EQ(S_OK, source->NotifyEvent(EC_ERRORABORT, E_ACCESSDENIED, 0));
    long code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    ASSERT_EQ(S_OK, events->GetEvent(&code, &param1, &param2, 0));
    EXPECT_EQ(EC_ERRORABORT, code);
    EXPECT_EQ(E_ACCESSDENIED, static_cast<HRESULT>(param1));
    events->FreeEventParams(code, param1, param2);

    ASSERT_EQ(S_OK, source->JoinFilterGraph(nullptr, nullptr));
    EXPECT_EQ(nullptr, source->GetFilterGraph().Get());
    EXPECT_EQ(E_NOTIMPL, source->NotifyEvent(EC_ERRORABORT, E_FAIL, 0));
    ASSERT_EQ(S_OK, source->QueryFilterInfo(&info));
    EXPECT_STREQ(L"", info.achName);
    EXPECT_EQ(nullptr, info.pGraph);
    // Let the graph forget the filter it still lists.
    graph->RemoveFilter(source.Get());
}

TEST_F(FilterTest, InterfacesAndFixedAnswers) {
    Make(1, 0);
    IBaseFilter* filter = source.Get();
    ComPtr<IBaseFilter> base;
    ComPtr<IMediaFilter> media;
    ComPtr<IPersist> persist;
    ComPtr<IAMovieSetup> setup;
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_PPV_ARGS(&base)));
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_PPV_ARGS(&media)));
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_PPV_ARGS(&persist)));
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IAMovieSetup, reinterpret_cast<void**>(setup.GetAddressOf())));
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_PPV_ARGS(&unknown)));
    EXPECT_EQ(static_cast<void*>(filter), static_cast<void*>(media.Get()));
    EXPECT_EQ(static_cast<void*>(filter), static_cast<void*>(persist.Get()));
    EXPECT_EQ(static_cast<void*>(source->GetOwner()), static_cast<void*>(unknown.Get()));
    IPin* pin = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(E_NOINTERFACE, filter->QueryInterface(IID_IPin, reinterpret_cast<void**>(&pin)));
    EXPECT_EQ(nullptr, pin);
    EXPECT_EQ(E_POINTER, filter->QueryInterface(IID_IBaseFilter, nullptr));

    CLSID clsid = GUID_NULL;
    EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_TestSource, clsid));
    EXPECT_EQ(E_POINTER, filter->GetClassID(nullptr));

    LPWSTR vendor = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(E_NOTIMPL, filter->QueryVendorInfo(&vendor));
    EXPECT_EQ(nullptr, vendor);
    EXPECT_EQ(E_POINTER, filter->QueryVendorInfo(nullptr));

    // No registration record: nothing to register from a filter instance.
    EXPECT_EQ(S_FALSE, setup->Register());
    EXPECT_EQ(S_FALSE, setup->Unregister());
    EXPECT_EQ(E_POINTER, filter->EnumPins(nullptr));
}

TEST_F(FilterTest, GetPinAnswersOnlyInsideTheTable) {
    Make(2, 0);
    EXPECT_EQ(2, source->GetPinCount());
    EXPECT_EQ(nullptr, source->GetPin(-1));
    EXPECT_EQ(nullptr, source->GetPin(2));
    EXPECT_EQ(static_cast<CBasePin*>(source->Stream(1)), source->GetPin(1));
    EXPECT_EQ(1, source->FindPinNumber(source->Pin(1)));
    EXPECT_EQ(-1, source->FindPinNumber(nullptr));
    EXPECT_EQ(1, source->GetPinVersion());
}

TEST_F(FilterTest, PinsLeaveTheTableInOrderAsTheyAreDestroyed) {
    Make(1, 0);
    HRESULT hr = S_OK;
    auto* second = new TestStream(&hr, source.Get(), L"Second");
    ASSERT_EQ(S_OK, hr);
    auto* third = new TestStream(&hr, source.Get(), L"Third");
    ASSERT_EQ(S_OK, hr);
    ASSERT_EQ(3, source->GetPinCount());
    EXPECT_EQ(third, source->GetStream(2));

    delete second;
    EXPECT_EQ(2, source->GetPinCount());
    EXPECT_EQ(third, source->GetStream(1));
    EXPECT_EQ(nullptr, source->GetStream(2));
    EXPECT_EQ(S_FALSE, source->RemovePin(second));
    LPWSTR id = nullptr;
    ASSERT_EQ(S_OK, third->QueryId(&id));
    EXPECT_STREQ(L"2", id);
    ::CoTaskMemFree(id);
    // The remaining ones go with the filter.
}

TEST_F(FilterTest, EveryUseOfThePinTableWaitsForItsLock) {
    Make(1, 0);
    HRESULT hr = S_OK;
    auto* extra = new TestStream(&hr, source.Get(), L"Extra");
    ASSERT_EQ(S_OK, hr);
    IPin* first = source->Pin(0);
    // While the table is held, as AddPin holds it to replace the array,
    // neither a removal nor a lookup may touch it.
    source->PinTableLock()->Lock();
    std::atomic<int> finished{0};
    std::thread remover([&] {
        delete extra;
        ++finished;
    });
    std::thread finder([&] {
        source->FindPinNumber(first);
        ++finished;
    });
    EXPECT_FALSE(WaitUntil([&] { return finished.load() > 0; }, 300));
    source->PinTableLock()->Unlock();
    EXPECT_TRUE(WaitUntil([&] { return finished.load() == 2; }));
    remover.join();
    finder.join();
    EXPECT_EQ(1, source->GetPinCount());
}

TEST_F(FilterTest, QueryIdDoesNotWaitForTheStateLock) {
    Make(1, 0);
    // A downstream callback on the worker thread may ask for the pin's id
    // while a Stop holds the state lock and waits for that worker.
    IPin* pin = source->Pin(0);
    source->pStateLock()->Lock();
    std::atomic<bool> answered{false};
    std::thread asker([&] {
        LPWSTR id = nullptr;
        if (pin->QueryId(&id) == S_OK) {
            ::CoTaskMemFree(id);
            answered = true;
        }
    });
    EXPECT_TRUE(WaitUntil([&] { return answered.load(); }, 10000));
    source->pStateLock()->Unlock();
    asker.join();
}

TEST(CritSecTest, IsHeldByCurrentThreadNamesTheOwnerOnly) {
    CCritSec lock;
    EXPECT_FALSE(lock.IsHeldByCurrentThread());
    {
        CAutoLock held(&lock);
        EXPECT_TRUE(lock.IsHeldByCurrentThread());
        {
            CAutoLock again(&lock);
            EXPECT_TRUE(lock.IsHeldByCurrentThread());
        }
        EXPECT_TRUE(lock.IsHeldByCurrentThread());
        bool heldElsewhere = true;
        std::thread other([&] { heldElsewhere = lock.IsHeldByCurrentThread(); });
        other.join();
        EXPECT_FALSE(heldElsewhere);
    }
    EXPECT_FALSE(lock.IsHeldByCurrentThread());
}
