// The media types the camera's stream offers, and what a chosen type asks
// of the frame ring. NV12 and RGB32 (both top-down) at every size of
// FrameSizeTable, at 30 and 60 frames per second. Strides and image sizes
// are computed here rather than by MFCalculateImageSize, which Wine gets
// wrong for some formats.
#pragma once

#include <windows.h>
#include <mfobjects.h>

#include <cstdint>

#include "ring/frame_ring.h"

namespace camera_media_types {

// The rates each size and format is offered at, in frames per second.
inline constexpr UINT32 kFrameRates[] = {30, 60};
inline constexpr int kFrameRateCount = static_cast<int>(sizeof(kFrameRates) / sizeof(kFrameRates[0]));
inline constexpr int kFormatCount = 2;
inline constexpr int kTypeCount = kFormatCount * kFrameSizeTableCount * kFrameRateCount;

// What a stream of one of the offered types carries.
struct StreamFormat {
    int width;
    int height;
    frame_ring::FrameFormat format;
    int64_t frameTime;    // 100-ns units
    uint32_t stride;      // bytes a row (of the luma plane for NV12)
    uint32_t imageBytes;  // both planes for NV12
};

// Bytes a row and bytes an image, without padding. 0 for FrameFormat::None.
uint32_t StrideOf(frame_ring::FrameFormat format, int width);
uint32_t ImageBytesOf(frame_ring::FrameFormat format, int width, int height);

// The offered type at `index` (0..kTypeCount-1): NV12 first, then RGB32;
// within a format the sizes in table order; within a size the rates.
// E_INVALIDARG outside; E_POINTER for null.
[[nodiscard]] HRESULT CreateType(int index, IMFMediaType** type);

// The type a stream starts with until its client chooses: NV12 1280x720
// at 30 frames per second.
int DefaultTypeIndex();

// What `type` asks for, when it is one the stream can deliver: video,
// NV12 or RGB32, a table size, a frame rate whose frame time lies within
// kMinFrameTime..kMaxFrameTime, and no default stride but the stream's own
// (top-down rows, unpadded). MF_E_INVALIDMEDIATYPE otherwise (nothing
// written); E_POINTER for null.
[[nodiscard]] HRESULT StreamFormatOf(IMFMediaType* type, StreamFormat* format);

// Whether two formats are one.
bool SameFormat(const StreamFormat& a, const StreamFormat& b);

}  // namespace camera_media_types
