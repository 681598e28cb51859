// The converter's pixel loops, written once for any vector width:
// templates over an operations struct that names the instructions of one
// set.
//
// Each instruction set has a translation unit of its own
// (frame_converter_sse2.cpp, frame_converter_avx2.cpp) that defines
// QM_SIMD_TARGET, the attribute its vector functions compile with, then
// includes this file, defines its operations struct and fills its
// KernelSet with KernelsFor<Ops>(). Everything here lives in an unnamed
// namespace, so each of those units gets copies of its own, compiled for
// its own set. The arithmetic is that of frame_converter_kernels.h on
// every lane: every set gives the bytes of the scalar loops.
//
// The loops go through a row in steps of 16 pixels per 16-byte half of a
// vector, as four groups. Group k's vector holds, in each half h, the
// pixels 16h + 4k .. 16h + 4k + 3 of the step as BGRX doublewords (the
// fourth byte anything). That order lets the packs, which work within each
// half, put the results of the four groups back into column order, and
// keeps each pixel's right-hand neighbour, its partner in a 2 x 2 block
// or a YUY2 pair, in the same half.
//
// An operations struct Ops provides:
// - Vec, the vector type, and kStepPixels: the pixels of one step (16 per
//   half);
// - the element-wise instructions, named after the intrinsics they stand
//   for (AddI16: add_epi16, MaddI16: madd_epi16, ...);
// - SetI32Pair(even, odd): even and odd doublewords alternating;
// - DuplicateEvenI32(v): each even doubleword copied over the odd one
//   after it (shuffle_epi32 with 2, 2, 0, 0);
// - LoadGroup<k>(step): group k of the step that starts at `step`, from
//   3-byte pixels, reading no byte outside the step's pixels;
// - StoreGroup<k>(target, v): group k's BGRX pixels to a row of 4-byte
//   pixels at the step's first column;
// - StoreInterleaved(target, even, odd): the bytes of two vectors in
//   column order, alternating (even[0], odd[0], even[1], ...): 2 x
//   kStepPixels bytes;
// - StoreWordLows(target, v): the low byte of each word of v (whose words
//   are 0..255) in column order: kStepPixels / 2 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/frame_converter_kernels.h"

#ifndef QM_SIMD_TARGET
#define QM_SIMD_TARGET
#endif

