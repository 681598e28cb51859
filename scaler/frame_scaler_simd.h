// The scaler's pixel loops, written once for any vector width: templates
// over an operations struct that names the instructions of one set.
//
// Each instruction set has a translation unit of its own
// (frame_scaler_sse2.cpp, frame_scaler_avx2.cpp) that defines
// QM_SIMD_TARGET, the attribute its vector functions compile with, then
// includes this file, defines its operations struct and fills its
// KernelSet with KernelsFor<Ops>(). Everything here lives in an unnamed
// namespace, so each of those units gets copies of its own, compiled for
// its own set: no function compiled for AVX2 can stand in for one that the
// SSE2 code calls. The arithmetic is that of frame_scaler_kernels.h, the
// same on every lane whatever the vector width, so every set gives the
// same pictures.
//
// An operations struct Ops provides:
// - Vec, the vector type, and kLanes, the pixels of four bytes it holds
//   (a vector is kLanes / 4 halves of 16 bytes; the byte shifts, unpacks
//   and packs below work within each half);
// - the element-wise instructions, named after the intrinsics they stand
//   for (AddI16: add_epi16, SrliBytes: srli_si128 or srli_si256), made by
//   QM_SIMD_ELEMENTWISE_OPS from the intrinsics' prefix;
// - what the sets do differently:
//   - PackedToBgrx(v): the bytes of PackusI16(even, odd) (per half: blue,
//     red of four pixels, then green, unused) in BGRX order;
//   - DivideBy128Rounded(v): (v + 64) >> 7 per 16-bit lane, any result
//     above 255 or below 0 allowed to differ (a pack clamps them);
//   - WriteTargetPixels(target, x, width, even, odd): a vertical chunk's
//     columns x.. as 3-byte pixels of a target row of `width` pixels, from
//     16-bit lanes as DivideBy128Rounded leaves them;
//   - VerticalNarrowRow(row): a vertical row of fewer than kLanes columns;
//   - WindowWriter: constructed from a WindowRow, Write(g, group, bytes)
//     writes group g's pixels from its packed sums; kWindowGroupsInColumnOrder
//     says whether the groups must be written in increasing column order
//     (mirrored, they then run backwards); kWindowStoreBytes: see
//     WindowGroup::store (0: none);
//   - the pixel pass's arithmetic for blocks of kPixelBlock output pixels:
//     PixelBlockWeightBytes(tapGroups), SumPixelBlock(source, first,
//     weights, tapGroups) giving their BGRX bytes, StorePixelBlock (BGRX
//     output, which has room for whole blocks) and WritePixelBlock (3-byte
//     pixels); kPixelWeights, the layout of the weights it reads;
//   - StoreTileSums(tiles, v): the first 32 bits of each half to
//     consecutive tiles;
//   - SpreadTiles(tiles, left, right): from four tiles starting one before
//     the chunk's first, the left and right tile of each column of a chunk.
#pragma once

#include <xmmintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "scaler/frame_scaler_kernels.h"

#ifndef QM_SIMD_TARGET
#define QM_SIMD_TARGET
#endif

