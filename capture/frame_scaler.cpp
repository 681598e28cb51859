#include "capture/frame_scaler.h"

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

#include <algorithm>
#include <cstring>
#include <new>

namespace kernels = frame_scaler_kernels;

namespace {

using kernels::kBytesPerPixel;
using kernels::kBytesPerTargetPixel;
using kernels::kDigitBlockBytes;
using kernels::kSlackPixels;
using kernels::kTapsPerGroup;
using kernels::kWeightCopies;

// Horizontal ratios (source columns per output pixel) from 1 up to this use
// the window pass; its windows widen with the ratio, and beyond it the
// pixel pass is cheaper.
constexpr int kWindowRatioNumerator = 8;
constexpr int kWindowRatioDenominator = 5;
// Pixel weights: Q12.
constexpr int kPixelWeightOne = 1 << 12;
using kernels::kTileSize;
// Correction spans start at multiples of this many columns (the widest
// vector's), so that the passes' chunks never straddle their starts.
constexpr int kSpanAlignment = 8;
// Source rows are fetched into the cache this many rows before the
// vertical pass's taps reach them, which covers the next band's rows.
constexpr int kPrefetchRows = 8;
constexpr int kPrefetchesPerRow = 2;
// Tile weights of the four columns of a tile (left tile, right tile), in
// eighths: the columns lie 5/8, 7/8, 1/8, 3/8 of a tile past the centre of
// the left one.
constexpr int kLeftEighths[kTileSize] = {3, 1, 7, 5};

bool Within(const RECT& rect, int width, int height) {
    return rect.left >= 0 && rect.top >= 0 && rect.left < rect.right && rect.top < rect.bottom &&
           rect.right <= width && rect.bottom <= height;
}

}  // namespace

bool frame_scaler_kernels::ProcessorHasAvx2() {
    constexpr unsigned kOsxsave = 1u << 27;
    constexpr unsigned kAvx = 1u << 28;
    constexpr unsigned kAvx2 = 1u << 5;
    // The operating system saves the SSE and AVX registers (XCR0 bits 1, 2).
    constexpr unsigned kVectorState = 0x6;
#if defined(_MSC_VER)
    int info[4] = {};
    __cpuid(info, 0);
    if (info[0] < 7) {
        return false;
    }
    __cpuid(info, 1);
    if ((static_cast<unsigned>(info[2]) & (kOsxsave | kAvx)) != (kOsxsave | kAvx)) {
        return false;
    }
    if ((_xgetbv(0) & kVectorState) != kVectorState) {
        return false;
    }
    __cpuidex(info, 7, 0);
    return (static_cast<unsigned>(info[1]) & kAvx2) != 0;
#else
    unsigned a = 0;
    unsigned b = 0;
    unsigned c = 0;
    unsigned d = 0;
    if (!__get_cpuid(0, &a, &b, &c, &d) || a < 7) {
        return false;
    }
    __get_cpuid(1, &a, &b, &c, &d);
    if ((c & (kOsxsave | kAvx)) != (kOsxsave | kAvx)) {
        return false;
    }
    unsigned low = 0;
    unsigned high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    if ((low & kVectorState) != kVectorState) {
        return false;
    }
    __cpuid_count(7, 0, a, b, c, d);
    return (b & kAvx2) != 0;
#endif
}

bool CFrameScaler::IsSupported(Instructions instructions) {
    // Asked once; the answer never changes.
    static const bool hasAvx2 = kernels::ProcessorHasAvx2();
    return instructions == Instructions::Sse2 || hasAvx2;
}

CFrameScaler::Instructions CFrameScaler::Best() {
    return IsSupported(Instructions::Avx2) ? Instructions::Avx2 : Instructions::Sse2;
}

CFrameScaler::CFrameScaler() : m_instructions(Instructions::Sse2), m_kernels(&kernels::kSse2Kernels) {
    UseInstructions(Best());
}

HRESULT CFrameScaler::UseInstructions(Instructions instructions) {
    if (!IsSupported(instructions)) {
        return E_NOTIMPL;
    }
    m_kernels = instructions == Instructions::Avx2 ? &kernels::kAvx2Kernels : &kernels::kSse2Kernels;
    m_instructions = instructions;
    Reset();
    return S_OK;
}

