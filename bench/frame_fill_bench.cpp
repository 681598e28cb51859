// Cost and quality of one frame: for each of the six output sizes, the
// median cost of one frame's picture (what FillBuffer does before it waits
// for the frame's due time) from another process's 1280x720 window,
// next to the cost of reading that client area back with one BitBlt
// (measured in the same run, alternating); the PSNR of the picture against
// an exact floating-point area average of the same source; and the range
// of grey levels a one-pixel checkerboard shrinks to.
//
// Then the processor time per delivered frame (the read of the window on
// the capture thread, the scaling and the copy into the sample on the
// streaming thread) against that of one BitBlt of the window alone, both as
// the process's time, with the read alone beside them; and the same for
// the framings fit, fill and mirror
// (stretched), against stretch, per whole frame and for the scaler alone
// (scaling a copy of the window in memory). Processor times tick in 10 ms
// steps under Wine, so each figure is summed over blocks of calls, all
// taken by turns, until each has used at least --cpu-ms.
//
// Last, a frame of a 1280x720 window printed (CaptureMethod "2") against
// the same frame copied ("1"), by turns, in wall time.
//
// With --formats, instead: the processor time per frame in each output
// format (RGB24, NV12, YUY2, I420, RGB32) at 1280x720 and 1920x1080 from
// the same window, and each against RGB24.
//
// Usage: frame_fill_bench [iterations] [--halftone] [--cpu-ms N] [--formats]
//   --halftone also times GDI's StretchBlt in HALFTONE mode for reference.
//   --cpu-ms   thread time each CPU figure sums at least (default 1500).
//   --formats  the output formats' figures only.
#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "capture/sample_target.h"
#include "bench/support/bench_clock.h"
#include "bench/support/child_window.h"
#include "bench/support/window_copier.h"
#include "settings/capture_settings.h"
#include "picture/frame_picture.h"
#include "picture/frame_target.h"
#include "capture/output_formats.h"
#include "window/window_capture.h"
#include "window/window_tracker.h"
#include "framework/memory_dib.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/test_window_thread.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;
using namespace qmbench;

namespace {

constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 720;

// One frame's picture as the streaming thread makes it: the tracked window
// (or the window given) read by the capture thread (auto mode unless told
// otherwise), scaled into the canvas and copied into the sample.
class FramePictureWork {
public:
    explicit FramePictureWork(CaptureMethod method = CaptureMethod::Auto, HWND window = nullptr)
        : m_method(method), m_window(window) {
        QM_IGNORE(m_capture.Start(), "without its thread the capture reads inline");
    }
    void Resize(int width, int height) {
        m_tracker.Forget();
        if (FAILED(m_picture.Resize(width, height))) {
            std::fprintf(stderr, "no canvas of %dx%d\n", width, height);
        }
    }
    // Into a sample, as the pin fills it (an RGB24 target over the sample,
    // the data length set).
    void Fill(IMediaSample* sample, ScaleMode mode = ScaleMode::Stretch, bool mirror = false) {
        DrawIntoSample(sample, PixelFormat::Rgb24, m_picture.Width(), m_picture.Height(),
                       [&](const FrameTarget& target) { return FillTarget(target, mode, mirror); });
    }
    // The same frame into a target of any format (a block of memory).
    bool FillTarget(const FrameTarget& target, ScaleMode mode = ScaleMode::Stretch, bool mirror = false) {
        const HWND window =
            m_window != nullptr ? m_window : m_tracker.WindowForFrame(WindowIdentity{kDefaultWindowClass, kDefaultWindowName, L""});
        if (m_capture.Read(window, m_method, INFINITE, nullptr) == CWindowCapture::Outcome::Picture) {
            const CWindowCapture::Picture& picture = m_capture.LastPicture();
            ++m_pictures;
            return m_picture.RenderWindow(picture.topRow, picture.stride, picture.width, picture.height, mode, mirror,
                                          target);
        }
        const CWindowCapture::Picture& kept = m_capture.LastPicture();
        return m_picture.RenderPrevious(kept.topRow, kept.stride, kept.width, kept.height, mode, mirror, target);
    }
    DWORD ImageSize() const { return m_picture.ImageSize(); }
    HWND Window() const { return m_window != nullptr ? m_window : m_tracker.Current(); }
    // Frames that got a fresh picture of the window.
    int Pictures() const { return m_pictures; }

private:
    const CaptureMethod m_method;
    const HWND m_window;
    int m_pictures = 0;
    CWindowTracker m_tracker;
    CWindowCapture m_capture;
    CFramePicture m_picture;
};

// Frames per block of the thread-time measurement.
constexpr int kCpuBlockFrames = 20;

// Processor time per call of each of `calls`, in blocks taken by turns; a
// call drops out of the turns once it has summed at least minimumMs.
std::vector<double> MeasureCpuPerCall(double minimumMs, const std::vector<std::function<void()>>& calls) {
    std::vector<double> totals(calls.size(), 0.0);
    std::vector<int> counts(calls.size(), 0);
    bool more = true;
    while (more) {
        more = false;
        for (size_t k = 0; k < calls.size(); ++k) {
            if (totals[k] >= minimumMs) {
                continue;
            }
            const double start = ProcessCpuMs();
            for (int i = 0; i < kCpuBlockFrames; ++i) {
                calls[k]();
            }
            totals[k] += ProcessCpuMs() - start;
            counts[k] += kCpuBlockFrames;
            more = more || totals[k] < minimumMs;
        }
    }
    for (size_t k = 0; k < calls.size(); ++k) {
        totals[k] /= counts[k];
    }
    return totals;
}

// The framings measured against stretch.
struct Framing {
    const char* name;
    ScaleMode mode;
    bool mirror;
};
constexpr Framing kFramings[] = {
    {"stretch", ScaleMode::Stretch, false},
    {"fit", ScaleMode::Fit, false},
    {"fill", ScaleMode::Fill, false},
    {"mirror", ScaleMode::Stretch, true},
};
constexpr size_t kFramingCount = sizeof(kFramings) / sizeof(kFramings[0]);

// Per size: the copy, then each framing's whole frame, then each framing's
// scaling alone.
struct CpuFigures {
    double copyMs;
    // The frames' own read of the window (on their capture thread) alone.
    double readMs;
    double frameMs[kFramingCount];
    double scaleMs[kFramingCount];
};

std::string RatioText(double value, double reference) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f (%.2fx)", value, reference > 0 ? value / reference : 0.0);
    return text;
}

