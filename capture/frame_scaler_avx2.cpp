// The scaler's pixel loops for AVX2: eight source columns or output pixels
// per vector. Every function here is compiled for AVX2 through its target
// attribute and is called only after ProcessorHasAvx2 said yes; the rest of
// the program stays plain SSE2. Each loop gives the same result per pixel
// as its SSE2 twin.
#include <immintrin.h>

#include <cstring>

#include "capture/frame_scaler_kernels.h"

#if defined(__GNUC__)
#define QM_AVX2 __attribute__((target("avx2")))
#else
#define QM_AVX2
#endif

namespace frame_scaler_kernels {

namespace {

constexpr int kLanes = 8;
// What a vertical pass writes (VerticalRow).
constexpr int kLanesOutput = 0;
constexpr int kPackedOutput = 1;
constexpr int kTargetOutput = 2;

// Writes `count` 3-byte pixels from the start of `bytes`.
inline void WriteExactly(BYTE* target, const BYTE* bytes, int count) {
    std::memcpy(target, bytes, static_cast<size_t>(count) * kBytesPerTargetPixel);
}

// Writes the 24 bytes at the start of `bytes`.
QM_AVX2 inline void Store24(BYTE* out, __m256i bytes) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(bytes, 1));
}

QM_AVX2 inline __m256i Load(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

QM_AVX2 inline void Store(void* p, __m256i v) {
    _mm256_storeu_si256(static_cast<__m256i*>(p), v);
}

QM_AVX2 inline __m128i Load128(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// Two 16-byte loads, one per half.
QM_AVX2 inline __m256i LoadHalves(const void* low, const void* high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(Load128(low)), Load128(high), 1);
}

// Lanes of channels back into BGRX bytes, clamped to 0..255 by the pack:
// blue, red from `even`, green, unused from `odd`.
QM_AVX2 inline __m256i ToBytes(__m256i even, __m256i odd) {
    // Per half: blue, red of four pixels, then green, unused.
    const __m256i interleave = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1, 9, 2, 10,
                                                3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
    return _mm256_shuffle_epi8(_mm256_packus_epi16(even, odd), interleave);
}

// The end of a vertical chunk: the correction, then the output.
template <int kOutput>
QM_AVX2 inline void FinishVerticalChunk(const VerticalRow& row, int x, __m256i even, __m256i odd, bool corrected,
                                __m256i correctionWeight) {
    const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
    if (corrected) {
        even = _mm256_subs_epi16(even, _mm256_mulhi_epi16(Load(row.correctionEven + 2 * x), correctionWeight));
        odd = _mm256_subs_epi16(odd, _mm256_mulhi_epi16(Load(row.correctionOdd + 2 * x), correctionWeight));
    }
    if (kOutput != kLanesOutput) {
        // (x + 64) >> 7, in one rounding multiply-high: x * 256 / 32768.
        const __m256i rounding = _mm256_set1_epi16(256);
        even = _mm256_mulhrs_epi16(even, rounding);
        odd = _mm256_mulhrs_epi16(odd, rounding);
        if (kOutput == kPackedOutput) {
            Store(row.packed + offset, ToBytes(even, odd));
        } else {
            // 3-byte pixels: 24 bytes, stored as 32 where the 8 beyond fall
            // on the next chunk's columns, else exactly.
            // From the pack (per half: blue, red of four pixels, then green,
            // unused) straight to 3-byte pixels, then the halves together.
            const __m256i toTarget = _mm256_setr_epi8(0, 8, 1, 2, 10, 3, 4, 12, 5, 6, 14, 7, -1, -1, -1, -1, 0, 8, 1,
                                                      2, 10, 3, 4, 12, 5, 6, 14, 7, -1, -1, -1, -1);
            const __m256i bytes =
                _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(_mm256_packus_epi16(even, odd), toTarget),
                                            _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
            Store24(row.target + static_cast<size_t>(x) * kBytesPerTargetPixel, bytes);
        }
    } else {
        Store(row.even + 2 * x, even);
        Store(row.odd + 2 * x, odd);
    }
}

// One chunk of a row with many taps, summed exactly in 32 bits: two rows'
// bytes side by side, widened, each pair weighed by one multiply-add.
template <int kOutput>
QM_AVX2 inline void VerticalChunkExact(const VerticalRow& row, int x, bool corrected, __m256i correctionWeight) {
    const __m256i zero = _mm256_setzero_si256();
    const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
    // Per pixel (SSE2: 0..3; AVX2: 0..3 in the low halves, 4..7 in the
    // high ones): blue, green, red, unused.
    __m256i sums[4] = {zero, zero, zero, zero};
    for (int t = 0; t < row.taps; t += 2) {
        const bool pair = t + 1 < row.taps;
        const __m256i a = Load(row.sources[t] + offset);
        const __m256i b = pair ? Load(row.sources[t + 1] + offset) : zero;
        const int upper = pair ? row.weights[(t + 1) * kWeightCopies] : 0;
        const __m256i weights = _mm256_set1_epi32(static_cast<int>(row.weights[t * kWeightCopies] | (static_cast<uint32_t>(upper) << 16)));
        const __m256i low = _mm256_unpacklo_epi8(a, b);
        const __m256i high = _mm256_unpackhi_epi8(a, b);
        sums[0] = _mm256_add_epi32(sums[0], _mm256_madd_epi16(_mm256_unpacklo_epi8(low, zero), weights));
        sums[1] = _mm256_add_epi32(sums[1], _mm256_madd_epi16(_mm256_unpackhi_epi8(low, zero), weights));
        sums[2] = _mm256_add_epi32(sums[2], _mm256_madd_epi16(_mm256_unpacklo_epi8(high, zero), weights));
        sums[3] = _mm256_add_epi32(sums[3], _mm256_madd_epi16(_mm256_unpackhi_epi8(high, zero), weights));
    }
    const __m256i rounding = _mm256_set1_epi32(128);
    for (__m256i& sum : sums) {
        sum = _mm256_srai_epi32(_mm256_add_epi32(sum, rounding), 8);
    }
    // Words of pixels 0, 1 and 2, 3: blue, green, red, unused each.
    const __m256i first = _mm256_packs_epi32(sums[0], sums[1]);
    const __m256i second = _mm256_packs_epi32(sums[2], sums[3]);
    const __m256i even = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_slli_epi32(first, 16), 16), _mm256_srai_epi32(_mm256_slli_epi32(second, 16), 16));
    const __m256i odd = _mm256_packs_epi32(_mm256_srai_epi32(first, 16), _mm256_srai_epi32(second, 16));
    FinishVerticalChunk<kOutput>(row, x, even, odd, corrected, correctionWeight);
}