std::vector<std::vector<CFrameScaler::Tap>> CFrameScaler::ComputeAxisWeights(int sourceLength, int targetLength) {
    return ::ComputeAxisWeights(sourceLength, targetLength, kWeightOne);
}

bool CFrameScaler::IsPreparedFor(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) const {
    return IsPreparedFor(sourceWidth, sourceHeight, targetWidth, targetHeight,
                         ComputeFrameGeometry(ScaleMode::Stretch, false, sourceWidth, sourceHeight, targetWidth,
                                              targetHeight));
}

bool CFrameScaler::IsPreparedFor(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                                 const FrameGeometry& geometry) const {
    return m_prepared && m_sourceWidth == sourceWidth && m_sourceHeight == sourceHeight &&
           m_targetWidth == targetWidth && m_targetHeight == targetHeight && m_geometry == geometry;
}

HRESULT CFrameScaler::Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) {
    return Prepare(sourceWidth, sourceHeight, targetWidth, targetHeight,
                   ComputeFrameGeometry(ScaleMode::Stretch, false, sourceWidth, sourceHeight, targetWidth,
                                        targetHeight));
}

HRESULT CFrameScaler::Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                              const FrameGeometry& geometry) {
    if (sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0 ||
        !Within(geometry.source, sourceWidth, sourceHeight) || !Within(geometry.target, targetWidth, targetHeight)) {
        return E_INVALIDARG;
    }
    if (IsPreparedFor(sourceWidth, sourceHeight, targetWidth, targetHeight, geometry)) {
        return S_OK;
    }
    Reset();
    m_sourceWidth = sourceWidth;
    m_sourceHeight = sourceHeight;
    m_targetWidth = targetWidth;
    m_targetHeight = targetHeight;
    m_geometry = geometry;
    m_columns = geometry.source.right - geometry.source.left;
    m_rows = geometry.source.bottom - geometry.source.top;
    m_width = geometry.target.right - geometry.target.left;
    m_height = geometry.target.bottom - geometry.target.top;
    // A checkerboard is finer than the target can show only when the
    // picture shrinks along at least one axis; otherwise it is kept.
    m_correct = (m_width < m_columns || m_height < m_rows) && m_columns >= 2 && m_rows >= 2;
    m_useWindows = m_columns >= m_width &&
                   static_cast<long long>(m_columns) * kWindowRatioDenominator <=
                       static_cast<long long>(m_width) * kWindowRatioNumerator;
    try {
        BuildVertical();
        if (m_useWindows) {
            BuildWindow();
        } else {
            BuildPixels();
            ChooseOrder();
        }
        if (m_correct) {
            BuildCorrection();
        }
    } catch (const std::bad_alloc&) {
        Reset();
        return E_OUTOFMEMORY;
    }
    m_prepared = true;
    return S_OK;
}

void CFrameScaler::Reset() {
    m_prepared = false;
    m_sourceWidth = m_sourceHeight = m_targetWidth = m_targetHeight = 0;
    m_geometry = {};
    m_columns = m_rows = m_width = m_height = 0;
    m_outputRows.clear();
    m_rowSources.clear();
    m_rowWeights.clear();
    m_sourcePointers.clear();
    m_prefetchRows.clear();
    m_groups.clear();
    m_windowWeights.clear();
    m_sameTaps = 0;
    m_first.clear();
    m_pixelWeights.clear();
    m_pixelDigits.clear();
    m_tapGroups = 0;
    m_even.clear();
    m_odd.clear();
    m_packed.clear();
    m_horizontalFirst = false;
    m_ring.clear();
    m_ringStride = 0;
    m_ringRows = 0;
    m_correctedRow.clear();
    m_blockFlags.clear();
    m_copyRanges.clear();
    m_blockColumns.clear();
    m_correct = false;
    m_tiles = m_bands = 0;
    m_tileEven.clear();
    m_tileOdd.clear();
    m_band = -1;
    m_leftWeights.clear();
    m_rightWeights.clear();
    m_correctionEven.clear();
    m_correctionOdd.clear();
    m_spans.clear();
    m_tileFlags.clear();
}

