// PNG output through the real Windows Imaging Component: rows come out top
// first whatever the DIB's row order, padding is skipped, colours are kept.
#include <gtest/gtest.h>

#include <vector>

#include "tests/tools/client_process.h"
#include "tests/tools/png_reader.h"
#include "tools/capture_client/png_file.h"

using namespace qmtest;
using namespace qmcapture;

namespace {

// A 3x2 picture whose every pixel is distinct: B = 10 + x, G = 20 + y, R = 30 + x + 3y,
// laid out as `layout` says (row order, bytes per pixel, padding filled with 0xEE).
std::vector<BYTE> MakePicture(const FrameLayout& layout) {
    std::vector<BYTE> data(layout.ImageSize(), 0xEE);
    const int bytesPerPixel = layout.bitsPerPixel / 8;
    for (int y = 0; y < layout.height; ++y) {
        const int stored = layout.bottomUp ? layout.height - 1 - y : y;
        BYTE* row = data.data() + stored * layout.stride;
        for (int x = 0; x < layout.width; ++x) {
            row[x * bytesPerPixel + 0] = static_cast<BYTE>(10 + x);
            row[x * bytesPerPixel + 1] = static_cast<BYTE>(20 + y);
            row[x * bytesPerPixel + 2] = static_cast<BYTE>(30 + x + 3 * y);
            if (bytesPerPixel == 4) {
                row[x * 4 + 3] = 0;
            }
        }
    }
    return data;
}

void ExpectPicture(const DecodedPicture& decoded, int width, int height) {
    ASSERT_EQ(static_cast<UINT>(width), decoded.width);
    ASSERT_EQ(static_cast<UINT>(height), decoded.height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const BYTE* pixel = &decoded.pixels[(y * width + x) * 3];
            EXPECT_EQ(10 + x, pixel[0]) << "x " << x << " y " << y;
            EXPECT_EQ(20 + y, pixel[1]) << "x " << x << " y " << y;
            EXPECT_EQ(30 + x + 3 * y, pixel[2]) << "x " << x << " y " << y;
        }
    }
}

BITMAPINFOHEADER Header(LONG width, LONG height, WORD bitCount, DWORD compression = BI_RGB) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bitCount;
    header.biCompression = compression;
    return header;
}

class PngFileTest : public testing::Test {
protected:
    void TearDown() override { ::DeleteFileW(m_path.c_str()); }
    const std::wstring m_path = ScratchPath(L"frame.png");
};

}  // namespace

TEST_F(PngFileTest, BottomUp24BitRowsComeOutTopFirstWithoutPadding) {
    const BITMAPINFOHEADER header = Header(3, 2, 24);
    FrameLayout layout;
    ASSERT_TRUE(LayoutFromBitmapHeader(header, &layout));
    EXPECT_TRUE(layout.bottomUp);
    EXPECT_EQ(12u, layout.stride);
    const std::vector<BYTE> picture = MakePicture(layout);
    ASSERT_EQ(S_OK, SaveFrameAsPng(m_path, layout, picture.data()));
    DecodedPicture decoded;
    ASSERT_EQ(S_OK, DecodePng(m_path, &decoded));
    ExpectPicture(decoded, 3, 2);
}

TEST_F(PngFileTest, TopDown32BitFrameKeepsItsRowOrder) {
    const BITMAPINFOHEADER header = Header(3, -2, 32);
    FrameLayout layout;
    ASSERT_TRUE(LayoutFromBitmapHeader(header, &layout));
    EXPECT_FALSE(layout.bottomUp);
    const std::vector<BYTE> picture = MakePicture(layout);
    ASSERT_EQ(S_OK, SaveFrameAsPng(m_path, layout, picture.data()));
    DecodedPicture decoded;
    ASSERT_EQ(S_OK, DecodePng(m_path, &decoded));
    ExpectPicture(decoded, 3, 2);
}

TEST_F(PngFileTest, LayoutsOtherThanUncompressedRgbAreRefused) {
    FrameLayout layout;
    const BITMAPINFOHEADER yuy2 = Header(640, 480, 16, MAKEFOURCC('Y', 'U', 'Y', '2'));
    EXPECT_FALSE(LayoutFromBitmapHeader(yuy2, &layout));
    const BITMAPINFOHEADER rgb16 = Header(640, 480, 16);
    EXPECT_FALSE(LayoutFromBitmapHeader(rgb16, &layout));
    const BITMAPINFOHEADER empty = Header(0, 480, 24);
    EXPECT_FALSE(LayoutFromBitmapHeader(empty, &layout));

    const BYTE pixel[4] = {};
    FrameLayout invalid;
    EXPECT_EQ(E_INVALIDARG, SaveFrameAsPng(m_path, invalid, pixel));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(m_path.c_str()));
}

TEST_F(PngFileTest, UnwritablePathFailsAndLeavesNoFile) {
    const BITMAPINFOHEADER header = Header(3, 2, 24);
    FrameLayout layout;
    ASSERT_TRUE(LayoutFromBitmapHeader(header, &layout));
    const std::vector<BYTE> picture = MakePicture(layout);
    const std::wstring path = ScratchPath(L"missing-folder\\frame.png");
    EXPECT_TRUE(FAILED(SaveFrameAsPng(path, layout, picture.data())));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(path.c_str()));
}

TEST(MeanLevelTest, SeparatesBlackFromWhite) {
    const BITMAPINFOHEADER header = Header(5, 3, 24);
    FrameLayout layout;
    ASSERT_TRUE(LayoutFromBitmapHeader(header, &layout));
    // Padding bytes are set to full so that reading them would show.
    std::vector<BYTE> black(layout.ImageSize(), 0xFF);
    for (int y = 0; y < layout.height; ++y) {
        std::fill_n(black.begin() + y * layout.stride, layout.width * 3, BYTE{0});
    }
    EXPECT_EQ(0.0, MeanLevel(layout, black.data()));
    const std::vector<BYTE> white(layout.ImageSize(), 0xFF);
    EXPECT_EQ(255.0, MeanLevel(layout, white.data()));
}
