// Reads a PNG file back through the Windows Imaging Component, for tests
// that check what the capture client wrote.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qmtest {

struct DecodedPicture {
    UINT width = 0;
    UINT height = 0;
    // 24-bit BGR, top row first, no padding.
    std::vector<BYTE> pixels;

    // The pixel at (x, y) from the top left, as RGB().
    COLORREF At(UINT x, UINT y) const;
};

// E_UNEXPECTED when the file is a picture but not a PNG.
HRESULT DecodePng(const std::wstring& path, DecodedPicture* decoded);

}  // namespace qmtest