void CFrameScaler::BuildVertical() {
    const auto axis = ::ComputeAxisWeights(m_rows, m_height, kWeightOne);
    const long top = m_geometry.source.top;
    const int bands = (m_rows + kTileSize - 1) / kTileSize;
    m_outputRows.resize(static_cast<size_t>(m_height));
    size_t mostTaps = 1;
    for (int y = 0; y < m_height; ++y) {
        const auto& taps = axis[static_cast<size_t>(y)];
        OutputRow& row = m_outputRows[static_cast<size_t>(y)];
        row.firstTap = static_cast<int>(m_rowSources.size());
        row.taps = static_cast<int>(taps.size());
        int leak = 0;
        for (const Tap& tap : taps) {
            m_rowSources.push_back(static_cast<int>(top + tap.index));
            m_rowWeights.insert(m_rowWeights.end(), kWeightCopies, static_cast<uint16_t>(tap.weight));
            leak += kernels::SignOfParity(top + tap.index) * tap.weight;
        }
        // The leak: what a checkerboard of amplitude 1 contributes to this
        // row (even source rows count +1, odd ones -1).
        row.leak = m_correct ? static_cast<int16_t>(std::clamp(leak, -32767, 32767)) : int16_t{0};
        const double centre = (y + 0.5) * m_rows / m_height;
        row.band = std::min(static_cast<int>(centre) / kTileSize, bands - 1);
        mostTaps = std::max(mostTaps, taps.size());
    }
    m_sourcePointers.resize(mostTaps);
    // Each source row is fetched ahead once, a few at each output row, a
    // fixed distance before the rows' last tap.
    m_prefetchRows.assign(static_cast<size_t>(m_height) * kPrefetchesPerRow, -1);
    int fetched = static_cast<int>(top) - 1;
    const int bottom = static_cast<int>(m_geometry.source.bottom) - 1;
    for (int y = 0; y < m_height; ++y) {
        const OutputRow& row = m_outputRows[static_cast<size_t>(y)];
        const int wanted = std::min(bottom, m_rowSources[static_cast<size_t>(row.firstTap + row.taps - 1)] + kPrefetchRows);
        for (int k = 0; k < kPrefetchesPerRow && fetched < wanted; ++k) {
            m_prefetchRows[static_cast<size_t>(y) * kPrefetchesPerRow + k] = ++fetched;
        }
    }
}

void CFrameScaler::BuildWindow() {
    const auto axis = ::ComputeAxisWeights(m_columns, m_width, kWeightOne);
    const int lanes = m_kernels->windowLanes;
    const int groups = (m_width + lanes - 1) / lanes;
    int lastColumn = m_columns - 1;
    for (int g = 0; g < groups; ++g) {
        // The window starts where its lowest lane's first tap requires; with
        // at least one source column per output pixel, never before 0.
        int base = m_columns;
        int reach = 0;
        for (int j = 0; j < lanes && g * lanes + j < m_width; ++j) {
            const auto& taps = axis[static_cast<size_t>(g * lanes + j)];
            base = std::min(base, taps.front().index - j);
        }
        for (int j = 0; j < lanes && g * lanes + j < m_width; ++j) {
            const auto& taps = axis[static_cast<size_t>(g * lanes + j)];
            reach = std::max(reach, taps.back().index - base - j + 1);
        }
        const size_t offset = m_windowWeights.size();
        // A set that stores groups whole: the store spills past the
        // group's own bytes (see WindowGroup::store).
        const int groupBytes = lanes * kBytesPerTargetPixel;
        const int storeBytes = m_kernels->windowStoreBytes;
        int32_t store = -1;
        if (storeBytes > 0 && (g + 1) * lanes <= m_width) {
            const int start = (m_geometry.mirror ? m_width - (g + 1) * lanes : g * lanes) * kBytesPerTargetPixel;
            if (!m_geometry.mirror && start + storeBytes <= m_width * kBytesPerTargetPixel) {
                store = start;
            } else if (m_geometry.mirror && start >= storeBytes - groupBytes) {
                store = start - (storeBytes - groupBytes);
            }
        }
        m_groups.push_back({base, reach, static_cast<int32_t>(offset), store});
        m_windowWeights.resize(offset + static_cast<size_t>(reach) * lanes * 2, 0);
        for (int j = 0; j < lanes && g * lanes + j < m_width; ++j) {
            for (const Tap& tap : axis[static_cast<size_t>(g * lanes + j)]) {
                // A signed multiply-high takes at most 32767 (a lone tap of 1.0).
                const auto weight = static_cast<int16_t>(std::min(tap.weight, 32767));
                const size_t at = offset + (static_cast<size_t>(tap.index - base - j) * lanes + j) * 2;
                m_windowWeights[at] = weight;
                m_windowWeights[at + 1] = weight;
            }
        }
        lastColumn = std::max(lastColumn, base + lanes - 1 + reach - 1);
    }
    m_sameTaps = m_groups.front().taps;
    for (const auto& group : m_groups) {
        if (group.taps != m_sameTaps) {
            m_sameTaps = 0;
        }
    }
    // The vertical pass fills the rectangle's columns; windows may read
    // zeros beyond.
    const size_t lanesPerRow = (static_cast<size_t>(lastColumn) + 1 + kSlackPixels) * 2;
    m_even.assign(lanesPerRow, 0);
    m_odd.assign(lanesPerRow, 0);
}

