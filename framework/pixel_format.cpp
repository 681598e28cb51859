#include "framework/pixel_format.h"

bool PixelFormatFromValue(uint32_t value, PixelFormat* format) {
    for (const PixelFormat known : kPixelFormats) {
        if (static_cast<uint32_t>(known) == value) {
            *format = known;
            return true;
        }
    }
    return false;
}

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
