// The checkerboard correction in the horizontal-first order: a copy of a
// source row less its checkerboard (which the vertical pass's weights then
// subtract times their leak, as in the other order), kept only in the
// columns that the blocks of four output pixels touching the correction's
// spans read. The pixel pass reads those blocks, flagged, from the copy.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "scaler/checkerboard_correction.h"
#include "scaler/frame_scaler_kernels.h"

class CCorrectedSourceRow {
public:
    // For the pixel pass's blocks: `first` columns of its output pixels
    // (padded to whole blocks), each reading `taps` columns of a row of
    // `columns`. Throws std::bad_alloc.
    void Build(int columns, int width, const std::vector<int32_t>& first, int taps);
    void Clear();

    // Flags the blocks that read the correction's spans, and the columns
    // they read: after the correction moved to another band.
    void FlagBlocks(const std::vector<int32_t>& spans);
    // Copies the source row (at the rectangle's first column; `sign` its
    // sign in the checkerboard) into the flagged blocks' columns, less the
    // current band's correction.
    void Correct(const BYTE* source, int sign, const CCheckerboardCorrection& correction,
                 const frame_scaler_kernels::KernelSet& kernels);

    const BYTE* Copy() const { return m_copy.data(); }
    const BYTE* BlockFlags() const { return m_blockFlags.data(); }

private:
    struct BlockColumns {
        int32_t block;
        int32_t from;
        int32_t to;
    };

    std::vector<BYTE> m_copy;
    std::vector<BYTE> m_blockFlags;
    // Pairs of start and end column that the flagged blocks read.
    std::vector<int32_t> m_copyRanges;
    // The columns each block reads, in increasing order of the first.
    std::vector<BlockColumns> m_blockColumns;
};
