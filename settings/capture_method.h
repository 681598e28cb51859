// How the picture of a window is read: the stored "CaptureMethod", values
// "0" to "3".
#pragma once

enum class CaptureMethod : int {
    // Copy; a window whose copy stays black is read by graphics capture
    // where the system has it, else printed.
    Auto = 0,
    // A copy from the window's DC: cheap, but black for windows the GPU
    // draws, and covered parts read as what covers them.
    Copy = 1,
    // The window prints itself (PrintWindow, full content): right for
    // covered and GPU-drawn windows, but it runs on the target's UI thread.
    Print = 2,
    // Windows.Graphics.Capture (Windows 10 1903 and later): right for
    // covered and GPU-drawn windows without the target's thread, but
    // Windows 10 draws a border around the captured window.
    Graphics = 3,
};
