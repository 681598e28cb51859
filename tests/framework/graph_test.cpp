// The framework the way a capture application uses it: a real filter
// graph with the platform's sample grabber and null renderer downstream of
// the test source.
#include <gtest/gtest.h>

#include <dshow.h>
#include <evcode.h>

#include "tests/framework/test_graph.h"

using namespace qmtest;

namespace {

constexpr REFERENCE_TIME kOneSecond = 10000000;

class GraphTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, graph.Build()); }
    void TearDown() override {
        if (graph.control) {
            graph.control->Stop();
        }
    }

    TestGraph graph;
};

}  // namespace

TEST_F(GraphTest, ConnectsWithTheSourceFormatAndDisconnects) {
    IPin* out = graph.source->Pin(0);
    ComPtr<IPin> peer;
    ASSERT_EQ(S_OK, out->ConnectedTo(&peer));
    EXPECT_EQ(graph.grabberIn.Get(), peer.Get());

    AM_MEDIA_TYPE mt = {};
    ASSERT_EQ(S_OK, out->ConnectionMediaType(&mt));
    EXPECT_TRUE(*CMediaType::From(&mt) == TestFormat());
    FreeMediaType(mt);

    // A memory allocator sized for one image was agreed.
    IMemAllocator* allocator = graph.source->Stream(0)->Allocator();
    ASSERT_NE(nullptr, allocator);
    ALLOCATOR_PROPERTIES props = {};
    ASSERT_EQ(S_OK, allocator->GetProperties(&props));
    EXPECT_GE(props.cBuffers, 1);
    EXPECT_GE(props.cbBuffer, static_cast<long>(kTestImageSize));

    EXPECT_EQ(S_OK, graph.graph->Disconnect(out));
    EXPECT_EQ(S_OK, graph.graph->Disconnect(graph.grabberIn.Get()));
    EXPECT_FALSE(graph.source->Stream(0)->IsConnected());
    EXPECT_EQ(nullptr, graph.source->Stream(0)->Allocator());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, out->ConnectedTo(&peer));
    EXPECT_EQ(nullptr, peer.Get());

    // And connects again through the graph's own Connect.
    EXPECT_EQ(S_OK, graph.graph->Connect(out, graph.grabberIn.Get()));
    EXPECT_TRUE(graph.source->Stream(0)->IsConnected());
}

TEST_F(GraphTest, PauseRunStopDeliverContiguousTimedSamples) {
    graph.watcher->Restart(20 * kTestFrameTime);
    ASSERT_HRESULT_SUCCEEDED(graph.control->Run());
    // The graph completes Run on its own thread once the renderer has
    // its first sample.
    EXPECT_TRUE(WaitUntil([&] { return graph.source->State() == State_Running; }));
    ASSERT_TRUE(graph.watcher->WaitForTarget());
    ASSERT_EQ(S_OK, graph.control->Stop());
    EXPECT_EQ(State_Stopped, graph.source->State());
    EXPECT_FALSE(graph.source->Stream(0)->ThreadExists());

    const LONG samples = graph.watcher->Samples();
    EXPECT_GE(samples, 20);
    EXPECT_EQ(0, graph.watcher->Gaps());
    EXPECT_EQ(0, graph.watcher->Untimed());
    EXPECT_EQ(0, graph.watcher->NotSyncPoints());
    EXPECT_EQ(0, graph.watcher->WrongSizes());
    EXPECT_EQ(samples * kTestFrameTime, graph.watcher->LastEnd());
    EXPECT_EQ(1, graph.source->Stream(0)->threadCreates.load());
    EXPECT_EQ(1, graph.source->Stream(0)->threadDestroys.load());

    // Pause alone streams too (the renderer holds the first sample), and
    // Stop still ends the worker.
    const LONG filledBefore = graph.source->Stream(0)->filled.load();
    ASSERT_HRESULT_SUCCEEDED(graph.control->Pause());
    EXPECT_EQ(State_Paused, graph.source->State());
    EXPECT_TRUE(graph.source->Stream(0)->ThreadExists());
    EXPECT_TRUE(WaitUntil([&] { return graph.source->Stream(0)->filled.load() > filledBefore; }));
    ASSERT_EQ(S_OK, graph.control->Stop());
    EXPECT_FALSE(graph.source->Stream(0)->ThreadExists());
    EXPECT_EQ(2, graph.source->Stream(0)->threadDestroys.load());
}

