// Where a frame goes: a plain description of the memory a camera hands
// over for one frame (a DirectShow sample, a slot of the frame ring, a
// thumbnail's bitmap), so that the picture code draws into any of them
// and nothing else has to know how their rows lie.
//
// Each plane is addressed by its top row and the signed distance in bytes
// from one row to the row below it: a bottom-up picture (DirectShow's RGB
// samples) passes its last memory row and a negative stride.
#pragma once

#include <windows.h>

#include <cstddef>

// The pixel formats frames are made in.
enum class PixelFormat {
    // 3 bytes a pixel, blue first; DirectShow's RGB24 (rows padded to 4
    // bytes there).
    Rgb24,
    // 4 bytes a pixel, blue first, the fourth byte 255.
    Rgb32,
    // A plane of luma, then one of interleaved U and V at half the width
    // and height (4:2:0).
    Nv12,
    // Y0 U Y1 V for every two pixels of a row (4:2:2).
    Yuy2,
    // A plane of luma, then U, then V, each at half the width and height
    // (4:2:0).
    I420,
};

// The planes a format has: 1, 2 (NV12) or 3 (I420).
int PlaneCountOf(PixelFormat format);
// "RGB24", "RGB32", "NV12", "YUY2", "I420".
const char* NameOf(PixelFormat format);
// Whether a size suits the format: positive, at most kMaxFrameDimension,
// and even in both directions for the formats that share chroma between
// pixels (NV12, YUY2, I420).
bool IsValidFrameSize(PixelFormat format, int width, int height);

// The format and size of a stream's frames.
struct FrameShape {
    PixelFormat format = PixelFormat::Rgb24;
    int width = 0;
    int height = 0;
};

struct FramePlane {
    BYTE* top = nullptr;
    ptrdiff_t stride = 0;
};

struct FrameTarget {
    PixelFormat format = PixelFormat::Rgb24;
    int width = 0;
    int height = 0;
    // planes[0] is luma (or the only plane); NV12's chroma is planes[1];
    // I420's U and V are planes[1] and planes[2].
    FramePlane planes[3];
};

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
FrameLayout LayoutOf(PixelFormat format, int width, int height);

// A target over a block of at least LayoutOf(...).imageBytes bytes. With
// bottomUp, the rows of the (single-plane) RGB formats lie bottom-up in
// memory, as DirectShow's RGB samples with a positive biHeight have them;
// YUV rows always lie top-down. A target with no planes (every top null)
// for a size the format does not take or a null block.
FrameTarget TargetOf(PixelFormat format, int width, int height, BYTE* block, bool bottomUp);

// Whether a target can be drawn into: a valid size and every plane it
// needs present.
bool IsUsable(const FrameTarget& target);

// Rows firstRow .. firstRow + rows - 1 of a target, as a target of their
// own (the chroma rows of NV12 and I420 halved: firstRow and rows must be
// even for them). A target with no planes for rows outside the target.
FrameTarget BandOf(const FrameTarget& target, int firstRow, int rows);
