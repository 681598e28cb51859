#include "capture/frame_scaler.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr int kBytesPerSourcePixel = 4;
constexpr int kBytesPerTargetPixel = 3;
constexpr int kPixelsPerLoad = 4;
// Rows of the correction per output row: five, padded to pairs.
constexpr int kCorrectionReach = 2;
constexpr int kCorrectionTaps = 6;
// The corrected vertical pass keeps 16-bit channels in units of 1/128:
// 255 * 128 still fits a signed 16-bit lane.
constexpr int kFineShift = 7;

struct WeightedTap {
    int index;
    double weight;
};

// Area average: each source pixel weighs the fraction of the output pixel
// it covers.
std::vector<WeightedTap> ShrinkTaps(int sourceLength, int targetLength, int position) {
    const double ratio = static_cast<double>(sourceLength) / targetLength;
    const double lo = position * ratio;
    const double hi = std::min(static_cast<double>(sourceLength), (position + 1) * ratio);
    const int first = static_cast<int>(std::floor(lo));
    const int last = std::min(sourceLength - 1, static_cast<int>(std::ceil(hi)) - 1);
    std::vector<WeightedTap> taps;
    for (int i = first; i <= last; ++i) {
        const double overlap = std::min(hi, i + 1.0) - std::max(lo, static_cast<double>(i));
        taps.push_back({i, std::max(0.0, overlap) / ratio});
    }
    return taps;
}

std::vector<WeightedTap> EnlargeTaps(int sourceLength, int targetLength, int position) {
    // Pixel centres map onto each other; the outermost output pixels repeat
    // the edge pixels.
    const double u = (position + 0.5) * sourceLength / targetLength - 0.5;
    const int left = static_cast<int>(std::floor(u));
    const double fraction = u - left;
    const int a = std::clamp(left, 0, sourceLength - 1);
    const int b = std::clamp(left + 1, 0, sourceLength - 1);
    if (a == b) {
        return {{a, 1.0}};
    }
    return {{a, 1.0 - fraction}, {b, fraction}};
}

// Rounds weights to fixed point so that they sum to exactly kWeightOne and
// drops zero weights at both ends.
std::vector<CFrameScaler::Tap> Quantize(const std::vector<WeightedTap>& taps) {
    std::vector<CFrameScaler::Tap> result;
    int sum = 0;
    size_t largest = 0;
    for (size_t k = 0; k < taps.size(); ++k) {
        const int weight = static_cast<int>(std::lround(taps[k].weight * CFrameScaler::kWeightOne));
        result.push_back({taps[k].index, weight});
        sum += weight;
        if (std::fabs(taps[k].weight) > std::fabs(taps[largest].weight)) {
            largest = k;
        }
    }
    result[largest].weight += CFrameScaler::kWeightOne - sum;
    while (result.size() > 1 && result.back().weight == 0) {
        result.pop_back();
    }
    while (result.size() > 1 && result.front().weight == 0) {
        result.erase(result.begin());
    }
    return result;
}

int RoundUp(int value, int multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

inline __m128i PairWeights(int16_t a, int16_t b) {
    return _mm_set1_epi32(static_cast<int>(static_cast<uint16_t>(a) | (static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16)));
}

}  // namespace

std::vector<std::vector<CFrameScaler::Tap>> CFrameScaler::ComputeAxisWeights(int sourceLength, int targetLength) {
    std::vector<std::vector<Tap>> axis;
    axis.reserve(static_cast<size_t>(targetLength));
    for (int position = 0; position < targetLength; ++position) {
        if (targetLength < sourceLength) {
            axis.push_back(Quantize(ShrinkTaps(sourceLength, targetLength, position)));
        } else if (targetLength > sourceLength) {
            axis.push_back(Quantize(EnlargeTaps(sourceLength, targetLength, position)));
        } else {
            axis.push_back({{position, kWeightOne}});
        }
    }
    return axis;
}

bool CFrameScaler::IsPreparedFor(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) const {
    return m_sourceWidth == sourceWidth && m_sourceHeight == sourceHeight && m_targetWidth == targetWidth &&
           m_targetHeight == targetHeight && sourceWidth > 0;
}

