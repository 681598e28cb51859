// Skipped frame times after a start: the device is created, connected in a
// real graph (sample grabber, null renderer, the graph's clock) and run for
// a few seconds at the 30 fps setting, again and again, at the six sizes
// before HD in turn, while it captures a 1280x720 window of another
// process. Every sample is to start where the one before ended; a sample
// that starts later has skipped a frame time (a frame finished more than a
// frame time after its slot ended). Prints, per size, the runs, the runs
// with a gap, the gaps in the first 100 ms and later, and each gap with
// the frame it fell on; then how late the frames were made (arrival on
// the graph's clock against the sample's end) at the first frames of a
// run and later.
//
// Usage: start_gap_bench [starts] [seconds per start]   (default 50 and 3)
#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "bench/support/child_window.h"
#include "bench/support/configured_device.h"
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
constexpr int kOriginalSizes = 6;
// Gaps whose sample starts before this are counted as the start's.
constexpr REFERENCE_TIME kStartSpan = 1000000;

struct Arrival {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    // The graph's clock at arrival, in stream time.
    REFERENCE_TIME streamNow = 0;
};

// Keeps the times of every sample and the stream time it arrived at.
class TimeRecorder final : public CSampleCallback {
public:
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample* sample) override {
        Arrival arrival;
        sample->GetTime(&arrival.start, &arrival.end);
        REFERENCE_TIME now = 0;
        if (m_clock != nullptr && SUCCEEDED(m_clock->GetTime(&now))) {
            arrival.streamNow = now - m_streamStart;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_arrivals.push_back(arrival);
        return S_OK;
    }
    // The graph's clock, and the stream start the graph ran from (the
    // grabber's own, read after Run).
    void Follow(IReferenceClock* clock, REFERENCE_TIME streamStart) {
        m_clock = clock;
        m_streamStart = streamStart;
    }
    std::vector<Arrival> Take() {
        std::lock_guard<std::mutex> lock(m_lock);
        return std::move(m_arrivals);
    }

private:
    std::mutex m_lock;
    std::vector<Arrival> m_arrivals;
    IReferenceClock* m_clock = nullptr;
    REFERENCE_TIME m_streamStart = 0;
};

struct Gap {
    int size = 0;
    int run = 0;
    size_t frame = 0;
    REFERENCE_TIME previousEnd = 0;
    REFERENCE_TIME start = 0;
    // The frames around it: sample start and arrival, in ms of stream time.
    std::vector<std::pair<double, double>> around;
};

struct SizeFigures {
    int runs = 0;
    int runsWithGaps = 0;
    int startGaps = 0;
    int laterGaps = 0;
    size_t frames = 0;
    // How long after its sample's end each frame arrived, in ms: the first
    // three frames of a run, and the rest.
    std::vector<double> firstLateness;
    std::vector<double> laterLateness;
};

HRESULT RunOnce(int size, double seconds, TimeRecorder* recorder) {
    ComPtr<IBaseFilter> filter;
    RETURN_IF_FAILED(CreateConfiguredDevice(size, kThirtyFps, &filter));

    CaptureGraph graph;
    RETURN_IF_FAILED(graph.Build(filter.Get(), false));
    RETURN_IF_FAILED(graph.grabber->SetCallback(recorder, 0));
    ComPtr<IMediaFilter> graphFilter;
    RETURN_IF_FAILED(graph.graph.As(&graphFilter));
    // The clock the graph would pick at Run, chosen now so that the
    // recorder can read it from the first sample on.
    RETURN_IF_FAILED(graph.graph->SetDefaultSyncSource());
    ComPtr<IReferenceClock> clock;
    RETURN_IF_FAILED(graphFilter->GetSyncSource(&clock));
    RETURN_HR_IF_NULL(E_FAIL, clock);
    // The stream start is known only once the graph runs; the samples of
    // the first moments are kept and their stream times fixed up after.
    recorder->Follow(clock.Get(), 0);
    RETURN_IF_FAILED(graph.Run());
    PumpFor(static_cast<DWORD>(seconds * 1000.0));
    graph.Stop();
    graph.grabber->SetCallback(nullptr, 0);
    recorder->Follow(nullptr, 0);
    return S_OK;
}