TEST_F(GraphTest, StreamsOneSecondAndStopsCleanlyAHundredTimes) {
    // No clock: the renderer takes samples as they come, so a second of
    // stream time passes quickly.
    ASSERT_EQ(S_OK, graph.UseNoClock());
    TestStream* stream = graph.source->Stream(0);
    for (int run = 0; run < 100; ++run) {
        SCOPED_TRACE(run);
        graph.watcher->Restart(kOneSecond);
        ASSERT_HRESULT_SUCCEEDED(graph.control->Run());
        ASSERT_TRUE(graph.watcher->WaitForTarget());
        ASSERT_EQ(S_OK, graph.control->Stop());
        ASSERT_FALSE(stream->ThreadExists());
        EXPECT_GE(graph.watcher->LastEnd(), kOneSecond);
        EXPECT_EQ(0, graph.watcher->Gaps());
    }
    EXPECT_EQ(100, stream->threadCreates.load());
    EXPECT_EQ(100, stream->threadDestroys.load());
}

TEST_F(GraphTest, StopsRightAfterRunWhileTheGraphIsStillStarting) {
    TestStream* stream = graph.source->Stream(0);
    for (int run = 0; run < 30; ++run) {
        SCOPED_TRACE(run);
        ASSERT_HRESULT_SUCCEEDED(graph.control->Run());
        ASSERT_EQ(S_OK, graph.control->Stop());
        ASSERT_FALSE(stream->ThreadExists());
        ASSERT_EQ(State_Stopped, graph.source->State());
    }
}

TEST_F(GraphTest, ReconnectsThroughTheGraph) {
    IPin* out = graph.source->Pin(0);
    ASSERT_EQ(S_OK, graph.graph->Reconnect(out));
    ComPtr<IPin> peer;
    ASSERT_EQ(S_OK, out->ConnectedTo(&peer));
    EXPECT_EQ(graph.grabberIn.Get(), peer.Get());
    EXPECT_NE(nullptr, graph.source->Stream(0)->Allocator());

    // The reconnected pin streams as before.
    graph.watcher->Restart(5 * kTestFrameTime);
    ASSERT_HRESULT_SUCCEEDED(graph.control->Run());
    EXPECT_TRUE(graph.watcher->WaitForTarget());
    EXPECT_EQ(S_OK, graph.control->Stop());
}

TEST_F(GraphTest, ThePinCanAskItsGraphToReconnectIt) {
    ComPtr<IFilterGraph> owner = graph.source->GetFilterGraph();
    ASSERT_NE(nullptr, owner);
    EXPECT_EQ(S_OK, owner->Reconnect(graph.source->Pin(0)));
    EXPECT_TRUE(graph.source->Stream(0)->IsConnected());
}