// The element-wise instructions of a set whose intrinsics are named
// PREFIX<operation> (_mm_, _mm256_), whose whole-vector forms end in
// SUFFIX (si128, si256), on vectors of type VEC. The counts of bit shifts
// are plain arguments (always constants where they are inlined); byte
// shifts take theirs as a template argument, as their instructions need.
#define QM_SIMD_ELEMENTWISE_OPS(PREFIX, SUFFIX, VEC)                                                              \
    using Vec = VEC;                                                                                            \
    QM_SIMD_TARGET static Vec Load(const void* p) { return PREFIX##loadu_##SUFFIX(static_cast<const VEC*>(p)); } \
    QM_SIMD_TARGET static void Store(void* p, Vec v) { PREFIX##storeu_##SUFFIX(static_cast<VEC*>(p), v); }     \
    QM_SIMD_TARGET static Vec Zero() { return PREFIX##setzero_##SUFFIX(); }                                      \
    QM_SIMD_TARGET static Vec SetI8(int8_t v) { return PREFIX##set1_epi8(v); }                                   \
    QM_SIMD_TARGET static Vec SetI16(int16_t v) { return PREFIX##set1_epi16(v); }                                \
    QM_SIMD_TARGET static Vec SetI32(int32_t v) { return PREFIX##set1_epi32(v); }                                \
    QM_SIMD_TARGET static Vec And(Vec a, Vec b) { return PREFIX##and_##SUFFIX(a, b); }                           \
    QM_SIMD_TARGET static Vec Xor(Vec a, Vec b) { return PREFIX##xor_##SUFFIX(a, b); }                           \
    QM_SIMD_TARGET static Vec AddI16(Vec a, Vec b) { return PREFIX##add_epi16(a, b); }                           \
    QM_SIMD_TARGET static Vec AddsI16(Vec a, Vec b) { return PREFIX##adds_epi16(a, b); }                         \
    QM_SIMD_TARGET static Vec SubI16(Vec a, Vec b) { return PREFIX##sub_epi16(a, b); }                           \
    QM_SIMD_TARGET static Vec SubsI16(Vec a, Vec b) { return PREFIX##subs_epi16(a, b); }                         \
    QM_SIMD_TARGET static Vec AddI32(Vec a, Vec b) { return PREFIX##add_epi32(a, b); }                           \
    QM_SIMD_TARGET static Vec MulhiI16(Vec a, Vec b) { return PREFIX##mulhi_epi16(a, b); }                       \
    QM_SIMD_TARGET static Vec MulhiU16(Vec a, Vec b) { return PREFIX##mulhi_epu16(a, b); }                       \
    QM_SIMD_TARGET static Vec MulloI16(Vec a, Vec b) { return PREFIX##mullo_epi16(a, b); }                       \
    QM_SIMD_TARGET static Vec MaddI16(Vec a, Vec b) { return PREFIX##madd_epi16(a, b); }                         \
    QM_SIMD_TARGET static Vec AvgU8(Vec a, Vec b) { return PREFIX##avg_epu8(a, b); }                             \
    QM_SIMD_TARGET static Vec SlliI16(Vec v, int bits) { return PREFIX##slli_epi16(v, bits); }                   \
    QM_SIMD_TARGET static Vec SrliI16(Vec v, int bits) { return PREFIX##srli_epi16(v, bits); }                   \
    QM_SIMD_TARGET static Vec SraiI16(Vec v, int bits) { return PREFIX##srai_epi16(v, bits); }                   \
    QM_SIMD_TARGET static Vec SlliI32(Vec v, int bits) { return PREFIX##slli_epi32(v, bits); }                   \
    QM_SIMD_TARGET static Vec SraiI32(Vec v, int bits) { return PREFIX##srai_epi32(v, bits); }                   \
    QM_SIMD_TARGET static Vec SrliI64(Vec v, int bits) { return PREFIX##srli_epi64(v, bits); }                   \
    template <int kBytes>                                                                                       \
    QM_SIMD_TARGET static Vec SrliBytes(Vec v) {                                                                \
        return PREFIX##srli_##SUFFIX(v, kBytes);                                                                \
    }                                                                                                           \
    QM_SIMD_TARGET static Vec UnpackLoI8(Vec a, Vec b) { return PREFIX##unpacklo_epi8(a, b); }                   \
    QM_SIMD_TARGET static Vec UnpackHiI8(Vec a, Vec b) { return PREFIX##unpackhi_epi8(a, b); }                   \
    QM_SIMD_TARGET static Vec PacksI32(Vec a, Vec b) { return PREFIX##packs_epi32(a, b); }                       \
    QM_SIMD_TARGET static Vec PackusI16(Vec a, Vec b) { return PREFIX##packus_epi16(a, b); }                     \
    /* One bit per byte: set where the bytes of a and b are equal. */                                           \
    QM_SIMD_TARGET static int EqualBytes(Vec a, Vec b) { return PREFIX##movemask_epi8(PREFIX##cmpeq_epi8(a, b)); }

namespace frame_scaler_kernels {

namespace {

// ---- Shared pieces ----------------------------------------------------------

// Lanes of channels back into BGRX bytes, clamped to 0..255 by the pack:
// blue, red from `even`, green, unused from `odd`.
template <class Ops>
QM_SIMD_TARGET inline typename Ops::Vec ToBytes(typename Ops::Vec even, typename Ops::Vec odd) {
    return Ops::PackedToBgrx(Ops::PackusI16(even, odd));
}

// ---- The vertical pass ------------------------------------------------------

// What a vertical pass writes (VerticalRow).
enum class VerticalOutput { Lanes, Packed, Target };

// The end of a vertical chunk: the correction, then the output.
template <class Ops, VerticalOutput kOutput>
QM_SIMD_TARGET inline void FinishVerticalChunk(const VerticalRow& row, int x, typename Ops::Vec even,
                                               typename Ops::Vec odd, bool corrected,
                                               typename Ops::Vec correctionWeight) {
    if (corrected) {
        even = Ops::SubsI16(even, Ops::MulhiI16(Ops::Load(row.correctionEven + 2 * x), correctionWeight));
        odd = Ops::SubsI16(odd, Ops::MulhiI16(Ops::Load(row.correctionOdd + 2 * x), correctionWeight));
    }
    if constexpr (kOutput == VerticalOutput::Lanes) {
        Ops::Store(row.even + 2 * x, even);
        Ops::Store(row.odd + 2 * x, odd);
    } else {
        even = Ops::DivideBy128Rounded(even);
        odd = Ops::DivideBy128Rounded(odd);
        if constexpr (kOutput == VerticalOutput::Packed) {
            Ops::Store(row.packed + static_cast<size_t>(x) * kBytesPerPixel, ToBytes<Ops>(even, odd));
        } else {
            Ops::WriteTargetPixels(row.target, x, row.pixels, even, odd);
        }
    }
}

// One chunk of a row with many taps, summed exactly in 32 bits: two rows'
// bytes side by side, widened, each pair weighed by one multiply-add.
template <class Ops, VerticalOutput kOutput>
QM_SIMD_TARGET inline void VerticalChunkExact(const VerticalRow& row, int x, bool corrected,
                                              typename Ops::Vec correctionWeight) {
    using Vec = typename Ops::Vec;
    const Vec zero = Ops::Zero();
    const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
    // Per half, pixels 0..3 of its four: blue, green, red, unused.
    Vec sums[4] = {zero, zero, zero, zero};
    for (int t = 0; t < row.taps; t += 2) {
        const bool pair = t + 1 < row.taps;
        const Vec a = Ops::Load(row.sources[t] + offset);
        const Vec b = pair ? Ops::Load(row.sources[t + 1] + offset) : zero;
        const uint32_t upper = pair ? row.weights[(t + 1) * kWeightCopies] : 0u;
        const Vec weights = Ops::SetI32(static_cast<int32_t>(row.weights[t * kWeightCopies] | (upper << 16)));
        const Vec low = Ops::UnpackLoI8(a, b);
        const Vec high = Ops::UnpackHiI8(a, b);
        sums[0] = Ops::AddI32(sums[0], Ops::MaddI16(Ops::UnpackLoI8(low, zero), weights));
        sums[1] = Ops::AddI32(sums[1], Ops::MaddI16(Ops::UnpackHiI8(low, zero), weights));
        sums[2] = Ops::AddI32(sums[2], Ops::MaddI16(Ops::UnpackLoI8(high, zero), weights));
        sums[3] = Ops::AddI32(sums[3], Ops::MaddI16(Ops::UnpackHiI8(high, zero), weights));
    }
    const Vec rounding = Ops::SetI32(128);
    for (Vec& sum : sums) {
        sum = Ops::SraiI32(Ops::AddI32(sum, rounding), 8);
    }
    // Words of pixels 0, 1 and 2, 3: blue, green, red, unused each.
    const Vec first = Ops::PacksI32(sums[0], sums[1]);
    const Vec second = Ops::PacksI32(sums[2], sums[3]);
    const Vec even = Ops::PacksI32(Ops::SraiI32(Ops::SlliI32(first, 16), 16), Ops::SraiI32(Ops::SlliI32(second, 16), 16));
    const Vec odd = Ops::PacksI32(Ops::SraiI32(first, 16), Ops::SraiI32(second, 16));
    FinishVerticalChunk<Ops, kOutput>(row, x, even, odd, corrected, correctionWeight);
}

// One chunk of the vertical pass. kTaps > 0: that many taps, their rows
// and weights held in `sources` and `weights`; 0: any number, read from
// the row.
template <class Ops, int kTaps, VerticalOutput kOutput>
QM_SIMD_TARGET inline void VerticalChunk(const VerticalRow& row, const BYTE* const* sources,
                                         const typename Ops::Vec* weights, int x, bool corrected,
                                         typename Ops::Vec correctionWeight) {
    using Vec = typename Ops::Vec;
    const Vec highBytes = Ops::SetI16(static_cast<int16_t>(0xFF00));
    const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
    const int taps = kTaps > 0 ? kTaps : row.taps;
    Vec even = Ops::Zero();
    Vec odd = Ops::Zero();
    for (int t = 0; t < taps; ++t) {
        const Vec pixels = Ops::Load((kTaps > 0 ? sources[t] : row.sources[t]) + offset);
        const Vec weight = kTaps > 0 ? weights[t] : Ops::Load(row.weights + t * kWeightCopies);
        even = Ops::AddI16(even, Ops::MulhiU16(Ops::SlliI16(pixels, 8), weight));
        odd = Ops::AddI16(odd, Ops::MulhiU16(Ops::And(pixels, highBytes), weight));
    }
    FinishVerticalChunk<Ops, kOutput>(row, x, even, odd, corrected, correctionWeight);
}

// Fetches the cache line of each prefetch row at this chunk's columns
// (once per line of 16 columns).
template <class Ops>
QM_SIMD_TARGET inline void PrefetchChunk(const VerticalRow& row, int x) {
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
template <class Ops, int kTaps, VerticalOutput kOutput>
QM_SIMD_TARGET inline void Chunk(const VerticalRow& row, const BYTE* const* sources, const typename Ops::Vec* weights,
                                 int x, bool corrected, typename Ops::Vec correctionWeight) {
    if constexpr (kTaps < 0) {
        VerticalChunkExact<Ops, kOutput>(row, x, corrected, correctionWeight);
    } else {
        VerticalChunk<Ops, kTaps, kOutput>(row, sources, weights, x, corrected, correctionWeight);
    }
}

template <class Ops, int kTaps, VerticalOutput kOutput>
QM_SIMD_TARGET void VerticalRows(const VerticalRow& row) {
    using Vec = typename Ops::Vec;
    constexpr int kLanes = Ops::kLanes;
    constexpr int kHeld = kTaps > 0 ? kTaps : 1;
    const BYTE* sources[kHeld] = {};
    Vec weights[kHeld];
    for (int t = 0; t < kTaps; ++t) {
        sources[t] = row.sources[t];
        weights[t] = Ops::Load(row.weights + t * kWeightCopies);
    }
    const Vec correctionWeight = Ops::SetI16(row.correctionWeight);
    int x = 0;
    for (int s = 0; s < row.spanCount; ++s) {
        for (; x + kLanes <= row.spans[2 * s]; x += kLanes) {
            PrefetchChunk<Ops>(row, x);
            Chunk<Ops, kTaps, kOutput>(row, sources, weights, x, false, correctionWeight);
        }
        for (; x + kLanes <= row.spans[2 * s + 1]; x += kLanes) {
            PrefetchChunk<Ops>(row, x);
            Chunk<Ops, kTaps, kOutput>(row, sources, weights, x, true, correctionWeight);
        }
    }
    for (; x + kLanes <= row.pixels; x += kLanes) {
        PrefetchChunk<Ops>(row, x);
        Chunk<Ops, kTaps, kOutput>(row, sources, weights, x, false, correctionWeight);
    }
    if (x < row.pixels) {
        // The last columns again, ending at the last: the same values (the
        // correction row is valid, if zero, outside its spans).
        Chunk<Ops, kTaps, kOutput>(row, sources, weights, row.pixels - kLanes, row.correctionEven != nullptr,
                                   correctionWeight);
    }
}

template <class Ops, VerticalOutput kOutput>
QM_SIMD_TARGET void VerticalRowsAnyTaps(const VerticalRow& row) {
    switch (row.taps) {
    case 1:
        VerticalRows<Ops, 1, kOutput>(row);
        break;
    case 2:
        VerticalRows<Ops, 2, kOutput>(row);
        break;
    case 3:
        VerticalRows<Ops, 3, kOutput>(row);
        break;
    case 4:
        VerticalRows<Ops, 4, kOutput>(row);
        break;
    default:
        if (row.taps > kMostTruncatingTaps) {
            VerticalRows<Ops, -1, kOutput>(row);
        } else {
            VerticalRows<Ops, 0, kOutput>(row);
        }
        break;
    }
}

template <class Ops>
QM_SIMD_TARGET void Vertical(const VerticalRow& row) {
    if (row.pixels < Ops::kLanes) {
        Ops::VerticalNarrowRow(row);
    } else if (row.packed != nullptr) {
        VerticalRowsAnyTaps<Ops, VerticalOutput::Packed>(row);
    } else if (row.target != nullptr) {
        VerticalRowsAnyTaps<Ops, VerticalOutput::Target>(row);
    } else {
        VerticalRowsAnyTaps<Ops, VerticalOutput::Lanes>(row);
    }
}

// ---- The window pass ----------------------------------------------------------

// One group's sums, packed into bytes: per half, the blue and red bytes of
// its four pixels, then green and the unused byte.
template <class Ops, int kTaps>
QM_SIMD_TARGET inline typename Ops::Vec WindowGroupBytes(const int16_t* even, const int16_t* odd,
                                                         const int16_t* weights, int taps) {
    using Vec = typename Ops::Vec;
    const int count = kTaps > 0 ? kTaps : taps;
    Vec sumEven = Ops::SetI16(32);
    Vec sumOdd = sumEven;
    for (int k = 0; k < count; ++k) {
        const Vec weight = Ops::Load(weights + 2 * Ops::kLanes * k);
        sumEven = Ops::AddI16(sumEven, Ops::MulhiI16(Ops::Load(even + 2 * k), weight));
        sumOdd = Ops::AddI16(sumOdd, Ops::MulhiI16(Ops::Load(odd + 2 * k), weight));
    }
    return Ops::PackusI16(Ops::SraiI16(sumEven, 6), Ops::SraiI16(sumOdd, 6));
}

// The groups of a row, all of kTaps taps (0: each its own count).
template <class Ops, int kTaps>
QM_SIMD_TARGET void WindowGroups(const WindowRow& row) {
    const typename Ops::WindowWriter writer(row);
    const WindowGroup* const groups = row.groups;
    const int groupCount = row.groupCount;
    const int16_t* const evenRow = row.even;
    const int16_t* const oddRow = row.odd;
    const int16_t* const weightTable = row.weights;
    const bool backwards = Ops::kWindowGroupsInColumnOrder && row.mirror;
    for (int i = 0; i < groupCount; ++i) {
        const int g = backwards ? groupCount - 1 - i : i;
        const WindowGroup group = groups[g];
        writer.Write(g, group,
                     WindowGroupBytes<Ops, kTaps>(evenRow + 2 * group.base, oddRow + 2 * group.base,
                                                  weightTable + group.weights, group.taps));
    }
}

template <class Ops>
QM_SIMD_TARGET void Window(const WindowRow& row) {
    switch (row.sameTaps) {
    case 2:
        WindowGroups<Ops, 2>(row);
        break;
    case 3:
        WindowGroups<Ops, 3>(row);
        break;
    case 4:
        WindowGroups<Ops, 4>(row);
        break;
    default:
        WindowGroups<Ops, 0>(row);
        break;
    }
}

// ---- The pixel pass -----------------------------------------------------------

template <class Ops>
QM_SIMD_TARGET void Pixels(const PixelRow& row) {
    constexpr int kBlock = Ops::kPixelBlock;
    static_assert(kBlockPixels % kBlock == 0, "a block of the pass lies within one flagged block");
    const BYTE* weights = static_cast<const BYTE*>(row.weights);
    const size_t blockWeights = Ops::PixelBlockWeightBytes(row.tapGroups);
    for (int x = 0; x < row.width; x += kBlock, weights += blockWeights) {
        const BYTE* source =
            row.corrected != nullptr && row.blockFlags[x / kBlockPixels] != 0 ? row.corrected : row.packed;
        const auto pixels = Ops::SumPixelBlock(source, row.first + x, weights, row.tapGroups);
        if (row.packedOutput) {
            Ops::StorePixelBlock(row.target + static_cast<size_t>(x) * kBytesPerPixel, pixels);
        } else {
            Ops::WritePixelBlock(row.target, x, row.width, pixels);
        }
    }
}

// ---- The checkerboard estimate ------------------------------------------------

// The mean of a band's pairs over a vector's columns.
template <class Ops>
QM_SIMD_TARGET inline typename Ops::Vec BandMean(const BandRows& band, size_t offset, bool twoPairs) {
    using Vec = typename Ops::Vec;
    const Vec ones = Ops::SetI8(-1);
    Vec mean = Ops::AvgU8(Ops::Load(band.upper[0] + offset), Ops::Xor(Ops::Load(band.lower[0] + offset), ones));
    if (twoPairs) {
        mean = Ops::AvgU8(mean,
                          Ops::AvgU8(Ops::Load(band.upper[1] + offset), Ops::Xor(Ops::Load(band.lower[1] + offset), ones)));
    }
    return mean;
}

// The alternating sums c0 - c1 + c2 - c3 of the tile in each half, to the
// tile arrays.
template <class Ops>
QM_SIMD_TARGET inline void StoreBandSums(typename Ops::Vec mean, int32_t* tileEven, int32_t* tileOdd) {
    using Vec = typename Ops::Vec;
    const Vec lowBytes = Ops::SetI16(0x00FF);
    Vec even = Ops::And(mean, lowBytes);
    Vec odd = Ops::SrliI16(mean, 8);
    even = Ops::SubI16(even, Ops::SrliI64(even, 32));
    odd = Ops::SubI16(odd, Ops::SrliI64(odd, 32));
    even = Ops::AddI16(even, Ops::template SrliBytes<8>(even));
    odd = Ops::AddI16(odd, Ops::template SrliBytes<8>(odd));
    Ops::StoreTileSums(tileEven, even);
    Ops::StoreTileSums(tileOdd, odd);
}

// The bits of EqualBytes for the first three pixels of each half.
constexpr int AlikeMask(int halves) {
    int mask = 0;
    for (int half = 0; half < halves; ++half) {
        mask |= 0x0FFF << (16 * half);
    }
    return mask;
}

template <class Ops>
QM_SIMD_TARGET void Band(const BandRows& band) {
    using Vec = typename Ops::Vec;
    // A tile per half; two vectors at a time, which a flag always covers.
    constexpr int kTilesPerVector = Ops::kLanes / kTileSize;
    constexpr int kTilesPerStep = 2 * kTilesPerVector;
    static_assert(kTilesPerFlag % kTilesPerStep == 0, "a step's tiles share one flag");
    // Bytes of each half's first three pixels: equal to the next pixel's
    // when the tile's means are all alike (flat areas, lines, edges), whose
    // alternating sum is zero.
    constexpr int kAlike = AlikeMask(kTilesPerVector);
    const bool twoPairs = band.pairs == 2;
    int32_t* tileEven = band.tileEven;
    int32_t* tileOdd = band.tileOdd;
    int tile = 0;
    for (; tile + kTilesPerStep <= band.tiles; tile += kTilesPerStep) {
        const size_t offset = static_cast<size_t>(tile) * kTileSize * kBytesPerPixel;
        const Vec first = BandMean<Ops>(band, offset, twoPairs);
        const Vec second = BandMean<Ops>(band, offset + sizeof(Vec), twoPairs);
        const int alike = Ops::EqualBytes(first, Ops::template SrliBytes<4>(first)) &
                          Ops::EqualBytes(second, Ops::template SrliBytes<4>(second));
        if ((alike & kAlike) == kAlike) {
            std::fill_n(tileEven + tile, kTilesPerStep, 0);
            std::fill_n(tileOdd + tile, kTilesPerStep, 0);
            continue;
        }
        StoreBandSums<Ops>(first, tileEven + tile, tileOdd + tile);
        StoreBandSums<Ops>(second, tileEven + tile + kTilesPerVector, tileOdd + tile + kTilesPerVector);
        band.flags[tile / kTilesPerFlag] = 1;
    }
    for (; tile < band.tiles; ++tile) {
        BandTile(band, tile);
    }
}

// ---- The correction row -------------------------------------------------------

template <class Ops>
QM_SIMD_TARGET void Correction(const CorrectionRow& row) {
    using Vec = typename Ops::Vec;
    constexpr int kLanes = Ops::kLanes;
    for (int s = 0; s < row.spanCount; ++s) {
        const int end = row.spans[2 * s + 1];
        int x = row.spans[2 * s];
        for (; x + kLanes <= end; x += kLanes) {
            const int tile = x / kTileSize;
            const Vec leftWeights = Ops::Load(row.leftWeights + 2 * x);
            const Vec rightWeights = Ops::Load(row.rightWeights + 2 * x);
            // From tile - 1 on (the arrays are padded at both ends).
            Vec evenLeft;
            Vec evenRight;
            Vec oddLeft;
            Vec oddRight;
            Ops::SpreadTiles(row.tileEven + tile - 1, evenLeft, evenRight);
            Ops::SpreadTiles(row.tileOdd + tile - 1, oddLeft, oddRight);
            Ops::Store(row.even + 2 * x,
                       Ops::AddI16(Ops::MulloI16(evenLeft, leftWeights), Ops::MulloI16(evenRight, rightWeights)));
            Ops::Store(row.odd + 2 * x,
                       Ops::AddI16(Ops::MulloI16(oddLeft, leftWeights), Ops::MulloI16(oddRight, rightWeights)));
        }
        for (; x < end; ++x) {
            CorrectionColumn(row, x);
        }
    }
}

// ---- A source row less its checkerboard ---------------------------------------

template <class Ops>
QM_SIMD_TARGET void CorrectRow(const CorrectedRow& row) {
    using Vec = typename Ops::Vec;
    constexpr int kLanes = Ops::kLanes;
    const Vec lowBytes = Ops::SetI16(0x00FF);
    const Vec rounding = Ops::SetI16(128);
    // The correction times the sign: x, or 0 - x.
    const Vec negate = Ops::SetI16(static_cast<int16_t>(row.sign < 0 ? -1 : 0));
    for (int s = 0; s < row.spanCount; ++s) {
        const int end = row.spans[2 * s + 1];
        int x = row.spans[2 * s];
        for (; x + kLanes <= end; x += kLanes) {
            const size_t offset = static_cast<size_t>(x) * kBytesPerPixel;
            const Vec pixels = Ops::Load(row.source + offset);
            Vec even = Ops::SubI16(Ops::Xor(Ops::Load(row.correctionEven + 2 * x), negate), negate);
            Vec odd = Ops::SubI16(Ops::Xor(Ops::Load(row.correctionOdd + 2 * x), negate), negate);
            even = Ops::SubI16(Ops::And(pixels, lowBytes), Ops::SraiI16(Ops::AddsI16(even, rounding), 8));
            odd = Ops::SubI16(Ops::SrliI16(pixels, 8), Ops::SraiI16(Ops::AddsI16(odd, rounding), 8));
            Ops::Store(row.out + offset, ToBytes<Ops>(even, odd));
        }
        for (; x < end; ++x) {
            CorrectColumn(row, x);
        }
    }
}

// ---- The set --------------------------------------------------------------------

template <class Ops>
constexpr KernelSet KernelsFor() {
    return {Vertical<Ops>,   Window<Ops>, Pixels<Ops>,           Band<Ops>,          Correction<Ops>,
            CorrectRow<Ops>, Ops::Copy,   Ops::kLanes,           Ops::kWindowStoreBytes, Ops::kPixelWeights};
}

}  // namespace

}  // namespace frame_scaler_kernels
