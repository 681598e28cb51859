#include "scaler/vertical_pass.h"

#include <algorithm>

#include "scaler/axis_weights.h"

namespace kernels = frame_scaler_kernels;

void CVerticalPass::Build(long top, long bottom, int height, bool leaks) {
    Clear();
    const int rows = static_cast<int>(bottom - top);
    const AxisWeights axis = ComputeAxisWeights(rows, height, kernels::kWeightOne);
    const int bands = (rows + kernels::kTileSize - 1) / kernels::kTileSize;
    m_outputRows.resize(static_cast<size_t>(height));
    size_t mostTaps = 1;
    for (int y = 0; y < height; ++y) {
        const std::vector<AxisTap>& taps = axis[static_cast<size_t>(y)];
        OutputRow& row = m_outputRows[static_cast<size_t>(y)];
        row.firstTap = static_cast<int>(m_rowSources.size());
        row.taps = static_cast<int>(taps.size());
        int leak = 0;
        for (const AxisTap& tap : taps) {
            m_rowSources.push_back(static_cast<int>(top + tap.index));
            m_rowWeights.insert(m_rowWeights.end(), kernels::kWeightCopies, static_cast<uint16_t>(tap.weight));
            leak += kernels::SignOfParity(top + tap.index) * tap.weight;
        }
        // The leak: what a checkerboard of amplitude 1 contributes to this
        // row (even source rows count +1, odd ones -1).
        row.leak = leaks ? static_cast<int16_t>(std::clamp(leak, -32767, 32767)) : int16_t{0};
        const double centre = (y + 0.5) * rows / height;
        row.band = std::min(static_cast<int>(centre) / kernels::kTileSize, bands - 1);
        mostTaps = std::max(mostTaps, taps.size());
    }
    m_sourcePointers.resize(mostTaps);
    // Each source row is fetched ahead once, a few at each output row, a
    // fixed distance before the rows' last tap.
    m_prefetchRows.assign(static_cast<size_t>(height) * kPrefetchesPerRow, -1);
    int fetched = static_cast<int>(top) - 1;
    const int last = static_cast<int>(bottom) - 1;
    for (int y = 0; y < height; ++y) {
        const int wanted = std::min(last, LastSource(y) + kPrefetchRows);
        for (int k = 0; k < kPrefetchesPerRow && fetched < wanted; ++k) {
            m_prefetchRows[static_cast<size_t>(y) * kPrefetchesPerRow + static_cast<size_t>(k)] = ++fetched;
        }
    }
}

void CVerticalPass::Clear() {
    m_outputRows.clear();
    m_rowSources.clear();
    m_rowWeights.clear();
    m_sourcePointers.clear();
    m_prefetchRows.clear();
}

double CVerticalPass::AverageTaps() const {
    return m_outputRows.empty() ? 0.0 : static_cast<double>(m_rowSources.size()) / static_cast<double>(m_outputRows.size());
}

int CVerticalPass::LastSource(int y) const {
    const OutputRow& out = Row(y);
    return m_rowSources[static_cast<size_t>(out.firstTap + out.taps - 1)];
}