// The baseline: one BitBlt of the whole client area into a 32-bit DIB of
// the client size, through a fresh window DC, as a frame does it, on a
// thread of its own as the device's capture thread makes it (see
// WindowCopier).
using BitBltReader = WindowCopier;

// Scales a copy of the window in memory, as the frames do, into a
// bottom-up picture of the output size.
class ScaleOnly {
public:
    HRESULT Init(HWND window, int width, int height, const Framing& framing) {
        m_copy.Read(window);
        m_stride = static_cast<ptrdiff_t>(DibStride(width, 24));
        m_height = height;
        m_picture.assign(static_cast<size_t>(m_stride) * height, 0);
        return m_scaler.Prepare(kWindowWidth, kWindowHeight, width, height,
                                ComputeFrameGeometry(framing.mode, framing.mirror, kWindowWidth, kWindowHeight, width,
                                                     height));
    }
    void Scale() {
        m_scaler.Scale(m_copy.Pixels(), m_copy.Stride(), m_picture.data() + (m_height - 1) * m_stride, -m_stride);
    }

private:
    BitBltReader m_copy{kWindowWidth, kWindowHeight};
    CFrameScaler m_scaler;
    std::vector<BYTE> m_picture;
    ptrdiff_t m_stride = 0;
    int m_height = 0;
};