// One chunk of the vertical pass. kTaps > 0: that many taps, their rows
// and weights held in `sources` and `weights`; 0: any number, read from
// the row.
template <int kTaps, int kOutput>
QM_AVX2 inline void VerticalChunk(const VerticalRow& row, const BYTE* const* sources, const __m256i* weights, int x,
                                  bool corrected, __m256i correctionWeight) {
    const __m256i highBytes = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
    const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
    const int taps = kTaps > 0 ? kTaps : row.taps;
    __m256i even = _mm256_setzero_si256();
    __m256i odd = _mm256_setzero_si256();
    for (int t = 0; t < taps; ++t) {
        const __m256i pixels = Load((kTaps > 0 ? sources[t] : row.sources[t]) + offset);
        const __m256i weight = kTaps > 0 ? weights[t] : Load(row.weights + t * kWeightCopies);
        even = _mm256_add_epi16(even, _mm256_mulhi_epu16(_mm256_slli_epi16(pixels, 8), weight));
        odd = _mm256_add_epi16(odd, _mm256_mulhi_epu16(_mm256_and_si256(pixels, highBytes), weight));
    }
    FinishVerticalChunk<kOutput>(row, x, even, odd, corrected, correctionWeight);
}

// Fetches the cache line of each prefetch row at this chunk's columns
// (every other chunk: a line holds 16 columns).
QM_AVX2 inline void PrefetchChunk(const VerticalRow& row, int x) {
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
QM_AVX2 inline void Chunk(const VerticalRow& row, const BYTE* const* sources, const __m256i* weights, int x, bool corrected,
                  __m256i correctionWeight) {
    if (kTaps < 0) {
        VerticalChunkExact<kOutput>(row, x, corrected, correctionWeight);
    } else {
        VerticalChunk<(kTaps < 0 ? 0 : kTaps), kOutput>(row, sources, weights, x, corrected, correctionWeight);
    }
}

template <int kTaps, int kOutput>
QM_AVX2 void VerticalRows(const VerticalRow& row) {
    constexpr int kHeld = kTaps > 0 ? kTaps : 1;
    const BYTE* sources[kHeld] = {};
    __m256i weights[kHeld];
    for (int t = 0; t < kTaps; ++t) {
        sources[t] = row.sources[t];
        weights[t] = Load(row.weights + t * kWeightCopies);
    }
    const __m256i correctionWeight = _mm256_set1_epi16(row.correctionWeight);
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
        Chunk<kTaps, kOutput>(row, sources, weights, row.pixels - kLanes, row.correctionEven != nullptr,
                                      correctionWeight);
    }
}

