// The media types the camera's stream offers, and what a chosen type asks
// of the frame ring: the device's five formats, NV12 first (the format
// Media Foundation's clients look for first), then YUY2, I420, RGB32 and
// RGB24, at every size of FrameSizeTable, at 30 and 60 frames per second.
// Every format's rows lie top-down, RGB's too: Media Foundation takes a
// positive default stride as top-down, unlike a DIB, so the frames a client
// sees are upright. Strides and image sizes come from LayoutOf rather than
// MFCalculateImageSize, which Wine gets wrong for RGB24. This file holds
// Media Foundation's mapping of subtypes to PixelFormat.
#pragma once

#include <windows.h>
#include <mfobjects.h>

#include <cstdint>

#include "framework/pixel_format.h"
#include "settings/frame_sizes.h"

namespace camera_media_types {

// The rates each size and format is offered at, in frames per second.
inline constexpr UINT32 kFrameRates[] = {30, 60};
inline constexpr int kFrameRateCount = static_cast<int>(sizeof(kFrameRates) / sizeof(kFrameRates[0]));
// The formats in the order they are offered.
inline constexpr PixelFormat kFormats[] = {
    PixelFormat::Nv12, PixelFormat::Yuy2, PixelFormat::I420, PixelFormat::Rgb32, PixelFormat::Rgb24,
};
inline constexpr int kFormatCount = static_cast<int>(sizeof(kFormats) / sizeof(kFormats[0]));
inline constexpr int kTypeCount = kFormatCount * kFrameSizeTableCount * kFrameRateCount;

// What a stream of one of the offered types carries.
struct StreamFormat {
    int width;
    int height;
    PixelFormat format;
    int64_t frameTime;    // 100-ns units
    uint32_t stride;      // bytes a row (of the luma plane for NV12, I420)
    uint32_t imageBytes;  // every plane
};

// The subtype of a format (MFVideoFormat_NV12, ...), and the format of a
// subtype when it is one the camera offers.
const GUID& SubtypeOf(PixelFormat format);
[[nodiscard]] bool PixelFormatOfSubtype(const GUID& subtype, PixelFormat* format);

// The offered type at `index` (0..kTypeCount-1): the formats in the order
// of kFormats; within a format the sizes in table order; within a size the
// rates.
// E_INVALIDARG outside; E_POINTER for null.
[[nodiscard]] HRESULT CreateType(int index, IMFMediaType** type);

// The index of the type of a format of kFormats, a size index of
// FrameSizeTable and a rate index of kFrameRates; -1 for anything else.
int TypeIndexOf(PixelFormat format, int sizeIndex, int rateIndex);

// The type a stream starts with until its client chooses: NV12 1280x720
// at 30 frames per second.
int DefaultTypeIndex();

// What `type` asks for, when it is one the stream can deliver: video, a
// subtype of kFormats, a table size, a frame rate whose frame time lies
// within kMinFrameTime..kMaxFrameTime, and no default stride but the
// stream's own (top-down rows, LayoutOf's). MF_E_INVALIDMEDIATYPE otherwise
// (nothing written); E_POINTER for null.
[[nodiscard]] HRESULT StreamFormatOf(IMFMediaType* type, StreamFormat* format);

// Whether two formats are one.
bool SameFormat(const StreamFormat& a, const StreamFormat& b);

}  // namespace camera_media_types
