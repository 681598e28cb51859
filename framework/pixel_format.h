// The pixel formats the device makes frames in, and how a frame of each
// lies in one block of memory. Every part of the device speaks of formats
// in these terms: the stored setting, the picture code, the DirectShow pin
// and the Media Foundation camera (each maps its own subtype GUIDs onto
// them), and the frame ring between qmcamera and the media source, which
// carries the enumerators' values in shared memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/memory_dib.h"

// The largest width or height of a frame: beyond any webcam picture, and
// no product of the layouts below overflows a size_t of 32 bits.
inline constexpr int kMaxFrameDimension = 8192;

// The values are fixed: the frame ring writes them into memory that
// another process (maybe another build) reads, and 0 stands there for
// "no format".
enum class PixelFormat : uint32_t {
    // 3 bytes a pixel, blue first; DirectShow's RGB24 (rows padded to 4
    // bytes there).
    Rgb24 = 1,
    // 4 bytes a pixel, blue first, the fourth byte 255.
    Rgb32 = 2,
    // A plane of luma, then one of interleaved U and V at half the width
    // and height (4:2:0).
    Nv12 = 3,
    // Y0 U Y1 V for every two pixels of a row (4:2:2).
    Yuy2 = 4,
    // A plane of luma, then U, then V, each at half the width and height
    // (4:2:0).
    I420 = 5,
};

// Every format, in the order of their values.
inline constexpr PixelFormat kPixelFormats[] = {
    PixelFormat::Rgb24, PixelFormat::Rgb32, PixelFormat::Nv12, PixelFormat::Yuy2, PixelFormat::I420,
};

// The format a stored value names; false for any other value (0, or one
// of a later build), `format` then unchanged.
[[nodiscard]] bool PixelFormatFromValue(uint32_t value, PixelFormat* format);

// The planes a format has: 1, 2 (NV12) or 3 (I420).
int PlaneCountOf(PixelFormat format);
// "RGB24", "RGB32", "NV12", "YUY2", "I420".
const char* NameOf(PixelFormat format);

// Whether a size suits the format: positive, at most kMaxFrameDimension,
// and even in both directions for the formats that share chroma between
// pixels (NV12, YUY2, I420).
constexpr bool IsValidFrameSize(PixelFormat format, int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxFrameDimension || height > kMaxFrameDimension) {
        return false;
    }
    switch (format) {
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
        return true;
    case PixelFormat::Nv12:
    case PixelFormat::Yuy2:
    case PixelFormat::I420:
        return width % 2 == 0 && height % 2 == 0;
    }
    return false;
}

// How frames of a format are laid out in one block of memory, as media
// types describe them: rows of RGB padded to 4 bytes (DirectShow's
// convention; RGB32 rows are whole words anyway), YUV rows unpadded, the
// planes one after the other.
struct FrameLayout {
    // Row bytes of each plane.
    ptrdiff_t strides[3] = {};
    // Offset of each plane's first memory row in the block.
    size_t offsets[3] = {};
    // Bytes of the whole frame; 0 for a size the format does not take.
    size_t imageBytes = 0;
};

// The one place a frame's layout is computed; constexpr, so that the
// frame ring sizes its slots from it at compile time.
constexpr FrameLayout LayoutOf(PixelFormat format, int width, int height) {
    FrameLayout layout;
    if (!IsValidFrameSize(format, width, height)) {
        return layout;
    }
    const size_t rows = static_cast<size_t>(height);
    switch (format) {
    case PixelFormat::Rgb24:
        layout.strides[0] = static_cast<ptrdiff_t>(DibStride(width, 24));
        layout.imageBytes = static_cast<size_t>(layout.strides[0]) * rows;
        break;
    case PixelFormat::Rgb32:
        layout.strides[0] = static_cast<ptrdiff_t>(width) * 4;
        layout.imageBytes = static_cast<size_t>(layout.strides[0]) * rows;
        break;
    case PixelFormat::Yuy2:
        layout.strides[0] = static_cast<ptrdiff_t>(width) * 2;
        layout.imageBytes = static_cast<size_t>(layout.strides[0]) * rows;
        break;
    case PixelFormat::Nv12:
        layout.strides[0] = width;
        layout.strides[1] = width;
        layout.offsets[1] = static_cast<size_t>(width) * rows;
        layout.imageBytes = layout.offsets[1] + static_cast<size_t>(width) * (rows / 2);
        break;
    case PixelFormat::I420:
        layout.strides[0] = width;
        layout.strides[1] = width / 2;
        layout.strides[2] = width / 2;
        layout.offsets[1] = static_cast<size_t>(width) * rows;
        layout.offsets[2] = layout.offsets[1] + static_cast<size_t>(width / 2) * (rows / 2);
        layout.imageBytes = layout.offsets[2] + static_cast<size_t>(width / 2) * (rows / 2);
        break;
    }
    return layout;
}