template <int kOutput>
QM_AVX2 void VerticalRowsAnyTaps(const VerticalRow& row) {
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

QM_AVX2 void VerticalAvx2(const VerticalRow& row) {
    if (row.pixels < kLanes) {
        VerticalSse2(row);
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

// One group of the window pass: its eight pixels' sums, packed into 3-byte
// pixels (24 bytes: at the start forwards, at the end backwards).
template <int kTaps>
QM_AVX2 inline __m256i WindowGroupPixels(const int16_t* even, const int16_t* odd, const int16_t* weights, int taps,
                                         __m256i gather, __m256i order) {
    const int count = kTaps > 0 ? kTaps : taps;
    __m256i sumEven = _mm256_set1_epi16(32);
    __m256i sumOdd = sumEven;
    for (int k = 0; k < count; ++k) {
        const __m256i weight = Load(weights + 2 * kLanes * k);
        sumEven = _mm256_add_epi16(sumEven, _mm256_mulhi_epi16(Load(even + 2 * k), weight));
        sumOdd = _mm256_add_epi16(sumOdd, _mm256_mulhi_epi16(Load(odd + 2 * k), weight));
    }
    const __m256i bytes = _mm256_packus_epi16(_mm256_srai_epi16(sumEven, 6), _mm256_srai_epi16(sumOdd, 6));
    return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(bytes, gather), order);
}

// Writes a group whose pixels run past the 32-byte stores: its `valid`
// pixels only, from the forward or backward arrangement.
QM_AVX2 void WriteGroupExactly(const WindowRow& row, int g, __m256i bytes) {
    constexpr int kSlack = 32 - kLanes * kBytesPerTargetPixel;
    const int left = row.width - g * kLanes;
    const int valid = left < kLanes ? left : kLanes;
    // The group's lowest column.
    const int column = row.mirror ? left - valid : g * kLanes;
    alignas(32) BYTE buffer[32];
    Store(buffer, bytes);
    const BYTE* first = row.mirror ? buffer + kSlack + (kLanes - valid) * kBytesPerTargetPixel : buffer;
    WriteExactly(row.target + column * kBytesPerTargetPixel, first, valid);
}

// The groups of a row, all of kTaps taps (0: each its own count).
template <int kTaps>
QM_AVX2 void WindowGroups(const WindowRow& row, __m256i gather, __m256i order) {
    const WindowGroup* groups = row.groups;
    const int groupCount = row.groupCount;
    const int16_t* const evenRow = row.even;
    const int16_t* const oddRow = row.odd;
    const int16_t* const weightTable = row.weights;
    BYTE* const target = row.target;
    for (int g = 0; g < groupCount; ++g) {
        const WindowGroup group = groups[g];
        const __m256i bytes = WindowGroupPixels<kTaps>(evenRow + 2 * group.base, oddRow + 2 * group.base,
                                                       weightTable + group.weights, group.taps, gather, order);
        if (group.store >= 0) {
            // 32 bytes, the 8 beyond the group's own falling on columns that
            // a later group writes.
            Store(target + group.store, bytes);
        } else {
            WriteGroupExactly(row, g, bytes);
        }
    }
}

QM_AVX2 void WindowAvx2(const WindowRow& row) {
    // After packing, each half holds the blue and red bytes of its four
    // pixels, then green and the unused byte: gather them into 3-byte
    // pixels, forwards or (mirrored) backwards.
    const __m256i forwards =
        _mm256_setr_epi8(0, 8, 1, 2, 10, 3, 4, 12, 5, 6, 14, 7, -1, -1, -1, -1, 0, 8, 1, 2, 10, 3, 4, 12, 5, 6, 14, 7,
                         -1, -1, -1, -1);
    const __m256i backwards =
        _mm256_setr_epi8(6, 14, 7, 4, 12, 5, 2, 10, 3, 0, 8, 1, -1, -1, -1, -1, 6, 14, 7, 4, 12, 5, 2, 10, 3, 0, 8,
                         1, -1, -1, -1, -1);
    // 24 bytes together: at the start forwards; at the end, upper half
    // first, backwards.
    const __m256i forwardOrder = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    const __m256i backwardOrder = _mm256_setr_epi32(3, 7, 4, 5, 6, 0, 1, 2);
    const __m256i gather = row.mirror ? backwards : forwards;
    const __m256i order = row.mirror ? backwardOrder : forwardOrder;
    switch (row.sameTaps) {
    case 2:
        WindowGroups<2>(row, gather, order);
        break;
    case 3:
        WindowGroups<3>(row, gather, order);
        break;
    case 4:
        WindowGroups<4>(row, gather, order);
        break;
    default:
        WindowGroups<0>(row, gather, order);
        break;
    }
}

// Q12 weights split into digits, w = 64 x high + low, both in 0..64, so that
// the byte multiply-add of two taps never saturates; the two sums are
// combined exactly in 32 bits. Per block of four output pixels (x, x + 1,
// x + 2, x + 3) and group of four taps, 128 bytes: for the pixel pairs
// (x, x + 2) and (x + 1, x + 3), one per half of a vector, the high digits
// then the low ones, each 16 bytes per pixel in the order of the gathered
// channels (four blue taps, four green, four red, four unused).
QM_AVX2 void PixelsAvx2(const PixelRow& row) {
    const __m256i gatherChannels = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8,
                                                    12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i rounding = _mm256_set1_epi32(1 << 11);
    const __m256i pickPixels = _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
    const __m128i toTarget = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const BYTE* weights = static_cast<const BYTE*>(row.weights);
    const int rowBytes = row.width * kBytesPerTargetPixel;
    const int blocks = (row.width + 3) / 4;
    for (int b = 0; b < blocks; ++b) {
        const int x = 4 * b;
        const BYTE* source = row.corrected != nullptr && row.blockFlags[b] != 0 ? row.corrected : row.packed;
        const BYTE* p0 = source + static_cast<size_t>(row.first[x]) * kBytesPerPixel;
        const BYTE* p1 = source + static_cast<size_t>(row.first[x + 1]) * kBytesPerPixel;
        const BYTE* p2 = source + static_cast<size_t>(row.first[x + 2]) * kBytesPerPixel;
        const BYTE* p3 = source + static_cast<size_t>(row.first[x + 3]) * kBytesPerPixel;
        __m256i highA = _mm256_setzero_si256();
        __m256i lowA = _mm256_setzero_si256();
        __m256i highB = _mm256_setzero_si256();
        __m256i lowB = _mm256_setzero_si256();
        for (int group = 0; group < row.tapGroups; ++group, weights += 128) {
            const size_t offset = static_cast<size_t>(group) * 4 * kBytesPerPixel;
            const __m256i a = _mm256_shuffle_epi8(LoadHalves(p0 + offset, p2 + offset), gatherChannels);
            const __m256i c = _mm256_shuffle_epi8(LoadHalves(p1 + offset, p3 + offset), gatherChannels);
            highA = _mm256_add_epi32(highA, _mm256_madd_epi16(_mm256_maddubs_epi16(a, Load(weights)), ones));
            lowA = _mm256_add_epi32(lowA, _mm256_madd_epi16(_mm256_maddubs_epi16(a, Load(weights + 32)), ones));
            highB = _mm256_add_epi32(highB, _mm256_madd_epi16(_mm256_maddubs_epi16(c, Load(weights + 64)), ones));
            lowB = _mm256_add_epi32(lowB, _mm256_madd_epi16(_mm256_maddubs_epi16(c, Load(weights + 96)), ones));
        }
        // Per pixel B G R X as 32-bit sums: (x | x + 2) and (x + 1 | x + 3).
        const __m256i sumA = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(highA, 6), lowA), rounding), 12);
        const __m256i sumB = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(highB, 6), lowB), rounding), 12);
        // Words: x, x + 1 | x + 2, x + 3; bytes likewise; then the four
        // pixels in order in the low half.
        __m256i packed = _mm256_packs_epi32(sumA, sumB);
        packed = _mm256_packus_epi16(packed, packed);
        packed = _mm256_permutevar8x32_epi32(packed, pickPixels);
        if (row.packedOutput) {
            // BGRX rows have room for whole blocks.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row.target + static_cast<size_t>(x) * kBytesPerPixel),
                             _mm256_castsi256_si128(packed));
            continue;
        }
        const __m128i pixels = _mm_shuffle_epi8(_mm256_castsi256_si128(packed), toTarget);
        const int start = x * kBytesPerTargetPixel;
        const int valid = row.width - x < 4 ? row.width - x : 4;
        if (valid == 4 && start + 16 <= rowBytes) {
            // Four bytes beyond fall on the next block's first pixel.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row.target + start), pixels);
        } else {
            alignas(16) BYTE buffer[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(buffer), pixels);
            WriteExactly(row.target + start, buffer, valid);
        }
    }
}

