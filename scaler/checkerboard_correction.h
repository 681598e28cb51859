// The checkerboard correction of the scaler (see frame_scaler.h), per band
// of four source rows: the local checkerboard of the source, measured per
// tile of 4 x 4 pixels from the 2 x 2 blocks' alternating sums, and
// interpolated between tile centres along the row into a correction row;
// and the spans (column ranges) outside which that row is zero (flat
// areas, straight lines and edges), which the passes skip.
//
// Built once per size and geometry; the band moves on as a frame's rows
// are scaled, without allocating.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "scaler/frame_scaler_kernels.h"

class CCheckerboardCorrection {
public:
    // For the source rectangle `source`, at least two pixels each way.
    // Throws std::bad_alloc.
    void Build(const RECT& source);
    void Clear();

    // No band is current: the next frame's source is another picture.
    void Forget() { m_band = -1; }
    // The current band (-1: none).
    int Band() const { return m_band; }
    // Makes `band` current: its correction row and spans, from the source
    // picture at sourceTop (its top row) with a signed row stride.
    void Prepare(const BYTE* sourceTop, ptrdiff_t sourceStride, int band,
                 const frame_scaler_kernels::KernelSet& kernels);

    // The current band's spans: pairs of start and end column, in
    // increasing order; none when its tiles are all zero.
    const std::vector<int32_t>& Spans() const { return m_spans; }

    // Makes a vertical row subtract the current band's correction times
    // `leak` (its weights' leak of a checkerboard).
    void ApplyTo(int16_t leak, frame_scaler_kernels::VerticalRow& row) const;
    // A source row's correction: `sign` its sign in the checkerboard.
    frame_scaler_kernels::CorrectedRow ForSourceRow(const BYTE* source, BYTE* out, int sign) const;

private:
    void MeasureBand(const BYTE* sourceTop, ptrdiff_t sourceStride, int band,
                     const frame_scaler_kernels::KernelSet& kernels);
    void FindSpans();

    RECT m_source = {};
    int m_columns = 0;
    int m_tiles = 0;
    // Tile values of the current band, one padding entry before and two
    // after.
    std::vector<int32_t> m_tileEven;
    std::vector<int32_t> m_tileOdd;
    // Per run of kTilesPerFlag tiles: whether any is not zero.
    std::vector<BYTE> m_tileFlags;
    int m_band = -1;
    // Per column, two lanes each: the weights of the tiles to its left and
    // right, with the scale and the column's sign in the checkerboard.
    std::vector<int16_t> m_leftWeights;
    std::vector<int16_t> m_rightWeights;
    // The correction row of m_band (blue, red lanes and green, unused
    // lanes), zero outside m_spans.
    std::vector<int16_t> m_correctionEven;
    std::vector<int16_t> m_correctionOdd;
    std::vector<int32_t> m_spans;
};