HRESULT CFrameScaler::Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) {
    if (sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0) {
        return E_INVALIDARG;
    }
    if (IsPreparedFor(sourceWidth, sourceHeight, targetWidth, targetHeight)) {
        return S_OK;
    }
    m_sourceWidth = m_sourceHeight = m_targetWidth = m_targetHeight = 0;
    try {
        BuildHorizontal(sourceWidth, targetWidth);
        // A checkerboard is finer than the target can show only when the
        // picture shrinks along at least one axis; otherwise it is kept.
        BuildVertical(sourceHeight, targetHeight, targetWidth < sourceWidth || targetHeight < sourceHeight);
        const size_t width = static_cast<size_t>(sourceWidth);
        m_row.assign((width + static_cast<size_t>(m_horizontal.taps) + kPixelsPerLoad) * kBytesPerSourcePixel, 0);
        // Two pixels per 16-byte vector, so one pixel of slack each.
        m_average.assign((width + 1) * kBytesPerSourcePixel, 0);
        m_correction.assign((width + 3) * kBytesPerSourcePixel, 0);
        m_difference.assign((width + 3) * kBytesPerSourcePixel, 0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    m_sourceWidth = sourceWidth;
    m_sourceHeight = sourceHeight;
    m_targetWidth = targetWidth;
    m_targetHeight = targetHeight;
    return S_OK;
}

void CFrameScaler::BuildHorizontal(int sourceLength, int targetLength) {
    const auto axis = ComputeAxisWeights(sourceLength, targetLength);
    int taps = 1;
    for (const auto& position : axis) {
        taps = std::max(taps, position.back().index - position.front().index + 1);
    }
    taps = RoundUp(taps, kPixelsPerLoad);
    m_horizontal.taps = taps;
    m_horizontal.first.assign(static_cast<size_t>(targetLength), 0);
    m_horizontal.weights.assign(static_cast<size_t>(targetLength) * static_cast<size_t>(taps), 0);
    for (int x = 0; x < targetLength; ++x) {
        const auto& position = axis[static_cast<size_t>(x)];
        const int first = position.front().index;
        m_horizontal.first[static_cast<size_t>(x)] = first;
        for (const Tap& tap : position) {
            m_horizontal.weights[static_cast<size_t>(x) * taps + static_cast<size_t>(tap.index - first)] =
                static_cast<int16_t>(tap.weight);
        }
    }
}

void CFrameScaler::BuildVertical(int sourceLength, int targetLength, bool cancelCheckerboard) {
    const auto axis = ComputeAxisWeights(sourceLength, targetLength);
    int taps = 1;
    for (const auto& position : axis) {
        taps = std::max(taps, static_cast<int>(position.size()));
    }
    taps = RoundUp(taps, 2);
    const size_t count = static_cast<size_t>(targetLength);
    m_vertical.taps = taps;
    m_vertical.rows.assign(count * static_cast<size_t>(taps), 0);
    m_vertical.weights.assign(count * static_cast<size_t>(taps), 0);
    m_vertical.correctionRows.assign(count * kCorrectionTaps, 0);
    m_vertical.correctionWeights.assign(count * kCorrectionTaps, 0);
    m_vertical.corrected.assign(count, false);
    for (int y = 0; y < targetLength; ++y) {
        const auto& position = axis[static_cast<size_t>(y)];
        const size_t base = static_cast<size_t>(y) * taps;
        int leak = 0;
        for (int t = 0; t < taps; ++t) {
            // Padding taps repeat the last row with weight 0: a valid row.
            const size_t k = std::min(static_cast<size_t>(t), position.size() - 1);
            const bool real = t < static_cast<int>(position.size());
            m_vertical.rows[base + t] = position[k].index;
            m_vertical.weights[base + t] = real ? static_cast<int16_t>(position[k].weight) : int16_t{0};
            if (real) {
                leak += (position[k].index % 2 == 0) ? position[k].weight : -position[k].weight;
            }
        }
        // The leak: what a checkerboard of amplitude 1 contributes to this
        // row. The correction is a mixed fourth difference around the row's
        // centre: (-1)^centre * leak * [1 -4 6 -4 1] / 16 down the rows here,
        // and -[1 -4 6 -4 1] / 16 along the filtered row (FilterRowsCorrected).
        // Its response to that checkerboard is exactly -leak, and it is blind
        // to anything that is constant along either axis or varies at most
        // quadratically.
        if (!cancelCheckerboard || leak == 0 || sourceLength < 2 * kCorrectionReach + 1) {
            continue;
        }
        const double centre = (y + 0.5) * sourceLength / targetLength;
        const int middle = std::clamp(static_cast<int>(std::floor(centre)), kCorrectionReach,
                                      sourceLength - 1 - kCorrectionReach);
        const int sign = (middle % 2 == 0) ? 1 : -1;
        const size_t cbase = static_cast<size_t>(y) * kCorrectionTaps;
        constexpr int kBinomial[2 * kCorrectionReach + 1] = {1, -4, 6, -4, 1};
        for (int t = 0; t < kCorrectionTaps; ++t) {
            const bool real = t < 2 * kCorrectionReach + 1;
            m_vertical.correctionRows[cbase + t] = real ? middle - kCorrectionReach + t : middle + kCorrectionReach;
            m_vertical.correctionWeights[cbase + t] =
                real ? static_cast<int16_t>(sign * leak * kBinomial[t] / 16) : int16_t{0};
        }
        m_vertical.corrected[static_cast<size_t>(y)] = true;
    }
}

void CFrameScaler::Scale(const BYTE* sourceTop, ptrdiff_t sourceStride, BYTE* targetTop, ptrdiff_t targetStride) {
    if (m_targetWidth == 0) {
        return;
    }
    for (int y = 0; y < m_targetHeight; ++y) {
        if (m_vertical.corrected[static_cast<size_t>(y)]) {
            FilterRowsCorrected(sourceTop, sourceStride, y);
        } else {
            FilterRows(sourceTop, sourceStride, y);
        }
        FilterColumns(targetTop + y * targetStride);
    }
}

namespace {

// Sum over pairs of rows of weight x pixel for 16 bytes (four BGRX pixels)
// at offset x: four vectors of 32-bit sums, one per pixel, in units of
// 1 / kWeightOne.
struct Sums16 {
    __m128i s0, s1, s2, s3;
};

inline Sums16 WeighRows(const BYTE* sourceTop, ptrdiff_t sourceStride, const int* rows, const int16_t* weights,
                        int taps, size_t x) {
    const __m128i zero = _mm_setzero_si128();
    Sums16 sums = {zero, zero, zero, zero};
    for (int t = 0; t < taps; t += 2) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sourceTop + rows[t] * sourceStride + x));
        const __m128i b =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(sourceTop + rows[t + 1] * sourceStride + x));
        const __m128i w = PairWeights(weights[t], weights[t + 1]);
        // Bytes of the two rows side by side, widened: (a, b) pairs that one
        // multiply-add weighs and sums.
        const __m128i lo = _mm_unpacklo_epi8(a, b);
        const __m128i hi = _mm_unpackhi_epi8(a, b);
        sums.s0 = _mm_add_epi32(sums.s0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w));
        sums.s1 = _mm_add_epi32(sums.s1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w));
        sums.s2 = _mm_add_epi32(sums.s2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w));
        sums.s3 = _mm_add_epi32(sums.s3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w));
    }
    return sums;
}

