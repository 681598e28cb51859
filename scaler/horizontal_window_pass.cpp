#include "scaler/horizontal_window_pass.h"

#include <algorithm>

#include "scaler/axis_weights.h"

namespace kernels = frame_scaler_kernels;

namespace {

// Horizontal ratios (source columns per output pixel) from 1 up to this
// use the window pass.
constexpr long long kWindowRatioNumerator = 8;
constexpr long long kWindowRatioDenominator = 5;

}  // namespace

bool CHorizontalWindowPass::Suits(int columns, int width) {
    return columns >= width && columns * kWindowRatioDenominator <= width * kWindowRatioNumerator;
}

void CHorizontalWindowPass::Build(int columns, int width, bool mirror, const kernels::KernelSet& kernels) {
    Clear();
    m_width = width;
    m_mirror = mirror;
    const AxisWeights axis = ComputeAxisWeights(columns, width, kernels::kWeightOne);
    const int lanes = kernels.windowLanes;
    const int groups = (width + lanes - 1) / lanes;
    const auto taps = [&axis](int x) -> const std::vector<AxisTap>& { return axis[static_cast<size_t>(x)]; };
    int lastColumn = columns - 1;
    for (int g = 0; g < groups; ++g) {
        const int lanesHere = std::min(lanes, width - g * lanes);
        // The window starts where its lowest lane's first tap requires; with
        // at least one source column per output pixel, never before 0.
        int base = columns;
        int reach = 0;
        for (int j = 0; j < lanesHere; ++j) {
            base = std::min(base, taps(g * lanes + j).front().index - j);
        }
        for (int j = 0; j < lanesHere; ++j) {
            reach = std::max(reach, taps(g * lanes + j).back().index - base - j + 1);
        }
        const size_t offset = m_weights.size();
        // A set that stores groups whole: the store of a whole group spills
        // past its own bytes, forwards (mirrored: backwards), onto a group
        // written later; near the row's ends it cannot.
        int32_t store = -1;
        if (kernels.windowStoreBytes > 0 && lanesHere == lanes) {
            const int groupBytes = lanes * kernels::kBytesPerTargetPixel;
            const int spill = kernels.windowStoreBytes - groupBytes;
            const int start = (mirror ? width - (g + 1) * lanes : g * lanes) * kernels::kBytesPerTargetPixel;
            if (!mirror && start + kernels.windowStoreBytes <= width * kernels::kBytesPerTargetPixel) {
                store = start;
            } else if (mirror && start >= spill) {
                store = start - spill;
            }
        }
        m_groups.push_back({base, reach, static_cast<int32_t>(offset), store});
        m_weights.resize(offset + static_cast<size_t>(reach) * static_cast<size_t>(lanes) * 2, 0);
        for (int j = 0; j < lanesHere; ++j) {
            for (const AxisTap& tap : taps(g * lanes + j)) {
                // A signed multiply-high takes at most 32767 (a lone tap of 1.0).
                const auto weight = static_cast<int16_t>(std::min(tap.weight, 32767));
                const size_t at = offset + static_cast<size_t>((tap.index - base - j) * lanes + j) * 2;
                m_weights[at] = weight;
                m_weights[at + 1] = weight;
            }
        }
        lastColumn = std::max(lastColumn, base + lanes - 1 + reach - 1);
    }
    m_sameTaps = m_groups.front().taps;
    for (const kernels::WindowGroup& group : m_groups) {
        if (group.taps != m_sameTaps) {
            m_sameTaps = 0;
        }
    }
    // The vertical pass fills the rectangle's columns; windows may read
    // zeros beyond.
    const size_t lanesPerRow = (static_cast<size_t>(lastColumn) + 1 + kernels::kSlackPixels) * 2;
    m_even.assign(lanesPerRow, 0);
    m_odd.assign(lanesPerRow, 0);
}

void CHorizontalWindowPass::Clear() {
    m_groups.clear();
    m_weights.clear();
    m_sameTaps = 0;
    m_width = 0;
    m_mirror = false;
    m_even.clear();
    m_odd.clear();
}

void CHorizontalWindowPass::TakeOutputOf(kernels::VerticalRow& row) {
    row.even = m_even.data();
    row.odd = m_odd.data();
}

void CHorizontalWindowPass::Run(BYTE* target, const kernels::KernelSet& kernels) const {
    const kernels::WindowRow row = {m_even.data(),
                                    m_odd.data(),
                                    m_groups.data(),
                                    m_weights.data(),
                                    static_cast<int>(m_groups.size()),
                                    m_sameTaps,
                                    m_width,
                                    target,
                                    m_mirror};
    kernels.window(row);
}
