// What a camera shows: the stored "SourceKind" (a window, a monitor or a
// region of the screen), and the rectangles and switches that go with it.
#pragma once

#include <windows.h>

enum class SourceKind : int {
    // A window, found by class, title and program (the default).
    Window = 0,
    // A whole monitor, by its device name ("SourceMonitor"; the primary
    // monitor when none is stored or the named one is not there).
    Monitor = 1,
    // A rectangle of the screen ("SourceRegion"), in virtual-screen pixels.
    Region = 2,
};

// A rectangle stored as "X,Y,W,H": the origin and a positive size. An
// empty one (width 0) stands for "none stored".
struct StoredRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool Empty() const { return width <= 0 || height <= 0; }
    bool operator==(const StoredRect& other) const {
        return x == other.x && y == other.y && width == other.width && height == other.height;
    }
    bool operator!=(const StoredRect& other) const { return !(*this == other); }
};

// The stored "ShowCursor": "1" on, "0" off; missing (or anything else) the
// default, which is off for a window and on for a monitor or a region.
enum class CursorChoice : int {
    Default = -1,
    Off = 0,
    On = 1,
};

// Whether the pointer is drawn for a source of `kind` with `choice`.
inline bool ShowsCursor(CursorChoice choice, SourceKind kind) {
    return choice == CursorChoice::Default ? kind != SourceKind::Window : choice == CursorChoice::On;
}
