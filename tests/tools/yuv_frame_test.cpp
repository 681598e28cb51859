// The client's own conversion of samples to BGR24: the limited-range
// values the device's formula gives for known colours come back as those
// colours in every YUV format, each chroma sample lands on its own 2 x 2
// block (or pixel pair), RGB rows come the right way up, and sizes or
// buffers that do not fit are refused without a byte written.
#include <gtest/gtest.h>

#include <dshow.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "picture/frame_converter_kernels.h"
#include "tools/capture_client/yuv_frame.h"

using namespace qmcapture;

namespace {

constexpr int kTolerance = 2;
constexpr BYTE kUntouched = 0xA5;

struct Rgb {
    int red;
    int green;
    int blue;
};

struct Yuv {
    int y;
    int u;
    int v;
};

// The device's forward formula, so that the test checks the round trip a
// host sees.
Yuv LimitedRangeOf(const Rgb& colour) {
    namespace k = frame_converter_kernels;
    return {k::LumaOf(colour.blue, colour.green, colour.red), k::BlueDifferenceOf(colour.blue, colour.green, colour.red),
            k::RedDifferenceOf(colour.blue, colour.green, colour.red)};
}

// A sample of `format` whose 2 x 2 blocks (YUY2: pixel pairs of two rows)
// each carry one colour; `colourAt(x, y)` must be constant over them.
template <typename ColourAt>
std::vector<BYTE> MakeYuvSample(SampleFormat format, int width, int height, ColourAt colourAt) {
    const SampleLayout layout{format, width, height, false};
    std::vector<BYTE> sample(SampleBytes(layout));
    const size_t lumaBytes = static_cast<size_t>(width) * height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Yuv yuv = LimitedRangeOf(colourAt(x, y));
            switch (format) {
            case SampleFormat::kNv12:
                sample[y * width + x] = static_cast<BYTE>(yuv.y);
                sample[lumaBytes + (y / 2) * width + (x & ~1)] = static_cast<BYTE>(yuv.u);
                sample[lumaBytes + (y / 2) * width + (x & ~1) + 1] = static_cast<BYTE>(yuv.v);
                break;
            case SampleFormat::kI420:
                sample[y * width + x] = static_cast<BYTE>(yuv.y);
                sample[lumaBytes + (y / 2) * (width / 2) + x / 2] = static_cast<BYTE>(yuv.u);
                sample[lumaBytes + lumaBytes / 4 + (y / 2) * (width / 2) + x / 2] = static_cast<BYTE>(yuv.v);
                break;
            case SampleFormat::kYuy2: {
                BYTE* quad = &sample[(static_cast<size_t>(y) * width + (x & ~1)) * 2];
                quad[(x & 1) * 2] = static_cast<BYTE>(yuv.y);
                quad[1] = static_cast<BYTE>(yuv.u);
                quad[3] = static_cast<BYTE>(yuv.v);
                break;
            }
            case SampleFormat::kRgb24:
            case SampleFormat::kRgb32:
                ADD_FAILURE() << "not a YUV format";
                return sample;
            }
        }
    }
    return sample;
}

std::string Describe(const BYTE* bgr) {
    return "(" + std::to_string(bgr[2]) + ", " + std::to_string(bgr[1]) + ", " + std::to_string(bgr[0]) + ")";
}

bool Near(const BYTE* bgr, const Rgb& expected) {
    return std::abs(bgr[2] - expected.red) <= kTolerance && std::abs(bgr[1] - expected.green) <= kTolerance &&
           std::abs(bgr[0] - expected.blue) <= kTolerance;
}

std::string NameOf(SampleFormat format) {
    std::string name;
    for (const wchar_t* c = SampleFormatName(format); *c != L'\0'; ++c) {
        name += static_cast<char>(*c);
    }
    return name;
}

constexpr SampleFormat kYuvFormats[] = {SampleFormat::kNv12, SampleFormat::kYuy2, SampleFormat::kI420};

}  // namespace