namespace frame_converter_kernels {

namespace {

// A doubleword of two 16-bit multipliers for madd_epi16: `low` for the
// word in the low half, `high` for the other.
constexpr int32_t MultiplierPair(int low, int high) {
    return static_cast<int32_t>((static_cast<uint32_t>(high) << 16) | (static_cast<uint32_t>(low) & 0xFFFFu));
}

// The luma of each pixel of a group, one per doubleword.
template <class Ops>
QM_SIMD_TARGET inline typename Ops::Vec LumaOfGroup(typename Ops::Vec bgrx) {
    using Vec = typename Ops::Vec;
    // Words: blue and red of each pixel; green and the fourth byte.
    const Vec blueRed = Ops::And(bgrx, Ops::SetI16(0x00FF));
    const Vec greenRest = Ops::SrliI16(bgrx, 8);
    const Vec sum = Ops::AddI32(Ops::AddI32(Ops::MaddI16(blueRed, Ops::SetI32(MultiplierPair(25, 66))),
                                            Ops::MaddI16(greenRest, Ops::SetI32(MultiplierPair(129, 0)))),
                                Ops::SetI32(kLumaOffset));
    return Ops::SrliI32(sum, 8);
}

// U and V of the blocks of a group from the blocks' sums, each block's in
// its even doubleword as words (blue, red; green, the fourth bytes, which
// the multipliers ignore): the rounded averages ((sum + 2^(kShift - 1)) >>
// kShift, over 2^kShift pixels), then the formulas; per block, U in the
// even doubleword and V in the odd one.
template <class Ops, int kShift>
QM_SIMD_TARGET inline typename Ops::Vec ChromaOfSums(typename Ops::Vec blueRed, typename Ops::Vec greenRest) {
    using Vec = typename Ops::Vec;
    const Vec half = Ops::SetI16(1 << (kShift - 1));
    // Each block's averages in both its doublewords.
    blueRed = Ops::DuplicateEvenI32(Ops::SrliI16(Ops::AddI16(blueRed, half), kShift));
    greenRest = Ops::DuplicateEvenI32(Ops::SrliI16(Ops::AddI16(greenRest, half), kShift));
    const Vec blueRedMultipliers = Ops::SetI32Pair(MultiplierPair(112, -38), MultiplierPair(-18, 112));
    const Vec greenMultipliers = Ops::SetI32Pair(MultiplierPair(-74, 0), MultiplierPair(-94, 0));
    const Vec sum = Ops::AddI32(
        Ops::AddI32(Ops::MaddI16(blueRed, blueRedMultipliers), Ops::MaddI16(greenRest, greenMultipliers)),
        Ops::SetI32(kChromaOffset));
    return Ops::SrliI32(sum, 8);
}

// The right-hand pixel's words onto the left-hand one's: each pair's sums
// in its even doubleword.
template <class Ops>
QM_SIMD_TARGET inline typename Ops::Vec AddPairs(typename Ops::Vec v) {
    return Ops::AddI16(v, Ops::SrliI64(v, 32));
}

// U and V of the two 2 x 2 blocks of a group's four columns over two rows
// (NV12, I420).
template <class Ops>
QM_SIMD_TARGET inline typename Ops::Vec ChromaOfBlocks(typename Ops::Vec top, typename Ops::Vec bottom) {
    using Vec = typename Ops::Vec;
    const Vec lowBytes = Ops::SetI16(0x00FF);
    // Both rows' sums, at most 510; then the pairs', at most 1020.
    const Vec blueRed = Ops::AddI16(Ops::And(top, lowBytes), Ops::And(bottom, lowBytes));
    const Vec greenRest = Ops::AddI16(Ops::SrliI16(top, 8), Ops::SrliI16(bottom, 8));
    return ChromaOfSums<Ops, 2>(AddPairs<Ops>(blueRed), AddPairs<Ops>(greenRest));
}

// U and V of the two horizontal pairs of a group's four columns (YUY2).
template <class Ops>
QM_SIMD_TARGET inline typename Ops::Vec ChromaOfPairs(typename Ops::Vec row) {
    using Vec = typename Ops::Vec;
    const Vec blueRed = Ops::And(row, Ops::SetI16(0x00FF));
    const Vec greenRest = Ops::SrliI16(row, 8);
    return ChromaOfSums<Ops, 1>(AddPairs<Ops>(blueRed), AddPairs<Ops>(greenRest));
}

// Four groups' doublewords (each 0..255) as bytes in column order.
template <class Ops>
QM_SIMD_TARGET inline typename Ops::Vec PackGroups(const typename Ops::Vec* groups) {
    return Ops::PackusI16(Ops::PacksI32(groups[0], groups[1]), Ops::PacksI32(groups[2], groups[3]));
}

template <class Ops, int kGroup>
QM_SIMD_TARGET inline void ConvertBlockGroup(const BYTE* top, const BYTE* bottom, typename Ops::Vec* lumaTop,
                                             typename Ops::Vec* lumaBottom, typename Ops::Vec* chroma) {
    const typename Ops::Vec upper = Ops::template LoadGroup<kGroup>(top);
    const typename Ops::Vec lower = Ops::template LoadGroup<kGroup>(bottom);
    lumaTop[kGroup] = LumaOfGroup<Ops>(upper);
    lumaBottom[kGroup] = LumaOfGroup<Ops>(lower);
    chroma[kGroup] = ChromaOfBlocks<Ops>(upper, lower);
}

// The chroma planes a row pair goes to.
enum class ChromaPlanes { Interleaved, Separate };

// One step of a row pair from column x (even).
template <class Ops, ChromaPlanes kPlanes>
QM_SIMD_TARGET inline void RowPairStep(const RowPair& rows, int x) {
    using Vec = typename Ops::Vec;
    const size_t offset = static_cast<size_t>(x) * kSourceBytesPerPixel;
    const BYTE* const top = rows.top + offset;
    const BYTE* const bottom = rows.bottom + offset;
    Vec lumaTop[4];
    Vec lumaBottom[4];
    Vec chroma[4];
    ConvertBlockGroup<Ops, 0>(top, bottom, lumaTop, lumaBottom, chroma);
    ConvertBlockGroup<Ops, 1>(top, bottom, lumaTop, lumaBottom, chroma);
    ConvertBlockGroup<Ops, 2>(top, bottom, lumaTop, lumaBottom, chroma);
    ConvertBlockGroup<Ops, 3>(top, bottom, lumaTop, lumaBottom, chroma);
    Ops::Store(rows.lumaTop + x, PackGroups<Ops>(lumaTop));
    Ops::Store(rows.lumaBottom + x, PackGroups<Ops>(lumaBottom));
    // One U and one V byte per two columns, U first: NV12's chroma row
    // lines up with the columns; I420 takes the U bytes and the V bytes
    // apart.
    const Vec interleaved = PackGroups<Ops>(chroma);
    if constexpr (kPlanes == ChromaPlanes::Interleaved) {
        Ops::Store(rows.chroma + x, interleaved);
    } else {
        Ops::StoreWordLows(rows.chroma + x / 2, Ops::And(interleaved, Ops::SetI16(0x00FF)));
        Ops::StoreWordLows(rows.redDifference + x / 2, Ops::SrliI16(interleaved, 8));
    }
}

template <class Ops, ChromaPlanes kPlanes>
QM_SIMD_TARGET void RowPairOf(const RowPair& rows) {
    constexpr int kStep = Ops::kStepPixels;
    if (rows.width < kStep) {
        if constexpr (kPlanes == ChromaPlanes::Interleaved) {
            ScalarNv12Columns(rows, 0);
        } else {
            ScalarI420Columns(rows, 0);
        }
        return;
    }
    int x = 0;
    for (; x + kStep <= rows.width; x += kStep) {
        RowPairStep<Ops, kPlanes>(rows, x);
    }
    if (x < rows.width) {
        // The last columns again, ending at the last: the same bytes where
        // the steps overlap. The start stays even, as width and the step are.
        RowPairStep<Ops, kPlanes>(rows, rows.width - kStep);
    }
}

template <class Ops, int kGroup>
QM_SIMD_TARGET inline void ConvertPairGroup(const BYTE* row, typename Ops::Vec* luma, typename Ops::Vec* chroma) {
    const typename Ops::Vec pixels = Ops::template LoadGroup<kGroup>(row);
    luma[kGroup] = LumaOfGroup<Ops>(pixels);
    chroma[kGroup] = ChromaOfPairs<Ops>(pixels);
}

// One step of a YUY2 row from column x (even).
template <class Ops>
QM_SIMD_TARGET inline void Yuy2Step(const BYTE* source, BYTE* target, int x) {
    using Vec = typename Ops::Vec;
    const BYTE* const from = source + static_cast<size_t>(x) * kSourceBytesPerPixel;
    Vec luma[4];
    Vec chroma[4];
    ConvertPairGroup<Ops, 0>(from, luma, chroma);
    ConvertPairGroup<Ops, 1>(from, luma, chroma);
    ConvertPairGroup<Ops, 2>(from, luma, chroma);
    ConvertPairGroup<Ops, 3>(from, luma, chroma);
    // The chroma bytes are U, V alternating by column, so each pixel's
    // luma followed by its column's chroma byte is Y0 U Y1 V.
    Ops::StoreInterleaved(target + static_cast<size_t>(x) * kYuy2BytesPerPixel, PackGroups<Ops>(luma),
                          PackGroups<Ops>(chroma));
}

template <class Ops, int kGroup>
QM_SIMD_TARGET inline void CopyGroup(const BYTE* source, BYTE* target, typename Ops::Vec alpha) {
    Ops::template StoreGroup<kGroup>(target, Ops::Or(Ops::template LoadGroup<kGroup>(source), alpha));
}

// One step of an RGB32 row from column x.
template <class Ops>
QM_SIMD_TARGET inline void Rgb32Step(const BYTE* source, BYTE* target, int x) {
    const BYTE* const from = source + static_cast<size_t>(x) * kSourceBytesPerPixel;
    BYTE* const to = target + static_cast<size_t>(x) * kRgb32BytesPerPixel;
    const typename Ops::Vec alpha = Ops::SetI32(static_cast<int32_t>(0xFF000000u));
    CopyGroup<Ops, 0>(from, to, alpha);
    CopyGroup<Ops, 1>(from, to, alpha);
    CopyGroup<Ops, 2>(from, to, alpha);
    CopyGroup<Ops, 3>(from, to, alpha);
}

// A row into a single-plane format: kRowStep for each whole step, then
// for the last columns again as RowPairOf does; a row narrower than one
// step through kScalarColumns.
template <class Ops, void (*kRowStep)(const BYTE*, BYTE*, int), void (*kScalarColumns)(const BYTE*, BYTE*, int, int)>
QM_SIMD_TARGET void RowOf(const BYTE* source, BYTE* target, int width) {
    constexpr int kStep = Ops::kStepPixels;
    if (width < kStep) {
        kScalarColumns(source, target, 0, width);
        return;
    }
    int x = 0;
    for (; x + kStep <= width; x += kStep) {
        kRowStep(source, target, x);
    }
    if (x < width) {
        kRowStep(source, target, width - kStep);
    }
}

template <class Ops>
constexpr KernelSet KernelsFor() {
    return {RowPairOf<Ops, ChromaPlanes::Interleaved>, RowPairOf<Ops, ChromaPlanes::Separate>,
            RowOf<Ops, Yuy2Step<Ops>, ScalarYuy2Columns>, RowOf<Ops, Rgb32Step<Ops>, ScalarRgb32Columns>};
}

}  // namespace

}  // namespace frame_converter_kernels
