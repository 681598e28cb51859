// Writing PNG files through the Windows Imaging Component: any picture a
// row at a time (WritePngFile, which the tests' picture files use as
// well), and an uncompressed RGB frame, a DIB as DirectShow delivers it
// (SaveFrameAsPng).
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

namespace qmcapture {

// Row `y` of a picture, counted from the top: either the source's own
// memory or `scratch` (the row's bytes, which the source may fill),
// returned.
using PngRowSource = std::function<const BYTE*(UINT y, BYTE* scratch)>;

// Writes a width x height PNG file of the WIC pixel format `format`
// (GUID_WICPixelFormat24bppBGR, 32bppBGRA, BlackWhite, ...), each row
// `rowBytes` long, asking `rows` for the rows top row first, so that the
// whole picture is never needed at once. E_INVALIDARG for an empty picture
// or row, or no row source; WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT when the
// PNG encoder does not take the format as it is. On a failure no
// half-written file is left behind under the name.
[[nodiscard]] HRESULT WritePngFile(const std::wstring& path, UINT width, UINT height, const GUID& format,
                                   UINT rowBytes, const PngRowSource& rows);

struct FrameLayout {
    int width = 0;
    int height = 0;
    // 24 (BGR) or 32 (BGRX).
    int bitsPerPixel = 24;
    // Rows from the bottom of the picture up, as in a DIB with a positive height.
    bool bottomUp = true;
    // Bytes per row, padded to 4 bytes.
    size_t stride = 0;

    size_t ImageSize() const { return stride * static_cast<size_t>(height); }
    bool Valid() const;
};

// The layout of an uncompressed DIB with this header; false for anything
// but 24- and 32-bit RGB.
bool LayoutFromBitmapHeader(const BITMAPINFOHEADER& header, FrameLayout* layout);

// `data` holds layout.ImageSize() bytes. The file is 24-bit BGR, written
// top row first. E_POINTER for no data, E_INVALIDARG for a layout that is
// not Valid.
[[nodiscard]] HRESULT SaveFrameAsPng(const std::wstring& path, const FrameLayout& layout, const BYTE* data);

// Average of all colour channels, 0..255: tells a black standby frame
// from a picture at a glance.
double MeanLevel(const FrameLayout& layout, const BYTE* data);

}  // namespace qmcapture
