// The sample formats the capture client reads, and its own conversion of
// their samples to top-down BGR24 for PNG files and mean levels: BT.601
// limited range (Y 16..235, U and V 16..240) back to full-range RGB,
// clamped, chroma taken from the nearest sample. It is written apart from
// the device's converter on purpose: the client shows what a host that
// asked for YUV gets, not what the device believes it sent.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace qmcapture {

// In the order QM Capture Device offers them at every size.
enum class SampleFormat {
    kRgb24,
    kNv12,
    kYuy2,
    kI420,
    kRgb32,
};

inline constexpr SampleFormat kSampleFormats[] = {
    SampleFormat::kRgb24, SampleFormat::kNv12, SampleFormat::kYuy2, SampleFormat::kI420, SampleFormat::kRgb32,
};

// "RGB24", "NV12", "YUY2", "I420", "RGB32".
const wchar_t* SampleFormatName(SampleFormat format);
// A name as --format takes it, in any case ("nv12", "NV12").
bool ParseSampleFormat(const std::wstring& name, SampleFormat* format);
// The media subtype: MEDIASUBTYPE_RGB24, _NV12, _YUY2, the FOURCC subtype
// of I420, MEDIASUBTYPE_RGB32.
GUID SubtypeOfSampleFormat(SampleFormat format);
// The format of a subtype; false for one the client cannot read.
bool SampleFormatOfSubtype(const GUID& subtype, SampleFormat* format);

// How one sample lies in memory, as DirectShow's FORMAT_VideoInfo
// describes it: RGB rows padded to 4 bytes, bottom-up unless the height is
// negative; YUV planes top-down and unpadded, the chroma of NV12 and I420
// at half the width and height, YUY2 as Y0 U Y1 V.
struct SampleLayout {
    SampleFormat format = SampleFormat::kRgb24;
    int width = 0;
    int height = 0;
    // RGB only: the first row in memory is the bottom of the picture.
    bool bottomUp = true;
};

// The layout a bitmap header describes: BI_RGB with 24 or 32 bits, or the
// FOURCC of NV12 (12 bits), YUY2 (16) or I420 (12) at an even size. False
// for anything else, `layout` then unchanged.
bool SampleLayoutFromHeader(const BITMAPINFOHEADER& header, SampleLayout* layout);

// Bytes of one sample; 0 for a size the format does not take (not
// positive, above 16384, or odd for a YUV format).
size_t SampleBytes(const SampleLayout& layout);

// Writes the picture of `sample` into `target` as top-down BGR24 rows
// `targetStride` bytes apart. E_POINTER for a null buffer, E_INVALIDARG
// for a size the format does not take or a stride below width * 3,
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) when the sample is shorter
// than SampleBytes or the target shorter than height rows; nothing is
// written then.
[[nodiscard]] HRESULT ConvertToBgr24(const SampleLayout& layout, const BYTE* sample, size_t sampleBytes,
                                     BYTE* target, size_t targetStride, size_t targetBytes);

}  // namespace qmcapture
