// Stop latency and lifetime figures of the capture device in a real graph
// (device -> sample grabber -> null renderer).
//
// Stop latency: the time from a Stop call to its return while the device
// streams, at 1 and 30 frames per second, with the call made at a random
// moment of the frame period. Measured for the graph's IMediaControl::Stop
// (which stops every filter, the renderer first) and for the device
// filter's own IMediaFilter::Stop alone, both with the standby picture and
// while capturing a 1280x720 window of another process into the largest
// size. The filter's own Stop is measured in a graph without a reference
// clock, where the renderer takes each sample at once; with a clock, a
// running renderer holds each sample in Receive until its time, and a
// source stopped alone waits for that (shown once for reference). Prints
// median, p99 and maximum.
//
// Lifetime: the process's GDI objects, USER objects and handles before
// and after 1,000 create-and-release cycles of the filter and 100 cycles of
// a graph that connects, runs and stops, with the time per cycle.
//
// Usage: stop_latency_bench [repetitions at 30 fps] [repetitions at 1 fps]
//        (defaults 100 and 20)
#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "bench/support/bench_clock.h"
#include "bench/support/child_window.h"
#include "settings/capture_device_ids.h"
#include "settings/capture_device_settings.h"
#include "capture/output_formats.h"
#include "framework/module_instance.h"
#include "module/module.h"
#include "tests/support/capture_graph.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/resource_counts.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;
using namespace qmbench;

namespace {

constexpr DWORD kSampleTimeoutMs = 20000;

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

HRESULT CreateDevice(IBaseFilter** filter) {
    ComPtr<IClassFactory> factory;
    HRESULT hr = GetClassObjectFromTable(g_Templates, g_cTemplates, CLSID_CaptureDevice, IID_PPV_ARGS(&factory));
    if (FAILED(hr)) {
        return hr;
    }
    return factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
}

void Report(const char* what, const std::vector<double>& ms) {
    if (ms.empty()) {
        std::printf("%-44s no measurements\n", what);
        return;
    }
    std::printf("%-44s %5zu %10.3f %10.3f %10.3f\n", what, ms.size(), Percentile(ms, 0.5), Percentile(ms, 0.99),
                *std::max_element(ms.begin(), ms.end()));
}

// Runs the graph `repetitions` times; each time waits for the first sample,
// then for a random part of a frame period, and times the Stop.
bool MeasureStops(double rate, int size, bool filterStop, bool clock, int repetitions, std::vector<double>* ms) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(CreateDevice(&filter))) {
        return false;
    }
    ComPtr<ICaptureDeviceSettings> settings;
    filter.As(&settings);
    settings->SetSelectPixel(size);
    settings->SetFrameRate(rate);
    CaptureGraph graph;
    if (FAILED(graph.Build(filter.Get(), false))) {
        return false;
    }
    if (!clock) {
        ComPtr<IMediaFilter> graphFilter;
        if (FAILED(graph.graph.As(&graphFilter)) || FAILED(graphFilter->SetSyncSource(nullptr))) {
            return false;
        }
    }
    std::mt19937 random(12345);
    const double frameMs = 1000.0 / rate;
    std::uniform_real_distribution<double> delay(0.0, frameMs);
    for (int i = 0; i < repetitions; ++i) {
        graph.recorder.Clear();
        if (FAILED(graph.Run()) || !graph.recorder.WaitForSamples(1, kSampleTimeoutMs)) {
            return false;
        }
        // The graph completes Run on a thread of its own, renderer first.
        // The device is stopped alone only once that is done: before, the
        // paused renderer holds the device's worker in Receive while the
        // graph's thread waits to enumerate the device's pins behind the
        // Stop that waits for that worker.
        OAFilterState state = State_Stopped;
        if (graph.control->GetState(kSampleTimeoutMs, &state) != S_OK || state != State_Running) {
            return false;
        }
        ::Sleep(static_cast<DWORD>(delay(random)));
        const double start = NowMs();
        const HRESULT hr = filterStop ? filter->Stop() : graph.Stop();
        ms->push_back(NowMs() - start);
        if (FAILED(hr) || FAILED(graph.Stop())) {
            return false;
        }
    }
    return true;
}

void FilterCycle() {
    ComPtr<IBaseFilter> filter;
    if (FAILED(CreateDevice(&filter))) {
        return;
    }
    ComPtr<IAMStreamConfig> config;
    filter.As(&config);
    AM_MEDIA_TYPE* format = nullptr;
    if (SUCCEEDED(config->GetFormat(&format))) {
        DeleteMediaType(format);
    }
}

