// Cost and quality of one frame: for each of the six output sizes, the
// median cost of one frame's picture (what FillBuffer does before it waits
// for the frame's due time) from another process's 1280x720 window,
// next to the cost of reading that client area back with one BitBlt
// (measured in the same run, alternating); the PSNR of the picture against
// an exact floating-point area average of the same source; and the range
// of grey levels a one-pixel checkerboard shrinks to.
//
// Usage: frame_fill_bench [iterations] [--halftone]
//   --halftone also times GDI's StretchBlt in HALFTONE mode for reference.
#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/support/child_window.h"
#include "capture/capture_settings.h"
#include "capture/frame_picture.h"
#include "capture/output_formats.h"
#include "capture/window_capture.h"
#include "capture/window_tracker.h"
#include "framework/memory_dib.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 720;

// One frame's picture as the streaming thread makes it: the tracked window
// read by the capture thread (auto mode), scaled into the canvas and
// copied into the sample.
class FramePictureWork {
public:
    FramePictureWork() { m_capture.Start(); }
    void Resize(int width, int height) {
        m_tracker.Forget();
        m_picture.Resize(width, height);
    }
    void Fill(IMediaSample* sample) {
        const HWND window = m_tracker.WindowForFrame(kDefaultWindowClass, kDefaultWindowName);
        if (m_capture.Read(window, CaptureMethod::Auto, INFINITE, nullptr) == CWindowCapture::Outcome::Picture) {
            const CWindowCapture::Picture& picture = m_capture.LastPicture();
            m_picture.RenderWindow(picture.topRow, picture.stride, picture.width, picture.height, sample);
        } else {
            m_picture.RenderPrevious(sample);
        }
    }
    DWORD ImageSize() const { return m_picture.ImageSize(); }
    HWND Window() const { return m_tracker.Current(); }

private:
    CWindowTracker m_tracker;
    CWindowCapture m_capture;
    CFramePicture m_picture;
};

double NowMs() {
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

// The baseline: one BitBlt of the whole client area into a 32-bit DIB of
// the client size, through a fresh window DC, as a frame does it.
class BitBltReader {
public:
    BitBltReader(int width, int height) { m_dib.Create(width, height, 32, /*topDown=*/true); }

    void Read(HWND window) {
        WindowDc windowDc(window);
        ::BitBlt(m_dib.Dc(), 0, 0, m_dib.Width(), m_dib.Height(), windowDc.get(), 0, 0, SRCCOPY);
        ::GdiFlush();
    }
    const uint32_t* bits() const { return reinterpret_cast<const uint32_t*>(m_dib.Pixels()); }

private:
    CMemoryDib m_dib;
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
    dib.Create(width, height, 24, false);
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

int Run(int iterations, bool halftone) {
    RegistrySandbox sandbox;
    if (!sandbox.ok()) {
        std::fprintf(stderr, "registry sandbox failed\n");
        return 1;
    }
    std::printf("frame_fill_bench (%s): %dx%d window in another process, %d iterations per figure\n",
                sizeof(void*) == 8 ? "x64" : "x86", kWindowWidth, kWindowHeight, iterations);

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
                std::printf("%-10s %12.2f %12.2f %8.2f %10.1f%s", label, baselineMs, fillMs, fillMs / baselineMs,
                            Psnr(buffer, size.width, size.height, reference), shrinks ? "" : " (enlarges)");
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
                            fillMs / baselineMs, *low, *high, sum / bytes);
            }
            allocated.sample.Reset();
            allocated.allocator->Decommit();
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (RunChildWindowIfAsked(argc, argv)) {
        return 0;
    }
    int iterations = 41;
    bool halftone = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--halftone") == 0) {
            halftone = true;
        } else {
            iterations = std::max(1, std::atoi(argv[i]));
        }
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 1;
    }
    const int result = Run(iterations, halftone);
    ::CoUninitialize();
    return result;
}
