// Lifetime: many create-and-release cycles of the filter and of whole
// graphs must leave the process's GDI objects, USER objects and handles
// where they were, and the module ready to unload; a filter released while
// it streams must end its worker without a hang or a leak.
#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

#include <cstdio>
#include <memory>

#include "capture/capture_device_settings.h"
#include "framework/com_util.h"
#include "framework/unknown.h"
#include "module/class_factory.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/capture_graph.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/test_window.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kFilterCycles = 1000;
constexpr int kGraphCycles = 100;
constexpr DWORD kSampleTimeoutMs = 20000;
constexpr DWORD kHangTimeoutMs = 180000;
// A leak of one object per cycle would show as hundreds; the platform may
// still cache an object or two on its own after the warm-up.
constexpr long kSlack = 3;

void ExpectLevel(const ResourceCounts& before, const ResourceCounts& after, int cycles, const char* note = "") {
    std::printf("[          ] %d cycles: before %s; after %s%s\n", cycles, Describe(before).c_str(),
                Describe(after).c_str(), note);
    EXPECT_LE(after.gdiObjects, before.gdiObjects + kSlack) << "GDI objects grew";
    EXPECT_LE(after.userObjects, before.userObjects + kSlack) << "USER objects grew";
    EXPECT_LE(after.kernelHandles, before.kernelHandles + kSlack) << "handles grew";
}

// One filter, used the way an application looks at a device, and released.
void FilterCycle() {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, GetPin(filter.Get(), PINDIR_OUTPUT, &pin));
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, pin.As(&config));
    AM_MEDIA_TYPE* format = nullptr;
    ASSERT_EQ(S_OK, config->GetFormat(&format));
    DeleteMediaType(format);
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, pin->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* all[6] = {};
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, types->Next(6, all, &fetched));
    for (AM_MEDIA_TYPE* type : all) {
        DeleteMediaType(type);
    }
    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, filter.As(&settings));
    int size[2] = {};
    ASSERT_EQ(S_OK, settings->GetFrameSize(size));
}

// One whole graph: built, connected, run for a few frames, stopped and
// released. With a window to capture, the frames after the first (which
// finds the window) are copies of it.
void GraphCycle() {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
    CaptureGraph graph;
    ASSERT_EQ(S_OK, graph.Build(filter.Get(), false));
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    EXPECT_TRUE(graph.recorder.WaitForSamples(3, kSampleTimeoutMs));
    ASSERT_EQ(S_OK, graph.Stop());
}

// The same graph without the device: the platform's own share of what a
// graph cycle costs (Wine's filter graph keeps one handle per graph it
// ever created).
void BareGraphCycle() {
    CaptureGraph graph;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph.graph)));
    ComPtr<IBaseFilter> grabber;
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabber)));
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer)));
    ASSERT_EQ(S_OK, graph.graph->AddFilter(grabber.Get(), L"Grabber"));
    ASSERT_EQ(S_OK, graph.graph->AddFilter(renderer.Get(), L"Renderer"));
}

}  // namespace

TEST(Lifetime, FilterCreatedAndReleasedManyTimes) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    const LONG objects = CBaseObject::ObjectsActive();
    ResourceCounts before;
    ResourceCounts after;
    MeasureAroundCycles(20, kFilterCycles, [](int) { FilterCycle(); }, &before, &after);
    ASSERT_FALSE(HasFatalFailure());
    ExpectLevel(before, after, kFilterCycles);
    EXPECT_EQ(objects, CBaseObject::ObjectsActive());
    EXPECT_EQ(S_OK, CanUnloadModule());
}

TEST(Lifetime, GraphBuiltRunAndReleasedManyTimes) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    Watchdog watchdog("the graph cycles", kHangTimeoutMs * 2);
    const LONG objects = CBaseObject::ObjectsActive();
    ResourceCounts before;
    ResourceCounts after;
    ResourceCounts bareBefore;
    ResourceCounts bareAfter;
    MeasureAroundCycles(5, kGraphCycles, [](int) { BareGraphCycle(); }, &bareBefore, &bareAfter);
    ASSERT_FALSE(HasFatalFailure());
    // Half the cycles capture a window, so that the capture path (window
    // DCs, the grabber's bitmaps) is counted as well as the standby one.
    TestWindow window;
    const auto cycle = [&](int i) {
        if (i % 2 == 0 && window.hwnd() == nullptr) {
            ASSERT_EQ(S_OK, window.Create(L"Quillmere::MainFrame", L"Quillmere", 640, 360,
                                          SolidPainter(RGB(30, 160, 90))));
        } else if (i % 2 == 1 && window.hwnd() != nullptr) {
            window.Destroy();
            PumpMessages();
        }
        GraphCycle();
    };
    MeasureAroundCycles(6, kGraphCycles, cycle, &before, &after);
    window.Destroy();
    ASSERT_FALSE(HasFatalFailure());
    std::printf("[          ] the platform alone, %d graphs: before %s; after %s\n", kGraphCycles,
                Describe(bareBefore).c_str(), Describe(bareAfter).c_str());
    // What the platform keeps per graph is not the device's.
    after.gdiObjects -= bareAfter.gdiObjects - bareBefore.gdiObjects;
    after.userObjects -= bareAfter.userObjects - bareBefore.userObjects;
    after.kernelHandles -= bareAfter.kernelHandles - bareBefore.kernelHandles;
    ExpectLevel(before, after, kGraphCycles, " (less the platform's share)");
    EXPECT_EQ(objects, CBaseObject::ObjectsActive());
    EXPECT_EQ(S_OK, CanUnloadModule());
}

