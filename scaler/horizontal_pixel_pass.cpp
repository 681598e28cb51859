#include "scaler/horizontal_pixel_pass.h"

#include <algorithm>

#include "scaler/axis_weights.h"

namespace kernels = frame_scaler_kernels;

namespace {

using kernels::kBlockPixels;
using kernels::kBytesPerPixel;
using kernels::kTapsPerGroup;

// Pixel weights: Q12.
constexpr int kPixelWeightOne = 1 << 12;

// The weights as tables of digits (PixelWeights::Digits): per block of
// four output pixels (x .. x + 3) and group of taps, for the pixel pairs
// (x, x + 2) and (x + 1, x + 3) the high digits then the low ones, each 16
// bytes per pixel: four taps per channel.
std::vector<BYTE> DigitTables(const std::vector<int>& weights, int blocks, int tapGroups) {
    const size_t taps = static_cast<size_t>(tapGroups) * kTapsPerGroup;
    std::vector<BYTE> digits(static_cast<size_t>(blocks) * static_cast<size_t>(tapGroups) * kernels::kDigitBlockBytes,
                             0);
    const int order[2][2] = {{0, 2}, {1, 3}};
    for (int b = 0; b < blocks; ++b) {
        for (int group = 0; group < tapGroups; ++group) {
            BYTE* out = &digits[(static_cast<size_t>(b) * static_cast<size_t>(tapGroups) + static_cast<size_t>(group)) *
                                kernels::kDigitBlockBytes];
            for (int pair = 0; pair < 2; ++pair) {
                for (int half = 0; half < 2; ++half) {
                    const size_t column = static_cast<size_t>(kBlockPixels * b + order[pair][half]);
                    for (int t = 0; t < kTapsPerGroup; ++t) {
                        const int weight = weights[column * taps + static_cast<size_t>(group * kTapsPerGroup + t)];
                        for (int channel = 0; channel < kBytesPerPixel; ++channel) {
                            const size_t at = static_cast<size_t>(pair * 64 + half * 16 + channel * 4 + t);
                            out[at] = static_cast<BYTE>(weight >> 6);
                            out[at + 32] = static_cast<BYTE>(weight & 63);
                        }
                    }
                }
            }
        }
    }
    return digits;
}

}  // namespace

void CHorizontalPixelPass::Build(int columns, int width, bool mirror, const kernels::KernelSet& kernels) {
    Clear();
    const AxisWeights axis = ComputeAxisWeights(columns, width, kPixelWeightOne);
    int span = 1;
    for (const std::vector<AxisTap>& taps : axis) {
        span = std::max(span, taps.back().index - taps.front().index + 1);
    }
    m_width = width;
    m_tapGroups = (span + kTapsPerGroup - 1) / kTapsPerGroup;
    const int taps = m_tapGroups * kTapsPerGroup;
    const int blocks = (width + kBlockPixels - 1) / kBlockPixels;
    // Per output column (in target order, so mirrored here), padded to
    // whole blocks with columns of no weight.
    m_first.assign(static_cast<size_t>(blocks) * kBlockPixels, 0);
    std::vector<int> weights(static_cast<size_t>(blocks) * kBlockPixels * static_cast<size_t>(taps), 0);
    for (int column = 0; column < width; ++column) {
        const int position = mirror ? width - 1 - column : column;
        const std::vector<AxisTap>& positionTaps = axis[static_cast<size_t>(position)];
        // The taps are read `taps` columns at a time from the first: moved
        // left where that would read past the rectangle's last column (the
        // end of the source row), the weights land further in.
        const int first =
            columns >= taps ? std::min(positionTaps.front().index, columns - taps) : positionTaps.front().index;
        m_first[static_cast<size_t>(column)] = first;
        for (const AxisTap& tap : positionTaps) {
            weights[static_cast<size_t>(column * taps + tap.index - first)] = tap.weight;
        }
    }
    m_layout = kernels.pixelWeights;
    switch (m_layout) {
    case kernels::PixelWeights::Q12:
        m_q12.assign(weights.begin(), weights.begin() + static_cast<ptrdiff_t>(width) * taps);
        break;
    case kernels::PixelWeights::Digits:
        m_digits = DigitTables(weights, blocks, m_tapGroups);
        break;
    }
    // What the pass reads of its input row, less the slack.
    m_inputBytes = (columns + taps) * kBytesPerPixel;
}

void CHorizontalPixelPass::Clear() {
    m_width = 0;
    m_tapGroups = 0;
    m_first.clear();
    m_layout = kernels::PixelWeights::Q12;
    m_q12.clear();
    m_digits.clear();
    m_input.clear();
    m_inputBytes = 0;
}

void CHorizontalPixelPass::AllocateInputRow() {
    m_input.assign(static_cast<size_t>(m_inputBytes) + kernels::kSlackPixels * kBytesPerPixel, 0);
}

void CHorizontalPixelPass::TakeOutputOf(kernels::VerticalRow& row) {
    row.packed = m_input.data();
}

void CHorizontalPixelPass::Run(BYTE* target, const kernels::KernelSet& kernels) const {
    const kernels::PixelRow row = {m_input.data(), nullptr, nullptr, m_first.data(), Weights(),
                                   m_tapGroups,    m_width, target,  false};
    kernels.pixels(row);
}

void CHorizontalPixelPass::Filter(const BYTE* source, const BYTE* corrected, const BYTE* blockFlags, BYTE* out,
                                  const kernels::KernelSet& kernels) const {
    const kernels::PixelRow row = {source,      corrected, blockFlags, m_first.data(), Weights(),
                                   m_tapGroups, m_width,   out,        true};
    kernels.pixels(row);
}

const void* CHorizontalPixelPass::Weights() const {
    return m_layout == kernels::PixelWeights::Digits ? static_cast<const void*>(m_digits.data())
                                                     : static_cast<const void*>(m_q12.data());
}
