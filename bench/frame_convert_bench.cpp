// How long CFrameConverter takes per frame: NV12 and RGB32 from a bottom-up
// RGB24 frame (as the device produces them) at 1280x720 and 1920x1080,
// for the scalar loops, SSE2 and AVX2 (when the processor has it), with a
// plain memcpy of the NV12 frame's bytes beside them for scale. Prints the
// median and the fastest of the repetitions in milliseconds per frame.
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

using namespace qmbench;

namespace {

using Instructions = CFrameConverter::Instructions;

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
    std::printf("NV12 and RGB32 from a bottom-up RGB24 frame, ms per frame (median / fastest of %d)\n", repetitions);
    std::printf("AVX2 on this processor: %s\n", CFrameConverter::IsSupported(Instructions::Avx2) ? "yes" : "no");
    std::mt19937 random(1);
    for (const auto& [width, height] : {std::make_pair(1280, 720), std::make_pair(1920, 1080)}) {
        const size_t sourceStride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
        std::vector<BYTE> source(sourceStride * height);
        for (BYTE& b : source) {
            b = static_cast<BYTE>(random());
        }
        const Bgr24Picture picture = {source.data() + sourceStride * (height - 1), -static_cast<ptrdiff_t>(sourceStride),
                                      width, height};
        const size_t lumaBytes = static_cast<size_t>(width) * height;
        std::vector<BYTE> nv12(lumaBytes * 3 / 2);
        const Nv12Planes planes = {nv12.data(), width, nv12.data() + lumaBytes, width};
        std::vector<BYTE> rgb32(lumaBytes * 4);
        std::vector<BYTE> copy(nv12.size());

        std::printf("\n%dx%d\n", width, height);
        const Figures memcpyFigures =
            Time(repetitions, [&] { std::memcpy(copy.data(), source.data(), copy.size()); });
        std::printf("  %-8s %-6s %8.3f / %8.3f\n", "memcpy", "NV12", memcpyFigures.median, memcpyFigures.fastest);
        for (const Instructions instructions : {Instructions::Scalar, Instructions::Sse2, Instructions::Avx2}) {
            const char* name = CFrameConverter::NameOf(instructions);
            CFrameConverter converter;
            if (FAILED(converter.UseInstructions(instructions))) {
                std::printf("  %-8s not supported by this processor\n", name);
                continue;
            }
            HRESULT hr = S_OK;
            const Figures toNv12 = Time(repetitions, [&] { hr = converter.ToNv12(picture, planes); });
            const Figures toRgb32 =
                Time(repetitions, [&] { hr = converter.ToRgb32(picture, rgb32.data(), width * 4); });
            if (FAILED(hr)) {
                std::printf("  %-8s failed: 0x%08lx\n", name, static_cast<unsigned long>(hr));
                return 1;
            }
            std::printf("  %-8s %-6s %8.3f / %8.3f\n", name, "NV12", toNv12.median, toNv12.fastest);
            std::printf("  %-8s %-6s %8.3f / %8.3f\n", name, "RGB32", toRgb32.median, toRgb32.fastest);
        }
    }
    return 0;
}
