// The horizontal pass of the ratios the window pass does not suit (strong
// shrinks, enlargement): each output pixel sums its own taps of a BGRX
// row, read four at a time from its first column, with Q12 weights (in the
// layout the kernel set reads: see PixelWeights). The row is the vertical
// pass's (the pass owns that row, with zeroed slack behind for wide loads)
// or, in the horizontal-first order, a source row.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "scaler/frame_scaler_kernels.h"

class CHorizontalPixelPass {
public:
    // Plans the pass: mirrored, output pixel x lands in column
    // width - 1 - x. Throws std::bad_alloc.
    void Build(int columns, int width, bool mirror, const frame_scaler_kernels::KernelSet& kernels);
    void Clear();

    // Groups of four taps each output pixel reads.
    int TapGroups() const { return m_tapGroups; }
    // Per output pixel (in target order), the first column it reads; then
    // it reads TapGroups() * 4 columns.
    const std::vector<int32_t>& FirstColumns() const { return m_first; }

    // The row the vertical pass writes and this pass reads, for the
    // vertical-first order. Throws std::bad_alloc.
    void AllocateInputRow();
    void TakeOutputOf(frame_scaler_kernels::VerticalRow& row);
    // Runs over that row into a target row (its rectangle's first byte).
    void Run(BYTE* target, const frame_scaler_kernels::KernelSet& kernels) const;

    // Runs over a source row (at the rectangle's first column) into a BGRX
    // row with room for whole blocks of kBlockPixels. With `corrected`,
    // the blocks flagged in `blockFlags` read that copy of the row instead.
    void Filter(const BYTE* source, const BYTE* corrected, const BYTE* blockFlags, BYTE* out,
                const frame_scaler_kernels::KernelSet& kernels) const;

private:
    const void* Weights() const;

    int m_width = 0;
    int m_tapGroups = 0;
    std::vector<int32_t> m_first;
    frame_scaler_kernels::PixelWeights m_layout = frame_scaler_kernels::PixelWeights::Q12;
    std::vector<int16_t> m_q12;
    std::vector<BYTE> m_digits;
    std::vector<BYTE> m_input;
    int m_inputBytes = 0;
};
