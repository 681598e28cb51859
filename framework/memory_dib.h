// Device-independent bitmaps in memory: the row stride GDI lays them out
// with, and a DIB section selected into a memory DC for as long as it
// lives, so that GDI can draw into it and code can read its pixels.
#pragma once

#include <windows.h>

#include <cstddef>

#include "framework/com_util.h"

// Bytes per row of a DIB: width x bits per pixel, padded to whole 32-bit
// words. 64-bit so that no width that fits an int overflows.
constexpr long long DibStride(long long width, int bitCount) {
    return ((width * bitCount + 31) / 32) * 4;
}

// A DIB section selected into a memory DC of its own. The DC's original
// bitmap is put back before the DIB section is deleted.
class CMemoryDib {
public:
    CMemoryDib() = default;
    ~CMemoryDib() { Reset(); }
    CMemoryDib(const CMemoryDib&) = delete;
    CMemoryDib& operator=(const CMemoryDib&) = delete;

    // An uncompressed DIB of a size and bit depth; top-down rows when
    // topDown, else bottom-up. False (and empty) when the size is not
    // positive or GDI refuses.
    [[nodiscard]] bool Create(int width, int height, int bitCount, bool topDown) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = topDown ? -height : height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = static_cast<WORD>(bitCount);
        info.bmiHeader.biCompression = BI_RGB;
        return Create(info, nullptr);
    }

    // A DIB described by a complete header (colour table included, for
    // depths that have one), created against `reference` (null: the
    // screen). False (and empty) on failure.
    [[nodiscard]] bool Create(const BITMAPINFO& info, HDC reference) {
        Reset();
        const LONG width = info.bmiHeader.biWidth;
        const LONG height = info.bmiHeader.biHeight < 0 ? -info.bmiHeader.biHeight : info.bmiHeader.biHeight;
        if (width <= 0 || height <= 0) {
            return false;
        }
        m_dc.reset(::CreateCompatibleDC(nullptr));
        if (!m_dc) {
            return false;
        }
        void* bits = nullptr;
        m_bitmap.reset(::CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!m_bitmap || bits == nullptr) {
            Reset();
            return false;
        }
        m_previous = ::SelectObject(m_dc.get(), m_bitmap.get());
        m_pixels = static_cast<BYTE*>(bits);
        m_width = width;
        m_height = height;
        m_stride = static_cast<ptrdiff_t>(DibStride(width, info.bmiHeader.biBitCount));
        m_topDown = info.bmiHeader.biHeight < 0;
        return true;
    }

    void Reset() {
        if (m_dc && m_previous != nullptr) {
            ::SelectObject(m_dc.get(), m_previous);
        }
        m_previous = nullptr;
        m_bitmap.reset();
        m_dc.reset();
        m_pixels = nullptr;
        m_width = 0;
        m_height = 0;
        m_stride = 0;
        m_topDown = false;
    }

    explicit operator bool() const { return m_pixels != nullptr; }
    HDC Dc() const { return m_dc.get(); }
    // The pixel memory in memory order: the top row first for a top-down
    // DIB, the bottom row first otherwise.
    BYTE* Pixels() const { return m_pixels; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    ptrdiff_t Stride() const { return m_stride; }
    size_t ImageSize() const { return static_cast<size_t>(m_stride) * static_cast<size_t>(m_height); }

    // The picture's top row and the signed step from one row down to the
    // next, whichever way the rows lie in memory.
    BYTE* TopRow() const { return m_topDown ? m_pixels : m_pixels + (m_height - 1) * m_stride; }
    ptrdiff_t DownStride() const { return m_topDown ? m_stride : -m_stride; }

private:
    UniqueMemoryDc m_dc;
    UniqueGdiObject m_bitmap;
    HGDIOBJ m_previous = nullptr;
    BYTE* m_pixels = nullptr;
    int m_width = 0;
    int m_height = 0;
    ptrdiff_t m_stride = 0;
    bool m_topDown = false;
};
