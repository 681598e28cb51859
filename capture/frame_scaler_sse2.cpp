// The scaler's pixel loops for SSE2: four source columns or output pixels
// per vector.
#include <emmintrin.h>
#include <xmmintrin.h>

#include <cstring>

#include "capture/frame_scaler_kernels.h"

namespace frame_scaler_kernels {

namespace {

constexpr int kLanes = 4;
// What a vertical pass writes (VerticalRow).
constexpr int kLanesOutput = 0;
constexpr int kPackedOutput = 1;
constexpr int kTargetOutput = 2;

inline __m128i Load(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

inline void Store(void* p, __m128i v) {
    _mm_storeu_si128(static_cast<__m128i*>(p), v);
}

// Lanes of channels back into BGRX bytes, clamped to 0..255 by the pack:
// blue, red from `even`, green, unused from `odd`.
inline __m128i ToBytes(__m128i even, __m128i odd) {
    const __m128i bytes = _mm_packus_epi16(even, odd);
    return _mm_unpacklo_epi8(bytes, _mm_srli_si128(bytes, 8));
}

// Writes BGRX pixels as 3-byte pixels, in increasing column order: four
// bytes at a time, the fourth overwritten by the next pixel, but three for
// the last column of the row.
inline void WritePixel(BYTE* target, int column, int width, uint32_t pixel) {
    BYTE* out = target + static_cast<size_t>(column) * kBytesPerTargetPixel;
    if (column + 1 < width) {
        std::memcpy(out, &pixel, sizeof(pixel));
    } else {
        out[0] = static_cast<BYTE>(pixel);
        out[1] = static_cast<BYTE>(pixel >> 8);
        out[2] = static_cast<BYTE>(pixel >> 16);
    }
}

// The end of a vertical chunk: the correction, then the output.
template <int kOutput>
inline void FinishVerticalChunk(const VerticalRow& row, int x, __m128i even, __m128i odd, bool corrected,
                                __m128i correctionWeight) {
    const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
    if (corrected) {
        even = _mm_subs_epi16(even, _mm_mulhi_epi16(Load(row.correctionEven + 2 * x), correctionWeight));
        odd = _mm_subs_epi16(odd, _mm_mulhi_epi16(Load(row.correctionOdd + 2 * x), correctionWeight));
    }
    if (kOutput != kLanesOutput) {
        const __m128i rounding = _mm_set1_epi16(64);
        even = _mm_srai_epi16(_mm_adds_epi16(even, rounding), 7);
        odd = _mm_srai_epi16(_mm_adds_epi16(odd, rounding), 7);
        if (kOutput == kPackedOutput) {
            Store(row.packed + offset, ToBytes(even, odd));
        } else {
            uint32_t pixels[kLanes];
            Store(pixels, ToBytes(even, odd));
            for (int j = 0; j < kLanes; ++j) {
                WritePixel(row.target, x + j, row.pixels, pixels[j]);
            }
        }
    } else {
        Store(row.even + 2 * x, even);
        Store(row.odd + 2 * x, odd);
    }
}

// One chunk of a row with many taps, summed exactly in 32 bits: two rows'
// bytes side by side, widened, each pair weighed by one multiply-add.
template <int kOutput>
inline void VerticalChunkExact(const VerticalRow& row, int x, bool corrected, __m128i correctionWeight) {
    const __m128i zero = _mm_setzero_si128();
    const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
    // Per pixel (SSE2: 0..3; AVX2: 0..3 in the low halves, 4..7 in the
    // high ones): blue, green, red, unused.
    __m128i sums[4] = {zero, zero, zero, zero};
    for (int t = 0; t < row.taps; t += 2) {
        const bool pair = t + 1 < row.taps;
        const __m128i a = Load(row.sources[t] + offset);
        const __m128i b = pair ? Load(row.sources[t + 1] + offset) : zero;
        const int upper = pair ? row.weights[(t + 1) * kWeightCopies] : 0;
        const __m128i weights = _mm_set1_epi32(static_cast<int>(row.weights[t * kWeightCopies] | (static_cast<uint32_t>(upper) << 16)));
        const __m128i low = _mm_unpacklo_epi8(a, b);
        const __m128i high = _mm_unpackhi_epi8(a, b);
        sums[0] = _mm_add_epi32(sums[0], _mm_madd_epi16(_mm_unpacklo_epi8(low, zero), weights));
        sums[1] = _mm_add_epi32(sums[1], _mm_madd_epi16(_mm_unpackhi_epi8(low, zero), weights));
        sums[2] = _mm_add_epi32(sums[2], _mm_madd_epi16(_mm_unpacklo_epi8(high, zero), weights));
        sums[3] = _mm_add_epi32(sums[3], _mm_madd_epi16(_mm_unpackhi_epi8(high, zero), weights));
    }
    const __m128i rounding = _mm_set1_epi32(128);
    for (__m128i& sum : sums) {
        sum = _mm_srai_epi32(_mm_add_epi32(sum, rounding), 8);
    }
    // Words of pixels 0, 1 and 2, 3: blue, green, red, unused each.
    const __m128i first = _mm_packs_epi32(sums[0], sums[1]);
    const __m128i second = _mm_packs_epi32(sums[2], sums[3]);
    const __m128i even = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(first, 16), 16), _mm_srai_epi32(_mm_slli_epi32(second, 16), 16));
    const __m128i odd = _mm_packs_epi32(_mm_srai_epi32(first, 16), _mm_srai_epi32(second, 16));
    FinishVerticalChunk<kOutput>(row, x, even, odd, corrected, correctionWeight);
}

// One chunk of the vertical pass. kTaps > 0: that many taps, their rows
// and weights held in `sources` and `weights`; 0: any number, read from
// the row.
template <int kTaps, int kOutput>
inline void VerticalChunk(const VerticalRow& row, const BYTE* const* sources, const __m128i* weights, int x,
                          bool corrected, __m128i correctionWeight) {
    const __m128i highBytes = _mm_set1_epi16(static_cast<int16_t>(0xFF00));
    const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
    const int taps = kTaps > 0 ? kTaps : row.taps;
    __m128i even = _mm_setzero_si128();
    __m128i odd = _mm_setzero_si128();
    for (int t = 0; t < taps; ++t) {
        const __m128i pixels = Load((kTaps > 0 ? sources[t] : row.sources[t]) + offset);
        const __m128i weight = kTaps > 0 ? weights[t] : Load(row.weights + t * kWeightCopies);
        even = _mm_add_epi16(even, _mm_mulhi_epu16(_mm_slli_epi16(pixels, 8), weight));
        odd = _mm_add_epi16(odd, _mm_mulhi_epu16(_mm_and_si128(pixels, highBytes), weight));
    }
    FinishVerticalChunk<kOutput>(row, x, even, odd, corrected, correctionWeight);
}

// Fetches the cache line of each prefetch row at this chunk's columns
// (every other chunk: a line holds 16 columns).
inline void PrefetchChunk(const VerticalRow& row, int x) {
    if ((x & 15) == 0) {
        const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
        for (const BYTE* prefetch : row.prefetch) {
            if (prefetch != nullptr) {
                _mm_prefetch(reinterpret_cast<const char*>(prefetch + offset), _MM_HINT_T0);
            }
        }
    }
}

// kTaps -1: a row of many taps, summed exactly.
template <int kTaps, int kOutput>
inline void Chunk(const VerticalRow& row, const BYTE* const* sources, const __m128i* weights, int x, bool corrected,
                  __m128i correctionWeight) {
    if (kTaps < 0) {
        VerticalChunkExact<kOutput>(row, x, corrected, correctionWeight);
    } else {
        VerticalChunk<(kTaps < 0 ? 0 : kTaps), kOutput>(row, sources, weights, x, corrected, correctionWeight);
    }
}

template <int kTaps, int kOutput>
void VerticalRows(const VerticalRow& row) {
    constexpr int kHeld = kTaps > 0 ? kTaps : 1;
    const BYTE* sources[kHeld] = {};
    __m128i weights[kHeld];
    for (int t = 0; t < kTaps; ++t) {
        sources[t] = row.sources[t];
        weights[t] = Load(row.weights + t * kWeightCopies);
    }
    const __m128i correctionWeight = _mm_set1_epi16(row.correctionWeight);
    int x = 0;
    for (int s = 0; s < row.spanCount; ++s) {
        for (; x + kLanes <= row.spans[2 * s]; x += kLanes) {
            PrefetchChunk(row, x);
            Chunk<kTaps, kOutput>(row, sources, weights, x, false, correctionWeight);
        }
        for (; x + kLanes <= row.spans[2 * s + 1]; x += kLanes) {
            PrefetchChunk(row, x);
            Chunk<kTaps, kOutput>(row, sources, weights, x, true, correctionWeight);
        }
    }
    for (; x + kLanes <= row.pixels; x += kLanes) {
        PrefetchChunk(row, x);
        Chunk<kTaps, kOutput>(row, sources, weights, x, false, correctionWeight);
    }
    if (x < row.pixels) {
        // The last columns again, ending at the last: the same values (the
        // correction row is valid, if zero, outside its spans).
        Chunk<kTaps, kOutput>(row, sources, weights, row.pixels - kLanes, row.correctionEven != nullptr,
                                      correctionWeight);
    }
}

template <int kOutput>
void VerticalRowsAnyTaps(const VerticalRow& row) {
    switch (row.taps) {
    case 1:
        VerticalRows<1, kOutput>(row);
        break;
    case 2:
        VerticalRows<2, kOutput>(row);
        break;
    case 3:
        VerticalRows<3, kOutput>(row);
        break;
    case 4:
        VerticalRows<4, kOutput>(row);
        break;
    default:
        if (row.taps > kMostTruncatingTaps) {
            VerticalRows<-1, kOutput>(row);
        } else {
            VerticalRows<0, kOutput>(row);
        }
        break;
    }
}

}  // namespace