inline int WeighRowsScalar(const BYTE* sourceTop, ptrdiff_t sourceStride, const int* rows, const int16_t* weights,
                           int taps, size_t x) {
    int sum = 0;
    for (int t = 0; t < taps; ++t) {
        sum += weights[t] * sourceTop[rows[t] * sourceStride + static_cast<ptrdiff_t>(x)];
    }
    return sum;
}

// 32-bit sums in units of 1 / kWeightOne to 16 bits in units of
// 1 / 2^kFineShift, rounded.
constexpr int kToFineShift = CFrameScaler::kWeightShift - kFineShift;

inline __m128i ToFine(__m128i a, __m128i b) {
    const __m128i rounding = _mm_set1_epi32(1 << (kToFineShift - 1));
    a = _mm_srai_epi32(_mm_add_epi32(a, rounding), kToFineShift);
    b = _mm_srai_epi32(_mm_add_epi32(b, rounding), kToFineShift);
    return _mm_packs_epi32(a, b);
}

// [1 -2 1] / 4 across neighbouring pixels of a 16-bit BGRX row, at the
// two pixels starting at p; kept within 16 bits as ((l + r) / 2 - m) / 2.
inline __m128i SecondDifferenceAt(const int16_t* p) {
    const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - kBytesPerSourcePixel));
    const __m128i middle = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + kBytesPerSourcePixel));
    return _mm_srai_epi16(_mm_sub_epi16(_mm_srai_epi16(_mm_add_epi16(left, right), 1), middle), 1);
}

