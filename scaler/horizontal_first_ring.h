// The rows between the passes of the horizontal-first order: each source
// row, once through the horizontal pixel pass, lands in a ring of BGRX
// rows, as many as an output row has taps (the vertical pass uses them in
// order, so a row is overwritten only after its last use).
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

class CHorizontalFirstRing {
public:
    // Rows of `width` pixels (with room for whole blocks of the pixel
    // pass), `rows` of them. Throws std::bad_alloc.
    void Build(int width, int rows);
    void Clear();

    // The ring's row for a source row (absolute index).
    BYTE* Row(int sourceRow) { return &m_rows[Offset(sourceRow)]; }
    const BYTE* Row(int sourceRow) const { return &m_rows[Offset(sourceRow)]; }

private:
    size_t Offset(int sourceRow) const { return static_cast<size_t>(sourceRow % m_count) * m_stride; }

    std::vector<BYTE> m_rows;
    size_t m_stride = 0;
    int m_count = 1;
};
