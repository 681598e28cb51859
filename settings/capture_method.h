// How the picture of a window is read: the stored "CaptureMethod", values
// "0", "1" and "2".
#pragma once

enum class CaptureMethod : int {
    // Copy, and print a window whose copy stays black.
    Auto = 0,
    // A copy from the window's DC: cheap, but black for windows the GPU
    // draws, and covered parts read as what covers them.
    Copy = 1,
    // The window prints itself (PrintWindow, full content): right for
    // covered and GPU-drawn windows, but it runs on the target's UI thread.
    Print = 2,
};
