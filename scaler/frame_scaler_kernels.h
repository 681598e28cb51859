// The pixel loops of CFrameScaler's passes: what each loop is given (the
// structs below), the arithmetic it does on every pixel (the scalar
// helpers at the end, which also serve the odd pixels at the ends of a
// row), and the sets of loops per instruction set: SSE2 (every processor
// the module runs on) and AVX2 (chosen at run time). Both sets are the
// templates of frame_scaler_simd.h and so give identical pictures.
//
// Fixed-point conventions:
// - Vertical weights are unsigned Q15 (1.0 == 32768). The vertical pass
//   multiplies a source byte shifted into the high half of a 16-bit lane by
//   its weight and keeps the high half: channel x 128 x weight, truncated.
//   Its rows therefore hold channels in units of 1/128. Rows of more than
//   kMostTruncatingTaps taps (strong shrinks), where the truncations would
//   add up, sum exactly in 32 bits instead and round once.
// - Window weights (the horizontal pass of mild shrinks) are signed Q15
//   (at most 32767) applied with a signed multiply-high: rows in units of
//   1/128 become sums in units of 1/64, rounded once at the end.
// - Pixel weights (the horizontal pass of other ratios) are Q12 (1.0 ==
//   4096) on bytes, summed exactly and rounded once.
// - Checkerboard correction rows are signed, in units of 1/256; their
//   weight is signed Q15, applied with a signed multiply-high. They are zero
//   outside their spans (column ranges), where the passes skip them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace frame_scaler_kernels {

constexpr int kBytesPerPixel = 4;
constexpr int kBytesPerTargetPixel = 3;
// Source columns (and rows) per side of a checkerboard tile.
constexpr int kTileSize = 4;
constexpr int kTilesPerFlag = 8;

constexpr int kMostTruncatingTaps = 16;

// Vertical and window weights: Q15, 1.0 == kWeightOne.
constexpr int kWeightShift = 15;
constexpr int kWeightOne = 1 << kWeightShift;

// The pixel pass reads its taps in groups of four, and flags the output
// pixels that read a corrected source row in blocks of four.
constexpr int kTapsPerGroup = 4;
constexpr int kBlockPixels = 4;
// Bytes of a table of weight digits (PixelWeights::Digits) per block of
// output pixels and group of taps.
constexpr int kDigitBlockBytes = 128;

// Slack, in pixels, behind buffers that vector loads may read past their
// end.
constexpr size_t kSlackPixels = 16;

// Weights that a pass multiplies whole vectors by are stored this many
// times in a row, so that one unaligned load of 16 or 32 bytes fetches them.
constexpr int kWeightCopies = 16;

// One output row of the vertical pass, over `pixels` source columns.
struct VerticalRow {
    // Per tap: the source row, at the first column of the pass.
    const BYTE* const* sources;
    // Per tap: unsigned Q15, kWeightCopies times.
    const uint16_t* weights;
    int taps;
    int pixels;
    // Optional: subtracted, times correctionWeight, from the weighted sum
    // (saturating). Per column two lanes (blue, red) in correctionEven and
    // two (green, unused) in correctionOdd; zero outside the spans: pairs of
    // start and end columns, starts multiples of 8, in increasing order.
    const int16_t* correctionEven;
    const int16_t* correctionOdd;
    int16_t correctionWeight;
    const int32_t* spans;
    int spanCount;
    // Output, one of: 16-bit lanes in units of 1/128, blue and red of each
    // column in `even`, green and the unused byte in `odd`; BGRX bytes,
    // rounded, in `packed`; or the same as 3-byte pixels in `target` (a
    // target row: its columns only are written).
    int16_t* even;
    int16_t* odd;
    BYTE* packed;
    BYTE* target;
    // Optional: source rows (at the same first column) that later rows and
    // bands will read, fetched into the cache along the way so that the
    // memory's latency hides behind this row's arithmetic.
    const BYTE* prefetch[2];
};

