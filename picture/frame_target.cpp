#include "picture/frame_target.h"

#include "framework/memory_dib.h"
#include "settings/frame_sizes.h"

int PlaneCountOf(PixelFormat format) {
    switch (format) {
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
    case PixelFormat::Yuy2:
        return 1;
    case PixelFormat::Nv12:
        return 2;
    case PixelFormat::I420:
        return 3;
    }
    return 1;
}

const char* NameOf(PixelFormat format) {
    switch (format) {
    case PixelFormat::Rgb24:
        return "RGB24";
    case PixelFormat::Rgb32:
        return "RGB32";
    case PixelFormat::Nv12:
        return "NV12";
    case PixelFormat::Yuy2:
        return "YUY2";
    case PixelFormat::I420:
        return "I420";
    }
    return "?";
}

bool IsValidFrameSize(PixelFormat format, int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxFrameDimension || height > kMaxFrameDimension) {
        return false;
    }
    switch (format) {
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
        return true;
    case PixelFormat::Nv12:
    case PixelFormat::Yuy2:
    case PixelFormat::I420:
        return width % 2 == 0 && height % 2 == 0;
    }
    return false;
}

FrameLayout LayoutOf(PixelFormat format, int width, int height) {
    FrameLayout layout;
    if (!IsValidFrameSize(format, width, height)) {
        return layout;
    }
    // At most 8192 x 8192 x 4 bytes: no product overflows a size_t of 32 bits.
    const size_t rows = static_cast<size_t>(height);
    switch (format) {
    case PixelFormat::Rgb24:
        layout.strides[0] = static_cast<ptrdiff_t>(DibStride(width, 24));
        layout.imageBytes = static_cast<size_t>(layout.strides[0]) * rows;
        break;
    case PixelFormat::Rgb32:
        layout.strides[0] = static_cast<ptrdiff_t>(width) * 4;
        layout.imageBytes = static_cast<size_t>(layout.strides[0]) * rows;
        break;
    case PixelFormat::Yuy2:
        layout.strides[0] = static_cast<ptrdiff_t>(width) * 2;
        layout.imageBytes = static_cast<size_t>(layout.strides[0]) * rows;
        break;
    case PixelFormat::Nv12:
        layout.strides[0] = width;
        layout.strides[1] = width;
        layout.offsets[1] = static_cast<size_t>(width) * rows;
        layout.imageBytes = layout.offsets[1] + static_cast<size_t>(width) * (rows / 2);
        break;
    case PixelFormat::I420:
        layout.strides[0] = width;
        layout.strides[1] = width / 2;
        layout.strides[2] = width / 2;
        layout.offsets[1] = static_cast<size_t>(width) * rows;
        layout.offsets[2] = layout.offsets[1] + static_cast<size_t>(width / 2) * (rows / 2);
        layout.imageBytes = layout.offsets[2] + static_cast<size_t>(width / 2) * (rows / 2);
        break;
    }
    return layout;
}

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
