// The pixel loops of CFrameConverter: what each loop is given, the
// arithmetic it does on every pixel (the scalar functions below, the one
// definition of the conversion), and the sets of loops per instruction
// set. The SSE2 and AVX2 sets are the templates of frame_converter_simd.h
// and give exactly the bytes of the scalar set.
//
// The conversion is BT.601 with limited range, as webcams send it, in
// integers:
//   Y = ((66 R + 129 G + 25 B + 128) >> 8) + 16
//   U = ((-38 R - 74 G + 112 B + 128) >> 8) + 128
//   V = ((112 R - 94 G - 18 B + 128) >> 8) + 128
// where >> rounds towards minus infinity. U and V take the rounded average
// of each channel over the pixels that share them: ((sum + 2) >> 2) over a
// 2 x 2 block for NV12 and I420, ((sum + 1) >> 1) over a pair of
// horizontal neighbours for YUY2.
// Written as below, every intermediate value is between 0 and 65535, so
// the shift is well defined in C++ and the vector code can do the sums in
// 16 or 32 bits without caring about signs: adding 128 x 256 before the
// shift is adding 128 after it. Y lies in 16..235, U and V in 16..240, so
// nothing needs clamping.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace frame_converter_kernels {

constexpr int kSourceBytesPerPixel = 3;
constexpr int kRgb32BytesPerPixel = 4;
constexpr int kYuy2BytesPerPixel = 2;

// The offsets of the three formulas, rounding included.
constexpr int kLumaOffset = 128 + 16 * 256;
constexpr int kChromaOffset = 128 + 128 * 256;

// What black converts to: Y of (0, 0, 0), and U and V of any grey.
constexpr BYTE kBlackLuma = 16;
constexpr BYTE kNeutralChroma = 128;

inline BYTE LumaOf(int blue, int green, int red) {
    return static_cast<BYTE>((66 * red + 129 * green + 25 * blue + kLumaOffset) >> 8);
}

inline BYTE BlueDifferenceOf(int blue, int green, int red) {
    return static_cast<BYTE>((112 * blue - 74 * green - 38 * red + kChromaOffset) >> 8);
}

inline BYTE RedDifferenceOf(int blue, int green, int red) {
    return static_cast<BYTE>((112 * red - 94 * green - 18 * blue + kChromaOffset) >> 8);
}

// The rounded average of four channel values from their sum.
inline int AverageOfFour(int sum) {
    return (sum + 2) >> 2;
}

// The rounded average of two channel values from their sum.
inline int AverageOfTwo(int sum) {
    return (sum + 1) >> 1;
}

// Two source rows of 3-byte BGR pixels and what they become: two rows of
// luma and the chroma of their 2 x 2 blocks. `width` is even.
struct RowPair {
    const BYTE* top;
    const BYTE* bottom;
    BYTE* lumaTop;
    BYTE* lumaBottom;
    // NV12: one row of U and V interleaved (a byte each per pixel column,
    // so `width` bytes). I420: the row of U, `width` / 2 bytes.
    BYTE* chroma;
    // I420 only: the row of V, `width` / 2 bytes.
    BYTE* redDifference;
    int width;
};

// The scalar conversion of columns first..width - 1 of a row pair (first
// even): the reference, and the columns a vector loop leaves over. NV12
// writes `chroma` interleaved, I420 `chroma` and `redDifference`.
void ScalarNv12Columns(const RowPair& rows, int first);
void ScalarI420Columns(const RowPair& rows, int first);

// The scalar conversion of columns first..width - 1 of a row (first and
// width even) into YUY2: Y0 U Y1 V, 4 bytes for every two pixels.
void ScalarYuy2Columns(const BYTE* source, BYTE* target, int first, int width);

// The scalar copy of columns first..width - 1 of a row into BGRA pixels
// with alpha 255.
void ScalarRgb32Columns(const BYTE* source, BYTE* target, int first, int width);

// The loops of one instruction set.
struct KernelSet {
    void (*nv12RowPair)(const RowPair& rows);
    void (*i420RowPair)(const RowPair& rows);
    void (*yuy2Row)(const BYTE* source, BYTE* target, int width);
    void (*rgb32Row)(const BYTE* source, BYTE* target, int width);
};

extern const KernelSet kScalarKernels;
extern const KernelSet kSse2Kernels;
// Only for a processor where cpu_features::HasAvx2 says yes.
extern const KernelSet kAvx2Kernels;

}  // namespace frame_converter_kernels
