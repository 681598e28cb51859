#include "tools/capture_client/yuv_frame.h"

#include <dshow.h>

#include <algorithm>
#include <cstring>
#include <cwctype>

namespace qmcapture {

namespace {

constexpr int kMaxSampleDimension = 16384;
constexpr int kBgrBytesPerPixel = 3;
constexpr int kRgb32BytesPerPixel = 4;
constexpr int kYuy2BytesPerPixel = 2;

constexpr DWORD FourCc(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
           (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}

// Everything the client knows of a format, in one row.
struct FormatRow {
    SampleFormat format;
    const wchar_t* name;
    // BI_RGB or the FOURCC, with the bit count a header gives.
    DWORD compression;
    WORD bitCount;
};

constexpr FormatRow kFormatRows[] = {
    {SampleFormat::kRgb24, L"RGB24", BI_RGB, 24},
    {SampleFormat::kNv12, L"NV12", FourCc('N', 'V', '1', '2'), 12},
    {SampleFormat::kYuy2, L"YUY2", FourCc('Y', 'U', 'Y', '2'), 16},
    {SampleFormat::kI420, L"I420", FourCc('I', '4', '2', '0'), 12},
    {SampleFormat::kRgb32, L"RGB32", BI_RGB, 32},
};

const FormatRow& RowOf(SampleFormat format) {
    for (const FormatRow& row : kFormatRows) {
        if (row.format == format) {
            return row;
        }
    }
    return kFormatRows[0];
}

bool IsYuv(SampleFormat format) { return format != SampleFormat::kRgb24 && format != SampleFormat::kRgb32; }

bool TakesSize(SampleFormat format, int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxSampleDimension || height > kMaxSampleDimension) {
        return false;
    }
    return !IsYuv(format) || (width % 2 == 0 && height % 2 == 0);
}

size_t RgbStride(int width, int bytesPerPixel) {
    return (static_cast<size_t>(width) * bytesPerPixel + 3) & ~size_t{3};
}

// The BT.601 inverse in integers, scaled by 256:
//   R = 1.164 (Y - 16) + 1.596 (V - 128)
//   G = 1.164 (Y - 16) - 0.391 (U - 128) - 0.813 (V - 128)
//   B = 1.164 (Y - 16) + 2.018 (U - 128)
constexpr int kLumaScale = 298;
constexpr int kRedFromV = 409;
constexpr int kGreenFromU = 100;
constexpr int kGreenFromV = 208;
constexpr int kBlueFromU = 516;
// Added before the shift and taken off after it, so that only
// non-negative values are shifted (the sums reach about -71000).
constexpr int kShiftBias = 512;

BYTE Clamped(int scaled) {
    const int value = ((scaled + 128 + (kShiftBias << 8)) >> 8) - kShiftBias;
    return static_cast<BYTE>(std::clamp(value, 0, 255));
}

void StoreBgr(BYTE* pixel, int y, int u, int v) {
    const int luma = kLumaScale * (y - 16);
    const int blueDifference = u - 128;
    const int redDifference = v - 128;
    pixel[0] = Clamped(luma + kBlueFromU * blueDifference);
    pixel[1] = Clamped(luma - kGreenFromU * blueDifference - kGreenFromV * redDifference);
    pixel[2] = Clamped(luma + kRedFromV * redDifference);
}

// One top-down row of each format into `out`, `row` counted from the top.
void RgbRow(const SampleLayout& layout, const BYTE* sample, int row, BYTE* out) {
    const int bytesPerPixel = layout.format == SampleFormat::kRgb32 ? kRgb32BytesPerPixel : kBgrBytesPerPixel;
    const int stored = layout.bottomUp ? layout.height - 1 - row : row;
    const BYTE* source = sample + static_cast<size_t>(stored) * RgbStride(layout.width, bytesPerPixel);
    if (bytesPerPixel == kBgrBytesPerPixel) {
        std::memcpy(out, source, static_cast<size_t>(layout.width) * kBgrBytesPerPixel);
        return;
    }
    for (int x = 0; x < layout.width; ++x) {
        std::memcpy(out + x * kBgrBytesPerPixel, source + x * kRgb32BytesPerPixel, kBgrBytesPerPixel);
    }
}

void Nv12Row(const SampleLayout& layout, const BYTE* sample, int row, BYTE* out) {
    const size_t width = static_cast<size_t>(layout.width);
    const BYTE* luma = sample + row * width;
    // U and V interleaved, a pair for every two columns of two rows.
    const BYTE* chroma = sample + width * layout.height + (row / 2) * width;
    for (int x = 0; x < layout.width; ++x) {
        const int pair = x & ~1;
        StoreBgr(out + x * kBgrBytesPerPixel, luma[x], chroma[pair], chroma[pair + 1]);
    }
}

void I420Row(const SampleLayout& layout, const BYTE* sample, int row, BYTE* out) {
    const size_t width = static_cast<size_t>(layout.width);
    const size_t lumaBytes = width * layout.height;
    const size_t chromaWidth = width / 2;
    const BYTE* luma = sample + row * width;
    const BYTE* blue = sample + lumaBytes + (row / 2) * chromaWidth;
    const BYTE* red = sample + lumaBytes + lumaBytes / 4 + (row / 2) * chromaWidth;
    for (int x = 0; x < layout.width; ++x) {
        StoreBgr(out + x * kBgrBytesPerPixel, luma[x], blue[x / 2], red[x / 2]);
    }
}

void Yuy2Row(const SampleLayout& layout, const BYTE* sample, int row, BYTE* out) {
    const BYTE* source = sample + static_cast<size_t>(row) * layout.width * kYuy2BytesPerPixel;
    for (int x = 0; x < layout.width; x += 2) {
        const BYTE* quad = source + x * kYuy2BytesPerPixel;
        StoreBgr(out + x * kBgrBytesPerPixel, quad[0], quad[1], quad[3]);
        StoreBgr(out + (x + 1) * kBgrBytesPerPixel, quad[2], quad[1], quad[3]);
    }
}

}  // namespace

const wchar_t* SampleFormatName(SampleFormat format) { return RowOf(format).name; }

bool ParseSampleFormat(const std::wstring& name, SampleFormat* format) {
    for (const FormatRow& row : kFormatRows) {
        const std::wstring rowName = row.name;
        const bool same = name.size() == rowName.size() &&
                          std::equal(name.begin(), name.end(), rowName.begin(), [](wchar_t a, wchar_t b) {
                              return std::towupper(a) == std::towupper(b);
                          });
        if (same) {
            *format = row.format;
            return true;
        }
    }
    return false;
}

GUID SubtypeOfSampleFormat(SampleFormat format) {
    switch (format) {
    case SampleFormat::kRgb24:
        return MEDIASUBTYPE_RGB24;
    case SampleFormat::kRgb32:
        return MEDIASUBTYPE_RGB32;
    case SampleFormat::kNv12:
    case SampleFormat::kYuy2:
    case SampleFormat::kI420:
        break;
    }
    // The subtypes of four-character codes differ only in their first
    // field, which is the code.
    GUID subtype = MEDIASUBTYPE_YUY2;
    subtype.Data1 = RowOf(format).compression;
    return subtype;
}

bool SampleFormatOfSubtype(const GUID& subtype, SampleFormat* format) {
    for (const FormatRow& row : kFormatRows) {
        if (IsEqualGUID(subtype, SubtypeOfSampleFormat(row.format))) {
            *format = row.format;
            return true;
        }
    }
    return false;
}

bool SampleLayoutFromHeader(const BITMAPINFOHEADER& header, SampleLayout* layout) {
    const int height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    for (const FormatRow& row : kFormatRows) {
        if (header.biCompression != row.compression || header.biBitCount != row.bitCount) {
            continue;
        }
        if (!TakesSize(row.format, header.biWidth, height)) {
            return false;
        }
        layout->format = row.format;
        layout->width = header.biWidth;
        layout->height = height;
        layout->bottomUp = !IsYuv(row.format) && header.biHeight > 0;
        return true;
    }
    return false;
}

size_t SampleBytes(const SampleLayout& layout) {
    if (!TakesSize(layout.format, layout.width, layout.height)) {
        return 0;
    }
    const size_t pixels = static_cast<size_t>(layout.width) * layout.height;
    switch (layout.format) {
    case SampleFormat::kRgb24:
        return RgbStride(layout.width, kBgrBytesPerPixel) * layout.height;
    case SampleFormat::kRgb32:
        return RgbStride(layout.width, kRgb32BytesPerPixel) * layout.height;
    case SampleFormat::kNv12:
    case SampleFormat::kI420:
        return pixels * 3 / 2;
    case SampleFormat::kYuy2:
        return pixels * kYuy2BytesPerPixel;
    }
    return 0;
}

HRESULT ConvertToBgr24(const SampleLayout& layout, const BYTE* sample, size_t sampleBytes, BYTE* target,
                       size_t targetStride, size_t targetBytes) {
    if (sample == nullptr || target == nullptr) {
        return E_POINTER;
    }
    const size_t needed = SampleBytes(layout);
    const size_t rowBytes = static_cast<size_t>(layout.width) * kBgrBytesPerPixel;
    if (needed == 0 || targetStride < rowBytes) {
        return E_INVALIDARG;
    }
    // The last row needs only its pixels, not the whole stride.
    const size_t targetNeeded = targetStride * (layout.height - 1) + rowBytes;
    if (sampleBytes < needed || targetBytes < targetNeeded) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    void (*convertRow)(const SampleLayout&, const BYTE*, int, BYTE*) = RgbRow;
    switch (layout.format) {
    case SampleFormat::kRgb24:
    case SampleFormat::kRgb32:
        break;
    case SampleFormat::kNv12:
        convertRow = Nv12Row;
        break;
    case SampleFormat::kYuy2:
        convertRow = Yuy2Row;
        break;
    case SampleFormat::kI420:
        convertRow = I420Row;
        break;
    }
    for (int row = 0; row < layout.height; ++row) {
        convertRow(layout, sample, row, target + static_cast<size_t>(row) * targetStride);
    }
    return S_OK;
}

}  // namespace qmcapture
