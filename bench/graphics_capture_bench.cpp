// What a frame read by graphics capture (method 3) costs, against a copy
// (method 1) of the same window: a window of another process with a
// client area of 1280x720 and of 1920x1080 (or the sizes given), read
//   - by the graphics capture reader itself, on this thread, from a frame
//     that waits in its pool: the part of the frame cut out into a
//     staging texture, mapped and copied into a 32-bit picture;
//   - by the same reader where each read finds the pool empty and has the
//     runtime make a frame of the window first (a window that draws all
//     the time);
//   - by the window capture on its capture thread, as a camera's frames
//     read, with method 3 and with method 1.
// Wine has no Windows.Graphics.Capture: the runtime is the tests' stand-in
// (tests/window/graphics_capture_stand_in/), registered in the build's
// Wine prefix under the real class names while the benchmark runs, and
// activated through Wine's RoGetActivationFactory as the tests do. Its
// frames are real Direct3D 11 textures (on Wine's Direct3D), filled with
// a pattern in memory rather than drawn by a compositor: the figures of
// the reader's own work (the first line) are those of the reader's code on
// this Direct3D; those that include the making of a frame measure the
// stand-in's pattern too, which has nothing to do with what Windows
// costs. Each figure: median and 90th percentile of the reads, in ms.
//
// Usage: graphics_capture_bench [reads per figure] [WIDTHxHEIGHT ...]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "bench/support/bench_arguments.h"
#include "bench/support/bench_clock.h"
#include "bench/support/child_window.h"
#include "framework/memory_dib.h"
#include "tests/support/graphics_capture_stand_in.h"
#include "window/graphics_capture_reader.h"
#include "window/window_capture.h"

using namespace qmbench;

namespace {

const std::atomic<bool> kNeverGiveUp{false};
constexpr DWORD kDeadlineMs = 5000;

struct Size {
    int width;
    int height;
};

// `reads` timed calls of `read` (after one untimed), each after an
// untimed `prepare`; prints one line. `read` answers whether it read a
// picture.
void Report(const char* name, int reads, const std::function<void()>& prepare, const std::function<bool()>& read) {
    prepare();
    QM_IGNORE(read(), "the first read starts the capture and sizes the buffers");
    std::vector<double> times;
    times.reserve(static_cast<size_t>(reads));
    int pictures = 0;
    for (int i = 0; i < reads; ++i) {
        prepare();
        const double start = NowMs();
        pictures += read() ? 1 : 0;
        times.push_back(NowMs() - start);
    }
    const double p90 = Percentile(times, 0.9);
    const double median = Median(times);
    std::printf("  %-58s %8.2f %8.2f %6d/%d\n", name, median, p90, pictures, reads);
    std::fflush(stdout);
}

bool MeasureSize(qmtest::GraphicsCaptureStandIn& standIn, Size size, int reads) {
    ChildProcessWindow child;
    if (FAILED(child.Start(BenchPicture::Application, size.width, size.height))) {
        std::fprintf(stderr, "the child window of %dx%d could not be shown\n", size.width, size.height);
        return false;
    }
    const HWND window = child.hwnd();
    std::printf("%dx%d, a window of another process:\n", size.width, size.height);
    std::printf("  %-58s %8s %8s %9s\n", "read", "p50 ms", "p90 ms", "pictures");
    const auto nothing = [] {};
    const auto deliverOne = [&] { QM_IGNORE(standIn.DeliverFrames(1), "a read without a frame shows as no picture"); };

    {
        CMemoryDib dib;
        if (!dib.Create(size.width, size.height, 32, true)) {
            std::fprintf(stderr, "no picture of %dx%d\n", size.width, size.height);
            return false;
        }
        CGraphicsCaptureReader reader;
        reader.SetDeviceInteropForTesting(standIn.DeviceInterop());
        if (reader.Availability() != GraphicsCaptureAvailability::Available) {
            std::fprintf(stderr, "graphics capture through the stand-in: %s (0x%08lX)\n",
                         DescribeGraphicsCaptureAvailability(reader.KnownAvailability()),
                         static_cast<unsigned long>(reader.AvailabilityError()));
            return false;
        }
        const RECT area = {0, 0, size.width, size.height};
        const auto read = [&] {
            SIZE got = {};
            return reader.Read(window, area, false, kNeverGiveUp, dib, &got) ==
                   CGraphicsCaptureReader::Result::Picture;
        };
        standIn.Control().manualFrames = true;
        Report("graphics capture reader, a frame waiting", reads, deliverOne, read);
        standIn.Control().manualFrames = false;
        Report("graphics capture reader, the stand-in makes the frame", reads, nothing, read);
        reader.Shutdown();
    }

    CWindowCapture capture;
    capture.SetGraphicsDeviceInteropForTesting(standIn.DeviceInterop());
    if (FAILED(capture.Start())) {
        std::fprintf(stderr, "the capture thread did not start\n");
        return false;
    }
    const auto readBy = [&](CaptureMethod method) {
        return [&capture, window, method] {
            return capture.Read(window, method, kDeadlineMs, nullptr) == CWindowCapture::Outcome::Picture;
        };
    };
    standIn.Control().manualFrames = true;
    Report("window capture, method 3 (graphics), a frame waiting", reads, deliverOne, readBy(CaptureMethod::Graphics));
    standIn.Control().manualFrames = false;
    Report("window capture, method 3, the stand-in makes the frame", reads, nothing,
           readBy(CaptureMethod::Graphics));
    Report("window capture, method 1 (copy)", reads, nothing, readBy(CaptureMethod::Copy));
    capture.Stop();
    capture.WaitUntilEnded();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (RunChildWindowIfAsked(argc, argv)) {
        return 0;
    }
    const int reads = ReadsArgument(argc, argv, 120);
    std::vector<Size> sizes;
    for (int i = 2; i < argc; ++i) {
        Size size = {};
        if (std::sscanf(argv[i], "%dx%d", &size.width, &size.height) != 2 || size.width <= 0 || size.height <= 0) {
            std::fprintf(stderr, "usage: graphics_capture_bench [reads] [WIDTHxHEIGHT ...]\n");
            return 2;
        }
        sizes.push_back(size);
    }
    if (sizes.empty()) {
        sizes = {{1280, 720}, {1920, 1080}};
    }

    qmtest::GraphicsCaptureStandIn standIn;
    if (FAILED(standIn.LoadResult()) || FAILED(standIn.Register())) {
        std::fprintf(stderr, "the graphics capture stand-in (graphics_capture_stand_in.dll beside this program) "
                             "cannot be loaded or registered: 0x%08lX\n",
                     static_cast<unsigned long>(standIn.LoadResult()));
        return 1;
    }
    std::printf("graphics_capture_bench (%s): %d reads per figure; graphics capture through the tests' stand-in "
                "runtime, against a copy of the same window\n",
                sizeof(void*) == 8 ? "x64" : "x86", reads);
    int failed = 0;
    for (const Size size : sizes) {
        failed += MeasureSize(standIn, size, reads) ? 0 : 1;
    }
    return failed == 0 ? 0 : 1;
}
