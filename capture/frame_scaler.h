// Scales a 32-bit BGRX picture (a window's client area) into a 24-bit BGR
// picture: a source rectangle into a target rectangle (see
// frame_geometry.h), mirrored left-right if asked. Shrinking averages
// areas; enlarging interpolates bilinearly. Only the target rectangle is
// written.
//
// Two separable passes in integer arithmetic. Mostly a vertical pass per
// output row over the source columns of the rectangle, then a horizontal
// pass into the target: for mild horizontal shrinks by windows of adjacent
// columns that every lane of a vector weighs on its own (no gathering),
// else per output pixel from its own taps. Where the horizontal pass over
// every source row is less work (a strong horizontal shrink with little
// vertical shrink, e.g. 720 rows to 768), that pass comes first. The
// weights are computed once per size and geometry (Prepare); Scale
// allocates nothing and may run for every frame. The pixel loops exist for
// SSE2 and for AVX2 (chosen at run time when the processor has it); both
// give exactly the same pictures (see frame_scaler_kernels.h).
//
// One correction on top: an area average over a non-integer number of
// pixels leaks a one-pixel checkerboard (dithered areas, 50% patterns) into
// coarse beats instead of the grey a viewer sees. When the picture shrinks
// along either axis (so the target cannot show that pattern), the vertical
// pass subtracts from each output row, wherever its weights leak the
// pattern (their even and odd rows weigh differently), the local
// checkerboard of the source times that leak. The local checkerboard is
// measured per tile of 4 x 4 source pixels (a band of four rows at a time)
// from the 2 x 2 blocks' alternating sums, and interpolated between tile
// centres along the row. Flat and smooth areas, and straight horizontal or
// vertical lines and edges, have no such component and come out as the
// plain area average; columns whose tiles are all zero are skipped.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/axis_weights.h"
#include "capture/frame_geometry.h"
#include "capture/frame_scaler_kernels.h"

class CFrameScaler {
public:
    // Fixed-point scale of the weights of ComputeAxisWeights: 1.0 == kWeightOne.
    static constexpr int kWeightShift = 15;
    static constexpr int kWeightOne = 1 << kWeightShift;

    // The instruction sets the pixel loops exist for.
    enum class Instructions { Sse2, Avx2 };
    // Whether this processor (and its operating system) can run a set.
    static bool IsSupported(Instructions instructions);
    // The fastest set this processor can run: what a new scaler uses.
    static Instructions Best();

    CFrameScaler();

    // Uses another supported set from the next Prepare on (the scaler must
    // be prepared again). E_NOTIMPL when the processor cannot run it.
    HRESULT UseInstructions(Instructions instructions);
    Instructions CurrentInstructions() const { return m_instructions; }

    // Prepares the scaler for a source size, a target size and a geometry;
    // the four-size form scales the whole source over the whole target,
    // unmirrored. Allocates only when sizes or geometry change.
    // E_INVALIDARG (and nothing changes) for a size that is not positive or
    // a rectangle that is empty or not within its picture; E_OUTOFMEMORY
    // leaves the scaler unprepared.
    HRESULT Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight);
    HRESULT Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                    const FrameGeometry& geometry);

    bool IsPreparedFor(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) const;
    bool IsPreparedFor(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight,
                       const FrameGeometry& geometry) const;

    // Scales the source into the target rectangle at the prepared sizes;
    // does nothing unless prepared. Both pictures are addressed by their top
    // row and a signed row stride in bytes, so a bottom-up picture passes its
    // last memory row and a negative stride.
    void Scale(const BYTE* sourceTop, ptrdiff_t sourceStride, BYTE* targetTop, ptrdiff_t targetStride);

    // The weights of one axis, as taps of one output position: source index
    // and weight in units of 1 / kWeightOne. For tests and benchmarks.
    using Tap = AxisTap;
    static std::vector<std::vector<Tap>> ComputeAxisWeights(int sourceLength, int targetLength);