inline int SecondDifferenceScalar(const int16_t* p) {
    return (((p[-kBytesPerSourcePixel] + p[kBytesPerSourcePixel]) >> 1) - p[0]) >> 1;
}

// Mirrors a 16-bit BGRX row about its edge pixels: the pixel beyond an edge
// takes the value of the one inside it, which keeps a one-pixel pattern
// alternating up to the edge. The row has one pixel of room on each side.
void MirrorEdges(int16_t* row, int width) {
    const size_t channels = static_cast<size_t>(width) * kBytesPerSourcePixel;
    const size_t mirror = width > 1 ? kBytesPerSourcePixel : 0;
    for (size_t c = 0; c < kBytesPerSourcePixel; ++c) {
        row[c - kBytesPerSourcePixel] = row[c + mirror];
        row[channels + c] = row[channels - kBytesPerSourcePixel - mirror + c];
    }
}

void SecondDifferenceInto(const int16_t* row, int16_t* out, int width) {
    const size_t channels = static_cast<size_t>(width) * kBytesPerSourcePixel;
    const size_t pairBytes = channels / 8 * 8;
    for (size_t x = 0; x < pairBytes; x += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), SecondDifferenceAt(row + x));
    }
    for (size_t x = pairBytes; x < channels; ++x) {
        out[x] = static_cast<int16_t>(SecondDifferenceScalar(row + x));
    }
}

}  // namespace

void CFrameScaler::FilterRows(const BYTE* sourceTop, ptrdiff_t sourceStride, int targetRow) {
    const int taps = m_vertical.taps;
    const int* rows = &m_vertical.rows[static_cast<size_t>(targetRow) * taps];
    const int16_t* weights = &m_vertical.weights[static_cast<size_t>(targetRow) * taps];
    const size_t rowBytes = static_cast<size_t>(m_sourceWidth) * kBytesPerSourcePixel;
    BYTE* out = m_row.data();

    if (weights[0] == kWeightOne && std::all_of(weights + 1, weights + taps, [](int16_t w) { return w == 0; })) {
        std::memcpy(out, sourceTop + rows[0] * sourceStride, rowBytes);
        return;
    }

    const __m128i rounding = _mm_set1_epi32(1 << (kWeightShift - 1));
    const size_t vectorBytes = rowBytes / 16 * 16;
    for (size_t x = 0; x < vectorBytes; x += 16) {
        Sums16 sums = WeighRows(sourceTop, sourceStride, rows, weights, taps, x);
        sums.s0 = _mm_srai_epi32(_mm_add_epi32(sums.s0, rounding), kWeightShift);
        sums.s1 = _mm_srai_epi32(_mm_add_epi32(sums.s1, rounding), kWeightShift);
        sums.s2 = _mm_srai_epi32(_mm_add_epi32(sums.s2, rounding), kWeightShift);
        sums.s3 = _mm_srai_epi32(_mm_add_epi32(sums.s3, rounding), kWeightShift);
        const __m128i packed =
            _mm_packus_epi16(_mm_packs_epi32(sums.s0, sums.s1), _mm_packs_epi32(sums.s2, sums.s3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), packed);
    }
    for (size_t x = vectorBytes; x < rowBytes; ++x) {
        const int sum = WeighRowsScalar(sourceTop, sourceStride, rows, weights, taps, x) + (1 << (kWeightShift - 1));
        out[x] = static_cast<BYTE>(std::clamp(sum >> kWeightShift, 0, 255));
    }
}

