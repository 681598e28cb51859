// How old the picture is when it leaves the device, and when a renderer
// shows it. A window paints the performance counter into itself all the
// time (CounterWindow); the device captures it and every delivered frame
// is decoded: its content age is the counter at delivery minus the counter
// the frame shows. The same run times a direct copy of the window at
// random moments for comparison: the least any capture can do.
//
// For each rate (30, 15, 1 fps) and size (204x360, 1136x640), with the
// graph's clock (on the counter, so that times compare) and without one:
// content age p50/p99, and with the clock the age at which a renderer that
// queues samples would show each (when the clock reaches its time, or on
// arrival if later). Then the HD sizes at 60 fps with the clock: 1280x720
// from the same window, 1920x1080 from a 1920x1080 window against a direct
// copy of that one. Then 10 s with a 3840x2160 window at 30 fps: how far
// the sample times trail the clock.
//
// Usage: content_age_bench [seconds per case]   (default 4; 1 fps runs 3x)
#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <vector>

#include "bench/support/child_window.h"
#include "bench/support/window_copier.h"
#include "settings/capture_device_settings.h"
#include "settings/capture_settings.h"
#include "timing/frame_pacer.h"
#include "timing/pacing_clock.h"
#include "capture/output_formats.h"
#include "capture/zrv_capture.h"
#include "framework/memory_dib.h"
#include "tests/support/counter_window.h"
#include "tests/support/fake_clocks.h"
#include "tests/support/fake_pins.h"
#include "tests/support/graph_lookup.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;
using namespace qmbench;

namespace {

constexpr wchar_t kWindowClass[] = L"QMCaptureBench::Counter";
constexpr REFERENCE_TIME kMs = 10000;
constexpr int kHdLandscape = 8;
constexpr int kFullHdLandscape = 9;

LONGLONG CounterNow() {
    return CPerformanceCounterClock().Now();
}

struct Delivery {
    LONGLONG arrival;
    REFERENCE_TIME start;
    LONGLONG content;  // -1: no reading
};

// Decodes each sample as it arrives and returns at once (a renderer that
// queues).
class DecodingPin final : public FakeInputPin {
public:
    void SetSize(int width, int height) {
        m_width = width;
        m_height = height;
    }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        const LONGLONG arrival = CounterNow();
        Delivery delivery = {arrival, 0, -1};
        REFERENCE_TIME end = 0;
        sample->GetTime(&delivery.start, &end);
        BYTE* data = nullptr;
        if (SUCCEEDED(sample->GetPointer(&data)) && data != nullptr &&
            sample->GetActualDataLength() >= DibStride(m_width, 24) * m_height) {
            LONGLONG content = 0;
            if (CounterWindow::DecodeRgb24(data, m_width, m_height, arrival, &content)) {
                delivery.content = content;
            }
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_deliveries.push_back(delivery);
        return S_OK;
    }
    std::vector<Delivery> Take() {
        std::lock_guard<std::mutex> lock(m_lock);
        std::vector<Delivery> taken;
        taken.swap(m_deliveries);
        return taken;
    }

private:
    int m_width = 0;
    int m_height = 0;
    std::mutex m_lock;
    std::vector<Delivery> m_deliveries;
};

struct Device {
    ComPtr<IBaseFilter> filter;
    ComPtr<IPin> pin;
    ComPtr<ICaptureDeviceSettings> settings;
};

HRESULT CreateDevice(Device* device) {
    HRESULT hr = S_OK;
    CUnknown* object = CZRV_Capture::CreateInstance(nullptr, &hr);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, object);
    RETURN_IF_FAILED(hr);
    object->NonDelegatingAddRef();
    hr = object->NonDelegatingQueryInterface(IID_PPV_ARGS(&device->filter));
    object->NonDelegatingRelease();
    RETURN_IF_FAILED(hr);
    RETURN_IF_FAILED(GetPin(device->filter.Get(), PINDIR_OUTPUT, &device->pin));
    return device->pin.As(&device->settings);
}