// Exact area average of the source, in floating point: each output pixel
// is the mean of the source area it covers (partial pixels weighted by
// their covered fraction). Rows top-down, 3 channels (B, G, R).
std::vector<double> ExactAreaAverage(const uint32_t* source, int sw, int sh, int dw, int dh) {
    auto weights = [](int n, int m) {
        std::vector<std::vector<std::pair<int, double>>> axis(static_cast<size_t>(m));
        const double ratio = static_cast<double>(n) / m;
        for (int j = 0; j < m; ++j) {
            const double lo = j * ratio;
            const double hi = (j + 1) * ratio;
            for (int i = static_cast<int>(std::floor(lo)); i < n && i < hi; ++i) {
                const double overlap = std::min(hi, i + 1.0) - std::max(lo, static_cast<double>(i));
                if (overlap > 0) {
                    axis[static_cast<size_t>(j)].push_back({i, overlap / ratio});
                }
            }
        }
        return axis;
    };
    const auto wx = weights(sw, dw);
    const auto wy = weights(sh, dh);
    std::vector<double> rows(static_cast<size_t>(sh) * dw * 3, 0.0);
    for (int y = 0; y < sh; ++y) {
        for (int x = 0; x < dw; ++x) {
            for (const auto& [i, w] : wx[static_cast<size_t>(x)]) {
                const uint32_t p = source[static_cast<size_t>(y) * sw + i];
                for (int c = 0; c < 3; ++c) {
                    rows[(static_cast<size_t>(y) * dw + x) * 3 + c] += w * ((p >> (8 * c)) & 0xFF);
                }
            }
        }
    }
    std::vector<double> result(static_cast<size_t>(dh) * dw * 3, 0.0);
    for (int y = 0; y < dh; ++y) {
        for (const auto& [i, w] : wy[static_cast<size_t>(y)]) {
            for (size_t k = 0; k < static_cast<size_t>(dw) * 3; ++k) {
                result[static_cast<size_t>(y) * dw * 3 + k] += w * rows[static_cast<size_t>(i) * dw * 3 + k];
            }
        }
    }
    return result;
}

// A sample's picture (bottom-up RGB24) compared with a top-down reference.
double Psnr(const BYTE* sample, int width, int height, const std::vector<double>& reference) {
    const size_t stride = static_cast<size_t>(width) * 3;
    double squares = 0.0;
    for (int y = 0; y < height; ++y) {
        const BYTE* row = sample + static_cast<size_t>(height - 1 - y) * stride;
        for (size_t k = 0; k < stride; ++k) {
            const double d = row[k] - reference[static_cast<size_t>(y) * stride + k];
            squares += d * d;
        }
    }
    const double mse = squares / (static_cast<double>(stride) * height);
    return mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

struct Allocated {
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMediaSample> sample;
};

HRESULT MakeSample(long size, Allocated* out) {
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_PPV_ARGS(&out->allocator)));
    ALLOCATOR_PROPERTIES request = {1, size, 4, 0};
    ALLOCATOR_PROPERTIES actual = {};
    RETURN_IF_FAILED(out->allocator->SetProperties(&request, &actual));
    RETURN_IF_FAILED(out->allocator->Commit());
    return out->allocator->GetBuffer(&out->sample, nullptr, nullptr, 0);
}

double HalftoneMs(HWND window, int width, int height) {
    CMemoryDib dib;
    if (!dib.Create(width, height, 24, false)) {
        return -1.0;
    }
    const HDC dc = dib.Dc();
    ::SetStretchBltMode(dc, HALFTONE);
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
        const double start = NowMs();
        WindowDc windowDc(window);
        ::StretchBlt(dc, 0, 0, width, height, windowDc.get(), 0, 0, kWindowWidth, kWindowHeight, SRCCOPY);
        ::GdiFlush();
        times.push_back(NowMs() - start);
    }
    return Median(times);
}

// The print path (CaptureMethod "2") against the copy ("1"): wall time of
// one frame from the same 1280x720 window, by turns. The window belongs to
// this process, on a thread of its own as an application's UI thread:
// Wine cannot print another process's window (the window would draw into a
// DC handle that means nothing in its own process). PrintWindow runs on the
// window's thread, so its cost is in the time of the frame.
int RunPrintAgainstCopy(int iterations) {
    TestWindowThread thread;
    const std::vector<uint32_t> pixels = RenderBenchPicture(BenchPicture::Application, kWindowWidth, kWindowHeight);
    HWND window = nullptr;
    const HRESULT created = thread.Create(
        L"QMBench::OwnWindow", L"Own window", kWindowWidth, kWindowHeight,
        [&pixels](int x, int y) {
            const uint32_t p = pixels[static_cast<size_t>(y) * kWindowWidth + x];
            return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
        },
        &window);
    if (FAILED(created)) {
        std::fprintf(stderr, "own window failed: 0x%08lx\n", static_cast<unsigned long>(created));
        return 1;
    }
    std::printf("\nPrint against copy (wall ms per frame, application picture, a 1280x720 window of\n"
                "this process on its own thread)\n");
    std::printf("%-10s %10s %10s %8s\n", "size", "copy ms", "print ms", "ratio");
    FramePictureWork copied(CaptureMethod::Copy, window);
    FramePictureWork printed(CaptureMethod::Print, window);
    for (int index = 0; index < kFrameSizeTableCount; ++index) {
        const FrameSize size = FrameSizeTable[index];
        copied.Resize(size.width, size.height);
        printed.Resize(size.width, size.height);
        Allocated allocated;
        if (FAILED(MakeSample(static_cast<long>(copied.ImageSize()), &allocated))) {
            std::fprintf(stderr, "allocator failed\n");
            return 1;
        }
        std::vector<double> copyMs;
        std::vector<double> printMs;
        const int before[2] = {copied.Pictures(), printed.Pictures()};
        for (int i = 0; i < iterations + 2; ++i) {
            double start = NowMs();
            copied.Fill(allocated.sample.Get());
            const double copy = NowMs() - start;
            start = NowMs();
            printed.Fill(allocated.sample.Get());
            const double print = NowMs() - start;
            // The first two frames set up the reads and the scaler.
            if (i >= 2) {
                copyMs.push_back(copy);
                printMs.push_back(print);
            }
        }
        if (copied.Pictures() - before[0] < iterations + 2 || printed.Pictures() - before[1] < iterations + 2) {
            // A method that kept the previous picture would have measured nothing.
            std::fprintf(stderr, "own window: %d copied and %d printed pictures of %d frames\n",
                         copied.Pictures() - before[0], printed.Pictures() - before[1], iterations + 2);
            return 1;
        }
        char label[16];
        std::snprintf(label, sizeof(label), "%dx%d", size.width, size.height);
        const double copy = Median(copyMs);
        const double print = Median(printMs);
        std::printf("%-10s %10.2f %10.2f %8.2f\n", label, copy, print, print / copy);
    }
    return 0;
}

