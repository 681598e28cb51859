#include "scaler/frame_geometry.h"

#include <algorithm>
#include <cstring>

namespace {

struct Span {
    long offset;
    long length;
};

// The part of `full` pixels that keeps the ratio numerator / denominator
// (at most `full`): the length nearest to the exact one among those that
// leave equal margins on both sides, at least one pixel.
Span CentredSpan(long long full, long long numerator, long long denominator) {
    // The margin on each side, (full - numerator / denominator) / 2,
    // rounded to the nearest whole pixel.
    long long margin = (full * denominator - numerator + denominator) / (2 * denominator);
    if (full - 2 * margin < 1) {
        margin = (full - 1) / 2;
    }
    return {static_cast<long>(margin), static_cast<long>(full - 2 * margin)};
}

RECT Whole(int width, int height) {
    return {0, 0, width, height};
}

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace

FrameGeometry ComputeFrameGeometry(ScaleMode mode, bool mirror, int sourceWidth, int sourceHeight, int targetWidth,
                                   int targetHeight) {
    FrameGeometry geometry = {};
    if (sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0) {
        return geometry;
    }
    geometry.mirror = mirror;
    geometry.source = Whole(sourceWidth, sourceHeight);
    geometry.target = Whole(targetWidth, targetHeight);
    // Cross products compare the aspect ratios exactly.
    const long long sourceWide = static_cast<long long>(sourceWidth) * targetHeight;
    const long long targetWide = static_cast<long long>(targetWidth) * sourceHeight;
    switch (mode) {
    case ScaleMode::Fit:
        if (sourceWide >= targetWide) {
            // Relatively wider source: full width, bars above and below.
            const Span rows = CentredSpan(targetHeight, targetWide, sourceWidth);
            geometry.target = {0, rows.offset, targetWidth, rows.offset + rows.length};
        } else {
            const Span columns = CentredSpan(targetWidth, sourceWide, sourceHeight);
            geometry.target = {columns.offset, 0, columns.offset + columns.length, targetHeight};
        }
        break;
    case ScaleMode::Fill:
        if (sourceWide > targetWide) {
            // Relatively wider source: its sides are cut off.
            const Span columns = CentredSpan(sourceWidth, targetWide, targetHeight);
            geometry.source = {columns.offset, 0, columns.offset + columns.length, sourceHeight};
        } else {
            const Span rows = CentredSpan(sourceHeight, sourceWide, targetWidth);
            geometry.source = {0, rows.offset, sourceWidth, rows.offset + rows.length};
        }
        break;
    case ScaleMode::Stretch:
        break;
    }
    return geometry;
}

bool operator==(const FrameGeometry& a, const FrameGeometry& b) {
    return SameRect(a.source, b.source) && SameRect(a.target, b.target) && a.mirror == b.mirror;
}

void ClearAroundTarget(BYTE* topRow, ptrdiff_t stride, size_t rowBytes, int height, const RECT& target) {
    const size_t left = static_cast<size_t>(target.left) * 3;
    const size_t right = (std::min)(static_cast<size_t>(target.right) * 3, rowBytes);
    for (int y = 0; y < height; ++y) {
        BYTE* row = topRow + y * stride;
        if (y < target.top || y >= target.bottom) {
            std::memset(row, 0, rowBytes);
            continue;
        }
        std::memset(row, 0, (std::min)(left, rowBytes));
        std::memset(row + right, 0, rowBytes - right);
    }
}