// The stream start of a run, found from its samples: no frame after the
// first arrives before its sample's start, so the earliest arrival less
// its sample start bounds it. (The first frame is made while the graph is
// still paused, before the stream start.)
REFERENCE_TIME EstimateStreamStart(const std::vector<Arrival>& arrivals) {
    if (arrivals.size() < 2) {
        return arrivals.front().streamNow - arrivals.front().start;
    }
    REFERENCE_TIME best = arrivals[1].streamNow - arrivals[1].start;
    for (size_t i = 2; i < arrivals.size(); ++i) {
        best = std::min(best, arrivals[i].streamNow - arrivals[i].start);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (RunChildWindowIfAsked(argc, argv)) {
        return 0;
    }
    const int starts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const double seconds = argc > 2 ? std::max(0.5, std::atof(argv[2])) : 3.0;
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
            std::printf("start_gap_bench (%s): %d starts of %.1f s at the 30 fps setting, the six sizes in turn, "
                        "a 1280x720 window in another process\n",
                        sizeof(void*) == 8 ? "x64" : "x86", starts, seconds);
            std::vector<SizeFigures> figures(kOriginalSizes);
            std::vector<Gap> gaps;
            TimeRecorder recorder;
            for (int run = 0; run < starts; ++run) {
                const int size = run % kOriginalSizes;
                const HRESULT hr = RunOnce(size, seconds, &recorder);
                std::vector<Arrival> arrivals = recorder.Take();
                if (FAILED(hr) || arrivals.empty()) {
                    std::printf("run %d (size %d) failed: 0x%08lx\n", run, size, static_cast<unsigned long>(hr));
                    result = 1;
                    continue;
                }
                SizeFigures& f = figures[static_cast<size_t>(size)];
                ++f.runs;
                f.frames += arrivals.size();
                const REFERENCE_TIME streamStart = EstimateStreamStart(arrivals);
                bool gapped = false;
                for (size_t i = 0; i < arrivals.size(); ++i) {
                    const double late =
                        static_cast<double>(arrivals[i].streamNow - streamStart - arrivals[i].end) / 10000.0;
                    (i < 3 ? f.firstLateness : f.laterLateness).push_back(late);
                    if (i == 0 || arrivals[i].start == arrivals[i - 1].end) {
                        continue;
                    }
                    gapped = true;
                    (arrivals[i].start < kStartSpan ? f.startGaps : f.laterGaps) += 1;
                    Gap gap{size, run, i, arrivals[i - 1].end, arrivals[i].start, {}};
                    for (size_t j = i > 3 ? i - 3 : 0; j < std::min(arrivals.size(), i + 2); ++j) {
                        gap.around.emplace_back(static_cast<double>(arrivals[j].start) / 10000.0,
                                                static_cast<double>(arrivals[j].streamNow - streamStart) / 10000.0);
                    }
                    gaps.push_back(std::move(gap));
                }
                f.runsWithGaps += gapped ? 1 : 0;
            }
            std::printf("%-10s %5s %8s %10s %12s %12s   %s\n", "size", "runs", "frames", "gapped runs",
                        "gaps <100ms", "gaps later", "frame made after its slot ended, ms: first 3 p50/max, "
                                                     "later p50/p99/max");
            int allRuns = 0;
            int allGapped = 0;
            for (int size = 0; size < kOriginalSizes; ++size) {
                const SizeFigures& f = figures[static_cast<size_t>(size)];
                allRuns += f.runs;
                allGapped += f.runsWithGaps;
                std::printf("%4dx%-5d %5d %8zu %10d %12d %12d   %6.1f/%6.1f   %6.1f/%6.1f/%6.1f\n",
                            FrameSizeTable[size].width, FrameSizeTable[size].height, f.runs, f.frames,
                            f.runsWithGaps, f.startGaps, f.laterGaps, Percentile(f.firstLateness, 0.5),
                            Percentile(f.firstLateness, 1.0), Percentile(f.laterLateness, 0.5),
                            Percentile(f.laterLateness, 0.99), Percentile(f.laterLateness, 1.0));
            }
            std::printf("runs with a gap: %d of %d\n", allGapped, allRuns);
            for (const Gap& g : gaps) {
                std::printf("  gap: %dx%d run %d frame %zu: start %lld after an end of %lld; frames around it "
                            "(sample start ms / arrival ms):",
                            FrameSizeTable[g.size].width, FrameSizeTable[g.size].height, g.run, g.frame,
                            static_cast<long long>(g.start), static_cast<long long>(g.previousEnd));
                for (const auto& a : g.around) {
                    std::printf(" %.1f/%.1f", a.first, a.second);
                }
                std::printf("\n");
            }
            child.Close();
        }
    }
    ::CoUninitialize();
    return result;
}
