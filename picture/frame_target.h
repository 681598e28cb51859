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

#include "framework/pixel_format.h"

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
