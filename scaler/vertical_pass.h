// The vertical pass's plan, made once per size and geometry: for each
// output row of the target rectangle, the source rows it takes and their
// Q15 weights (kWeightCopies times each, for whole-vector loads), how much
// of a one-pixel checkerboard those weights let through (the leak that the
// checkerboard correction takes back) and the band of source rows whose
// checkerboard it corrects, and which source rows to fetch into the cache
// while it runs. It runs per frame without allocating.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "scaler/frame_scaler_kernels.h"

class CVerticalPass {
public:
    // Plans `height` output rows from the source rows [top, bottom); with
    // `leaks`, each row's leak too (else every leak is zero). Throws
    // std::bad_alloc (the pass is then left cleared or in part).
    void Build(long top, long bottom, int height, bool leaks);
    void Clear();

    int Height() const { return static_cast<int>(m_outputRows.size()); }
    // The most taps of any output row, and the average.
    int MostTaps() const { return static_cast<int>(m_sourcePointers.size()); }
    double AverageTaps() const;
    // The last source row (absolute) that output row y takes.
    int LastSource(int y) const;
    // Output row y's leak (signed Q15; 0: not corrected), and the band of
    // four source rows (counted from `top`) whose checkerboard it corrects.
    int16_t Leak(int y) const { return Row(y).leak; }
    int Band(int y) const { return Row(y).band; }

    // Output row y as a vertical row: its taps and their weights, each
    // tap's source row (absolute) at address(sourceRow). The caller sets
    // the columns, the output and any correction.
    template <class Address>
    frame_scaler_kernels::VerticalRow Arrange(int y, const Address& address) {
        const OutputRow& out = Row(y);
        for (int t = 0; t < out.taps; ++t) {
            m_sourcePointers[static_cast<size_t>(t)] = address(m_rowSources[static_cast<size_t>(out.firstTap + t)]);
        }
        frame_scaler_kernels::VerticalRow row = {};
        row.sources = m_sourcePointers.data();
        row.weights = &m_rowWeights[static_cast<size_t>(out.firstTap) * frame_scaler_kernels::kWeightCopies];
        row.taps = out.taps;
        return row;
    }

    // Sets the rows that `row` (output row y) fetches into the cache along
    // the way, each at address(sourceRow).
    template <class Address>
    void Prefetch(int y, const Address& address, frame_scaler_kernels::VerticalRow& row) const {
        for (int k = 0; k < kPrefetchesPerRow; ++k) {
            const int fetch = m_prefetchRows[static_cast<size_t>(y) * kPrefetchesPerRow + static_cast<size_t>(k)];
            row.prefetch[k] = fetch < 0 ? nullptr : address(fetch);
        }
    }

private:
    // Source rows are fetched into the cache this many rows before the
    // taps reach them, which covers the next band's rows; at most
    // kPrefetchesPerRow of them per output row.
    static constexpr int kPrefetchRows = 8;
    static constexpr int kPrefetchesPerRow = 2;

    struct OutputRow {
        // Index of the first tap in m_rowSources / m_rowWeights, and count.
        int firstTap;
        int taps;
        int16_t leak;
        int band;
    };

    const OutputRow& Row(int y) const { return m_outputRows[static_cast<size_t>(y)]; }

    std::vector<OutputRow> m_outputRows;
    // Per tap of all output rows: absolute source row; Q15 weight, repeated
    // kWeightCopies times.
    std::vector<int> m_rowSources;
    std::vector<uint16_t> m_rowWeights;
    // Scratch for one output row's source row pointers, as many as the
    // most taps.
    std::vector<const BYTE*> m_sourcePointers;
    // Per output row: the source rows to fetch ahead (absolute; -1: none).
    std::vector<int> m_prefetchRows;
};
