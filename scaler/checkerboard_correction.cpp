#include "scaler/checkerboard_correction.h"

#include <algorithm>

namespace kernels = frame_scaler_kernels;

namespace {

using kernels::kBytesPerPixel;
using kernels::kTileSize;

// Spans start at multiples of this many columns (the widest vector's), so
// that the passes' chunks never straddle their starts.
constexpr int kSpanAlignment = 8;
// Tile weights of the four columns of a tile (left tile, right tile), in
// eighths: the columns lie 5/8, 7/8, 1/8, 3/8 of a tile past the centre of
// the left one.
constexpr int kLeftEighths[kTileSize] = {3, 1, 7, 5};

}  // namespace

void CCheckerboardCorrection::Build(const RECT& source) {
    Clear();
    m_source = source;
    m_columns = static_cast<int>(source.right - source.left);
    m_tiles = (m_columns + kTileSize - 1) / kTileSize;
    m_tileEven.assign(static_cast<size_t>(m_tiles) + 3 + kernels::kSlackPixels, 0);
    m_tileOdd.assign(m_tileEven.size(), 0);
    const size_t lanes = (static_cast<size_t>(m_columns) + kernels::kSlackPixels) * 2;
    m_leftWeights.assign(lanes, 0);
    m_rightWeights.assign(lanes, 0);
    m_correctionEven.assign(lanes, 0);
    m_correctionOdd.assign(lanes, 0);
    m_spans.reserve(static_cast<size_t>(m_columns / kSpanAlignment + 2) * 2);
    m_tileFlags.assign(static_cast<size_t>(m_tiles / kernels::kTilesPerFlag + 1), 0);
    // A tile's alternating sum is 4 x the checkerboard amplitude times the
    // sign of its first pixel, (-1)^(left + top): every tile starts at the
    // rectangle's parity, as do the bands. Interpolated in eighths, times 8,
    // it gives the amplitude in units of 1/256, which each column takes
    // with its own sign in the checkerboard. (At most 56 x 510 per tile, so
    // the sum stays within 16 bits.)
    const int tileSign = kernels::SignOfParity(source.left + source.top);
    for (int x = 0; x < m_columns; ++x) {
        const int sign = tileSign * kernels::SignOfParity(source.left + x) * 8;
        const int left = kLeftEighths[x % kTileSize];
        for (size_t lane = 0; lane < 2; ++lane) {
            m_leftWeights[static_cast<size_t>(x) * 2 + lane] = static_cast<int16_t>(sign * left);
            m_rightWeights[static_cast<size_t>(x) * 2 + lane] = static_cast<int16_t>(sign * (8 - left));
        }
    }
}

void CCheckerboardCorrection::Clear() {
    m_source = {};
    m_columns = m_tiles = 0;
    m_tileEven.clear();
    m_tileOdd.clear();
    m_tileFlags.clear();
    m_band = -1;
    m_leftWeights.clear();
    m_rightWeights.clear();
    m_correctionEven.clear();
    m_correctionOdd.clear();
    m_spans.clear();
}

void CCheckerboardCorrection::Prepare(const BYTE* sourceTop, ptrdiff_t sourceStride, int band,
                                      const kernels::KernelSet& kernels) {
    MeasureBand(sourceTop, sourceStride, band, kernels);
    FindSpans();
    const kernels::CorrectionRow correction = {m_tileEven.data() + 1,
                                               m_tileOdd.data() + 1,
                                               m_tiles,
                                               m_leftWeights.data(),
                                               m_rightWeights.data(),
                                               m_columns,
                                               m_spans.data(),
                                               static_cast<int>(m_spans.size() / 2),
                                               m_correctionEven.data(),
                                               m_correctionOdd.data()};
    kernels.correction(correction);
    m_band = band;
}

