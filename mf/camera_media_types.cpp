#include "mf/camera_media_types.h"

#include <mfapi.h>
#include <mferror.h>
#include <wrl/client.h>

#include "settings/frame_time.h"
#include "framework/com_util.h"
#include "mf/media_foundation.h"

using Microsoft::WRL::ComPtr;
using frame_ring::FrameFormat;

namespace camera_media_types {

namespace {

constexpr FrameFormat kFormats[kFormatCount] = {FrameFormat::Nv12, FrameFormat::Rgb32};

const GUID& SubtypeOf(FrameFormat format) {
    return format == FrameFormat::Rgb32 ? MFVideoFormat_RGB32 : MFVideoFormat_NV12;
}

}  // namespace

uint32_t StrideOf(FrameFormat format, int width) {
    if (width <= 0) {
        return 0;
    }
    switch (format) {
        case FrameFormat::Nv12:
            return static_cast<uint32_t>(width);
        case FrameFormat::Rgb32:
            return static_cast<uint32_t>(width) * 4u;
        case FrameFormat::None:
            break;
    }
    return 0;
}

uint32_t ImageBytesOf(FrameFormat format, int width, int height) {
    if (height <= 0) {
        return 0;
    }
    const uint32_t rows = format == FrameFormat::Nv12 ? static_cast<uint32_t>(height) * 3u / 2u
                                                      : static_cast<uint32_t>(height);
    return StrideOf(format, width) * rows;
}

HRESULT CreateType(int index, IMFMediaType** type) {
    RETURN_HR_IF_NULL(E_POINTER, type);
    *type = nullptr;
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= kTypeCount);
    const int rate = index % kFrameRateCount;
    const int size = (index / kFrameRateCount) % kFrameSizeTableCount;
    const FrameFormat format = kFormats[index / (kFrameRateCount * kFrameSizeTableCount)];
    const UINT32 width = static_cast<UINT32>(FrameSizeTable[size].width);
    const UINT32 height = static_cast<UINT32>(FrameSizeTable[size].height);

    ComPtr<IMFMediaType> created;
    RETURN_IF_FAILED(media_foundation::CreateMediaType(&created));
    RETURN_IF_FAILED(created->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
    RETURN_IF_FAILED(created->SetGUID(MF_MT_SUBTYPE, SubtypeOf(format)));
    RETURN_IF_FAILED(::MFSetAttributeSize(created.Get(), MF_MT_FRAME_SIZE, width, height));
    RETURN_IF_FAILED(::MFSetAttributeRatio(created.Get(), MF_MT_FRAME_RATE, kFrameRates[rate], 1));
    RETURN_IF_FAILED(::MFSetAttributeRatio(created.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1));
    // Top-down rows: a positive stride.
    RETURN_IF_FAILED(created->SetUINT32(MF_MT_DEFAULT_STRIDE, StrideOf(format, FrameSizeTable[size].width)));
    RETURN_IF_FAILED(created->SetUINT32(MF_MT_SAMPLE_SIZE,
                                        ImageBytesOf(format, FrameSizeTable[size].width, FrameSizeTable[size].height)));
    RETURN_IF_FAILED(created->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE));
    RETURN_IF_FAILED(created->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive));
    RETURN_IF_FAILED(created->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE));
    *type = created.Detach();
    return S_OK;
}

int DefaultTypeIndex() {
    for (int size = 0; size < kFrameSizeTableCount; ++size) {
        if (FrameSizeTable[size].width == 1280 && FrameSizeTable[size].height == 720) {
            // NV12 is the first format and 30 the first rate.
            return size * kFrameRateCount;
        }
    }
    return 0;
}

HRESULT StreamFormatOf(IMFMediaType* type, StreamFormat* format) {
    RETURN_HR_IF_NULL(E_POINTER, type);
    RETURN_HR_IF_NULL(E_POINTER, format);
    GUID major = GUID_NULL;
    GUID subtype = GUID_NULL;
    if (FAILED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) || major != MFMediaType_Video ||
        FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype))) {
        return MF_E_INVALIDMEDIATYPE;
    }
    FrameFormat frameFormat = FrameFormat::None;
    if (subtype == MFVideoFormat_NV12) {
        frameFormat = FrameFormat::Nv12;
    } else if (subtype == MFVideoFormat_RGB32) {
        frameFormat = FrameFormat::Rgb32;
    } else {
        return MF_E_INVALIDMEDIATYPE;
    }
    UINT32 width = 0;
    UINT32 height = 0;
    UINT32 numerator = 0;
    UINT32 denominator = 0;
    if (FAILED(::MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height)) ||
        !frame_ring::IsTableSize(static_cast<int>(width), static_cast<int>(height)) ||
        FAILED(::MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &numerator, &denominator)) || numerator == 0 ||
        denominator == 0) {
        return MF_E_INVALIDMEDIATYPE;
    }
    const int64_t frameTime = static_cast<int64_t>(denominator) * kUnitsPerSecond / static_cast<int64_t>(numerator);
    if (frameTime < kMinFrameTime || frameTime > kMaxFrameTime) {
        return MF_E_INVALIDMEDIATYPE;
    }
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    // The stream writes top-down rows of exactly its own stride: a type
    // that asks for bottom-up rows (a negative stride) or padded ones asks
    // for what it would not get. Without a stride, the type takes the
    // stream's.
    UINT32 stride = 0;
    if (SUCCEEDED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride)) && stride != StrideOf(frameFormat, w)) {
        return MF_E_INVALIDMEDIATYPE;
    }
    *format = {w, h, frameFormat, frameTime, StrideOf(frameFormat, w), ImageBytesOf(frameFormat, w, h)};
    return S_OK;
}

bool SameFormat(const StreamFormat& a, const StreamFormat& b) {
    return a.width == b.width && a.height == b.height && a.format == b.format && a.frameTime == b.frameTime &&
           a.stride == b.stride && a.imageBytes == b.imageBytes;
}

}  // namespace camera_media_types