void VerticalSse2(const VerticalRow& row) {
    if (row.pixels < kLanes) {
        for (int x = 0; x < row.pixels; ++x) {
            VerticalColumn(row, x);
        }
        return;
    }
    if (row.packed != nullptr) {
        VerticalRowsAnyTaps<kPackedOutput>(row);
    } else if (row.target != nullptr) {
        VerticalRowsAnyTaps<kTargetOutput>(row);
    } else {
        VerticalRowsAnyTaps<kLanesOutput>(row);
    }
}

void WindowSse2(const WindowRow& row) {
    const __m128i rounding = _mm_set1_epi16(32);
    // Mirrored, the groups run backwards so that the columns are written in
    // increasing order (see WritePixel).
    for (int i = 0; i < row.groupCount; ++i) {
        const int g = row.mirror ? row.groupCount - 1 - i : i;
        const WindowGroup& group = row.groups[g];
        const int16_t* even = row.even + 2 * group.base;
        const int16_t* odd = row.odd + 2 * group.base;
        const int16_t* weights = row.weights + group.weights;
        __m128i sumEven = rounding;
        __m128i sumOdd = rounding;
        for (int k = 0; k < group.taps; ++k) {
            const __m128i weight = Load(weights + 2 * kLanes * k);
            sumEven = _mm_add_epi16(sumEven, _mm_mulhi_epi16(Load(even + 2 * k), weight));
            sumOdd = _mm_add_epi16(sumOdd, _mm_mulhi_epi16(Load(odd + 2 * k), weight));
        }
        const __m128i bytes = ToBytes(_mm_srai_epi16(sumEven, 6), _mm_srai_epi16(sumOdd, 6));
        uint32_t pixels[kLanes];
        Store(pixels, bytes);
        for (int j = 0; j < kLanes; ++j) {
            const int lane = row.mirror ? kLanes - 1 - j : j;
            const int x = g * kLanes + lane;
            if (x < row.width) {
                WritePixel(row.target, row.mirror ? row.width - 1 - x : x, row.width, pixels[lane]);
            }
        }
    }
}