TEST(YuvFrameTest, LimitedRangeValuesOfKnownColoursComeBackAsThoseColours) {
    // The values the device's formula gives, written out: a change of
    // either side of the round trip shows here first.
    const struct {
        Yuv yuv;
        Rgb rgb;
        const char* name;
    } cases[] = {
        {{16, 128, 128}, {0, 0, 0}, "black"},
        {{235, 128, 128}, {255, 255, 255}, "white"},
        {{82, 90, 240}, {255, 0, 0}, "red"},
    };
    for (const auto& c : cases) {
        const Yuv forward = LimitedRangeOf(c.rgb);
        EXPECT_EQ(c.yuv.y, forward.y) << c.name;
        EXPECT_EQ(c.yuv.u, forward.u) << c.name;
        EXPECT_EQ(c.yuv.v, forward.v) << c.name;
    }
    const Rgb colours[] = {{0, 0, 0},     {255, 255, 255}, {255, 0, 0},     {0, 255, 0},
                           {0, 0, 255},   {128, 128, 128}, {255, 255, 0},   {32, 96, 200}};
    for (const SampleFormat format : kYuvFormats) {
        for (const Rgb& colour : colours) {
            SCOPED_TRACE(NameOf(format) + " colour (" + std::to_string(colour.red) + ", " + std::to_string(colour.green) + ", " +
                         std::to_string(colour.blue) + ")");
            const std::vector<BYTE> sample = MakeYuvSample(format, 2, 2, [&](int, int) { return colour; });
            std::vector<BYTE> bgr(2 * 2 * 3, kUntouched);
            ASSERT_EQ(S_OK, ConvertToBgr24({format, 2, 2, false}, sample.data(), sample.size(), bgr.data(), 6,
                                           bgr.size()));
            for (size_t pixel = 0; pixel < 4; ++pixel) {
                EXPECT_TRUE(Near(&bgr[pixel * 3], colour)) << "pixel " << pixel << " is " << Describe(&bgr[pixel * 3]);
            }
        }
    }
}

TEST(YuvFrameTest, ValuesOutsideTheLimitedRangeAreClamped) {
    // Y 255 with the most extreme chroma would leave 0..255 on every
    // channel without the clamp.
    const std::vector<BYTE> brightest = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
    std::vector<BYTE> bgr(12);
    ASSERT_EQ(S_OK, ConvertToBgr24({SampleFormat::kI420, 2, 2, false}, brightest.data(), 6, bgr.data(), 6, 12));
    EXPECT_EQ(255, bgr[0]);
    EXPECT_EQ(255, bgr[2]);
    // Y 0 with neutral chroma lies 16 levels below black.
    const std::vector<BYTE> darkest = {0, 0, 0, 0, 128, 128};
    ASSERT_EQ(S_OK, ConvertToBgr24({SampleFormat::kNv12, 2, 2, false}, darkest.data(), 6, bgr.data(), 6, 12));
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(0, bgr[i]) << "byte " << i;
    }
}

// Four quadrants of 2 x 2 (YUY2: two pairs in each) in four colours whose
// chroma differs in U and V: a chroma sample read from the wrong block,
// the wrong row of blocks, or U and V swapped, turns a quadrant into
// another colour.
TEST(YuvFrameTest, EveryChromaSampleColoursItsOwnBlock) {
    const Rgb quadrants[2][2] = {{{255, 0, 0}, {0, 0, 255}}, {{0, 255, 0}, {255, 255, 0}}};
    const auto colourAt = [&](int x, int y) { return quadrants[y / 2][x / 2]; };
    for (const SampleFormat format : kYuvFormats) {
        SCOPED_TRACE(NameOf(format));
        const std::vector<BYTE> sample = MakeYuvSample(format, 4, 4, colourAt);
        // A stride past the row: the padding stays as it was.
        const size_t stride = 4 * 3 + 4;
        std::vector<BYTE> bgr(stride * 4, kUntouched);
        ASSERT_EQ(S_OK, ConvertToBgr24({format, 4, 4, false}, sample.data(), sample.size(), bgr.data(), stride,
                                       bgr.size()));
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                const BYTE* pixel = &bgr[y * stride + x * 3];
                EXPECT_TRUE(Near(pixel, colourAt(x, y))) << "(" << x << ", " << y << ") is " << Describe(pixel);
            }
            for (size_t pad = 12; pad < stride; ++pad) {
                EXPECT_EQ(kUntouched, bgr[y * stride + pad]) << "row " << y;
            }
        }
    }
}

