#include "window/pointer_overlay.h"

#include "framework/com_util.h"

namespace {

// The pointer never spans more than this around its hotspot (the largest
// system sizes are 256 pixels).
constexpr int kLargestPointer = 256;

}  // namespace

PointerState CurrentPointer() {
    CURSORINFO info = {};
    info.cbSize = sizeof(info);
    PointerState state;
    if (!::GetCursorInfo(&info) || (info.flags & CURSOR_SHOWING) == 0) {
        return state;
    }
    state.showing = true;
    state.position = info.ptScreenPos;
    state.cursor = info.hCursor;
    return state;
}

bool DrawPointer(HDC dc, POINT origin, int width, int height, const PointerState& pointer) {
    if (!pointer.showing || dc == nullptr) {
        return false;
    }
    const int x = pointer.position.x - origin.x;
    const int y = pointer.position.y - origin.y;
    if (x < -kLargestPointer || y < -kLargestPointer || x >= width + kLargestPointer ||
        y >= height + kLargestPointer) {
        return false;
    }
    const HCURSOR cursor = pointer.cursor != nullptr ? pointer.cursor : ::LoadCursorW(nullptr, IDC_ARROW);
    ICONINFO info = {};
    if (cursor == nullptr || !::GetIconInfo(cursor, &info)) {
        return false;
    }
    // GetIconInfo hands over its bitmaps.
    UniqueGdiObject mask(info.hbmMask);
    UniqueGdiObject colour(info.hbmColor);
    const int left = x - static_cast<int>(info.xHotspot);
    const int top = y - static_cast<int>(info.yHotspot);
    if (!::DrawIconEx(dc, left, top, cursor, 0, 0, 0, nullptr, DI_NORMAL)) {
        return false;
    }
    // The DIB must hold the pointer before its pixels are read directly.
    ::GdiFlush();
    return true;
}