void CFrameScaler::FilterRowsCorrected(const BYTE* sourceTop, ptrdiff_t sourceStride, int targetRow) {
    const int taps = m_vertical.taps;
    const int* rows = &m_vertical.rows[static_cast<size_t>(targetRow) * taps];
    const int16_t* weights = &m_vertical.weights[static_cast<size_t>(targetRow) * taps];
    const int* correctionRows = &m_vertical.correctionRows[static_cast<size_t>(targetRow) * kCorrectionTaps];
    const int16_t* correctionWeights =
        &m_vertical.correctionWeights[static_cast<size_t>(targetRow) * kCorrectionTaps];
    const size_t channels = static_cast<size_t>(m_sourceWidth) * kBytesPerSourcePixel;
    const size_t vectorBytes = channels / 16 * 16;
    int16_t* average = m_average.data();
    // One pixel (four channels) of mirrored edge before the row.
    int16_t* correction = m_correction.data() + kBytesPerSourcePixel;

    // The area average and the vertical half of the correction, in units of
    // 1 / kFineOne.
    for (size_t x = 0; x < vectorBytes; x += 16) {
        const Sums16 a = WeighRows(sourceTop, sourceStride, rows, weights, taps, x);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(average + x), ToFine(a.s0, a.s1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(average + x + 8), ToFine(a.s2, a.s3));
        const Sums16 c = WeighRows(sourceTop, sourceStride, correctionRows, correctionWeights, kCorrectionTaps, x);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(correction + x), ToFine(c.s0, c.s1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(correction + x + 8), ToFine(c.s2, c.s3));
    }
    constexpr int kToFineRounding = 1 << (kToFineShift - 1);
    for (size_t x = vectorBytes; x < channels; ++x) {
        average[x] = static_cast<int16_t>(
            (WeighRowsScalar(sourceTop, sourceStride, rows, weights, taps, x) + kToFineRounding) >> kToFineShift);
        correction[x] = static_cast<int16_t>((WeighRowsScalar(sourceTop, sourceStride, correctionRows,
                                                              correctionWeights, kCorrectionTaps, x) +
                                              kToFineRounding) >>
                                             kToFineShift);
    }
    // The horizontal half, -[1 -4 6 -4 1] / 16 along the row, as [1 -2 1] / 4
    // twice; two pixels per vector.
    MirrorEdges(correction, m_sourceWidth);
    int16_t* difference = m_difference.data() + kBytesPerSourcePixel;
    SecondDifferenceInto(correction, difference, m_sourceWidth);
    MirrorEdges(difference, m_sourceWidth);
    BYTE* out = m_row.data();
    const __m128i rounding = _mm_set1_epi16(1 << (kFineShift - 1));
    const size_t pairBytes = channels / 8 * 8;
    for (size_t x = 0; x < pairBytes; x += 8) {
        const __m128i term = SecondDifferenceAt(difference + x);
        __m128i value = _mm_subs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(average + x)), term);
        value = _mm_srai_epi16(_mm_adds_epi16(value, rounding), kFineShift);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(value, value));
    }
    for (size_t x = pairBytes; x < channels; ++x) {
        const int term = SecondDifferenceScalar(difference + x);
        const int value = (average[x] - term + (1 << (kFineShift - 1))) >> kFineShift;
        out[x] = static_cast<BYTE>(std::clamp(value, 0, 255));
    }
}

void CFrameScaler::FilterColumns(BYTE* target) const {
    const int taps = m_horizontal.taps;
    const BYTE* row = m_row.data();
    const __m128i zero = _mm_setzero_si128();
    const __m128i rounding = _mm_set1_epi32(1 << (kWeightShift - 1));
    const int16_t* weights = m_horizontal.weights.data();
    for (int x = 0; x < m_targetWidth; ++x, weights += taps) {
        const BYTE* pixels = row + static_cast<size_t>(m_horizontal.first[static_cast<size_t>(x)]) * kBytesPerSourcePixel;
        __m128i acc = _mm_setzero_si128();
        for (int t = 0; t < taps; t += kPixelsPerLoad) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + t * kBytesPerSourcePixel));
            // p0 p1 p2 p3 -> channel pairs B0 B1 G0 G1 R0 R1 X0 X1 | B2 B3 ...
            v = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
            v = _mm_unpacklo_epi8(v, _mm_srli_si128(v, 8));
            const __m128i w = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(weights + t));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi8(v, zero), _mm_shuffle_epi32(w, 0x00)));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), _mm_shuffle_epi32(w, 0x55)));
        }
        acc = _mm_srai_epi32(_mm_add_epi32(acc, rounding), kWeightShift);
        acc = _mm_packs_epi32(acc, acc);
        const uint32_t pixel = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(acc, acc)));
        BYTE* out = target + static_cast<size_t>(x) * kBytesPerTargetPixel;
        if (x + 1 < m_targetWidth) {
            // Four bytes at once; the next pixel overwrites the fourth.
            std::memcpy(out, &pixel, sizeof(pixel));
        } else {
            out[0] = static_cast<BYTE>(pixel);
            out[1] = static_cast<BYTE>(pixel >> 8);
            out[2] = static_cast<BYTE>(pixel >> 16);
        }
    }
}
