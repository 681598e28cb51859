// How a window's picture is framed in the output picture: the stored
// "ScaleMode", values "0", "1" and "2".
#pragma once

enum class ScaleMode : int {
    // The whole picture over the whole frame; the aspect ratio is not kept.
    Stretch = 0,
    // The whole picture, aspect kept, black bars beside or above it.
    Fit = 1,
    // The frame filled, aspect kept: the largest centred part of the
    // picture with the frame's aspect ratio; the rest is cut off.
    Fill = 2,
};
