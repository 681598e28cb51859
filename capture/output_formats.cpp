#include "capture/output_formats.h"

#include <dshow.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "settings/frame_time.h"
#include "framework/com_util.h"
#include "framework/memory_dib.h"

namespace {

constexpr DWORD kRgb555Masks[3] = {0x7C00, 0x03E0, 0x001F};
constexpr DWORD kRgb565Masks[3] = {0xF800, 0x07E0, 0x001F};
constexpr long kBufferAlignment = 4;
// A downstream filter may hold on to the sample it last received (a
// renderer keeps it for repainting); with a single buffer the stream would
// then wait for ever for the next one. At least two, and never more than a
// handful of full frames, whatever the downstream pin asks for.
constexpr long kMinBuffers = 2;
constexpr long kMaxBuffers = 8;
// However many buffers the downstream pin asks for, the samples together
// hold no more than four frames of the largest size (25 MB at 1920x1080),
// so that a 32-bit host has room: fewer buffers for larger frames.
constexpr long long kMaxSampleBytes = 4LL * 1920 * 1080 * 3;

// A rectangle of zeros (the whole frame, by DirectShow's convention) or
// one that is the whole frame.
bool IsWholeFrame(const RECT& rect, const BITMAPINFOHEADER& header) {
    const LONG height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    const bool zeros = rect.left == 0 && rect.top == 0 && rect.right == 0 && rect.bottom == 0;
    const bool whole = rect.left == 0 && rect.top == 0 && rect.right == header.biWidth && rect.bottom == height;
    return zeros || whole;
}

VIDEOINFOHEADER* MutableVideoInfo(AM_MEDIA_TYPE& mt) {
    return const_cast<VIDEOINFOHEADER*>(output_formats::GetVideoInfo(mt));
}

constexpr DWORD FourCc(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
           (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}

// How a format is written in a bitmap header.
struct HeaderForm {
    DWORD compression;
    WORD bitCount;
};

HeaderForm HeaderFormOf(PixelFormat format) {
    switch (format) {
    case PixelFormat::Rgb24:
        return {BI_RGB, 24};
    case PixelFormat::Rgb32:
        return {BI_RGB, 32};
    case PixelFormat::Nv12:
        return {FourCc('N', 'V', '1', '2'), 12};
    case PixelFormat::Yuy2:
        return {FourCc('Y', 'U', 'Y', '2'), 16};
    case PixelFormat::I420:
        return {FourCc('I', '4', '2', '0'), 12};
    }
    return {BI_RGB, 24};
}

// The bytes of a frame of a header's format and size; 0 for a header of
// no offered format or a size the format does not take.
DWORD ImageSizeOf(const BITMAPINFOHEADER& header) {
    const std::optional<PixelFormat> format = output_formats::PixelFormatOfHeader(header);
    if (!format) {
        return 0;
    }
    const LONG height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    return static_cast<DWORD>(LayoutOf(*format, header.biWidth, height).imageBytes);
}

}  // namespace

namespace output_formats {

GUID SubtypeOf(PixelFormat format) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biCompression = HeaderFormOf(format).compression;
    header.biBitCount = HeaderFormOf(format).bitCount;
    return GetBitmapSubtype(&header);
}

std::optional<PixelFormat> PixelFormatOfHeader(const BITMAPINFOHEADER& header) {
    for (const PixelFormat format : kOfferedFormats) {
        const HeaderForm form = HeaderFormOf(format);
        if (header.biCompression == form.compression && header.biBitCount == form.bitCount) {
            return format;
        }
    }
    return std::nullopt;
}

std::optional<PixelFormat> PixelFormatOfType(const AM_MEDIA_TYPE& mt) {
    const VIDEOINFOHEADER* vih = GetVideoInfo(mt);
    if (vih == nullptr) {
        return std::nullopt;
    }
    const std::optional<PixelFormat> format = PixelFormatOfHeader(vih->bmiHeader);
    if (!format || !IsEqualGUID(mt.subtype, SubtypeOf(*format))) {
        return std::nullopt;
    }
    return format;
}

DWORD GetBitmapSize(const BITMAPINFOHEADER* header) {
    const LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    const auto stride = static_cast<DWORD>(DibStride(header->biWidth, header->biBitCount));
    return stride * static_cast<DWORD>(height);
}

GUID GetBitmapSubtype(const BITMAPINFOHEADER* header) {
    if (header->biCompression != BI_RGB && header->biCompression != BI_BITFIELDS) {
        // A four-character code becomes the subtype of the FOURCC family.
        GUID subtype = MEDIASUBTYPE_YUY2;
        subtype.Data1 = header->biCompression;
        return subtype;
    }
    switch (header->biBitCount) {
    case 1:
        return MEDIASUBTYPE_RGB1;
    case 4:
        return MEDIASUBTYPE_RGB4;
    case 8:
        return MEDIASUBTYPE_RGB8;
    case 24:
        return MEDIASUBTYPE_RGB24;
    case 32:
        return MEDIASUBTYPE_RGB32;
    case 16: {
        if (header->biCompression == BI_RGB) {
            return MEDIASUBTYPE_RGB555;
        }
        // The three masks follow the header in a BITMAPINFO.
        const auto* masks = reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(header) + header->biSize);
        if (std::memcmp(masks, kRgb555Masks, sizeof(kRgb555Masks)) == 0) {
            return MEDIASUBTYPE_RGB555;
        }
        if (std::memcmp(masks, kRgb565Masks, sizeof(kRgb565Masks)) == 0) {
            return MEDIASUBTYPE_RGB565;
        }
        return GUID_NULL;
    }
    default:
        return GUID_NULL;
    }
}