// The horizontal pass of a mild shrink: groups of adjacent output pixels
// (4 lanes for SSE2, 8 for AVX2) each read windows of as many adjacent
// vertical-pass columns, starting at `base` and shifted by one column per
// tap, every lane with its own weight per tap (zero where the window holds
// none of its taps). Loads need no gathering, so the pass costs a few
// multiplies per output pixel.
struct WindowGroup {
    int32_t base;
    int32_t taps;
    // Index of the group's first weight: per tap, per lane, the weight
    // twice (for the two lanes of a column in each half).
    int32_t weights;
    // For a set that stores groups whole (KernelSet::windowStoreBytes):
    // where the group's store goes in the target row (it spills onto
    // columns that a later group writes), or -1: near the row's ends,
    // where it writes its pixels exactly. -1 for other sets.
    int32_t store;
};

struct WindowRow {
    const int16_t* even;
    const int16_t* odd;
    const WindowGroup* groups;
    const int16_t* weights;
    int groupCount;
    // The taps of every group when they all have as many, else 0.
    int sameTaps;
    // Output pixels; the last group may be partly empty.
    int width;
    // The first byte of the target rectangle's row.
    BYTE* target;
    // Output pixel x lands in column width - 1 - x.
    bool mirror;
};

// The horizontal pass of other ratios: each output pixel sums its own taps
// of a BGRX row (the vertical pass's, or a source row), four at a time from
// `first`.
struct PixelRow {
    const BYTE* packed;
    // Optional: the blocks of four output pixels flagged in `blockFlags`
    // read `corrected` (a corrected copy of their columns) instead.
    const BYTE* corrected;
    const BYTE* blockFlags;
    // Per output pixel, in output order (mirrored already): first column;
    // padded to whole blocks of kBlockPixels.
    const int32_t* first;
    // In the layout the set's KernelSet::pixelWeights names.
    const void* weights;
    int tapGroups;
    int width;
    // 3-byte pixels of a target row; or, with `packedOutput`, BGRX bytes
    // (a row for a vertical pass).
    BYTE* target;
    bool packedOutput;
};

// A source row less its checkerboard, for a vertical pass that follows
// the horizontal one: within the spans, each channel minus the correction
// row (units 1/256) times `sign` (the row's sign in the checkerboard),
// rounded, clamped to a byte. Other columns are left as they are.
struct CorrectedRow {
    const BYTE* source;
    BYTE* out;
    const int16_t* correctionEven;
    const int16_t* correctionOdd;
    int sign;
    const int32_t* spans;
    int spanCount;
};

// The checkerboard estimate of one band of (up to) four source rows, made
// of row pairs (`lower` of a pair may be a mirrored row above it): per
// column, the rounded mean over the pairs of 128 + (upper - lower) / 2,
// from byte averages; then per tile of four columns the alternating sum
// c0 - c1 + c2 - c3 of those means. The sums go to `tileEven` (blue, red)
// and `tileOdd` (green, unused), 16 bits each. Only whole tiles.
// Per run of kTilesPerFlag tiles, `flags` (zero beforehand) is set to 1
// when any of them is not zero.
struct BandRows {
    const BYTE* upper[2];
    const BYTE* lower[2];
    int pairs;
    int tiles;
    int32_t* tileEven;
    int32_t* tileOdd;
    BYTE* flags;
};

// The band's correction row from its tile sums (`tileEven`, `tileOdd`, as
// BandRows leaves them, padded with a copy of the first tile before and of
// the last two after): per column, linear interpolation between the centres
// of the two nearest tiles, columns 0 and 1 of a tile between the tile
// before and this one, columns 2 and 3 between this one and the next. The
// column's weights (two lanes each) carry the interpolation, the scale and
// the column's sign in the checkerboard. Only within the spans.
struct CorrectionRow {
    const int32_t* tileEven;
    const int32_t* tileOdd;
    int tiles;
    const int16_t* leftWeights;
    const int16_t* rightWeights;
    int pixels;
    const int32_t* spans;
    int spanCount;
    int16_t* even;
    int16_t* odd;
};

// How a set's pixel pass reads its weights (PixelRow::weights).
enum class PixelWeights {
    // Per output pixel, per tap (groups of four), Q12 as int16.
    Q12,
    // Per block of kBlockPixels output pixels and group of four taps,
    // kDigitBlockBytes: the Q12 weights split into a high and a low 6-bit
    // digit (see frame_scaler_avx2.cpp).
    Digits,
};