// The processor time of a frame in each output format, by turns.
int RunFormats(double cpuMs) {
    RegistrySandbox sandbox;
    if (!sandbox.ok()) {
        std::fprintf(stderr, "registry sandbox failed\n");
        return 1;
    }
    ChildProcessWindow child;
    const HRESULT hr = child.Start(BenchPicture::Application, kWindowWidth, kWindowHeight);
    if (FAILED(hr)) {
        std::fprintf(stderr, "child window failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 1;
    }
    std::printf("frame_fill_bench --formats (%s): processor time per frame (process time ms) from a %dx%d\n"
                "window in another process, read, scaled and written in each format, and against RGB24\n",
                sizeof(void*) == 8 ? "x64" : "x86", kWindowWidth, kWindowHeight);
    std::printf("%-10s", "size");
    for (const PixelFormat format : output_formats::kOfferedFormats) {
        std::printf(" %15s", NameOf(format));
    }
    std::printf("\n");
    for (const int index : {8, 9}) {
        const FrameSize size = FrameSizeTable[index];
        constexpr size_t kFormats = std::size(output_formats::kOfferedFormats);
        FramePictureWork work[kFormats] = {
            FramePictureWork(CaptureMethod::Auto, child.hwnd()), FramePictureWork(CaptureMethod::Auto, child.hwnd()),
            FramePictureWork(CaptureMethod::Auto, child.hwnd()), FramePictureWork(CaptureMethod::Auto, child.hwnd()),
            FramePictureWork(CaptureMethod::Auto, child.hwnd())};
        std::vector<std::vector<BYTE>> blocks(kFormats);
        FrameTarget targets[kFormats];
        std::vector<std::function<void()>> calls;
        for (size_t k = 0; k < kFormats; ++k) {
            const PixelFormat format = output_formats::kOfferedFormats[k];
            blocks[k].assign(LayoutOf(format, size.width, size.height).imageBytes, 0);
            // As the pin lays samples out: RGB bottom-up.
            targets[k] = TargetOf(format, size.width, size.height, blocks[k].data(), true);
            work[k].Resize(size.width, size.height);
            work[k].FillTarget(targets[k]);
            calls.push_back([&, k]() { work[k].FillTarget(targets[k]); });
        }
        const std::vector<double> figures = MeasureCpuPerCall(cpuMs, calls);
        char label[16];
        std::snprintf(label, sizeof(label), "%dx%d", size.width, size.height);
        std::printf("%-10s %15.2f", label, figures[0]);
        for (size_t k = 1; k < kFormats; ++k) {
            std::printf(" %15s", RatioText(figures[k], figures[0]).c_str());
        }
        std::printf("\n");
        for (size_t k = 0; k < kFormats; ++k) {
            if (work[k].Pictures() == 0) {
                std::fprintf(stderr, "%s: the window was never read\n", NameOf(output_formats::kOfferedFormats[k]));
                return 1;
            }
        }
    }
    return 0;
}

int Run(int iterations, bool halftone, double cpuMs) {
    RegistrySandbox sandbox;
    if (!sandbox.ok()) {
        std::fprintf(stderr, "registry sandbox failed\n");
        return 1;
    }
    std::printf("frame_fill_bench (%s): %dx%d window in another process, %d iterations per figure\n",
                sizeof(void*) == 8 ? "x64" : "x86", kWindowWidth, kWindowHeight, iterations);
    // Per size of the application picture.
    std::vector<CpuFigures> cpu;

    for (const BenchPicture picture : {BenchPicture::Application, BenchPicture::Checkerboard}) {
        ChildProcessWindow child;
        const HRESULT hr = child.Start(picture, kWindowWidth, kWindowHeight);
        if (FAILED(hr)) {
            std::fprintf(stderr, "child window failed: 0x%08lx\n", static_cast<unsigned long>(hr));
            return 1;
        }
        const bool application = picture == BenchPicture::Application;
        std::printf("\n%s picture\n", application ? "Application" : "One-pixel checkerboard");
        if (application) {
            std::printf("%-10s %12s %12s %8s %10s%s\n", "size", "BitBlt ms", "fill ms", "ratio", "PSNR dB",
                        halftone ? "  HALFTONE ms" : "");
        } else {
            std::printf("%-10s %12s %12s %8s %10s %10s\n", "size", "BitBlt ms", "fill ms", "ratio", "min..max",
                        "mean");
        }

        FramePictureWork source;
        BitBltReader reader(kWindowWidth, kWindowHeight);
        for (int index = 0; index < kFrameSizeTableCount; ++index) {
            const FrameSize size = FrameSizeTable[index];
            source.Resize(size.width, size.height);
            Allocated allocated;
            if (FAILED(MakeSample(static_cast<long>(source.ImageSize()), &allocated))) {
                std::fprintf(stderr, "allocator failed\n");
                return 1;
            }
            // The first frame finds the window; the next prepares the scaler.
            source.Fill(allocated.sample.Get());
            source.Fill(allocated.sample.Get());
            if (source.Window() != child.hwnd()) {
                std::fprintf(stderr, "the child window was not captured\n");
                return 1;
            }
            std::vector<double> baseline;
            std::vector<double> fill;

            for (int i = 0; i < iterations; ++i) {
                double start = NowMs();
                reader.Read(child.hwnd());
                baseline.push_back(NowMs() - start);
                start = NowMs();
                source.Fill(allocated.sample.Get());
                fill.push_back(NowMs() - start);

            }
            const double baselineMs = Median(baseline);
            const double fillMs = Median(fill);
            BYTE* buffer = nullptr;
            allocated.sample->GetPointer(&buffer);
            char label[16];
            std::snprintf(label, sizeof(label), "%dx%d", size.width, size.height);
            if (application) {
                reader.Read(child.hwnd());
                const auto reference =
                    ExactAreaAverage(reader.bits(), kWindowWidth, kWindowHeight, size.width, size.height);
                const bool shrinks = size.width < kWindowWidth && size.height < kWindowHeight;
                const bool same = size.width == kWindowWidth && size.height == kWindowHeight;
                std::printf("%-10s %12.2f %12.2f %8.2f %10.1f%s", label, baselineMs, fillMs, fillMs / baselineMs,
                            Psnr(buffer, size.width, size.height, reference),
                            shrinks ? "" : (same ? " (same size: a copy)" : " (enlarges)"));
                if (halftone) {
                    std::printf("  %11.1f", HalftoneMs(child.hwnd(), size.width, size.height));
                }
                std::printf("\n");
            } else {
                const size_t bytes = static_cast<size_t>(size.width) * size.height * 3;
                const auto [low, high] = std::minmax_element(buffer, buffer + bytes);
                double sum = 0;
                for (size_t k = 0; k < bytes; ++k) {
                    sum += buffer[k];
                }
                std::printf("%-10s %12.2f %12.2f %8.2f %5d..%-4d %10.2f\n", label, baselineMs, fillMs,
                            fillMs / baselineMs, *low, *high, sum / static_cast<double>(bytes));
            }
            if (application) {
                std::vector<std::function<void()>> calls;
                calls.push_back([&]() { reader.Read(child.hwnd()); });
                CWindowCapture capture;
                QM_IGNORE(capture.Start(), "without its thread the capture reads inline");
                calls.push_back([&]() { capture.Read(child.hwnd(), CaptureMethod::Auto, INFINITE, nullptr); });
                // One picture per framing, each with its own scaler: no
                // frame prepares the scaler again.
                FramePictureWork framed[kFramingCount];
                ScaleOnly scaling[kFramingCount];
                for (size_t k = 0; k < kFramingCount; ++k) {
                    const Framing& framing = kFramings[k];
                    framed[k].Resize(size.width, size.height);
                    framed[k].Fill(allocated.sample.Get(), framing.mode, framing.mirror);
                    framed[k].Fill(allocated.sample.Get(), framing.mode, framing.mirror);
                    if (FAILED(scaling[k].Init(child.hwnd(), size.width, size.height, framing))) {
                        std::fprintf(stderr, "the scaler could not be prepared\n");
                        return 1;
                    }
                    calls.push_back([&, k]() {
                        framed[k].Fill(allocated.sample.Get(), kFramings[k].mode, kFramings[k].mirror);
                    });
                }
                for (size_t k = 0; k < kFramingCount; ++k) {
                    calls.push_back([&, k]() { scaling[k].Scale(); });
                }
                const std::vector<double> figures = MeasureCpuPerCall(cpuMs, calls);
                CpuFigures entry = {};
                entry.copyMs = figures[0];
                entry.readMs = figures[1];
                for (size_t k = 0; k < kFramingCount; ++k) {
                    entry.frameMs[k] = figures[2 + k];
                    entry.scaleMs[k] = figures[2 + kFramingCount + k];
                }
                cpu.push_back(entry);
            }
            allocated.sample.Reset();
            allocated.allocator->Decommit();
        }
    }

    std::printf("\nProcessor time per frame (process time, application picture, stretch): one BitBlt of the\n"
                "window here; the frames' own read of it on their capture thread; the whole frame\n");
    std::printf("%-10s %12s %12s %12s %8s\n", "size", "copy ms", "read ms", "frame ms", "ratio");
    for (int index = 0; index < kFrameSizeTableCount && index < static_cast<int>(cpu.size()); ++index) {
        const FrameSize size = FrameSizeTable[index];
        char label[16];
        std::snprintf(label, sizeof(label), "%dx%d", size.width, size.height);
        const CpuFigures& figures = cpu[static_cast<size_t>(index)];
        std::printf("%-10s %12.2f %12.2f %12.2f %8.2f\n", label, figures.copyMs, figures.readMs, figures.frameMs[0],
                    figures.copyMs > 0 ? figures.frameMs[0] / figures.copyMs : 0.0);
    }
    for (const bool whole : {true, false}) {
        std::printf("\n%s (processor time ms, and against stretch at the same size)\n",
                    whole ? "Framing, per frame" : "Framing, the scaler alone");
        std::printf("%-10s", "size");
        for (const Framing& framing : kFramings) {
            std::printf(" %15s", framing.name);
        }
        std::printf("\n");
        for (int index = 0; index < kFrameSizeTableCount && index < static_cast<int>(cpu.size()); ++index) {
            const FrameSize size = FrameSizeTable[index];
            char label[16];
            std::snprintf(label, sizeof(label), "%dx%d", size.width, size.height);
            const double* figures = whole ? cpu[static_cast<size_t>(index)].frameMs : cpu[static_cast<size_t>(index)].scaleMs;
            std::printf("%-10s %15.2f", label, figures[0]);
            for (size_t k = 1; k < kFramingCount; ++k) {
                std::printf(" %15s", RatioText(figures[k], figures[0]).c_str());
            }
            std::printf("\n");
        }
    }
    return RunPrintAgainstCopy(iterations);
}

}  // namespace

int main(int argc, char** argv) {
    if (RunChildWindowIfAsked(argc, argv)) {
        return 0;
    }
    int iterations = 41;
    bool halftone = false;
    bool formats = false;
    double cpuMs = 1500.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--formats") == 0) {
            formats = true;
        } else if (std::strcmp(argv[i], "--halftone") == 0) {
            halftone = true;
        } else if (std::strcmp(argv[i], "--cpu-ms") == 0 && i + 1 < argc) {
            cpuMs = std::max(10.0, std::atof(argv[++i]));
        } else {
            iterations = std::max(1, std::atoi(argv[i]));
        }
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 1;
    }
    const int result = formats ? RunFormats(cpuMs) : Run(iterations, halftone, cpuMs);
    ::CoUninitialize();
    return result;
}
