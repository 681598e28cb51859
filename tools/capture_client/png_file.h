// Writing an uncompressed RGB frame (a DIB as DirectShow delivers it) to a
// PNG file through the Windows Imaging Component.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace qmcapture {

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

// `data` holds layout.ImageSize() bytes. The file is written top row first.
HRESULT SaveFrameAsPng(const std::wstring& path, const FrameLayout& layout, const BYTE* data);

// Average of all colour channels, 0..255: tells a black standby frame
// from a picture at a glance.
double MeanLevel(const FrameLayout& layout, const BYTE* data);

}  // namespace qmcapture