// A row copied at its own size (neither axis scaled): BGRX source pixels
// as 3-byte BGR pixels, in reverse order when mirrored. Exactly `pixels`
// pixels are written.
struct CopyRow {
    const BYTE* source;
    BYTE* target;
    int pixels;
    bool mirror;
};

// The loops of one instruction set, and what preparing for them must know.
struct KernelSet {
    void (*vertical)(const VerticalRow&);
    void (*window)(const WindowRow&);
    void (*pixels)(const PixelRow&);
    void (*band)(const BandRows&);
    void (*correction)(const CorrectionRow&);
    void (*correctRow)(const CorrectedRow&);
    void (*copy)(const CopyRow&);
    // Output pixels per window group: the vector's lanes.
    int windowLanes;
    // Bytes a window group stores at WindowGroup::store; 0: it has none.
    int windowStoreBytes;
    PixelWeights pixelWeights;
};

extern const KernelSet kSse2Kernels;
// Only for a processor where cpu_features::HasAvx2 says yes.
extern const KernelSet kAvx2Kernels;

// ---- The arithmetic, one lane at a time ------------------------------------

inline int16_t SaturateToInt16(int value) {
    return static_cast<int16_t>(value < -32768 ? -32768 : (value > 32767 ? 32767 : value));
}

// Unsigned multiply-high of a byte in the high half of the lane.
inline int WeighByte(int byte, int weight) {
    return (byte * 256 * weight) >> 16;
}

// Signed multiply-high.
inline int MultiplyHigh(int value, int weight) {
    return (value * weight) >> 16;
}

// A row's or column's sign in a one-pixel checkerboard: +1 even, -1 odd.
inline int SignOfParity(long value) {
    return (value % 2 == 0) ? 1 : -1;
}

inline BYTE ClampToByte(int value) {
    return static_cast<BYTE>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// One column of the vertical pass (all four channels).
inline void VerticalColumn(const VerticalRow& row, int x) {
    int lanes[kBytesPerPixel] = {};
    const bool exact = row.taps > kMostTruncatingTaps;
    for (int t = 0; t < row.taps; ++t) {
        const BYTE* pixel = row.sources[t] + static_cast<size_t>(x) * kBytesPerPixel;
        const int weight = row.weights[t * kWeightCopies];
        for (int c = 0; c < kBytesPerPixel; ++c) {
            lanes[c] = exact ? lanes[c] + pixel[c] * weight
                             : static_cast<int16_t>(lanes[c] + WeighByte(pixel[c], weight));
        }
    }
    if (exact) {
        for (int c = 0; c < kBytesPerPixel; ++c) {
            lanes[c] = (lanes[c] + 128) >> 8;
        }
    }
    if (row.correctionEven != nullptr) {
        const int16_t correction[kBytesPerPixel] = {row.correctionEven[2 * x], row.correctionOdd[2 * x],
                                                    row.correctionEven[2 * x + 1], row.correctionOdd[2 * x + 1]};
        for (int c = 0; c < kBytesPerPixel; ++c) {
            lanes[c] = SaturateToInt16(lanes[c] - MultiplyHigh(correction[c], row.correctionWeight));
        }
    }
    if (row.packed != nullptr || row.target != nullptr) {
        for (int c = 0; c < kBytesPerPixel; ++c) {
            const BYTE value = ClampToByte(SaturateToInt16(lanes[c] + 64) >> 7);
            if (row.packed != nullptr) {
                row.packed[static_cast<size_t>(x) * kBytesPerPixel + c] = value;
            } else if (c < kBytesPerTargetPixel) {
                row.target[static_cast<size_t>(x) * kBytesPerTargetPixel + c] = value;
            }
        }
    } else {
        row.even[2 * x] = static_cast<int16_t>(lanes[0]);
        row.even[2 * x + 1] = static_cast<int16_t>(lanes[2]);
        row.odd[2 * x] = static_cast<int16_t>(lanes[1]);
        row.odd[2 * x + 1] = static_cast<int16_t>(lanes[3]);
    }
}

// One column of a corrected row (all four channels).
inline void CorrectColumn(const CorrectedRow& row, int x) {
    for (int c = 0; c < kBytesPerPixel; ++c) {
        const int16_t correction = (c % 2 == 0 ? row.correctionEven : row.correctionOdd)[2 * x + c / 2];
        const size_t i = static_cast<size_t>(x) * kBytesPerPixel + c;
        row.out[i] = ClampToByte(row.source[i] - (SaturateToInt16(row.sign * correction + 128) >> 8));
    }
}

// Two 16-bit lanes in one 32-bit word, low lane first.
inline int32_t PackLanes(int low, int high) {
    return static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(low))) |
                                (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16));
}