void CFrameScaler::BuildPixels() {
    const auto axis = ::ComputeAxisWeights(m_columns, m_width, kPixelWeightOne);
    int span = 1;
    for (const auto& taps : axis) {
        span = std::max(span, taps.back().index - taps.front().index + 1);
    }
    m_tapGroups = (span + kTapsPerGroup - 1) / kTapsPerGroup;
    const int taps = m_tapGroups * kTapsPerGroup;
    const int blocks = (m_width + 3) / 4;
    // Per output column (in target order, so mirrored here), padded to
    // whole blocks with columns of no weight.
    m_first.assign(static_cast<size_t>(blocks) * 4, 0);
    std::vector<int> weights(static_cast<size_t>(blocks) * 4 * taps, 0);
    for (int column = 0; column < m_width; ++column) {
        const int position = m_geometry.mirror ? m_width - 1 - column : column;
        const auto& positionTaps = axis[static_cast<size_t>(position)];
        // The taps are read `taps` columns at a time from the first: moved
        // left where that would read past the rectangle's last column (the
        // end of the source row), the weights land further in.
        const int first = m_columns >= taps ? std::min(positionTaps.front().index, m_columns - taps)
                                            : positionTaps.front().index;
        m_first[static_cast<size_t>(column)] = first;
        for (const Tap& tap : positionTaps) {
            weights[static_cast<size_t>(column) * taps + static_cast<size_t>(tap.index - first)] = tap.weight;
        }
    }
    if (m_kernels->pixelWeights == kernels::PixelWeights::Digits) {
        m_pixelDigits.assign(static_cast<size_t>(blocks) * m_tapGroups * kDigitBlockBytes, 0);
        for (int b = 0; b < blocks; ++b) {
            for (int group = 0; group < m_tapGroups; ++group) {
                BYTE* out = &m_pixelDigits[(static_cast<size_t>(b) * m_tapGroups + group) * kDigitBlockBytes];
                // (x, x + 2) then (x + 1, x + 3): high digits, low digits.
                const int order[2][2] = {{0, 2}, {1, 3}};
                for (int pair = 0; pair < 2; ++pair) {
                    for (int half = 0; half < 2; ++half) {
                        const int column = 4 * b + order[pair][half];
                        for (int t = 0; t < kTapsPerGroup; ++t) {
                            const int weight =
                                weights[static_cast<size_t>(column) * taps + group * kTapsPerGroup + t];
                            for (int channel = 0; channel < kBytesPerPixel; ++channel) {
                                const size_t at = static_cast<size_t>(pair) * 64 + half * 16 + channel * 4 + t;
                                out[at] = static_cast<BYTE>(weight >> 6);
                                out[at + 32] = static_cast<BYTE>(weight & 63);
                            }
                        }
                    }
                }
            }
        }
    } else {
        m_pixelWeights.assign(weights.begin(), weights.begin() + static_cast<ptrdiff_t>(m_width) * taps);
    }
    m_packed.assign((static_cast<size_t>(m_columns) + taps + kSlackPixels) * kBytesPerPixel, 0);
}

