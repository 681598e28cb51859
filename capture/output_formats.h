// The output formats of the capture pin and the negotiation rules over
// them: every size of the size table in RGB24 (first, in the positions
// and capability indices the pin had when it offered nothing else), then
// in NV12, YUY2, I420 and RGB32. Free functions over CMediaType, named
// like the pin operations they serve: the pin that owns the current media
// type calls them under its own locks.
//
// Layouts are those of DirectShow: RGB rows bottom-up and padded to 4
// bytes (a positive biHeight), YUV planes top-down and unpadded, the
// FOURCC in biCompression and biBitCount 12 (NV12, I420) or 16 (YUY2).
#pragma once

#include <windows.h>
#include <strmif.h>
#include <amvideo.h>

#include <optional>

#include "framework/media_type.h"
#include "picture/frame_target.h"
#include "settings/frame_sizes.h"
#include "settings/settings_values.h"

namespace output_formats {

// The formats in the order the pin offers them: the order of the stored
// "OutputFormat" (settings/settings_values.h), whose place in it names
// the format the pin starts with.
inline constexpr const PixelFormat (&kOfferedFormats)[kOutputFormatCount] = kOutputFormats;
// Every size in every format: offer i is size i % kFrameSizeTableCount in
// format i / kFrameSizeTableCount.
inline constexpr int kOfferCount = kOutputFormatCount * kFrameSizeTableCount;

// The format at a place of kOfferedFormats; RGB24 for a place outside it.
inline PixelFormat OfferedFormat(int outputFormat) {
    return PixelFormatOfOutputFormat(outputFormat);
}
// The place of a format in kOfferedFormats.
using ::OutputFormatOf;
// The media subtype of a format: DirectShow's mapping of subtypes to
// formats, with PixelFormatOfHeader and PixelFormatOfType.
GUID SubtypeOf(PixelFormat format);
// The format a bitmap header describes, when it is one the pin makes:
// BI_RGB with 24 or 32 bits, or the FOURCC of NV12, YUY2 or I420 with its
// bit count.
std::optional<PixelFormat> PixelFormatOfHeader(const BITMAPINFOHEADER& header);
// The format of a FORMAT_VideoInfo type whose subtype agrees with its
// header.
std::optional<PixelFormat> PixelFormatOfType(const AM_MEDIA_TYPE& mt);

// Bytes of a picture for a bitmap header: rows padded to 4 bytes, times
// the absolute height.
DWORD GetBitmapSize(const BITMAPINFOHEADER* header);

// The media subtype for a bitmap header (RGB1..RGB32, RGB555/565, a
// four-character code), GUID_NULL when there is none.
GUID GetBitmapSubtype(const BITMAPINFOHEADER* header);

// The format and size of the frames of a type the pin makes (an empty
// shape, which no frame fits, for any other).
FrameShape ShapeOfType(const AM_MEDIA_TYPE& mt);
// A type like `current` (one the pin makes) with only what is given
// changed: the size of table entry `sizeIndex`, the format `format`; its
// frame time frameTime. E_INVALIDARG for an index outside the table or a
// size the format cannot take (an odd one for the YUV formats); the target
// is written only on success.
[[nodiscard]] HRESULT BuildVariant(const CMediaType& current, std::optional<int> sizeIndex,
                                   std::optional<PixelFormat> format, REFERENCE_TIME frameTime, CMediaType* target);
// Fills target with the FORMAT_VideoInfo type of FrameSizeTable entry
// `index` in `format`, AvgTimePerFrame = frameTime. An index outside the
// table gives E_INVALIDARG and a failed format allocation E_OUTOFMEMORY;
// in both cases the target is left untouched.
[[nodiscard]] HRESULT BuildMediaType(CMediaType* target, REFERENCE_TIME frameTime, int index,
                                     PixelFormat format = PixelFormat::Rgb24);

// True for a header of one of the offered formats whose size is a table
// entry (a positive height: the layouts above).
bool IsSupportedFormat(const VIDEOINFOHEADER* format);

// The pin's offer at a position: 0 is a copy of the current type, 1 to
// kOfferCount - 1 the offers (see kOfferCount) built with frameTime;
// E_INVALIDARG below 0, VFW_S_NO_MORE_ITEMS from kOfferCount on,
// E_POINTER for a null target.
[[nodiscard]] HRESULT GetMediaType(int position, CMediaType* target, const CMediaType& current, REFERENCE_TIME frameTime);

// S_OK only for a type byte-for-byte equal to the current one (GUIDs and
// format block); E_POINTER for null, E_FAIL otherwise.
[[nodiscard]] HRESULT CheckMediaType(const CMediaType* proposed, const CMediaType& current);

// Asks the allocator for buffers of the current image size aligned to 4,
// keeping the requested prefix: at least two, at most eight, and no more
// than four frames of 1920x1080 take together; E_FAIL when it grants less
// than a frame per buffer. The caller holds the filter's state lock.
[[nodiscard]] HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request, const CMediaType& current);

// The type IAMStreamConfig::SetFormat asks for, checked and completed: a
// FORMAT_VideoInfo type of an offered format (GUID_NULL major type and
// subtype are taken as video and the header's format; another subtype
// must agree with the header) of a table entry's size, with its image and
// sample size computed from the header, whatever the caller wrote.
// VFW_E_INVALIDMEDIATYPE for anything else, E_OUTOFMEMORY; the target is
// written only on success.
[[nodiscard]] HRESULT TypeFromStreamConfig(const AM_MEDIA_TYPE& requested, CMediaType* target);

// Writes a width and height into a VideoInfo type and recomputes its image
// size and sample size. E_INVALIDARG for a size outside
// 1..kMaxFrameDimension (or odd, for the YUV formats) or a type without a
// VIDEOINFOHEADER of an offered format; the type is then unchanged.
[[nodiscard]] HRESULT ApplyFrameSize(CMediaType* target, int width, int height);

// IAMStreamConfig's offer at capability index `index` (0 to kOfferCount - 1,
// in the order of kOfferCount): its type (AvgTimePerFrame frameTime,
// samples not of a fixed size) and its capabilities. E_INVALIDARG outside
// the offers, E_OUTOFMEMORY.
[[nodiscard]] HRESULT BuildOffer(int index, REFERENCE_TIME frameTime, CMediaType* type,
                                 VIDEO_STREAM_CONFIG_CAPS* caps);
// The stream configuration capabilities of one entry of the size table in
// a format: the entry's own size everywhere, the frame intervals of the
// frame time range and the bit rates that follow from them.
void FillStreamCaps(VIDEO_STREAM_CONFIG_CAPS* caps, const FrameSize& size,
                    PixelFormat format = PixelFormat::Rgb24);

// The VIDEOINFOHEADER of a type, or null when it has none.
const VIDEOINFOHEADER* GetVideoInfo(const AM_MEDIA_TYPE& mt);

}  // namespace output_formats