TEST(Lifetime, FilterReleasedWhileRunningEndsItsWorker) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    const LONG objects = CBaseObject::ObjectsActive();
    auto allocator = MakeFake<FaultyAllocator>();
    ASSERT_TRUE(allocator->ok());
    auto peer = MakeFake<UncountedPeerInputPin>();
    peer->OfferAllocator(allocator.Get());
    // Once to warm up whatever the platform creates on first use.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const long threads = CountProcessThreads();
        const ResourceCounts before = MeasureResources();
        {
            Watchdog watchdog("releasing a running filter", kHangTimeoutMs);
            ComPtr<IBaseFilter> filter;
            ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
            ComPtr<IPin> pin;
            ASSERT_EQ(S_OK, GetPin(filter.Get(), PINDIR_OUTPUT, &pin));
            ASSERT_EQ(S_OK, pin->Connect(peer.Get(), nullptr));
            pin.Reset();
            const LONG samples = peer->Samples();
            ASSERT_EQ(S_OK, filter->Run(0));
            EXPECT_TRUE(WaitUntil([&] { return peer->Samples() >= samples + 3; }, kSampleTimeoutMs));
            // The watchdog, the worker and the worker's capture thread.
            EXPECT_EQ(threads + 3, CountProcessThreads());
            // The last reference goes while the worker streams.
            filter.Reset();
        }
        EXPECT_EQ(threads, CountProcessThreads()) << "the worker outlived its filter";
        const LONG samples = peer->Samples();
        PumpFor(100);
        EXPECT_EQ(samples, peer->Samples()) << "samples still arrive";
        EXPECT_EQ(objects, CBaseObject::ObjectsActive());
        EXPECT_EQ(1, peer->RefCount()) << "the peer is still referenced";
        EXPECT_EQ(2, allocator->RefCount()) << "the allocator is referenced by more than the peer";
        EXPECT_EQ(allocator->Commits(), allocator->Decommits()) << "the allocator was left committed";
        if (round > 0) {
            const ResourceCounts after = MeasureResources();
            ExpectLevel(before, after, 1);
        }
    }
    peer->OfferAllocator(nullptr);
    EXPECT_EQ(1, allocator->RefCount());
}

TEST(Lifetime, RunningGraphReleasedWithoutStop) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    const LONG objects = CBaseObject::ObjectsActive();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const long threads = CountProcessThreads();
        const ResourceCounts before = MeasureResources();
        {
            Watchdog watchdog("releasing a running graph", kHangTimeoutMs);
            ComPtr<IBaseFilter> filter;
            ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
            auto graph = std::make_unique<CaptureGraph>();
            ASSERT_EQ(S_OK, graph->Build(filter.Get(), false));
            filter.Reset();
            ASSERT_TRUE(SUCCEEDED(graph->Run()));
            EXPECT_TRUE(graph->recorder.WaitForSamples(3, kSampleTimeoutMs));
            // Dropped without Stop: the graph and then the filter go while
            // streaming.
            graph->control.Reset();
            graph->grabber->SetCallback(nullptr, 0);
            graph->grabber.Reset();
            graph->source.Reset();
            graph->grabberFilter.Reset();
            graph->renderer.Reset();
            graph->graph.Reset();
            graph.reset();
        }
        EXPECT_EQ(objects, CBaseObject::ObjectsActive()) << "the filter outlived its graph";
        EXPECT_LE(CountProcessThreads(), threads) << "a thread outlived the graph";
        if (round > 0) {
            ExpectLevel(before, MeasureResources(), 1);
        }
    }
    EXPECT_EQ(S_OK, CanUnloadModule());
}
