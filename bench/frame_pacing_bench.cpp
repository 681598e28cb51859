// Frame pacing in real time: at settings of 60, 30, 15 and 1 frames per
// second, frames are made back to back as FillBuffer makes them (another
// process's 1280x720 window into the largest format, after the wait for
// the frame's due time)
// and the moment each frame is released is recorded. Prints the long-run
// rate against the setting and the deviation of the frame intervals from
// the frame time. For reference, the same run measures how late bare
// waitable-timer waits of one frame time end on this machine: no pacing
// can be steadier than the platform wakes a thread.
//
// Usage: frame_pacing_bench [seconds per rate]   (default 20)
#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/support/child_window.h"
#include "settings/capture_settings.h"
#include "picture/frame_picture.h"
#include "capture/output_formats.h"
#include "capture/sample_stamper.h"
#include "timing/stream_pacing.h"
#include "window/window_capture.h"
#include "window/window_tracker.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/sample_rendering.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;
using namespace qmbench;

namespace {

int Run(double seconds) {
    RegistrySandbox sandbox;
    if (!sandbox.ok()) {
        std::fprintf(stderr, "registry sandbox failed\n");
        return 1;
    }
    ChildProcessWindow child;
    if (FAILED(child.Start(BenchPicture::Application, 1280, 720))) {
        std::fprintf(stderr, "child window failed\n");
        return 1;
    }
    CPacingTimer probe;
    QM_IGNORE(probe.Start(), "the line below says which timer there is");
    const FrameSize largest = FrameSizeTable[kFrameSizeTableCount - 1];
    std::printf("frame_pacing_bench (%s): %s waitable timer, %dx%d frames of a 1280x720 window in another "
                "process, %.0f s per rate\n",
                sizeof(void*) == 8 ? "x64" : "x86", probe.IsHighResolution() ? "high-resolution" : "1 ms period",
                largest.width, largest.height, seconds);
    probe.Stop();

    CCaptureSettings settings;
    CWindowTracker tracker;
    CWindowCapture capture;
    QM_IGNORE(capture.Start(), "without its thread the capture reads inline");
    CFramePicture picture;
    CStreamPacing pacing;
    CSampleStamper stamper;
    const FrameSize size = largest;
    if (FAILED(picture.Resize(size.width, size.height))) {
        std::fprintf(stderr, "no canvas\n");
        return 1;
    }
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMediaSample> sample;
    ALLOCATOR_PROPERTIES request = {1, static_cast<long>(picture.ImageSize()), 4, 0};
    ALLOCATOR_PROPERTIES actual = {};
    if (FAILED(::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&allocator))) ||
        FAILED(allocator->SetProperties(&request, &actual)) || FAILED(allocator->Commit()) ||
        FAILED(allocator->GetBuffer(&sample, nullptr, nullptr, 0))) {
        std::fprintf(stderr, "allocator failed\n");
        return 1;
    }

    std::printf("%-8s %8s %10s %12s %10s %14s %14s %14s\n", "setting", "frames", "seconds", "rate fps",
                "error %", "p50 |dev| ms", "p99 |dev| ms", "max |dev| ms");
    CPerformanceCounterClock clock;
    for (const double rate : {60.0, 30.0, 15.0, 1.0}) {
        settings.SetFrameRate(rate);
        const REFERENCE_TIME frameTime = settings.GetFrameTime();
        const int frames = std::max(3, static_cast<int>(seconds * 10000000.0 / static_cast<double>(frameTime)) + 1);
        std::vector<REFERENCE_TIME> released;
        released.reserve(static_cast<size_t>(frames));
        if (FAILED(pacing.Start())) {
            std::fprintf(stderr, "the pacing could not start\n");
            return 1;
        }
        pacing.Run(0, nullptr);
        stamper.Restart();
        for (int i = 0; i < frames; ++i) {
            QM_IGNORE(pacing.WaitUntilDue(nullptr, frameTime), "nothing wakes it early");
            const HWND window = tracker.WindowForFrame(WindowIdentity{kDefaultWindowClass, kDefaultWindowName, L""});
            if (capture.Read(window, CaptureMethod::Auto, static_cast<DWORD>(frameTime / 10000), nullptr) ==
                CWindowCapture::Outcome::Picture) {
                const CWindowCapture::Picture& read = capture.LastPicture();
                RenderWindow(picture, read.topRow, read.stride, read.width, read.height, ScaleMode::Stretch,
                                     /*mirror=*/false, sample.Get());
            } else {
                const CWindowCapture::Picture& kept = capture.LastPicture();
                RenderPrevious(picture, kept.topRow, kept.stride, kept.width, kept.height, ScaleMode::Stretch,
                                       /*mirror=*/false, sample.Get());
            }
            stamper.Stamp(sample.Get(), pacing.Take(frameTime));
            released.push_back(clock.Now());
        }
        pacing.Stop();
        std::vector<double> deviations;
        for (size_t i = 1; i < released.size(); ++i) {
            deviations.push_back(std::fabs(static_cast<double>(released[i] - released[i - 1] - frameTime) / 10000.0));
        }
        const double span = static_cast<double>(released.back() - released.front()) / 1e7;
        const double measured = static_cast<double>(released.size() - 1) / span;
        std::printf("%5.0f fps %8d %10.2f %12.4f %10.3f %14.3f %14.3f %14.3f\n", rate, frames, span, measured,
                    (measured - rate) / rate * 100.0, Percentile(deviations, 0.5), Percentile(deviations, 0.99),
                    *std::max_element(deviations.begin(), deviations.end()));
    }

    CPacingTimer timer;
    QM_IGNORE(timer.Start(), "without it the waits are whole milliseconds, which the figures show");
    std::vector<double> overshoots;
    constexpr REFERENCE_TIME kReferenceWait = 333333;
    for (int i = 0; i < 300; ++i) {
        const REFERENCE_TIME before = clock.Now();
        timer.Wait(kReferenceWait, nullptr);
        overshoots.push_back(static_cast<double>(clock.Now() - before - kReferenceWait) / 10000.0);
    }
    std::printf("platform reference, 300 bare 33.3 ms timer waits, lateness ms: p50 %.3f  p99 %.3f  max %.3f\n",
                Percentile(overshoots, 0.5), Percentile(overshoots, 0.99),
                *std::max_element(overshoots.begin(), overshoots.end()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (RunChildWindowIfAsked(argc, argv)) {
        return 0;
    }
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 20.0;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 1;
    }
    const int result = Run(seconds);
    ::CoUninitialize();
    return result;
}