void CFrameScaler::ChooseOrder() {
    // Estimated work of the two orders, in vertical taps of one pixel (a
    // pixel pass's group of four taps costs about kPixelGroupCost of them):
    // vertical first filters every source column of each output row;
    // horizontal first runs the pixel pass over every source row.
    constexpr double kPixelGroupCost = 8.0;
    const double verticalTaps = static_cast<double>(m_rowSources.size()) / m_height;
    const double pixelPass = kPixelGroupCost * m_tapGroups * m_width;
    const double verticalFirst = m_height * (m_columns * verticalTaps + pixelPass);
    const double horizontalFirst = m_rows * pixelPass + m_height * (m_width * verticalTaps);
    m_horizontalFirst = horizontalFirst < verticalFirst && m_columns >= m_tapGroups * kTapsPerGroup;
    if (!m_horizontalFirst) {
        return;
    }
    // Rows of the pixel pass, BGRX, as many as an output row has taps (they
    // are used in order), with room for the pass's whole blocks of four.
    size_t mostTaps = 1;
    for (const OutputRow& row : m_outputRows) {
        mostTaps = std::max(mostTaps, static_cast<size_t>(row.taps));
    }
    m_ringStride = (static_cast<size_t>(m_width + 3) / 4 * 4 + kSlackPixels) * kBytesPerPixel;
    m_ring.assign(m_ringStride * mostTaps, 0);
    m_ringRows = static_cast<int>(mostTaps);
    m_correctedRow.assign((static_cast<size_t>(m_columns) + kSlackPixels) * kBytesPerPixel, 0);
    m_blockFlags.assign(static_cast<size_t>(m_width + 3) / 4, 0);
    m_copyRanges.reserve(m_blockFlags.size() * 2);
    // The columns each block of four output pixels reads, by first column
    // (mirrored, the blocks run backwards).
    const int taps = m_tapGroups * kTapsPerGroup;
    m_blockColumns.clear();
    for (size_t b = 0; b < m_blockFlags.size(); ++b) {
        BlockColumns block = {static_cast<int32_t>(b), m_columns, 0};
        for (size_t j = 0; j < 4 && b * 4 + j < static_cast<size_t>(m_width); ++j) {
            block.from = std::min(block.from, m_first[b * 4 + j]);
            block.to = std::max(block.to, std::min(m_columns, m_first[b * 4 + j] + taps));
        }
        m_blockColumns.push_back(block);
    }
    std::sort(m_blockColumns.begin(), m_blockColumns.end(),
              [](const BlockColumns& a, const BlockColumns& b) { return a.from < b.from; });
    m_packed.clear();
}

void CFrameScaler::BuildCorrection() {
    m_tiles = (m_columns + kTileSize - 1) / kTileSize;
    m_bands = (m_rows + kTileSize - 1) / kTileSize;
    m_tileEven.assign(static_cast<size_t>(m_tiles) + 3 + kSlackPixels, 0);
    m_tileOdd.assign(m_tileEven.size(), 0);
    const size_t lanes = (static_cast<size_t>(m_columns) + kSlackPixels) * 2;
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
    const int tileSign = kernels::SignOfParity(m_geometry.source.left + m_geometry.source.top);
    for (int x = 0; x < m_columns; ++x) {
        const int sign = tileSign * kernels::SignOfParity(m_geometry.source.left + x) * 8;
        const int left = kLeftEighths[x % kTileSize];
        for (int lane = 0; lane < 2; ++lane) {
            m_leftWeights[static_cast<size_t>(x) * 2 + lane] = static_cast<int16_t>(sign * left);
            m_rightWeights[static_cast<size_t>(x) * 2 + lane] = static_cast<int16_t>(sign * (8 - left));
        }
    }
}

