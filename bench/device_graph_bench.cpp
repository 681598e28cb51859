// The device end to end: at each of the ten sizes and the 30 fps setting,
// the filter streams through a real graph (sample grabber, null renderer)
// while it captures a 1280x720 window of another process. Prints the
// delivered frame rate, the intervals between sample arrivals, whether the
// sample times are contiguous, and how many frames did not show the window
// (the black standby picture).
//
// Then the HD sizes at 60 fps: 1280x720 from a 1280x720 window and
// 1920x1080 from a 1920x1080 window, each against what one copy of that
// window costs in the same run (on a thread of its own, as the device
// reads): the rate at which the window can be copied at all, and the
// processor time of one copy against the processor time per frame.
//
// Usage: device_graph_bench [seconds per case] [hd] [rgb24|nv12|yuy2|i420|rgb32]
//   (default 10 s; "hd": the HD cases at 60 fps only; the output format,
//   RGB24 unless named)
#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "bench/support/bench_clock.h"
#include "bench/support/child_window.h"
#include "bench/support/configured_device.h"
#include "bench/support/window_copier.h"
#include "capture/output_formats.h"
#include "capture/zrv_capture.h"
#include "framework/media_type.h"
#include "tests/support/capture_graph.h"
#include "tests/support/message_pump.h"
#include "tests/support/registry_sandbox.h"
#include "tools/capture_client/sample_callback.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;
using namespace qmbench;

namespace {

constexpr REFERENCE_TIME kThirtyFps = 333333;
constexpr REFERENCE_TIME kSixtyFps = 166666;
constexpr int kHdLandscape = 8;
constexpr int kFullHdLandscape = 9;

// Records arrival moments and sample times; counts the frames without any
// picture in them.
class ArrivalRecorder final : public CSampleCallback {
public:
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
        const double now = NowMs();
        REFERENCE_TIME start = 0;
        REFERENCE_TIME end = 0;
        sample->GetTime(&start, &end);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const long length = sample->GetActualDataLength();
        // Black and white in every format (RGB 0 and 255, Y 16 and 235,
        // neutral chroma 128) are what the standby frame holds.
        bool picture = false;
        for (long i = 0; data != nullptr && i < length; i += 997) {
            const BYTE b = data[i];
            picture = picture || (b != 0 && b != 255 && b != 16 && b != 235 && b != 128);
        }
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_recording) {
            return S_OK;
        }
        if (!m_arrivals.empty() && start != m_lastEnd) {
            ++m_breaks;
        }
        m_lastEnd = end;
        m_arrivals.push_back(now);
        m_blank += picture ? 0 : 1;
        return S_OK;
    }
    void Start() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_arrivals.clear();
        m_arrivals.reserve(4096);
        m_breaks = 0;
        m_blank = 0;
        m_recording = true;
    }
    void Finish(std::vector<double>& arrivals, int& breaks, int& blank) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_recording = false;
        arrivals = m_arrivals;
        breaks = m_breaks;
        blank = m_blank;
    }

private:
    std::mutex m_lock;
    bool m_recording = false;
    std::vector<double> m_arrivals;
    REFERENCE_TIME m_lastEnd = 0;
    int m_breaks = 0;
    int m_blank = 0;
};

struct RunFigures {
    size_t frames = 0;
    double fps = 0;
    std::vector<double> intervals;
    int breaks = 0;
    int blank = 0;
    double cpuPerFrameMs = 0;
};

// The output format of the runs (--format): a place of kOfferedFormats.
int g_outputFormat = 0;

HRESULT RunSize(int index, REFERENCE_TIME frameTime, double seconds, RunFigures* figures) {
    ComPtr<IBaseFilter> filter;
    GUID subtype = GUID_NULL;
    RETURN_IF_FAILED(
        CreateConfiguredDevice(g_outputFormat * kFrameSizeTableCount + index, frameTime, &filter, &subtype));

    CaptureGraph graph;
    RETURN_IF_FAILED(graph.Build(filter.Get(), false, subtype));
    ArrivalRecorder recorder;
    RETURN_IF_FAILED(graph.grabber->SetCallback(&recorder, 0));
    RETURN_IF_FAILED(graph.Run());
    PumpFor(1000);  // the window is found, and the first frames settle
    recorder.Start();
    const double cpuStart = ProcessCpuMs();
    PumpFor(static_cast<DWORD>(seconds * 1000.0));
    const double cpu = ProcessCpuMs() - cpuStart;
    std::vector<double> arrivals;
    recorder.Finish(arrivals, figures->breaks, figures->blank);
    graph.Stop();
    graph.grabber->SetCallback(nullptr, 0);

    for (size_t i = 1; i < arrivals.size(); ++i) {
        figures->intervals.push_back(arrivals[i] - arrivals[i - 1]);
    }
    const double span = arrivals.size() > 1 ? arrivals.back() - arrivals.front() : 0;
    figures->frames = arrivals.size();
    figures->fps = span > 0 ? static_cast<double>(arrivals.size() - 1) * 1000.0 / span : 0;
    figures->cpuPerFrameMs = arrivals.empty() ? 0 : cpu / static_cast<double>(arrivals.size());
    return S_OK;
}

