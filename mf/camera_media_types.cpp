#include "mf/camera_media_types.h"

#include <mfapi.h>
#include <mferror.h>
#include <wrl/client.h>

#include "ring/frame_ring.h"
#include "settings/frame_time.h"
#include "framework/com_util.h"
#include "mf/media_foundation.h"

using Microsoft::WRL::ComPtr;

namespace camera_media_types {

namespace {

struct SubtypeForm {
    PixelFormat format;
    const GUID* subtype;
};

// Media Foundation's subtype of each offered format. I420 (not IYUV): the
// FOURCC the DirectShow pin offers for the same planes.
const SubtypeForm kSubtypes[] = {
    {PixelFormat::Nv12, &MFVideoFormat_NV12},   {PixelFormat::Yuy2, &MFVideoFormat_YUY2},
    {PixelFormat::I420, &MFVideoFormat_I420},   {PixelFormat::Rgb32, &MFVideoFormat_RGB32},
    {PixelFormat::Rgb24, &MFVideoFormat_RGB24},
};
static_assert(sizeof(kSubtypes) / sizeof(kSubtypes[0]) == kFormatCount, "a subtype for every offered format");

// The stream's own format of a size: rows top-down at LayoutOf's stride.
StreamFormat FormatOf(PixelFormat format, int width, int height, int64_t frameTime) {
    const FrameLayout layout = LayoutOf(format, width, height);
    return {width, height, format, frameTime, static_cast<uint32_t>(layout.strides[0]),
            static_cast<uint32_t>(layout.imageBytes)};
}

}  // namespace

const GUID& SubtypeOf(PixelFormat format) {
    for (const SubtypeForm& form : kSubtypes) {
        if (form.format == format) {
            return *form.subtype;
        }
    }
    return GUID_NULL;
}

bool PixelFormatOfSubtype(const GUID& subtype, PixelFormat* format) {
    for (const SubtypeForm& form : kSubtypes) {
        if (IsEqualGUID(*form.subtype, subtype)) {
            *format = form.format;
            return true;
        }
    }
    return false;
}

HRESULT CreateType(int index, IMFMediaType** type) {
    RETURN_HR_IF_NULL(E_POINTER, type);
    *type = nullptr;
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= kTypeCount);
    const int rate = index % kFrameRateCount;
    const int size = (index / kFrameRateCount) % kFrameSizeTableCount;
    const PixelFormat pixelFormat = kFormats[index / (kFrameRateCount * kFrameSizeTableCount)];
    const UINT32 width = static_cast<UINT32>(FrameSizeTable[size].width);
    const UINT32 height = static_cast<UINT32>(FrameSizeTable[size].height);
    const StreamFormat format = FormatOf(pixelFormat, FrameSizeTable[size].width, FrameSizeTable[size].height, 0);

    ComPtr<IMFMediaType> created;
    RETURN_IF_FAILED(media_foundation::CreateMediaType(&created));
    RETURN_IF_FAILED(created->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
    RETURN_IF_FAILED(created->SetGUID(MF_MT_SUBTYPE, SubtypeOf(pixelFormat)));
    RETURN_IF_FAILED(::MFSetAttributeSize(created.Get(), MF_MT_FRAME_SIZE, width, height));
    RETURN_IF_FAILED(::MFSetAttributeRatio(created.Get(), MF_MT_FRAME_RATE, kFrameRates[rate], 1));
    RETURN_IF_FAILED(::MFSetAttributeRatio(created.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1));
    // Top-down rows, RGB's too: a positive stride.
    RETURN_IF_FAILED(created->SetUINT32(MF_MT_DEFAULT_STRIDE, format.stride));
    RETURN_IF_FAILED(created->SetUINT32(MF_MT_SAMPLE_SIZE, format.imageBytes));
    RETURN_IF_FAILED(created->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE));
    RETURN_IF_FAILED(created->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive));
    RETURN_IF_FAILED(created->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE));
    *type = created.Detach();
    return S_OK;
}

int TypeIndexOf(PixelFormat format, int sizeIndex, int rateIndex) {
    if (sizeIndex < 0 || sizeIndex >= kFrameSizeTableCount || rateIndex < 0 || rateIndex >= kFrameRateCount) {
        return -1;
    }
    for (int place = 0; place < kFormatCount; ++place) {
        if (kFormats[place] == format) {
            return (place * kFrameSizeTableCount + sizeIndex) * kFrameRateCount + rateIndex;
        }
    }
    return -1;
}

int DefaultTypeIndex() {
    for (int size = 0; size < kFrameSizeTableCount; ++size) {
        if (FrameSizeTable[size].width == 1280 && FrameSizeTable[size].height == 720) {
            return TypeIndexOf(PixelFormat::Nv12, size, 0);
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
    PixelFormat pixelFormat = PixelFormat::Nv12;
    if (!PixelFormatOfSubtype(subtype, &pixelFormat)) {
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
    const StreamFormat own = FormatOf(pixelFormat, static_cast<int>(width), static_cast<int>(height), frameTime);
    // The stream writes top-down rows of exactly its own stride: a type
    // that asks for bottom-up rows (a negative stride) or padded ones asks
    // for what it would not get. Without a stride, the type takes the
    // stream's.
    UINT32 stride = 0;
    if (SUCCEEDED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride)) && stride != own.stride) {
        return MF_E_INVALIDMEDIATYPE;
    }
    *format = own;
    return S_OK;
}

bool SameFormat(const StreamFormat& a, const StreamFormat& b) {
    return a.width == b.width && a.height == b.height && a.format == b.format && a.frameTime == b.frameTime &&
           a.stride == b.stride && a.imageBytes == b.imageBytes;
}

}  // namespace camera_media_types