// Ages of direct copies of the window at random moments, in ms.
std::vector<double> DirectCopyAges(HWND window, int count) {
    RECT client = {};
    ::GetClientRect(window, &client);
    // On a thread of its own, as the device reads (see WindowCopier).
    WindowCopier copier(client.right, client.bottom);
    std::vector<double> ages;
    if (!copier.ok()) {
        return ages;
    }
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause(0, 20);
    for (int i = 0; i < count; ++i) {
        ::Sleep(static_cast<DWORD>(pause(random)));
        copier.Read(window);
        const LONGLONG done = CounterNow();
        LONGLONG content = 0;
        if (CounterWindow::DecodeBgrx(copier.Pixels(), copier.Stride(), client.right, client.bottom, done, &content)) {
            ages.push_back(static_cast<double>(done - content) / 10000.0);
        }
    }
    return ages;
}

struct CaseResult {
    std::vector<double> contentAges;
    std::vector<double> shownAges;
    int frames = 0;
    int unreadable = 0;
    // How far the sample times trail the stream time at arrival, over the
    // last second: the largest, and the last.
    double worstRecentTrailMs = 0;
    double trailMs = 0;
};

CaseResult RunCase(int sizeIndex, double rate, bool withClock, double seconds) {
    CaseResult result;
    Device device;
    if (FAILED(CreateDevice(&device))) {
        std::fprintf(stderr, "device failed\n");
        return result;
    }
    device.settings->SetSelectPixel(sizeIndex);
    device.settings->SetFrameRate(rate);
    int size[2] = {};
    device.settings->GetFrameSize(size);
    auto pin = MakeFake<DecodingPin>();
    pin->SetSize(size[0], size[1]);
    if (FAILED(device.pin->Connect(pin.Get(), nullptr))) {
        std::fprintf(stderr, "connect failed\n");
        return result;
    }
    auto clock = MakeFake<CounterReferenceClock>();
    if (withClock) {
        device.filter->SetSyncSource(clock.Get());
    }
    // As a graph does: pause, then run with the stream start ahead.
    device.filter->Pause();
    ::Sleep(50);
    const REFERENCE_TIME start = CounterNow() + 200 * kMs;
    device.filter->Run(withClock ? start : 0);
    const LONGLONG ran = CounterNow();
    ::Sleep(static_cast<DWORD>(seconds * 1000));
    device.filter->Stop();
    const std::vector<Delivery> deliveries = pin->Take();
    for (const Delivery& delivery : deliveries) {
        // The frame the paused graph got was read before it ran.
        if (delivery.content >= 0 && delivery.content < ran) {
            continue;
        }
        ++result.frames;
        if (delivery.content < 0) {
            ++result.unreadable;
            continue;
        }
        result.contentAges.push_back(static_cast<double>(delivery.arrival - delivery.content) / 10000.0);
        if (withClock) {
            const LONGLONG shown = std::max<LONGLONG>(delivery.arrival, start + delivery.start);
            result.shownAges.push_back(static_cast<double>(shown - delivery.content) / 10000.0);
        }
    }
    if (withClock && !deliveries.empty()) {
        const LONGLONG last = deliveries.back().arrival;
        for (const Delivery& delivery : deliveries) {
            const double trail = static_cast<double>((delivery.arrival - start) - delivery.start) / 10000.0;
            if (last - delivery.arrival <= 1000 * kMs) {
                result.worstRecentTrailMs = std::max(result.worstRecentTrailMs, trail);
            }
            result.trailMs = trail;
        }
    }
    device.pin->Disconnect();
    device.filter->SetSyncSource(nullptr);
    return result;
}