void PixelsSse2(const PixelRow& row) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i rounding = _mm_set1_epi32(1 << 11);
    const int taps = row.tapGroups * 4;
    const int16_t* weights = static_cast<const int16_t*>(row.weights);
    for (int x = 0; x < row.width; ++x, weights += taps) {
        const BYTE* source = row.corrected != nullptr && row.blockFlags[x / 4] != 0 ? row.corrected : row.packed;
        const BYTE* pixels = source + static_cast<size_t>(row.first[x]) * kBytesPerPixel;
        __m128i sum = _mm_setzero_si128();
        for (int t = 0; t < taps; t += 4) {
            __m128i v = Load(pixels + static_cast<size_t>(t) * kBytesPerPixel);
            // p0 p1 p2 p3 -> channel pairs B0 B1 G0 G1 R0 R1 X0 X1 | B2 B3 ...
            v = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
            v = _mm_unpacklo_epi8(v, _mm_srli_si128(v, 8));
            const __m128i w = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(weights + t));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi8(v, zero), _mm_shuffle_epi32(w, 0x00)));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), _mm_shuffle_epi32(w, 0x55)));
        }
        sum = _mm_srai_epi32(_mm_add_epi32(sum, rounding), 12);
        sum = _mm_packs_epi32(sum, sum);
        const auto pixel = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(sum, sum)));
        if (row.packedOutput) {
            std::memcpy(row.target + static_cast<size_t>(x) * kBytesPerPixel, &pixel, sizeof(pixel));
        } else {
            WritePixel(row.target, x, row.width, pixel);
        }
    }
}

