// The one place where a DirectShow media sample becomes a frame target:
// its buffer, laid out as the pin's media type says (RGB rows bottom-up
// and padded to 4 bytes, YUV planes top-down one after the other).
#pragma once

#include <windows.h>
#include <strmif.h>

#include "picture/frame_target.h"

// A target over the sample's buffer for a frame of width x height in
// `format`; a target with no planes (which the picture code leaves alone)
// for a null sample, one without a buffer, or one too small for the frame.
// An allocator may hand out buffers larger than asked for: the frame fills
// the front.
FrameTarget TargetOfSample(IMediaSample* sample, PixelFormat format, int width, int height);

// After a frame was drawn into TargetOfSample's target: the sample's data
// length becomes the frame's size.
void SetFrameLength(IMediaSample* sample, const FrameTarget& target);

// Draws a frame into the sample: `draw` gets the sample's target and
// answers whether it drew into it; when it did, the data length is set.
// Answers what `draw` answered.
template <class Draw>
bool DrawIntoSample(IMediaSample* sample, PixelFormat format, int width, int height, Draw&& draw) {
    const FrameTarget target = TargetOfSample(sample, format, width, height);
    const bool drawn = draw(target);
    if (drawn) {
        SetFrameLength(sample, target);
    }
    return drawn;
}

// Writes each buffer the allocator can give at once (at most eight): the
// first write into fresh memory pays for its pages (under Wine about 25 ms
// for a 1920x1080 frame, more than a frame time at 60 fps), and each
// buffer takes its turn among a stream's first frames. Nothing for a null
// allocator.
void WarmBuffers(IMemAllocator* allocator);