// One line of the table: content age against the direct copy's p50.
void PrintCase(int sizeIndex, double rate, bool withClock, const CaseResult& r, double directP50) {
    char label[16];
    std::snprintf(label, sizeof(label), "%dx%d", FrameSizeTable[sizeIndex].width, FrameSizeTable[sizeIndex].height);
    std::printf("%-9s %-6.0f %-6s %7d %11.2f %11.2f %8.2f", label, rate, withClock ? "graph" : "none", r.frames,
                Percentile(r.contentAges, 0.5), Percentile(r.contentAges, 0.99),
                Percentile(r.contentAges, 0.5) / directP50);
    if (withClock) {
        std::printf(" %11.2f %11.2f", Percentile(r.shownAges, 0.5), Percentile(r.shownAges, 0.99));
    }
    if (r.unreadable > 0) {
        std::printf("  (%d frames unreadable)", r.unreadable);
    }
    std::printf("\n");
}

int Run(double seconds) {
    RegistrySandbox sandbox;
    if (!sandbox.ok()) {
        std::fprintf(stderr, "registry sandbox failed\n");
        return 1;
    }
    CounterWindow window;
    if (FAILED(window.Start(kWindowClass, L"Counter", 1280, 720))) {
        std::fprintf(stderr, "counter window failed\n");
        return 1;
    }
    if (!WriteSetting("QMCaptureBench::Counter", kWindowClassValue) || !WriteSetting("Counter", kWindowNameValue)) {
        std::fprintf(stderr, "the window settings could not be stored\n");
        return 1;
    }
    std::printf("content_age_bench (%s): 1280x720 counter window, %.0f s per case (1 fps: %.0f s)\n",
                sizeof(void*) == 8 ? "x64" : "x86", seconds, seconds * 3);
    const std::vector<double> direct = DirectCopyAges(window.hwnd(), 200);
    const double directP50 = Percentile(direct, 0.5);
    std::printf("direct copy of the window: age p50 %.2f ms  p99 %.2f ms (%zu copies)\n\n", directP50,
                Percentile(direct, 0.99), direct.size());
    std::printf("%-9s %-6s %-6s %7s %11s %11s %8s %11s %11s\n", "size", "rate", "clock", "frames", "age p50 ms",
                "age p99 ms", "x copy", "shown p50", "shown p99");
    for (const int sizeIndex : {0, 5}) {
        for (const double rate : {30.0, 15.0, 1.0}) {
            for (const bool withClock : {false, true}) {
                PrintCase(sizeIndex, rate, withClock, RunCase(sizeIndex, rate, withClock, rate < 2 ? seconds * 3 : seconds),
                          directP50);
            }
        }
    }
    PrintCase(kHdLandscape, 60.0, true, RunCase(kHdLandscape, 60.0, true, seconds), directP50);
    window.Stop();

    CounterWindow fullHd;
    if (SUCCEEDED(fullHd.Start(kWindowClass, L"Counter", 1920, 1080))) {
        const std::vector<double> fullHdDirect = DirectCopyAges(fullHd.hwnd(), 200);
        const double fullHdP50 = Percentile(fullHdDirect, 0.5);
        std::printf("\n1920x1080 counter window, direct copy: age p50 %.2f ms  p99 %.2f ms (%zu copies)\n",
                    fullHdP50, Percentile(fullHdDirect, 0.99), fullHdDirect.size());
        PrintCase(kFullHdLandscape, 60.0, true, RunCase(kFullHdLandscape, 60.0, true, seconds), fullHdP50);
        fullHd.Stop();
    }

    // A window too large to copy at the rate.
    CounterWindow large;
    if (SUCCEEDED(large.Start(kWindowClass, L"Counter", 3840, 2160))) {
        const CaseResult r = RunCase(5, 30.0, true, 10.0);
        // Larger than the display, the window is read in part only, so its
        // counter is not readable; what counts here is the sample times.
        std::printf("\n3840x2160 window, 1136x640 at 30 fps for 10 s with the graph clock: %d frames; "
                    "sample times trail the clock by %.1f ms at the end, %.1f ms at most over the last second "
                    "(one frame time: 33.3 ms)\n",
                    r.frames, r.trailMs, r.worstRecentTrailMs);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 4.0;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 1;
    }
    const int result = Run(seconds);
    ::CoUninitialize();
    return result;
}
