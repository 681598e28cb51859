// PNG output through the real Windows Imaging Component: rows come out top
// first whatever the DIB's row order, padding is skipped, colours are kept.
#include <gtest/gtest.h>

#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <vector>

#include "framework/com_util.h"
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

// The first frame of a PNG file as it is stored: its pixel format and its
// rows of `rowBytes`, top row first.
HRESULT ReadStoredRows(const std::wstring& path, UINT rowBytes, GUID* format, UINT* height,
                       std::vector<BYTE>* rows) {
    Microsoft::WRL::ComPtr<IWICImagingFactory> factory;
    RETURN_IF_FAILED(
        ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory)));
    Microsoft::WRL::ComPtr<IWICBitmapDecoder> decoder;
    RETURN_IF_FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                        WICDecodeMetadataCacheOnDemand, &decoder));
    Microsoft::WRL::ComPtr<IWICBitmapFrameDecode> frame;
    RETURN_IF_FAILED(decoder->GetFrame(0, &frame));
    RETURN_IF_FAILED(frame->GetPixelFormat(format));
    UINT width = 0;
    RETURN_IF_FAILED(frame->GetSize(&width, height));
    rows->assign(static_cast<size_t>(rowBytes) * *height, 0);
    return frame->CopyPixels(nullptr, rowBytes, static_cast<UINT>(rows->size()), rows->data());
}

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

// Any pixel format the encoder takes as it is, a row at a time, top row
// first, stored as given: 32-bit BGRA (the standby tests' pictures) and
// one bit per pixel.
TEST_F(PngFileTest, RowsOfOtherFormatsAreStoredAsGivenTopFirst) {
    struct Case {
        const char* name;
        GUID format;
        UINT bitsPerPixel;
        // Two rows of three pixels each.
        std::vector<BYTE> rows[2];
    };
    const Case cases[] = {
        {"32bppBGRA", GUID_WICPixelFormat32bppBGRA, 32,
         {{10, 20, 30, 255, 11, 20, 31, 128, 12, 20, 32, 0}, {10, 21, 33, 255, 11, 21, 34, 255, 12, 21, 35, 7}}},
        // Bits from the most significant: white, black, white; then the
        // other way round.
        {"BlackWhite", GUID_WICPixelFormatBlackWhite, 1, {{0xA0}, {0x40}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UINT rowBytes = static_cast<UINT>(c.rows[0].size());
        std::vector<UINT> asked;
        ASSERT_EQ(S_OK, WritePngFile(m_path, 3, 2, c.format, rowBytes, [&](UINT y, BYTE* scratch) {
                      asked.push_back(y);
                      std::copy(c.rows[y].begin(), c.rows[y].end(), scratch);
                      return static_cast<const BYTE*>(scratch);
                  }));
        EXPECT_EQ((std::vector<UINT>{0, 1}), asked);
        GUID format = GUID_NULL;
        UINT height = 0;
        std::vector<BYTE> stored;
        ASSERT_EQ(S_OK, ReadStoredRows(m_path, rowBytes, &format, &height, &stored));
        EXPECT_TRUE(IsEqualGUID(c.format, format));
        ASSERT_EQ(2u, height);
        // The pixels' bits, not those that pad a row to whole bytes.
        const UINT pixelBits = 3 * c.bitsPerPixel;
        for (UINT y = 0; y < 2; ++y) {
            for (UINT bit = 0; bit < pixelBits; ++bit) {
                const BYTE mask = static_cast<BYTE>(0x80u >> (bit % 8));
                EXPECT_EQ(c.rows[y][bit / 8] & mask, stored[y * rowBytes + bit / 8] & mask)
                    << "row " << y << " bit " << bit;
            }
        }
    }
}

// Nothing to write, a row that never comes and a format the encoder would
// convert are refused, and no file is left under the name.
TEST_F(PngFileTest, WritePngFileRefusesWhatItCannotWriteAsGiven) {
    const BYTE row[12] = {};
    const PngRowSource rows = [&row](UINT, BYTE*) { return row; };
    const PngRowSource none = [](UINT, BYTE*) { return static_cast<const BYTE*>(nullptr); };
    struct Case {
        const char* name;
        UINT width;
        UINT height;
        GUID format;
        UINT rowBytes;
        const PngRowSource* rows;
        HRESULT expected;
    };
    const Case cases[] = {
        {"no width", 0, 2, GUID_WICPixelFormat24bppBGR, 9, &rows, E_INVALIDARG},
        {"no height", 3, 0, GUID_WICPixelFormat24bppBGR, 9, &rows, E_INVALIDARG},
        {"empty rows", 3, 2, GUID_WICPixelFormat24bppBGR, 0, &rows, E_INVALIDARG},
        {"no row source", 3, 2, GUID_WICPixelFormat24bppBGR, 9, nullptr, E_INVALIDARG},
        {"a row missing", 3, 2, GUID_WICPixelFormat24bppBGR, 9, &none, E_POINTER},
        {"16-bit BGR", 3, 2, GUID_WICPixelFormat16bppBGR565, 6, &rows, WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected,
                  WritePngFile(m_path, c.width, c.height, c.format, c.rowBytes, c.rows ? *c.rows : PngRowSource()))
            << c.name;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(m_path.c_str())) << c.name;
    }
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