HRESULT BuildMediaType(CMediaType* target, REFERENCE_TIME frameTime, int index, PixelFormat format) {
    RETURN_HR_IF_NULL(E_POINTER, target);
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= kFrameSizeTableCount);

    VIDEOINFOHEADER info = {};
    info.AvgTimePerFrame = frameTime;
    BITMAPINFOHEADER& header = info.bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = FrameSizeTable[index].width;
    header.biHeight = FrameSizeTable[index].height;
    header.biPlanes = 1;
    header.biBitCount = HeaderFormOf(format).bitCount;
    header.biCompression = HeaderFormOf(format).compression;
    header.biSizeImage = ImageSizeOf(header);
    RETURN_HR_IF(E_INVALIDARG, header.biSizeImage == 0);

    // An 88-byte block is reused; otherwise a new one replaces the old only
    // once it exists, so a failed allocation leaves the target as it was.
    BYTE* block = target->pbFormat;
    if (target->cbFormat != sizeof(VIDEOINFOHEADER) || block == nullptr) {
        block = static_cast<BYTE*>(::CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
        RETURN_HR_IF_NULL(E_OUTOFMEMORY, block);
        if (target->cbFormat != 0) {
            ::CoTaskMemFree(target->pbFormat);
        }
        target->pbFormat = block;
        target->cbFormat = sizeof(VIDEOINFOHEADER);
    }
    std::memcpy(block, &info, sizeof(info));

    target->SetType(&MEDIATYPE_Video);
    target->SetFormatType(&FORMAT_VideoInfo);
    target->SetTemporalCompression(FALSE);
    const GUID subtype = GetBitmapSubtype(&header);
    target->SetSubtype(&subtype);
    target->SetSampleSize(header.biSizeImage);
    return S_OK;
}

FrameShape ShapeOfType(const AM_MEDIA_TYPE& mt) {
    const VIDEOINFOHEADER* vih = GetVideoInfo(mt);
    const std::optional<PixelFormat> format = PixelFormatOfType(mt);
    if (vih == nullptr || !format) {
        return {};
    }
    return {*format, vih->bmiHeader.biWidth, vih->bmiHeader.biHeight};
}

HRESULT BuildVariant(const CMediaType& current, std::optional<int> sizeIndex, std::optional<PixelFormat> format,
                     REFERENCE_TIME frameTime, CMediaType* target) {
    RETURN_HR_IF_NULL(E_POINTER, target);
    const PixelFormat pixelFormat = format ? *format : PixelFormatOfType(current).value_or(PixelFormat::Rgb24);
    CMediaType type;
    RETURN_IF_FAILED(BuildMediaType(&type, frameTime, sizeIndex.value_or(0), pixelFormat));
    if (!sizeIndex) {
        const VIDEOINFOHEADER* vih = GetVideoInfo(current);
        RETURN_HR_IF(E_INVALIDARG, vih == nullptr);
        RETURN_IF_FAILED(ApplyFrameSize(&type, vih->bmiHeader.biWidth, vih->bmiHeader.biHeight));
    }
    target->Swap(type);
    return S_OK;
}

