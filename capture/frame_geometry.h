// How a captured window is framed in an output picture: which part of the
// window (the source rectangle) is scaled into which part of the picture
// (the target rectangle), and whether it is mirrored left-right.
#pragma once

#include <windows.h>

// Stored in the settings as the values "0", "1" and "2".
enum class ScaleMode : int {
    // The whole window over the whole picture; the aspect ratio is not kept.
    Stretch = 0,
    // The whole window, as large as the picture allows with its aspect ratio
    // kept, centred; black bars fill the rest of the picture.
    Fit = 1,
    // The whole picture, filled from the largest centred part of the window
    // that has the picture's aspect ratio; the rest of the window is cut off.
    Fill = 2,
};

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

bool operator==(const FrameGeometry& a, const FrameGeometry& b);
inline bool operator!=(const FrameGeometry& a, const FrameGeometry& b) {
    return !(a == b);
}
