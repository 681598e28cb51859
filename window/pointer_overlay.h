// The mouse pointer drawn into a picture read from the screen (a copy or
// print of a window, a monitor, a region): its shape, at its hotspot,
// where it is on the screen. The picture is then framed, scaled and
// mirrored like any other, and the pointer with it.
//
// Windows gives the pointer's shape only while it shows; Wine gives none
// while the pointer is over another process's window although it says the
// pointer shows: the standard arrow is drawn then.
#pragma once

#include <windows.h>

// Where the pointer is and what it looks like now.
struct PointerState {
    bool showing = false;
    // Screen position, in the calling thread's DPI context.
    POINT position = {0, 0};
    // Null where the system gives no shape.
    HCURSOR cursor = nullptr;
};

// The system's pointer, as GetCursorInfo reports it (not showing when it
// cannot tell).
PointerState CurrentPointer();

// How the pointer is asked for: the system's, or a test's.
using PointerFunction = PointerState (*)();

// Draws the pointer into `dc` (a picture whose top-left pixel shows the
// screen point `origin`, width x height pixels): nothing when it does not
// show or lies wholly outside. True when anything was drawn.
bool DrawPointer(HDC dc, POINT origin, int width, int height, const PointerState& pointer);