void PrintRun(int index, const RunFigures& f) {
    std::printf("%5dx%-4d %6zu frames %7.3f fps   interval ms p50 %6.2f p90 %6.2f p99 %6.2f max %7.2f   "
                "times %s   without the window: %d\n",
                FrameSizeTable[index].width, FrameSizeTable[index].height, f.frames, f.fps,
                Percentile(f.intervals, 0.5), Percentile(f.intervals, 0.9), Percentile(f.intervals, 0.99),
                Percentile(f.intervals, 1.0), f.breaks == 0 ? "contiguous" : "BROKEN", f.blank);
}

// What one copy of the window costs, on a thread of its own: wall time and
// this process's processor time per copy, the median of blocks of copies.
struct CopyFigures {
    double wallMs = 0;
    double cpuMs = 0;
};

CopyFigures MeasureCopy(HWND window, int width, int height) {
    WindowCopier copier(width, height);
    CopyFigures figures;
    if (!copier.ok()) {
        return figures;
    }
    copier.Read(window);
    std::vector<double> walls;
    std::vector<double> cpus;
    for (int block = 0; block < 7; ++block) {
        const double wall = NowMs();
        const double cpu = ProcessCpuMs();
        for (int i = 0; i < 20; ++i) {
            copier.Read(window);
        }
        walls.push_back((NowMs() - wall) / 20);
        cpus.push_back((ProcessCpuMs() - cpu) / 20);
    }
    figures.wallMs = Median(walls);
    figures.cpuMs = Median(cpus);
    return figures;
}

// One HD size at 60 fps from a window of the same size.
bool RunHd(int index, double seconds) {
    const FrameSize& size = FrameSizeTable[index];
    ChildProcessWindow child;
    if (FAILED(child.Start(BenchPicture::Application, size.width, size.height))) {
        std::printf("%dx%d: the window could not be shown\n", size.width, size.height);
        return false;
    }
    const CopyFigures copy = MeasureCopy(child.hwnd(), size.width, size.height);
    RunFigures run;
    const HRESULT hr = RunSize(index, kSixtyFps, seconds, &run);
    if (FAILED(hr)) {
        std::printf("%dx%d at 60 fps failed: 0x%08lx\n", size.width, size.height, static_cast<unsigned long>(hr));
        return false;
    }
    const double copyRate = copy.wallMs > 0 ? 1000.0 / copy.wallMs : 0;
    const double bound = 0.95 * std::min(60.0, copyRate);
    PrintRun(index, run);
    std::printf("          one copy of the %dx%d window: %.2f ms (%.1f copies/s), processor %.2f ms\n"
                "          rate %.3f fps against 0.95 x min(60, copy rate) = %.2f: %s\n"
                "          processor time per frame %.2f ms = %.2fx one copy\n",
                size.width, size.height, copy.wallMs, copyRate, copy.cpuMs, run.fps, bound,
                run.fps >= bound ? "met" : "NOT MET", run.cpuPerFrameMs,
                copy.cpuMs > 0 ? run.cpuPerFrameMs / copy.cpuMs : 0.0);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (RunChildWindowIfAsked(argc, argv)) {
        return 0;
    }
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const bool hdOnly = argc > 2 && std::strcmp(argv[2], "hd") == 0;
    for (int i = 2; i < argc; ++i) {
        for (int place = 0; place < kOutputFormatCount; ++place) {
            if (_stricmp(argv[i], NameOf(output_formats::kOfferedFormats[place])) == 0) {
                g_outputFormat = place;
            }
        }
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    int result = 0;
    {
        RegistrySandbox sandbox;
        ChildProcessWindow child;
        if (!sandbox.ok() || FAILED(child.Start(BenchPicture::Application, 1280, 720))) {
            std::fprintf(stderr, "set-up failed\n");
            result = 1;
        } else {
            std::printf("device_graph_bench (%s, %s): 30 fps setting, 1280x720 window in another process, "
                        "%.0f s per size\n",
                        sizeof(void*) == 8 ? "x64" : "x86", NameOf(output_formats::kOfferedFormats[g_outputFormat]),
                        seconds);
            for (int i = 0; i < (hdOnly ? 0 : kFrameSizeTableCount); ++i) {
                RunFigures run;
                const HRESULT hr = RunSize(i, kThirtyFps, seconds, &run);
                if (FAILED(hr)) {
                    std::printf("size %d failed: 0x%08lx\n", i, static_cast<unsigned long>(hr));
                    result = 1;
                } else {
                    PrintRun(i, run);
                }
            }
            child.Close();
            std::printf("\nHD sizes at the 60 fps setting, each from a window of its own size:\n");
            for (const int index : {kHdLandscape, kFullHdLandscape}) {
                if (!RunHd(index, seconds)) {
                    result = 1;
                }
            }
        }
    }
    ::CoUninitialize();
    return result;
}