void CFrameScaler::PrepareBand(const BYTE* sourceTop, ptrdiff_t sourceStride, int band) {
    const long top = m_geometry.source.top;
    const long bottom = m_geometry.source.bottom;
    const size_t left = static_cast<size_t>(m_geometry.source.left) * kBytesPerPixel;
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
    m_kernels->band(rows);
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
    const kernels::CorrectionRow correction = {tileEven,
                                               tileOdd,
                                               m_tiles,
                                               m_leftWeights.data(),
                                               m_rightWeights.data(),
                                               m_columns,
                                               m_spans.data(),
                                               static_cast<int>(m_spans.size() / 2),
                                               m_correctionEven.data(),
                                               m_correctionOdd.data()};
    m_kernels->correction(correction);
    m_band = band;
}

void CFrameScaler::Scale(const BYTE* sourceTop, ptrdiff_t sourceStride, BYTE* targetTop, ptrdiff_t targetStride) {
    if (!m_prepared || sourceTop == nullptr || targetTop == nullptr) {
        return;
    }
    m_band = -1;
    if (m_horizontalFirst) {
        ScaleHorizontalFirst(sourceTop, sourceStride, targetTop, targetStride);
        return;
    }
    const size_t left = static_cast<size_t>(m_geometry.source.left) * kBytesPerPixel;
    for (int y = 0; y < m_height; ++y) {
        const OutputRow& out = m_outputRows[static_cast<size_t>(y)];
        for (int t = 0; t < out.taps; ++t) {
            m_sourcePointers[static_cast<size_t>(t)] =
                sourceTop + m_rowSources[static_cast<size_t>(out.firstTap + t)] * sourceStride + left;
        }
        kernels::VerticalRow vertical = {};
        vertical.sources = m_sourcePointers.data();
        vertical.weights = &m_rowWeights[static_cast<size_t>(out.firstTap) * kWeightCopies];
        vertical.taps = out.taps;
        vertical.pixels = m_columns;
        for (int k = 0; k < kPrefetchesPerRow; ++k) {
            const int fetch = m_prefetchRows[static_cast<size_t>(y) * kPrefetchesPerRow + k];
            vertical.prefetch[k] = fetch < 0 ? nullptr : sourceTop + fetch * sourceStride + left;
        }
        if (out.leak != 0) {
            if (out.band != m_band) {
                PrepareBand(sourceTop, sourceStride, out.band);
            }
            vertical.correctionEven = m_correctionEven.data();
            vertical.correctionOdd = m_correctionOdd.data();
            vertical.correctionWeight = out.leak;
            vertical.spans = m_spans.data();
            vertical.spanCount = static_cast<int>(m_spans.size() / 2);
        }
        if (m_useWindows) {
            vertical.even = m_even.data();
            vertical.odd = m_odd.data();
        } else {
            vertical.packed = m_packed.data();
        }
        m_kernels->vertical(vertical);

        BYTE* target = targetTop + (m_geometry.target.top + y) * targetStride +
                       static_cast<ptrdiff_t>(m_geometry.target.left) * kBytesPerTargetPixel;
        if (m_useWindows) {
            const kernels::WindowRow row = {m_even.data(),
                                            m_odd.data(),
                                            m_groups.data(),
                                            m_windowWeights.data(),
                                            static_cast<int>(m_groups.size()),
                                            m_sameTaps,
                                            m_width,
                                            target,
                                            m_geometry.mirror};
            m_kernels->window(row);
        } else {
            const void* weights = m_kernels->pixelWeights == kernels::PixelWeights::Digits
                                      ? static_cast<const void*>(m_pixelDigits.data())
                                      : static_cast<const void*>(m_pixelWeights.data());
            const kernels::PixelRow row = {m_packed.data(), nullptr, nullptr, m_first.data(), weights,
                                           m_tapGroups,     m_width, target,  false};
            m_kernels->pixels(row);
        }
    }
}

