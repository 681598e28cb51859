// How long CFrameConverter takes per frame in each format it makes
// (RGB24, RGB32, NV12, YUY2, I420) from a bottom-up RGB24 frame, as the
// device produces them, at 1280x720 and 1920x1080, for the scalar loops,
// SSE2 and AVX2 (when the processor has it), with a plain memcpy of the
// source frame's bytes beside them for scale. The targets lie in memory
// as media types describe them (TargetOf): RGB bottom-up, YUV top-down.
// Prints the median and the fastest of the repetitions in milliseconds
// per frame.
//
// Usage: frame_convert_bench [repetitions] (default 200)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bench/support/bench_clock.h"
#include "bench/support/child_window.h"
#include "picture/frame_converter.h"
#include "picture/frame_target.h"

using namespace qmbench;

namespace {

using Instructions = CFrameConverter::Instructions;

constexpr PixelFormat kFormats[] = {PixelFormat::Rgb24, PixelFormat::Rgb32, PixelFormat::Nv12, PixelFormat::Yuy2,
                                    PixelFormat::I420};

struct Figures {
    double median;
    double fastest;
};

template <typename Work>
Figures Time(int repetitions, Work work) {
    std::vector<double> ms;
    ms.reserve(static_cast<size_t>(repetitions));
    work();  // once to warm the caches and the pages
    for (int i = 0; i < repetitions; ++i) {
        const double start = NowMs();
        work();
        ms.push_back(NowMs() - start);
    }
    const double fastest = *std::min_element(ms.begin(), ms.end());
    return {Median(ms), fastest};
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    std::printf("Each format from a bottom-up RGB24 frame, ms per frame (median / fastest of %d)\n", repetitions);
    std::printf("AVX2 on this processor: %s\n", CFrameConverter::IsSupported(Instructions::Avx2) ? "yes" : "no");
    std::mt19937 random(1);
    for (const auto& [width, height] : {std::make_pair(1280, 720), std::make_pair(1920, 1080)}) {
        const size_t sourceStride = static_cast<size_t>(LayoutOf(PixelFormat::Rgb24, width, height).strides[0]);
        std::vector<BYTE> source(sourceStride * height);
        for (BYTE& b : source) {
            b = static_cast<BYTE>(random());
        }
        const Bgr24Picture picture = {source.data() + sourceStride * (height - 1), -static_cast<ptrdiff_t>(sourceStride),
                                      width, height};
        // One block large enough for the largest format (RGB32).
        std::vector<BYTE> block(LayoutOf(PixelFormat::Rgb32, width, height).imageBytes);
        std::vector<BYTE> copy(source.size());

        std::printf("\n%dx%d\n", width, height);
        const Figures memcpyFigures = Time(repetitions, [&] { std::memcpy(copy.data(), source.data(), copy.size()); });
        std::printf("  %-8s %-6s %8.3f / %8.3f\n", "memcpy", "RGB24", memcpyFigures.median, memcpyFigures.fastest);
        for (const Instructions instructions : {Instructions::Scalar, Instructions::Sse2, Instructions::Avx2}) {
            const char* name = CFrameConverter::NameOf(instructions);
            CFrameConverter converter;
            if (FAILED(converter.UseInstructions(instructions))) {
                std::printf("  %-8s not supported by this processor\n", name);
                continue;
            }
            for (const PixelFormat format : kFormats) {
                const FrameTarget target = TargetOf(format, width, height, block.data(), true);
                HRESULT hr = S_OK;
                const Figures figures = Time(repetitions, [&] { hr = converter.Convert(picture, target); });
                if (FAILED(hr)) {
                    std::printf("  %-8s %-6s failed: 0x%08lx\n", name, NameOf(format), static_cast<unsigned long>(hr));
                    return 1;
                }
                std::printf("  %-8s %-6s %8.3f / %8.3f\n", name, NameOf(format), figures.median, figures.fastest);
            }
        }
    }
    return 0;
}