void CCheckerboardCorrection::MeasureBand(const BYTE* sourceTop, ptrdiff_t sourceStride, int band,
                                          const kernels::KernelSet& kernels) {
    const long top = m_source.top;
    const long bottom = m_source.bottom;
    const size_t left = static_cast<size_t>(m_source.left) * kBytesPerPixel;
    const auto row = [&](long y) { return sourceTop + y * sourceStride + left; };
    const long y0 = top + static_cast<long>(band) * kTileSize;
    kernels::BandRows rows = {};
    // A pair's lower row beyond the rectangle is mirrored about its upper
    // one, which keeps a checkerboard alternating.
    rows.upper[0] = row(y0);
    rows.lower[0] = row(y0 + 1 < bottom ? y0 + 1 : y0 - 1);
    rows.pairs = 1;
    if (y0 + 2 < bottom) {
        rows.pairs = 2;
        rows.upper[1] = row(y0 + 2);
        rows.lower[1] = row(y0 + 3 < bottom ? y0 + 3 : y0 + 1);
    }
    int32_t* tileEven = m_tileEven.data() + 1;
    int32_t* tileOdd = m_tileOdd.data() + 1;
    rows.tiles = m_columns / kTileSize;
    rows.tileEven = tileEven;
    rows.tileOdd = tileOdd;
    std::fill(m_tileFlags.begin(), m_tileFlags.end(), BYTE{0});
    rows.flags = m_tileFlags.data();
    kernels.band(rows);
    const int partial = m_columns % kTileSize;
    if (partial != 0) {
        // The last tile's columns, with the column beyond mirrored in when
        // their count is odd, so that the alternating sum stays balanced;
        // two columns count twice, as if the tile were whole.
        const int first = rows.tiles * kTileSize;
        int sums[kBytesPerPixel] = {};
        for (int c = 0; c < kBytesPerPixel; ++c) {
            for (int j = 0; j < partial; ++j) {
                const int value = kernels::BandChannel(rows, first + j, c);
                sums[c] += (j % 2 == 0) ? value : -value;
            }
            if (partial % 2 != 0) {
                sums[c] -= kernels::BandChannel(rows, first + partial - 2, c);
            }
        }
        const int scale = partial == 3 ? 1 : 2;
        tileEven[rows.tiles] = kernels::PackLanes(sums[0] * scale, sums[2] * scale);
        tileOdd[rows.tiles] = kernels::PackLanes(sums[1] * scale, sums[3] * scale);
        if ((tileEven[rows.tiles] | tileOdd[rows.tiles]) != 0) {
            m_tileFlags[static_cast<size_t>(rows.tiles / kernels::kTilesPerFlag)] = 1;
        }
    }
    tileEven[-1] = tileEven[0];
    tileOdd[-1] = tileOdd[0];
    for (int pad = 0; pad < 2; ++pad) {
        tileEven[m_tiles + pad] = tileEven[m_tiles - 1];
        tileOdd[m_tiles + pad] = tileOdd[m_tiles - 1];
    }
}

void CCheckerboardCorrection::FindSpans() {
    // The previous band's correction goes back to zero; then the spans of
    // this one: the columns of every non-zero tile and of its neighbours
    // (which interpolate towards it).
    for (size_t s = 0; s < m_spans.size(); s += 2) {
        const size_t from = static_cast<size_t>(m_spans[s]) * 2;
        const size_t count = static_cast<size_t>(m_spans[s + 1] - m_spans[s]) * 2;
        std::fill_n(m_correctionEven.begin() + static_cast<ptrdiff_t>(from), count, int16_t{0});
        std::fill_n(m_correctionOdd.begin() + static_cast<ptrdiff_t>(from), count, int16_t{0});
    }
    m_spans.clear();
    constexpr int kFlagColumns = kernels::kTilesPerFlag * kTileSize;
    for (size_t flag = 0; flag < m_tileFlags.size(); ++flag) {
        if (m_tileFlags[flag] == 0) {
            continue;
        }
        // The flagged tiles' columns, and a tile on either side.
        const int first = static_cast<int>(flag) * kFlagColumns;
        const int start = std::max(0, first - kTileSize) / kSpanAlignment * kSpanAlignment;
        const int end = std::min(m_columns, first + kFlagColumns + kSpanAlignment);
        if (!m_spans.empty() && start <= m_spans.back()) {
            m_spans.back() = std::max(m_spans.back(), end);
        } else {
            m_spans.push_back(start);
            m_spans.push_back(end);
        }
    }
}

void CCheckerboardCorrection::ApplyTo(int16_t leak, kernels::VerticalRow& row) const {
    row.correctionEven = m_correctionEven.data();
    row.correctionOdd = m_correctionOdd.data();
    row.correctionWeight = leak;
    row.spans = m_spans.data();
    row.spanCount = static_cast<int>(m_spans.size() / 2);
}

kernels::CorrectedRow CCheckerboardCorrection::ForSourceRow(const BYTE* source, BYTE* out, int sign) const {
    return {source,
            out,
            m_correctionEven.data(),
            m_correctionOdd.data(),
            sign,
            m_spans.data(),
            static_cast<int>(m_spans.size() / 2)};
}