// The mean of a band's pairs for eight columns.
QM_AVX2 inline __m256i BandMean(const BandRows& band, size_t offset, bool twoPairs) {
    const __m256i ones = _mm256_set1_epi8(-1);
    __m256i mean =
        _mm256_avg_epu8(Load(band.upper[0] + offset), _mm256_xor_si256(Load(band.lower[0] + offset), ones));
    if (twoPairs) {
        mean = _mm256_avg_epu8(
            mean, _mm256_avg_epu8(Load(band.upper[1] + offset), _mm256_xor_si256(Load(band.lower[1] + offset), ones)));
    }
    return mean;
}

// The alternating sums of the two tiles of eight columns' means, to the
// tile arrays.
QM_AVX2 inline void StoreBandSums(__m256i mean, int32_t* tileEven, int32_t* tileOdd) {
    const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
    const __m256i firstWords = _mm256_setr_epi32(0, 4, 0, 4, 0, 4, 0, 4);
    __m256i even = _mm256_and_si256(mean, lowBytes);
    __m256i odd = _mm256_srli_epi16(mean, 8);
    even = _mm256_sub_epi16(even, _mm256_srli_epi64(even, 32));
    odd = _mm256_sub_epi16(odd, _mm256_srli_epi64(odd, 32));
    even = _mm256_add_epi16(even, _mm256_srli_si256(even, 8));
    odd = _mm256_add_epi16(odd, _mm256_srli_si256(odd, 8));
    // The two tiles' sums sit at the start of each half.
    _mm_storel_epi64(reinterpret_cast<__m128i*>(tileEven),
                     _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(even, firstWords)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(tileOdd),
                     _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(odd, firstWords)));
}

