// What a frame's read costs for each kind of source, through the capture
// source the cameras use (on its capture thread, per-monitor aware, as
// frames read): a window of another process at WIDTHxHEIGHT (default
// 1920x1080), a monitor of that size (a monitor list of the bench's own
// with a primary of that size at 0,0, over the same screen), and a region
// of that size; one after the other, back to back, twice. Prints the median
// and 90th percentile per read and the rate the reads alone allow.
//
// Usage: source_read_bench [reads per figure] [WIDTHxHEIGHT]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/support/bench_arguments.h"
#include "bench/support/bench_clock.h"
#include "bench/support/child_window.h"
#include "source/capture_source.h"

using namespace qmbench;

namespace {

int g_width = 1920;
int g_height = 1080;

// One monitor of the benchmark's size: what a 1920x1080 screen reads.
int BenchMonitor(MonitorInfo* monitors, int capacity) {
    if (capacity > 0) {
        MonitorInfo monitor;
        monitor.rect = {0, 0, g_width, g_height};
        monitor.primary = true;
        monitors[0] = monitor;
    }
    return 1;
}

void Report(const char* name, CCaptureSource& source, const CCaptureSettings::Values& settings, int reads) {
    std::vector<double> times;
    int pictures = 0;
    QM_IGNORE(source.Read(settings, 1000, nullptr), "the first read sizes the buffers");
    for (int i = 0; i < reads; ++i) {
        const double start = NowMs();
        pictures += source.Read(settings, 1000, nullptr) == IFrameSource::Outcome::Picture ? 1 : 0;
        times.push_back(NowMs() - start);
    }
    const double p90 = Percentile(times, 0.9);
    const double median = Median(times);
    std::printf("%-40s %9.2f %9.2f %10.1f %6d/%d\n", name, median, p90, median > 0 ? 1000.0 / median : 0.0, pictures,
                reads);
}

}  // namespace

int main(int argc, char** argv) {
    if (RunChildWindowIfAsked(argc, argv)) {
        return 0;
    }
    const int reads = ReadsArgument(argc, argv, 120);
    if (argc > 2 && std::sscanf(argv[2], "%dx%d", &g_width, &g_height) != 2) {
        std::fprintf(stderr, "usage: source_read_bench [reads] [WIDTHxHEIGHT]\n");
        return 2;
    }
    ChildProcessWindow child;
    if (FAILED(child.Start(BenchPicture::Application, g_width, g_height))) {
        std::fprintf(stderr, "the child window could not be shown\n");
        return 1;
    }
    CCaptureSource source(nullptr, &BenchMonitor);
    if (FAILED(source.Start())) {
        std::fprintf(stderr, "the capture thread did not start\n");
        return 1;
    }
    CCaptureSettings::Values window;
    window.captureMethod = CaptureMethod::Copy;
    CCaptureSettings::Values monitor = window;
    monitor.sourceKind = SourceKind::Monitor;
    monitor.showCursor = CursorChoice::Off;
    CCaptureSettings::Values region = monitor;
    region.sourceKind = SourceKind::Region;
    region.sourceRegion = {0, 0, g_width, g_height};
    CCaptureSettings::Values monitorWithPointer = monitor;
    monitorWithPointer.showCursor = CursorChoice::On;

    std::printf("source_read_bench (%s): %dx%d, %d reads per figure, copy of a window of another process against "
                "the screen\n",
                sizeof(void*) == 8 ? "x64" : "x86", g_width, g_height, reads);
    std::printf("%-40s %9s %9s %10s %9s\n", "source", "p50 ms", "p90 ms", "reads/s", "pictures");
    for (int round = 1; round <= 2; ++round) {
        Report("window (copy), another process", source, window, reads);
        Report("monitor", source, monitor, reads);
        Report("region", source, region, reads);
        Report("monitor with the pointer", source, monitorWithPointer, reads);
    }
    source.Stop();
    source.WaitUntilEnded();
    return 0;
}
