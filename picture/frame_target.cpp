#include "picture/frame_target.h"

FrameTarget TargetOf(PixelFormat format, int width, int height, BYTE* block, bool bottomUp) {
    FrameTarget target;
    target.format = format;
    target.width = width;
    target.height = height;
    const FrameLayout layout = LayoutOf(format, width, height);
    if (block == nullptr || layout.imageBytes == 0) {
        return target;
    }
    const bool flipped = bottomUp && (format == PixelFormat::Rgb24 || format == PixelFormat::Rgb32);
    for (int plane = 0; plane < PlaneCountOf(format); ++plane) {
        BYTE* first = block + layout.offsets[plane];
        if (flipped) {
            target.planes[plane].top = first + layout.strides[plane] * (height - 1);
            target.planes[plane].stride = -layout.strides[plane];
        } else {
            target.planes[plane].top = first;
            target.planes[plane].stride = layout.strides[plane];
        }
    }
    return target;
}

bool IsUsable(const FrameTarget& target) {
    if (!IsValidFrameSize(target.format, target.width, target.height)) {
        return false;
    }
    for (int plane = 0; plane < PlaneCountOf(target.format); ++plane) {
        if (target.planes[plane].top == nullptr || target.planes[plane].stride == 0) {
            return false;
        }
    }
    return true;
}

FrameTarget BandOf(const FrameTarget& target, int firstRow, int rows) {
    FrameTarget band;
    band.format = target.format;
    band.width = target.width;
    band.height = rows;
    const bool pairs = target.format == PixelFormat::Nv12 || target.format == PixelFormat::I420;
    if (!IsUsable(target) || firstRow < 0 || rows <= 0 || rows > target.height - firstRow ||
        (pairs && (firstRow % 2 != 0 || rows % 2 != 0))) {
        return band;
    }
    for (int plane = 0; plane < PlaneCountOf(target.format); ++plane) {
        const int row = plane == 0 ? firstRow : firstRow / 2;
        band.planes[plane].top = target.planes[plane].top + target.planes[plane].stride * row;
        band.planes[plane].stride = target.planes[plane].stride;
    }
    return band;
}