private:
    // Per output row of the target rectangle.
    struct OutputRow {
        // Index of the first tap in m_rowSources / m_rowWeights, and count.
        int firstTap;
        int taps;
        // The row's leak of a checkerboard, signed Q15; 0: not corrected.
        int16_t leak;
        // The band of four source rows whose checkerboard it corrects.
        int band;
    };
    void Reset();
    void BuildVertical();
    void BuildWindow();
    void BuildPixels();
    void ChooseOrder();
    void BuildCorrection();
    void PrepareBand(const BYTE* sourceTop, ptrdiff_t sourceStride, int band);
    void FilterSourceRow(const BYTE* sourceTop, ptrdiff_t sourceStride, int row, BYTE* out);
    void FlagCorrectedBlocks();
    void ScaleHorizontalFirst(const BYTE* sourceTop, ptrdiff_t sourceStride, BYTE* targetTop,
                              ptrdiff_t targetStride);

    Instructions m_instructions;
    const frame_scaler_kernels::KernelSet* m_kernels;

    bool m_prepared = false;
    int m_sourceWidth = 0;
    int m_sourceHeight = 0;
    int m_targetWidth = 0;
    int m_targetHeight = 0;
    FrameGeometry m_geometry = {};
    // The rectangles' sizes.
    int m_columns = 0;
    int m_rows = 0;
    int m_width = 0;
    int m_height = 0;

    std::vector<OutputRow> m_outputRows;
    // Per tap of all output rows: absolute source row; Q15 weight, repeated
    // kWeightCopies times.
    std::vector<int> m_rowSources;
    std::vector<uint16_t> m_rowWeights;
    // Scratch for one output row's source row pointers.
    std::vector<const BYTE*> m_sourcePointers;
    // Per output row: the source rows to fetch ahead (absolute; -1: none).
    std::vector<int> m_prefetchRows;

    // The horizontal pass: windows for mild shrinks, else pixel taps.
    bool m_useWindows = false;
    std::vector<frame_scaler_kernels::WindowGroup> m_groups;
    std::vector<int16_t> m_windowWeights;
    int m_sameTaps = 0;
    std::vector<int32_t> m_first;
    std::vector<int16_t> m_pixelWeights;
    std::vector<BYTE> m_pixelDigits;
    int m_tapGroups = 0;

    // The vertical pass's row, with zeroed slack behind it for the
    // horizontal pass's wide loads: 16-bit lanes, or BGRX bytes.
    std::vector<int16_t> m_even;
    std::vector<int16_t> m_odd;
    std::vector<BYTE> m_packed;

    // The pixel pass first, where that is less work (a horizontal shrink
    // of at least kWindowRatio with little vertical shrink): each source
    // row filtered once into a ring of BGRX rows, which the vertical pass
    // then combines straight into the target. A row with a checkerboard
    // correction is corrected into m_correctedRow first, in the column
    // ranges m_copyRanges (pairs of start and end) that the blocks of four
    // output pixels flagged in m_blockFlags read.
    bool m_horizontalFirst = false;
    std::vector<BYTE> m_ring;
    size_t m_ringStride = 0;
    int m_ringRows = 0;
    std::vector<BYTE> m_correctedRow;
    std::vector<BYTE> m_blockFlags;
    std::vector<int32_t> m_copyRanges;
    struct BlockColumns {
        int32_t block;
        int32_t from;
        int32_t to;
    };
    std::vector<BlockColumns> m_blockColumns;

    // The checkerboard correction.
    bool m_correct = false;
    int m_tiles = 0;
    int m_bands = 0;
    // Tile values of the current band, one padding entry before and two
    // after; the band they are for (-1: none this frame).
    std::vector<int32_t> m_tileEven;
    std::vector<int32_t> m_tileOdd;
    int m_band = -1;
    std::vector<int16_t> m_leftWeights;
    std::vector<int16_t> m_rightWeights;
    // The correction row of m_band, zero outside m_spans (pairs of start
    // and end column) where its tiles are all zero (flat areas, straight
    // lines and edges): the passes skip those columns.
    std::vector<int16_t> m_correctionEven;
    std::vector<int16_t> m_correctionOdd;
    std::vector<int32_t> m_spans;
    std::vector<BYTE> m_tileFlags;
};