void CFrameScaler::FilterSourceRow(const BYTE* sourceTop, ptrdiff_t sourceStride, int row, BYTE* out) {
    const size_t left = static_cast<size_t>(m_geometry.source.left) * kBytesPerPixel;
    const BYTE* source = sourceTop + row * sourceStride + left;
    kernels::PixelRow pixels = {source, nullptr, nullptr, m_first.data(), nullptr, m_tapGroups, m_width, out, true};
    if (m_correct) {
        // The row less its checkerboard (the vertical pass's weights then
        // subtract it times their leak, as in the other order), in a copy
        // of the columns that the blocks of output pixels touching the
        // spans read; those blocks read the copy.
        const int band = (row - static_cast<int>(m_geometry.source.top)) / kTileSize;
        if (band != m_band) {
            PrepareBand(sourceTop, sourceStride, band);
            FlagCorrectedBlocks();
        }
        if (!m_spans.empty()) {
            for (size_t r = 0; r < m_copyRanges.size(); r += 2) {
                const size_t from = static_cast<size_t>(m_copyRanges[r]) * kBytesPerPixel;
                std::memcpy(m_correctedRow.data() + from, source + from,
                            static_cast<size_t>(m_copyRanges[r + 1] - m_copyRanges[r]) * kBytesPerPixel);
            }
            const kernels::CorrectedRow corrected = {source,
                                                     m_correctedRow.data(),
                                                     m_correctionEven.data(),
                                                     m_correctionOdd.data(),
                                                     kernels::SignOfParity(row),
                                                     m_spans.data(),
                                                     static_cast<int>(m_spans.size() / 2)};
            m_kernels->correctRow(corrected);
            pixels.corrected = m_correctedRow.data();
            pixels.blockFlags = m_blockFlags.data();
        }
    }
    pixels.weights = m_kernels->pixelWeights == kernels::PixelWeights::Digits
                         ? static_cast<const void*>(m_pixelDigits.data())
                         : static_cast<const void*>(m_pixelWeights.data());
    m_kernels->pixels(pixels);
}

void CFrameScaler::FlagCorrectedBlocks() {
    m_copyRanges.clear();
    std::fill(m_blockFlags.begin(), m_blockFlags.end(), BYTE{0});
    // The blocks in order of the columns they read (ChooseOrder), swept
    // along the spans.
    size_t span = 0;
    for (const BlockColumns& block : m_blockColumns) {
        while (span < m_spans.size() && m_spans[span + 1] <= block.from) {
            span += 2;
        }
        if (span == m_spans.size() || m_spans[span] >= block.to) {
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

void CFrameScaler::ScaleHorizontalFirst(const BYTE* sourceTop, ptrdiff_t sourceStride, BYTE* targetTop,
                                        ptrdiff_t targetStride) {
    // Source rows pass the pixel pass once each, in order, into a ring of
    // as many rows as an output row has taps.
    int filtered = static_cast<int>(m_geometry.source.top);
    for (int y = 0; y < m_height; ++y) {
        const OutputRow& out = m_outputRows[static_cast<size_t>(y)];
        const int last = m_rowSources[static_cast<size_t>(out.firstTap + out.taps - 1)];
        for (; filtered <= last; ++filtered) {
            FilterSourceRow(sourceTop, sourceStride, filtered,
                            &m_ring[static_cast<size_t>(filtered % m_ringRows) * m_ringStride]);
        }
        for (int t = 0; t < out.taps; ++t) {
            const int source = m_rowSources[static_cast<size_t>(out.firstTap + t)];
            m_sourcePointers[static_cast<size_t>(t)] = &m_ring[static_cast<size_t>(source % m_ringRows) * m_ringStride];
        }
        kernels::VerticalRow vertical = {};
        vertical.sources = m_sourcePointers.data();
        vertical.weights = &m_rowWeights[static_cast<size_t>(out.firstTap) * kWeightCopies];
        vertical.taps = out.taps;
        vertical.pixels = m_width;
        vertical.target = targetTop + (m_geometry.target.top + y) * targetStride +
                          static_cast<ptrdiff_t>(m_geometry.target.left) * kBytesPerTargetPixel;
        m_kernels->vertical(vertical);
    }
}
