// Scales a 32-bit BGRX picture (a window's client area) into a 24-bit BGR
// picture of another size, filling it completely (the aspect ratio is not
// kept). Shrinking averages areas; enlarging interpolates bilinearly.
//
// The filter runs in 14-bit fixed point with SSE2: a vertical pass per
// output row into a row buffer, then a horizontal pass. Its weights are
// computed once per size pair (Prepare); Scale allocates nothing and may
// run for every frame.
//
// One correction on top: an area average over a non-integer number of
// pixels leaks a one-pixel checkerboard (dithered areas, 50% patterns)
// into coarse beats instead of the grey a viewer sees. When the picture
// shrinks along either axis (so the target cannot show that pattern), the
// vertical pass adds, wherever a row's weights leak it (their even and odd
// rows weigh differently), a term that cancels exactly that component: the
// source's mixed fourth difference, scaled by the leak. Flat and smooth
// areas, and straight horizontal or vertical lines and edges, have no
// such component and come out as the plain area average; only
// corners, crossings and diagonal detail are touched, locally.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

class CFrameScaler {
public:
    // Fixed-point scale of the weights: 1.0 == kWeightOne.
    static constexpr int kWeightShift = 14;
    static constexpr int kWeightOne = 1 << kWeightShift;

    // Prepares the filter for a size pair. Allocates only when the pair
    // changes. E_INVALIDARG for a size that is not positive, E_OUTOFMEMORY.
    HRESULT Prepare(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight);

    bool IsPreparedFor(int sourceWidth, int sourceHeight, int targetWidth, int targetHeight) const;

    // Scales the source into the target at the prepared sizes. Both are
    // addressed by their top row and a signed row stride in bytes, so a
    // bottom-up picture passes its last memory row and a negative stride.
    void Scale(const BYTE* sourceTop, ptrdiff_t sourceStride, BYTE* targetTop, ptrdiff_t targetStride);

    // The weights of one axis, as taps of one output position: source index
    // and weight in units of 1 / kWeightOne. For tests and benchmarks.
    struct Tap {
        int index;
        int weight;
    };
    static std::vector<std::vector<Tap>> ComputeAxisWeights(int sourceLength, int targetLength);

private:
    struct HorizontalFilter {
        // Taps per output pixel, padded with zero weights to a multiple of
        // four (four pixels per load).
        int taps = 0;
        // The first source pixel of each output pixel; its taps read
        // consecutive pixels from there.
        std::vector<int> first;
        std::vector<int16_t> weights;
    };
    struct VerticalFilter {
        // Taps per output row, padded to an even count (two rows per
        // multiply-add) with weight 0 on a valid row.
        int taps = 0;
        std::vector<int> rows;
        std::vector<int16_t> weights;
        // Per output row: the five rows of the checkerboard correction and
        // their weights (all 0 where the row's weights do not leak it),
        // padded to six.
        std::vector<int> correctionRows;
        std::vector<int16_t> correctionWeights;
        std::vector<bool> corrected;
    };

    void BuildHorizontal(int sourceLength, int targetLength);
    void BuildVertical(int sourceLength, int targetLength, bool cancelCheckerboard);
    void FilterRows(const BYTE* sourceTop, ptrdiff_t sourceStride, int targetRow);
    void FilterRowsCorrected(const BYTE* sourceTop, ptrdiff_t sourceStride, int targetRow);
    void FilterColumns(BYTE* target) const;

    int m_sourceWidth = 0;
    int m_sourceHeight = 0;
    int m_targetWidth = 0;
    int m_targetHeight = 0;
    HorizontalFilter m_horizontal;
    VerticalFilter m_vertical;
    // One vertically filtered row of BGRX pixels, with zeroed slack behind
    // it so that the four-pixel loads of the last taps stay inside.
    std::vector<BYTE> m_row;
    // Rows of a corrected output row before they are combined, 16 bits per
    // channel in units of 1/128: the area average, the vertical half of the
    // correction and its first second difference, these two with one
    // mirrored pixel before and after them.
    std::vector<int16_t> m_average;
    std::vector<int16_t> m_correction;
    std::vector<int16_t> m_difference;
};
