// CFramePicture drawing into a DirectShow sample as the pin has it drawn
// (an RGB24 target over the sample, the data length set when drawn), for
// tests and benchmarks that render into samples of their own.
#pragma once

#include "capture/sample_target.h"
#include "picture/frame_picture.h"

inline bool RenderStandby(CFramePicture& picture, const wchar_t* text, IMediaSample* sample) {
    return DrawIntoSample(sample, PixelFormat::Rgb24, picture.Width(), picture.Height(),
                          [&](const FrameTarget& target) { return picture.RenderStandby(text, target); });
}

inline bool RenderWindow(CFramePicture& picture, const BYTE* topRow, ptrdiff_t stride, int width, int height,
                         ScaleMode mode, bool mirror, IMediaSample* sample) {
    return DrawIntoSample(sample, PixelFormat::Rgb24, picture.Width(), picture.Height(), [&](const FrameTarget& target) {
        return picture.RenderWindow(topRow, stride, width, height, mode, mirror, target);
    });
}

inline bool RenderPrevious(CFramePicture& picture, const BYTE* topRow, ptrdiff_t stride, int width, int height,
                           ScaleMode mode, bool mirror, IMediaSample* sample) {
    return DrawIntoSample(sample, PixelFormat::Rgb24, picture.Width(), picture.Height(), [&](const FrameTarget& target) {
        return picture.RenderPrevious(topRow, stride, width, height, mode, mirror, target);
    });
}