void BandSse2(const BandRows& band) {
    const __m128i ones = _mm_set1_epi8(-1);
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    for (int tile = 0; tile < band.tiles; ++tile) {
        const size_t offset = static_cast<size_t>(tile) * kTileSize * kBytesPerPixel;
        __m128i mean = _mm_avg_epu8(Load(band.upper[0] + offset), _mm_xor_si128(Load(band.lower[0] + offset), ones));
        if (band.pairs == 2) {
            mean = _mm_avg_epu8(
                mean, _mm_avg_epu8(Load(band.upper[1] + offset), _mm_xor_si128(Load(band.lower[1] + offset), ones)));
        }
        // Per channel c0 - c1 + c2 - c3 in the first 32-bit lane.
        __m128i even = _mm_and_si128(mean, lowBytes);
        __m128i odd = _mm_srli_epi16(mean, 8);
        even = _mm_sub_epi16(even, _mm_srli_epi64(even, 32));
        odd = _mm_sub_epi16(odd, _mm_srli_epi64(odd, 32));
        even = _mm_add_epi16(even, _mm_srli_si128(even, 8));
        odd = _mm_add_epi16(odd, _mm_srli_si128(odd, 8));
        band.tileEven[tile] = _mm_cvtsi128_si32(even);
        band.tileOdd[tile] = _mm_cvtsi128_si32(odd);
        if ((band.tileEven[tile] | band.tileOdd[tile]) != 0) {
            band.flags[tile / kTilesPerFlag] = 1;
        }
    }
}

void CorrectionSse2(const CorrectionRow& row) {
    for (int s = 0; s < row.spanCount; ++s) {
        const int end = row.spans[2 * s + 1];
        int x = row.spans[2 * s];
        for (; x + kLanes <= end; x += kLanes) {
            const int tile = x / kTileSize;
            const __m128i leftWeights = Load(row.leftWeights + 2 * x);
            const __m128i rightWeights = Load(row.rightWeights + 2 * x);
            // Tiles tile - 1 .. tile + 2 (the arrays are padded at both ends).
            const __m128i even = Load(row.tileEven + tile - 1);
            const __m128i odd = Load(row.tileOdd + tile - 1);
            const __m128i evenRight = _mm_srli_si128(even, 4);
            const __m128i oddRight = _mm_srli_si128(odd, 4);
            Store(row.even + 2 * x,
                  _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi32(even, even), leftWeights),
                                _mm_mullo_epi16(_mm_unpacklo_epi32(evenRight, evenRight), rightWeights)));
            Store(row.odd + 2 * x,
                  _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi32(odd, odd), leftWeights),
                                _mm_mullo_epi16(_mm_unpacklo_epi32(oddRight, oddRight), rightWeights)));
        }
        for (; x < end; ++x) {
            CorrectionColumn(row, x);
        }
    }
}

void CorrectRowSse2(const CorrectedRow& row) {
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    const __m128i rounding = _mm_set1_epi16(128);
    // The correction times the sign: x, or 0 - x.
    const __m128i negate = _mm_set1_epi16(row.sign < 0 ? -1 : 0);
    for (int s = 0; s < row.spanCount; ++s) {
        const int end = row.spans[2 * s + 1];
        int x = row.spans[2 * s];
        for (; x + kLanes <= end; x += kLanes) {
            const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
            const __m128i pixels = Load(row.source + offset);
            __m128i even = _mm_sub_epi16(_mm_xor_si128(Load(row.correctionEven + 2 * x), negate), negate);
            __m128i odd = _mm_sub_epi16(_mm_xor_si128(Load(row.correctionOdd + 2 * x), negate), negate);
            even = _mm_sub_epi16(_mm_and_si128(pixels, lowBytes), _mm_srai_epi16(_mm_adds_epi16(even, rounding), 8));
            odd = _mm_sub_epi16(_mm_srli_epi16(pixels, 8), _mm_srai_epi16(_mm_adds_epi16(odd, rounding), 8));
            Store(row.out + offset, ToBytes(even, odd));
        }
        for (; x < end; ++x) {
            CorrectColumn(row, x);
        }
    }
}

}  // namespace frame_scaler_kernels