bool GraphCycle() {
    ComPtr<IBaseFilter> filter;
    if (FAILED(CreateDevice(&filter))) {
        return false;
    }
    CaptureGraph graph;
    if (FAILED(graph.Build(filter.Get(), false)) || FAILED(graph.Run()) ||
        !graph.recorder.WaitForSamples(2, kSampleTimeoutMs)) {
        return false;
    }
    return SUCCEEDED(graph.Stop());
}

template <typename Cycle>
void ReportLifetime(const char* what, int warmUp, int cycles, Cycle cycle) {
    for (int i = 0; i < warmUp; ++i) {
        cycle();
    }
    const ResourceCounts before = MeasureResources();
    const double start = NowMs();
    for (int i = 0; i < cycles; ++i) {
        cycle();
    }
    const double perCycle = (NowMs() - start) / cycles;
    const ResourceCounts after = MeasureResources();
    std::printf("%-30s %5d cycles, %8.2f ms each\n    before: %s\n    after:  %s\n", what, cycles, perCycle,
                Describe(before).c_str(), Describe(after).c_str());
}

int Run(int fastRepetitions, int slowRepetitions) {
    RegistrySandbox sandbox;
    if (!sandbox.ok()) {
        std::fprintf(stderr, "registry sandbox failed\n");
        return 1;
    }
    std::printf("stop_latency_bench (%s): Stop called at a random moment of the frame period while streaming\n",
                sizeof(void*) == 8 ? "x64" : "x86");
    std::printf("%-44s %5s %10s %10s %10s\n", "case", "runs", "p50 ms", "p99 ms", "max ms");
    struct Case {
        const char* name;
        double rate;
        bool filterStop;
        bool clock;
        bool standbyOnly;
    };
    const Case cases[] = {
        {"30 fps, IMediaControl::Stop", 30.0, false, true, false},
        {"30 fps, device Stop, no clock", 30.0, true, false, false},
        {" 1 fps, IMediaControl::Stop", 1.0, false, true, false},
        {" 1 fps, device Stop, no clock", 1.0, true, false, false},
        {"30 fps, device Stop, renderer holding", 30.0, true, true, true},
        {" 1 fps, device Stop, renderer holding", 1.0, true, true, true},
    };
    for (const bool capturing : {false, true}) {
        ChildProcessWindow window;
        if (capturing && FAILED(window.Start(BenchPicture::Application, 1280, 720))) {
            std::fprintf(stderr, "child window failed\n");
            return 1;
        }
        const int size = capturing ? kFrameSizeTableCount - 1 : 0;
        std::printf("-- %s, %dx%d\n", capturing ? "capturing a 1280x720 window" : "standby picture",
                    FrameSizeTable[size].width, FrameSizeTable[size].height);
        for (const Case& c : cases) {
            if (capturing && c.standbyOnly) {
                continue;
            }
            std::vector<double> ms;
            const int repetitions = c.rate > 1.0 ? fastRepetitions : slowRepetitions;
            if (!MeasureStops(c.rate, size, c.filterStop, c.clock, repetitions, &ms)) {
                std::printf("%-44s failed\n", c.name);
                continue;
            }
            Report(c.name, ms);
        }
    }

    // The settings persist: back to the default size and rate.
    {
        ComPtr<IBaseFilter> filter;
        ComPtr<ICaptureDeviceSettings> settings;
        if (SUCCEEDED(CreateDevice(&filter)) && SUCCEEDED(filter.As(&settings))) {
            settings->SetSelectPixel(0);
            settings->SetFrameRate(30.0);
        }
    }
    std::printf("-- lifetime\n");
    ReportLifetime("filter create and release", 20, 1000, [] { FilterCycle(); });
    ReportLifetime("graph connect, run, stop", 5, 100, [] { GraphCycle(); });
    ReportLifetime("bare graph (platform only)", 5, 100, [] {
        ComPtr<IGraphBuilder> graph;
        ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph));
    });
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (RunChildWindowIfAsked(argc, argv)) {
        return 0;
    }
    const int fast = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int slow = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    SetModuleInstance(::GetModuleHandleW(nullptr));
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    const int result = Run(fast, slow);
    ::CoUninitialize();
    return result;
}