bool IsSupportedFormat(const VIDEOINFOHEADER* format) {
    if (format == nullptr) {
        return false;
    }
    const BITMAPINFOHEADER& header = format->bmiHeader;
    if (!PixelFormatOfHeader(header)) {
        return false;
    }
    for (const FrameSize& size : FrameSizeTable) {
        if (header.biWidth == size.width && header.biHeight == size.height) {
            return true;
        }
    }
    return false;
}

HRESULT GetMediaType(int position, CMediaType* target, const CMediaType& current, REFERENCE_TIME frameTime) {
    RETURN_HR_IF(E_INVALIDARG, position < 0);
    RETURN_HR_IF(VFW_S_NO_MORE_ITEMS, position >= kOfferCount);
    RETURN_HR_IF_NULL(E_POINTER, target);
    if (position == 0) {
        return target->Set(current);
    }
    return BuildMediaType(target, frameTime, position % kFrameSizeTableCount,
                          kOfferedFormats[position / kFrameSizeTableCount]);
}

HRESULT CheckMediaType(const CMediaType* proposed, const CMediaType& current) {
    RETURN_HR_IF_NULL(E_POINTER, proposed);
    RETURN_HR_IF(E_FAIL, proposed->cbFormat == 0 || proposed->pbFormat == nullptr);
    return *proposed == current ? S_OK : E_FAIL;
}

HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, const CMediaType& current) {
    RETURN_HR_IF_NULL(E_POINTER, allocator);
    RETURN_HR_IF_NULL(E_POINTER, request);
    const VIDEOINFOHEADER* format = GetVideoInfo(current);
    RETURN_HR_IF_NULL(E_UNEXPECTED, format);

    const long long imageSize = std::max<long long>(1, format->bmiHeader.biSizeImage);
    const long mostBuffers =
        static_cast<long>(std::max<long long>(kMinBuffers, std::min<long long>(kMaxBuffers, kMaxSampleBytes / imageSize)));
    request->cBuffers = std::min(std::max(request->cBuffers, kMinBuffers), mostBuffers);
    request->cbBuffer = static_cast<long>(format->bmiHeader.biSizeImage);
    request->cbAlign = kBufferAlignment;
    ALLOCATOR_PROPERTIES actual = {};
    RETURN_IF_FAILED(allocator->SetProperties(request, &actual));
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

HRESULT ApplyFrameSize(CMediaType* target, int width, int height) {
    RETURN_HR_IF_NULL(E_POINTER, target);
    RETURN_HR_IF(E_INVALIDARG, width <= 0 || height <= 0 || width > kMaxFrameDimension ||
                                   height > kMaxFrameDimension);
    VIDEOINFOHEADER* format = MutableVideoInfo(*target);
    RETURN_HR_IF_NULL(E_INVALIDARG, format);
    BITMAPINFOHEADER sized = format->bmiHeader;
    sized.biWidth = width;
    sized.biHeight = height;
    const DWORD imageSize = ImageSizeOf(sized);
    RETURN_HR_IF(E_INVALIDARG, imageSize == 0);
    BITMAPINFOHEADER& header = format->bmiHeader;
    header.biWidth = width;
    header.biHeight = height;
    header.biSizeImage = imageSize;
    target->SetSampleSize(imageSize);
    return S_OK;
}

const VIDEOINFOHEADER* GetVideoInfo(const AM_MEDIA_TYPE& mt) {
    if (!IsEqualGUID(mt.formattype, FORMAT_VideoInfo) || mt.cbFormat < sizeof(VIDEOINFOHEADER) ||
        mt.pbFormat == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

void FillStreamCaps(VIDEO_STREAM_CONFIG_CAPS* caps, const FrameSize& size, PixelFormat format) {
    *caps = VIDEO_STREAM_CONFIG_CAPS{};
    caps->guid = FORMAT_VideoInfo;
    caps->VideoStandard = AnalogVideo_None;
    caps->InputSize = {size.width, size.height};
    caps->MinCroppingSize = caps->InputSize;
    caps->MaxCroppingSize = caps->InputSize;
    caps->CropGranularityX = 1;
    caps->CropGranularityY = 1;
    caps->MinOutputSize = caps->InputSize;
    caps->MaxOutputSize = caps->InputSize;
    caps->OutputGranularityX = 1;
    caps->OutputGranularityY = 1;
    caps->MinFrameInterval = kMinFrameTime;
    caps->MaxFrameInterval = kMaxFrameTime;
    // 1920x1080 at 60 fps is about 3 Gbit/s, more than a LONG holds: the
    // highest rate is reported as the largest LONG instead of wrapping.
    const LONGLONG bitsPerFrame = static_cast<LONGLONG>(size.width) * size.height * HeaderFormOf(format).bitCount;
    const LONGLONG maxBits = bitsPerFrame * (kUnitsPerSecond / kMinFrameTime);
    caps->MinBitsPerSecond = static_cast<LONG>(std::min<LONGLONG>(bitsPerFrame, LONG_MAX));
    caps->MaxBitsPerSecond = static_cast<LONG>(std::min<LONGLONG>(maxBits, LONG_MAX));
}

HRESULT BuildOffer(int index, REFERENCE_TIME frameTime, CMediaType* type, VIDEO_STREAM_CONFIG_CAPS* caps) {
    RETURN_HR_IF_NULL(E_POINTER, type);
    RETURN_HR_IF_NULL(E_POINTER, caps);
    RETURN_HR_IF(E_INVALIDARG, index < 0 || index >= kOfferCount);
    // The offers' order: every size in RGB24 (the indices the pin had
    // before it offered other formats), then in each other format.
    const int sizeIndex = index % kFrameSizeTableCount;
    const PixelFormat format = kOfferedFormats[index / kFrameSizeTableCount];
    CMediaType built;
    RETURN_IF_FAILED(BuildMediaType(&built, frameTime, sizeIndex, format));
    built.bFixedSizeSamples = FALSE;
    FillStreamCaps(caps, FrameSizeTable[sizeIndex], format);
    type->Swap(built);
    return S_OK;
}

HRESULT TypeFromStreamConfig(const AM_MEDIA_TYPE& requested, CMediaType* target) {
    RETURN_HR_IF_NULL(E_POINTER, target);
    RETURN_HR_IF(VFW_E_INVALIDMEDIATYPE, !IsEqualGUID(requested.formattype, FORMAT_VideoInfo));
    const VIDEOINFOHEADER* vih = GetVideoInfo(requested);
    RETURN_HR_IF(VFW_E_INVALIDMEDIATYPE, vih == nullptr || !IsSupportedFormat(vih));
    // Video of the header's format; an unset GUID is taken as that.
    const GUID subtype = SubtypeOf(*PixelFormatOfHeader(vih->bmiHeader));
    RETURN_HR_IF(VFW_E_INVALIDMEDIATYPE,
                 !IsEqualGUID(requested.majortype, MEDIATYPE_Video) && !IsEqualGUID(requested.majortype, GUID_NULL));
    RETURN_HR_IF(VFW_E_INVALIDMEDIATYPE,
                 !IsEqualGUID(requested.subtype, subtype) && !IsEqualGUID(requested.subtype, GUID_NULL));
    // The frames fill the whole buffer: rectangles that name only a part
    // of it (or another place) describe frames the device does not make.
    RETURN_HR_IF(VFW_E_INVALIDMEDIATYPE,
                 !IsWholeFrame(vih->rcSource, vih->bmiHeader) || !IsWholeFrame(vih->rcTarget, vih->bmiHeader));
    HRESULT hr = S_OK;
    CMediaType type(requested, &hr);
    RETURN_IF_FAILED(hr);
    type.SetType(&MEDIATYPE_Video);
    type.SetSubtype(&subtype);
    VIDEOINFOHEADER* const taken = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
    ::SetRectEmpty(&taken->rcSource);
    ::SetRectEmpty(&taken->rcTarget);
    RETURN_IF_FAILED(ApplyFrameSize(&type, vih->bmiHeader.biWidth, vih->bmiHeader.biHeight));
    target->Swap(type);
    return S_OK;
}

}  // namespace output_formats