QM_AVX2 void BandAvx2(const BandRows& band) {
    // Bytes of each half's first three pixels: equal to the next pixel's
    // when the tile's means are all alike (flat areas, lines, edges), whose
    // alternating sum is zero.
    constexpr int kAlike = 0x0FFF0FFF;
    const bool twoPairs = band.pairs == 2;
    int32_t* tileEven = band.tileEven;
    int32_t* tileOdd = band.tileOdd;
    // Four tiles (sixteen columns) at a time; a flag covers two such runs.
    static_assert(kTilesPerFlag == 8, "two runs of four tiles per flag");
    int tile = 0;
    for (; tile + 4 <= band.tiles; tile += 4) {
        const size_t offset = static_cast<size_t>(tile) * kTileSize * kBytesPerPixel;
        const __m256i first = BandMean(band, offset, twoPairs);
        const __m256i second = BandMean(band, offset + 32, twoPairs);
        const int alike = _mm256_movemask_epi8(_mm256_cmpeq_epi8(first, _mm256_srli_si256(first, 4))) &
                          _mm256_movemask_epi8(_mm256_cmpeq_epi8(second, _mm256_srli_si256(second, 4)));
        if ((alike & kAlike) == kAlike) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(tileEven + tile), _mm_setzero_si128());
            _mm_storeu_si128(reinterpret_cast<__m128i*>(tileOdd + tile), _mm_setzero_si128());
            continue;
        }
        StoreBandSums(first, tileEven + tile, tileOdd + tile);
        StoreBandSums(second, tileEven + tile + 2, tileOdd + tile + 2);
        band.flags[tile / kTilesPerFlag] = 1;
    }
    for (; tile < band.tiles; ++tile) {
        BandTile(band, tile);
    }
}

