// The horizontal pass of mild shrinks (and of the same width): groups of
// adjacent output pixels, as many as a vector has lanes, each read windows
// of as many adjacent columns of the vertical pass's row, shifted by one
// column per tap, every lane with its own weight per tap (zero where the
// window holds none of its taps). Loads need no gathering, so the pass
// costs a few multiplies per output pixel; windows widen with the ratio,
// and beyond kWindowRatio the pixel pass costs less.
//
// It owns the row it reads: the vertical pass writes it, in 16-bit lanes
// (see frame_scaler_kernels.h), with zeroed slack behind for wide loads.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "scaler/frame_scaler_kernels.h"

class CHorizontalWindowPass {
public:
    // Whether the pass suits `columns` source columns into `width` output
    // pixels: a shrink by at most 8/5, or the same width.
    [[nodiscard]] static bool Suits(int columns, int width);

    // Plans the pass for the kernels' vector width (and, for a set that
    // stores groups whole, the stores' places); mirrored, output pixel x
    // lands in column width - 1 - x. Throws std::bad_alloc.
    void Build(int columns, int width, bool mirror, const frame_scaler_kernels::KernelSet& kernels);
    void Clear();

    // Directs a vertical row's output into the pass's row.
    void TakeOutputOf(frame_scaler_kernels::VerticalRow& row);
    // Runs over the pass's row into a target row (its rectangle's first
    // byte).
    void Run(BYTE* target, const frame_scaler_kernels::KernelSet& kernels) const;

private:
    std::vector<frame_scaler_kernels::WindowGroup> m_groups;
    // Per group, per tap, per lane, the weight twice.
    std::vector<int16_t> m_weights;
    // The taps of every group when they all have as many, else 0.
    int m_sameTaps = 0;
    int m_width = 0;
    bool m_mirror = false;
    std::vector<int16_t> m_even;
    std::vector<int16_t> m_odd;
};