// 128 + (upper - lower) / 2 with the rounding of a byte average of upper
// and 255 - lower.
inline int BandDifference(int upper, int lower) {
    return (upper + (255 - lower) + 1) >> 1;
}

// A column's channel of a band: the mean over its pairs.
inline int BandChannel(const BandRows& band, int x, int c) {
    const size_t i = static_cast<size_t>(x) * kBytesPerPixel + c;
    int value = BandDifference(band.upper[0][i], band.lower[0][i]);
    if (band.pairs == 2) {
        value = (value + BandDifference(band.upper[1][i], band.lower[1][i]) + 1) >> 1;
    }
    return value;
}

// A whole tile's alternating sum (see BandRows), both words of a half.
inline void BandTile(const BandRows& band, int tile) {
    int sums[kBytesPerPixel] = {};
    for (int j = 0; j < kTileSize; ++j) {
        for (int c = 0; c < kBytesPerPixel; ++c) {
            const int value = BandChannel(band, tile * kTileSize + j, c);
            sums[c] += (j % 2 == 0) ? value : -value;
        }
    }
    band.tileEven[tile] = PackLanes(sums[0], sums[2]);
    band.tileOdd[tile] = PackLanes(sums[1], sums[3]);
    if ((band.tileEven[tile] | band.tileOdd[tile]) != 0) {
        band.flags[tile / kTilesPerFlag] = 1;
    }
}


inline void CorrectionColumn(const CorrectionRow& row, int x) {
    const int tile = x / kTileSize;
    const int left = (x % kTileSize < 2) ? (tile > 0 ? tile - 1 : 0) : tile;
    const int right = (x % kTileSize < 2) ? tile : (tile + 1 < row.tiles ? tile + 1 : tile);
    const int leftWeight = row.leftWeights[2 * x];
    const int rightWeight = row.rightWeights[2 * x];
    for (int lane = 0; lane < 2; ++lane) {
        const int shift = 16 * lane;
        const auto channel = [shift](int32_t packed) { return static_cast<int16_t>(static_cast<uint32_t>(packed) >> shift); };
        row.even[2 * x + lane] = static_cast<int16_t>(leftWeight * channel(row.tileEven[left]) +
                                                      rightWeight * channel(row.tileEven[right]));
        row.odd[2 * x + lane] = static_cast<int16_t>(leftWeight * channel(row.tileOdd[left]) +
                                                     rightWeight * channel(row.tileOdd[right]));
    }
}

// The source pixel that target pixel x of a CopyRow shows.
inline const BYTE* CopySource(const CopyRow& row, int x) {
    return row.source + static_cast<ptrdiff_t>(row.mirror ? row.pixels - 1 - x : x) * kBytesPerPixel;
}

// Target pixels x.. of a CopyRow, four at a time in 32-bit words (twelve
// bytes from four pixels: B0 G0 R0 B1 | G1 R1 B2 G2 | R2 B3 G3 R3), the
// rest one at a time. Writes nothing past the row's last pixel.
inline void CopyPixels(const CopyRow& row, int x) {
    for (; x + 4 <= row.pixels; x += 4) {
        uint32_t p[4];
        for (int i = 0; i < 4; ++i) {
            std::memcpy(&p[i], CopySource(row, x + i), sizeof(p[i]));
        }
        const uint32_t words[3] = {(p[0] & 0xFFFFFFu) | (p[1] << 24), ((p[1] >> 8) & 0xFFFFu) | (p[2] << 16),
                                   ((p[2] >> 16) & 0xFFu) | (p[3] << 8)};
        std::memcpy(row.target + static_cast<ptrdiff_t>(x) * kBytesPerTargetPixel, words, sizeof(words));
    }
    for (; x < row.pixels; ++x) {
        std::memcpy(row.target + static_cast<ptrdiff_t>(x) * kBytesPerTargetPixel, CopySource(row, x),
                    kBytesPerTargetPixel);
    }
}

}  // namespace frame_scaler_kernels