TEST_F(GraphTest, TheGraphFindsPinsAndTypesThroughTheEnumerators) {
    // The graph's ConnectDirect used EnumPins already; here the same
    // enumerators as an application would use them.
    ComPtr<IBaseFilter> found;
    ASSERT_EQ(S_OK, graph.graph->FindFilterByName(L"Test source", &found));
    ComPtr<IPin> out;
    ASSERT_EQ(S_OK, GetPin(found.Get(), PINDIR_OUTPUT, &out));
    EXPECT_EQ(graph.source->Pin(0), out.Get());

    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, out->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, types->Next(1, &mt, &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_TRUE(*CMediaType::From(mt) == TestFormat());
    DeleteMediaType(mt);
    EXPECT_EQ(S_FALSE, types->Next(1, &mt, &fetched));
    EXPECT_EQ(0u, fetched);

    LPWSTR id = nullptr;
    ASSERT_EQ(S_OK, out->QueryId(&id));
    ComPtr<IPin> byId;
    EXPECT_EQ(S_OK, found->FindPin(id, &byId));
    EXPECT_EQ(out.Get(), byId.Get());
    ::CoTaskMemFree(id);

    FILTER_INFO info = {};
    ASSERT_EQ(S_OK, found->QueryFilterInfo(&info));
    EXPECT_STREQ(L"Test source", info.achName);
    EXPECT_EQ(static_cast<IFilterGraph*>(graph.graph.Get()), info.pGraph);
    info.pGraph->Release();
}

TEST_F(GraphTest, RunsWithoutAReferenceClock) {
    ASSERT_EQ(S_OK, graph.UseNoClock());
    ComPtr<IReferenceClock> clock;
    EXPECT_EQ(S_OK, graph.source->GetSyncSource(&clock));
    EXPECT_EQ(nullptr, clock.Get());
    REFERENCE_TIME now = 0;
    EXPECT_EQ(VFW_E_NO_CLOCK, graph.source->StreamTime(&now));
    graph.watcher->Restart(10 * kTestFrameTime);
    ASSERT_HRESULT_SUCCEEDED(graph.control->Run());
    EXPECT_TRUE(graph.watcher->WaitForTarget());
    EXPECT_EQ(S_OK, graph.control->Stop());
}

TEST_F(GraphTest, AFillErrorReachesTheGraphAsErrorAbort) {
    TestStream* stream = graph.source->Stream(0);
    stream->samplesBeforeEnd = 3;
    stream->fillEndResult = E_ACCESSDENIED;
    ASSERT_EQ(S_OK, graph.UseNoClock());
    ASSERT_HRESULT_SUCCEEDED(graph.control->Run());
    long code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    bool sawAbort = false;
    ASSERT_TRUE(WaitUntil([&] {
        while (graph.NextEvent(&code, &param1, &param2) == S_OK) {
            if (code == EC_ERRORABORT) {
                sawAbort = true;
                EXPECT_EQ(E_ACCESSDENIED, static_cast<HRESULT>(param1));
                EXPECT_EQ(0, param2);
            }
        }
        return sawAbort;
    }));
    EXPECT_EQ(3, graph.watcher->Samples());
    EXPECT_EQ(S_OK, graph.control->Stop());
    EXPECT_FALSE(stream->ThreadExists());
}

TEST_F(GraphTest, AnEndOfStreamReachesTheGraphWithoutAnError) {
    TestStream* stream = graph.source->Stream(0);
    stream->samplesBeforeEnd = 4;
    stream->fillEndResult = S_FALSE;
    ASSERT_EQ(S_OK, graph.UseNoClock());
    ASSERT_HRESULT_SUCCEEDED(graph.control->Run());
    long code = 0;
    ASSERT_EQ(S_OK, graph.events->WaitForCompletion(20000, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    EXPECT_EQ(4, graph.watcher->Samples());
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    while (graph.NextEvent(&code, &param1, &param2) == S_OK) {
        EXPECT_NE(EC_ERRORABORT, code);
    }
    EXPECT_EQ(S_OK, graph.control->Stop());
}

TEST(GraphReleaseTest, AGraphReleasedWhileRunningTakesTheSourceWithIt) {
    SourceLifetime lifetime;
    {
        TestGraph graph;
        ASSERT_EQ(S_OK, graph.Build(false));
        // Swap in a source that reports its destruction.
        ASSERT_EQ(S_OK, graph.graph->RemoveFilter(static_cast<IBaseFilter*>(graph.source.Get())));
        ASSERT_EQ(S_OK, TestSource::Create(&graph.source, 1, &lifetime));
        ASSERT_EQ(S_OK, graph.graph->AddFilter(static_cast<IBaseFilter*>(graph.source.Get()), L"Test source"));
        ASSERT_EQ(S_OK, graph.graph->ConnectDirect(graph.source->Pin(0), graph.grabberIn.Get(), nullptr));
        ASSERT_EQ(S_OK, graph.graph->ConnectDirect(graph.grabberOut.Get(), graph.rendererIn.Get(), nullptr));
        graph.watcher->Restart(5 * kTestFrameTime);
        ASSERT_HRESULT_SUCCEEDED(graph.control->Run());
        ASSERT_TRUE(graph.watcher->WaitForTarget());
        // Every reference goes, the graph's last, without a Stop.
    }
    EXPECT_TRUE(lifetime.destroyed.load());
    EXPECT_EQ(1, lifetime.workersEnded.load());
}