// RGB24 rows padded to 4 bytes and RGB32 rows, bottom-up as DirectShow
// sends them or top-down for a negative height, come out top row first.
TEST(YuvFrameTest, RgbSamplesComeOutTopRowFirst) {
    // 3 x 2, every pixel's blue byte its top-down index.
    const std::vector<BYTE> rgb24BottomUp = {3, 30, 60, 4, 40, 70, 5, 50, 80, 0, 0, 0,
                                             0, 0, 0,   1, 10, 40, 2, 20, 50, 0, 0, 0};
    const std::vector<BYTE> rgb32TopDown = {0, 0, 0, 255, 1, 10, 40, 255, 2, 20, 50, 255,
                                            3, 30, 60, 255, 4, 40, 70, 255, 5, 50, 80, 255};
    std::vector<BYTE> rgb32BottomUp(rgb32TopDown.begin() + 12, rgb32TopDown.end());
    rgb32BottomUp.insert(rgb32BottomUp.end(), rgb32TopDown.begin(), rgb32TopDown.begin() + 12);
    const std::vector<BYTE> expected = {0, 0, 0, 1, 10, 40, 2, 20, 50, 3, 30, 60, 4, 40, 70, 5, 50, 80};
    const struct {
        SampleLayout layout;
        const std::vector<BYTE>* sample;
    } cases[] = {
        {{SampleFormat::kRgb24, 3, 2, true}, &rgb24BottomUp},
        {{SampleFormat::kRgb32, 3, 2, true}, &rgb32BottomUp},
        {{SampleFormat::kRgb32, 3, 2, false}, &rgb32TopDown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(NameOf(c.layout.format) +
                     (c.layout.bottomUp ? " bottom-up" : " top-down"));
        ASSERT_EQ(c.sample->size(), SampleBytes(c.layout));
        std::vector<BYTE> bgr(expected.size(), kUntouched);
        ASSERT_EQ(S_OK, ConvertToBgr24(c.layout, c.sample->data(), c.sample->size(), bgr.data(), 9, bgr.size()));
        EXPECT_EQ(expected, bgr);
    }
}

TEST(YuvFrameTest, OddSizesAndShortBuffersAreRefusedWithNothingWritten) {
    const std::vector<BYTE> sample(64, 128);
    std::vector<BYTE> bgr(64, kUntouched);
    const std::vector<BYTE> untouched = bgr;
    const HRESULT tooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

    // Chroma shared between pixels needs both sides even.
    const SampleLayout odd[] = {{SampleFormat::kNv12, 3, 2, false}, {SampleFormat::kNv12, 2, 3, false},
                                {SampleFormat::kI420, 3, 2, false}, {SampleFormat::kI420, 2, 1, false},
                                {SampleFormat::kYuy2, 3, 2, false}, {SampleFormat::kYuy2, 2, 3, false},
                                {SampleFormat::kRgb24, 0, 2, true},  {SampleFormat::kRgb32, 2, -2, true}};
    for (const SampleLayout& layout : odd) {
        SCOPED_TRACE(NameOf(layout.format) + " " + std::to_string(layout.width) + "x" +
                     std::to_string(layout.height));
        EXPECT_EQ(0u, SampleBytes(layout));
        EXPECT_EQ(E_INVALIDARG, ConvertToBgr24(layout, sample.data(), sample.size(), bgr.data(), 12, bgr.size()));
    }
    // Odd RGB sizes are fine.
    EXPECT_EQ(12u, SampleBytes({SampleFormat::kRgb24, 3, 1, true}));

    // 4 x 2 NV12 is 12 bytes, its picture 24 bytes of BGR.
    const SampleLayout nv12{SampleFormat::kNv12, 4, 2, false};
    ASSERT_EQ(12u, SampleBytes(nv12));
    EXPECT_EQ(tooSmall, ConvertToBgr24(nv12, sample.data(), 11, bgr.data(), 12, 24));
    EXPECT_EQ(tooSmall, ConvertToBgr24(nv12, sample.data(), 12, bgr.data(), 12, 23));
    EXPECT_EQ(tooSmall, ConvertToBgr24(nv12, sample.data(), 12, bgr.data(), 16, 27));
    EXPECT_EQ(E_INVALIDARG, ConvertToBgr24(nv12, sample.data(), 12, bgr.data(), 11, bgr.size()));
    EXPECT_EQ(E_POINTER, ConvertToBgr24(nv12, nullptr, 12, bgr.data(), 12, bgr.size()));
    EXPECT_EQ(E_POINTER, ConvertToBgr24(nv12, sample.data(), 12, nullptr, 12, bgr.size()));
    EXPECT_EQ(untouched, bgr);
    // The last row needs no padding after it.
    EXPECT_EQ(S_OK, ConvertToBgr24(nv12, sample.data(), 12, bgr.data(), 16, 28));
}

TEST(YuvFrameTest, SampleSizesFollowTheFormats) {
    EXPECT_EQ(1280u * 720 * 3 / 2, SampleBytes({SampleFormat::kNv12, 1280, 720, false}));
    EXPECT_EQ(1280u * 720 * 3 / 2, SampleBytes({SampleFormat::kI420, 1280, 720, false}));
    EXPECT_EQ(1280u * 720 * 2, SampleBytes({SampleFormat::kYuy2, 1280, 720, false}));
    EXPECT_EQ(1280u * 720 * 4, SampleBytes({SampleFormat::kRgb32, 1280, 720, true}));
    // 204 x 3 = 612 bytes a row, already a multiple of 4; 5 x 3 is padded.
    EXPECT_EQ(612u * 360, SampleBytes({SampleFormat::kRgb24, 204, 360, true}));
    EXPECT_EQ(16u * 2, SampleBytes({SampleFormat::kRgb24, 5, 2, true}));
}

TEST(YuvFrameTest, HeadersNamesAndSubtypesDescribeTheFormats) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = 1280;
    header.biHeight = 720;
    header.biCompression = MAKEFOURCC('N', 'V', '1', '2');
    header.biBitCount = 12;
    SampleLayout layout;
    ASSERT_TRUE(SampleLayoutFromHeader(header, &layout));
    EXPECT_EQ(SampleFormat::kNv12, layout.format);
    EXPECT_EQ(1280, layout.width);
    EXPECT_EQ(720, layout.height);
    EXPECT_FALSE(layout.bottomUp);

    header.biCompression = MAKEFOURCC('I', '4', '2', '0');
    ASSERT_TRUE(SampleLayoutFromHeader(header, &layout));
    EXPECT_EQ(SampleFormat::kI420, layout.format);
    header.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
    header.biBitCount = 16;
    ASSERT_TRUE(SampleLayoutFromHeader(header, &layout));
    EXPECT_EQ(SampleFormat::kYuy2, layout.format);
    header.biCompression = BI_RGB;
    header.biBitCount = 32;
    header.biHeight = -720;
    ASSERT_TRUE(SampleLayoutFromHeader(header, &layout));
    EXPECT_EQ(SampleFormat::kRgb32, layout.format);
    EXPECT_FALSE(layout.bottomUp);
    header.biHeight = 720;
    ASSERT_TRUE(SampleLayoutFromHeader(header, &layout));
    EXPECT_TRUE(layout.bottomUp);

    // A code with the wrong bit count, a code the client does not read, an
    // odd YUV size: refused, the layout left as it was.
    const SampleLayout before = layout;
    header.biCompression = MAKEFOURCC('N', 'V', '1', '2');
    header.biBitCount = 16;
    EXPECT_FALSE(SampleLayoutFromHeader(header, &layout));
    header.biCompression = MAKEFOURCC('U', 'Y', 'V', 'Y');
    EXPECT_FALSE(SampleLayoutFromHeader(header, &layout));
    header.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
    header.biWidth = 1279;
    EXPECT_FALSE(SampleLayoutFromHeader(header, &layout));
    EXPECT_EQ(before.format, layout.format);
    EXPECT_TRUE(layout.bottomUp);

    // Names in any case; subtypes both ways, I420 by its own code rather
    // than IYUV's.
    SampleFormat format = SampleFormat::kRgb24;
    for (const SampleFormat each : kSampleFormats) {
        std::wstring lower = SampleFormatName(each);
        for (wchar_t& c : lower) {
            c = static_cast<wchar_t>(towlower(c));
        }
        ASSERT_TRUE(ParseSampleFormat(lower, &format)) << lower.c_str();
        EXPECT_EQ(each, format);
        ASSERT_TRUE(SampleFormatOfSubtype(SubtypeOfSampleFormat(each), &format));
        EXPECT_EQ(each, format);
    }
    EXPECT_FALSE(ParseSampleFormat(L"mjpg", &format));
    EXPECT_FALSE(ParseSampleFormat(L"nv1", &format));
    EXPECT_FALSE(ParseSampleFormat(L"", &format));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_NV12, SubtypeOfSampleFormat(SampleFormat::kNv12)));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_YUY2, SubtypeOfSampleFormat(SampleFormat::kYuy2)));
    EXPECT_EQ(static_cast<unsigned long>(MAKEFOURCC('I', '4', '2', '0')),
              SubtypeOfSampleFormat(SampleFormat::kI420).Data1);
    EXPECT_FALSE(SampleFormatOfSubtype(MEDIASUBTYPE_IYUV, &format));
    EXPECT_FALSE(SampleFormatOfSubtype(MEDIASUBTYPE_MJPG, &format));
}
