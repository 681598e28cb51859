// The output sizes every camera offers, and the largest picture any part
// of the device will handle.
#pragma once

#include "framework/pixel_format.h"

struct FrameSize {
    int width;
    int height;
};

// Indexed by the "SelectPixel" setting: 0..2 portrait, 3..5 landscape, then
// the HD sizes, appended so that every index stored before keeps its
// meaning: 6, 7 portrait and 8, 9 landscape.
inline constexpr FrameSize FrameSizeTable[] = {
    {204, 360},  {272, 480},   {432, 768},  {568, 320},   {852, 480},
    {1136, 640}, {720, 1280},  {1080, 1920}, {1280, 720}, {1920, 1080},
};
inline constexpr int kFrameSizeTableCount = static_cast<int>(sizeof(FrameSizeTable) / sizeof(FrameSizeTable[0]));

// kMaxFrameDimension (framework/pixel_format.h) is the largest width or
// height that SetFrameSize accepts: anything beyond is no webcam picture,
// and its canvas could not be allocated anyway.
