#include "scaler/corrected_source_row.h"

#include <algorithm>
#include <cstring>

namespace kernels = frame_scaler_kernels;

void CCorrectedSourceRow::Build(int columns, int width, const std::vector<int32_t>& first, int taps) {
    Clear();
    m_copy.assign((static_cast<size_t>(columns) + kernels::kSlackPixels) * kernels::kBytesPerPixel, 0);
    const size_t blocks = static_cast<size_t>(width + kernels::kBlockPixels - 1) / kernels::kBlockPixels;
    m_blockFlags.assign(blocks, 0);
    m_copyRanges.reserve(blocks * 2);
    // The columns each block of output pixels reads, by first column
    // (mirrored, the blocks run backwards).
    m_blockColumns.reserve(blocks);
    for (size_t b = 0; b < blocks; ++b) {
        BlockColumns block = {static_cast<int32_t>(b), columns, 0};
        for (size_t j = 0; j < kernels::kBlockPixels && b * kernels::kBlockPixels + j < static_cast<size_t>(width); ++j) {
            const int32_t column = first[b * kernels::kBlockPixels + j];
            block.from = std::min(block.from, column);
            block.to = std::max(block.to, std::min(columns, column + taps));
        }
        m_blockColumns.push_back(block);
    }
    std::sort(m_blockColumns.begin(), m_blockColumns.end(),
              [](const BlockColumns& a, const BlockColumns& b) { return a.from < b.from; });
}

void CCorrectedSourceRow::Clear() {
    m_copy.clear();
    m_blockFlags.clear();
    m_copyRanges.clear();
    m_blockColumns.clear();
}

void CCorrectedSourceRow::FlagBlocks(const std::vector<int32_t>& spans) {
    m_copyRanges.clear();
    std::fill(m_blockFlags.begin(), m_blockFlags.end(), BYTE{0});
    // The blocks in order of the columns they read, swept along the spans.
    size_t span = 0;
    for (const BlockColumns& block : m_blockColumns) {
        while (span < spans.size() && spans[span + 1] <= block.from) {
            span += 2;
        }
        if (span == spans.size() || spans[span] >= block.to) {
            continue;
        }
        m_blockFlags[static_cast<size_t>(block.block)] = 1;
        if (!m_copyRanges.empty() && block.from <= m_copyRanges.back()) {
            m_copyRanges.back() = std::max(m_copyRanges.back(), block.to);
        } else {
            m_copyRanges.push_back(block.from);
            m_copyRanges.push_back(block.to);
        }
    }
}

void CCorrectedSourceRow::Correct(const BYTE* source, int sign, const CCheckerboardCorrection& correction,
                                  const kernels::KernelSet& kernels) {
    for (size_t r = 0; r < m_copyRanges.size(); r += 2) {
        const size_t from = static_cast<size_t>(m_copyRanges[r]) * kernels::kBytesPerPixel;
        std::memcpy(m_copy.data() + from, source + from,
                    static_cast<size_t>(m_copyRanges[r + 1] - m_copyRanges[r]) * kernels::kBytesPerPixel);
    }
    kernels.correctRow(correction.ForSourceRow(source, m_copy.data(), sign));
}