QM_AVX2 void CorrectionAvx2(const CorrectionRow& row) {
    const __m256i leftTiles = _mm256_setr_epi32(0, 0, 1, 1, 1, 1, 2, 2);
    const __m256i rightTiles = _mm256_setr_epi32(1, 1, 2, 2, 2, 2, 3, 3);
    for (int s = 0; s < row.spanCount; ++s) {
        const int end = row.spans[2 * s + 1];
        int x = row.spans[2 * s];
        for (; x + kLanes <= end; x += kLanes) {
            const int tile = x / kTileSize;
            const __m256i leftWeights = Load(row.leftWeights + 2 * x);
            const __m256i rightWeights = Load(row.rightWeights + 2 * x);
            // Tiles tile - 1 .. tile + 2 (the arrays are padded at both ends).
            const __m256i even = _mm256_castsi128_si256(Load128(row.tileEven + tile - 1));
            const __m256i odd = _mm256_castsi128_si256(Load128(row.tileOdd + tile - 1));
            Store(row.even + 2 * x,
                  _mm256_add_epi16(_mm256_mullo_epi16(_mm256_permutevar8x32_epi32(even, leftTiles), leftWeights),
                                   _mm256_mullo_epi16(_mm256_permutevar8x32_epi32(even, rightTiles), rightWeights)));
            Store(row.odd + 2 * x,
                  _mm256_add_epi16(_mm256_mullo_epi16(_mm256_permutevar8x32_epi32(odd, leftTiles), leftWeights),
                                   _mm256_mullo_epi16(_mm256_permutevar8x32_epi32(odd, rightTiles), rightWeights)));
        }
        for (; x < end; ++x) {
            CorrectionColumn(row, x);
        }
    }
}

QM_AVX2 void CorrectRowAvx2(const CorrectedRow& row) {
    const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
    const __m256i rounding = _mm256_set1_epi16(128);
    // The correction times the sign: x, or 0 - x.
    const __m256i negate = _mm256_set1_epi16(row.sign < 0 ? -1 : 0);
    for (int s = 0; s < row.spanCount; ++s) {
        const int end = row.spans[2 * s + 1];
        int x = row.spans[2 * s];
        for (; x + kLanes <= end; x += kLanes) {
            const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
            const __m256i pixels = Load(row.source + offset);
            __m256i even = _mm256_sub_epi16(_mm256_xor_si256(Load(row.correctionEven + 2 * x), negate), negate);
            __m256i odd = _mm256_sub_epi16(_mm256_xor_si256(Load(row.correctionOdd + 2 * x), negate), negate);
            even = _mm256_sub_epi16(_mm256_and_si256(pixels, lowBytes),
                                    _mm256_srai_epi16(_mm256_adds_epi16(even, rounding), 8));
            odd = _mm256_sub_epi16(_mm256_srli_epi16(pixels, 8), _mm256_srai_epi16(_mm256_adds_epi16(odd, rounding), 8));
            Store(row.out + offset, ToBytes(even, odd));
        }
        for (; x < end; ++x) {
            CorrectColumn(row, x);
        }
    }
}

}  // namespace frame_scaler_kernels
