// How a captured window is framed in an output picture: which part of the
// window (the source rectangle) is scaled into which part of the picture
// (the target rectangle), and whether it is mirrored left-right.
#pragma once

#include <windows.h>

#include "settings/scale_mode.h"

struct FrameGeometry {
    // Within the source: left, top inclusive; right, bottom exclusive.
    RECT source;
    // Within the target, likewise.
    RECT target;
    // The target shows the source mirrored left-right.
    bool mirror;
};

// The geometry of a mode for a source and a target size. A length that the
// aspect ratio makes fractional is rounded to the nearest whole pixel that
// leaves the same margin on both sides (so it is within one pixel of the
// exact length, and the bars or the cut are symmetric), and it is never
// shorter than one pixel. All rectangles are empty when a size is not
// positive.
FrameGeometry ComputeFrameGeometry(ScaleMode mode, bool mirror, int sourceWidth, int sourceHeight, int targetWidth,
                                   int targetHeight);

// Blacks out what lies around `target` in a picture of 24-bit pixels
// (height rows of rowBytes bytes, padding included, from topRow on at
// `stride`, which is negative for a bottom-up picture): the scaler writes
// only the target rectangle, and the picture may hold an older frame.
void ClearAroundTarget(BYTE* topRow, ptrdiff_t stride, size_t rowBytes, int height, const RECT& target);

bool operator==(const FrameGeometry& a, const FrameGeometry& b);
inline bool operator!=(const FrameGeometry& a, const FrameGeometry& b) {
    return !(a == b);
}
