// The frame converter from BGR24 into RGB24, RGB32, NV12, YUY2 and I420:
// exact values of known colours, of a 2 x 2 block and of a pair, where
// each format sites its chroma, the orientation of bottom-up sources and
// targets, the same bytes from every instruction set, padded strides,
// conversion in strips, black, and the arguments it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "picture/frame_converter.h"
#include "picture/frame_target.h"
#include "capture/output_formats.h"
#include "framework/com_util.h"

namespace {

using Instructions = CFrameConverter::Instructions;

constexpr Instructions kEverySet[] = {Instructions::Scalar, Instructions::Sse2, Instructions::Avx2};

struct Bgr {
    BYTE blue;
    BYTE green;
    BYTE red;
};

// A top-down BGR24 picture, rows `stride` bytes apart.
struct Source {
    int width;
    int height;
    size_t stride;
    std::vector<BYTE> bytes;

    Source(int w, int h, size_t padding = 0)
        : width(w), height(h), stride(static_cast<size_t>(w) * 3 + padding), bytes(stride * h, 0xA5) {}

    void Set(int x, int y, Bgr colour) {
        BYTE* p = &bytes[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3];
        p[0] = colour.blue;
        p[1] = colour.green;
        p[2] = colour.red;
    }
    void Fill(Bgr colour) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                Set(x, y, colour);
            }
        }
    }
    void FillRandom(std::mt19937& random) {
        for (BYTE& b : bytes) {
            b = static_cast<BYTE>(random());
        }
    }
    Bgr At(int x, int y) const {
        const BYTE* p = &bytes[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3];
        return {p[0], p[1], p[2]};
    }
    Bgr24Picture Picture() const { return {bytes.data(), static_cast<ptrdiff_t>(stride), width, height}; }
};

// An NV12 picture: both planes in one buffer, as Media Foundation lays
// them out, with their own strides.
struct Nv12 {
    int width;
    int height;
    size_t lumaStride;
    size_t chromaStride;
    std::vector<BYTE> bytes;

    Nv12(int w, int h, size_t lumaPadding = 0, size_t chromaPadding = 0)
        : width(w),
          height(h),
          lumaStride(static_cast<size_t>(w) + lumaPadding),
          chromaStride(static_cast<size_t>(w) + chromaPadding),
          bytes(lumaStride * h + chromaStride * (h / 2), 0xEE) {}

    BYTE* Chroma() { return bytes.data() + lumaStride * height; }
    Nv12Planes Planes() {
        return {bytes.data(), static_cast<ptrdiff_t>(lumaStride), Chroma(), static_cast<ptrdiff_t>(chromaStride)};
    }
    int Y(int x, int y) const { return bytes[static_cast<size_t>(y) * lumaStride + x]; }
    // The U and V of the 2 x 2 block that holds pixel (x, y).
    int U(int x, int y) const { return bytes[lumaStride * height + (y / 2) * chromaStride + (x / 2) * 2]; }
    int V(int x, int y) const { return bytes[lumaStride * height + (y / 2) * chromaStride + (x / 2) * 2 + 1]; }
};

HRESULT Convert(Instructions instructions, const Source& source, Nv12* target) {
    CFrameConverter converter;
    RETURN_IF_FAILED(converter.UseInstructions(instructions));
    return converter.ToNv12(source.Picture(), target->Planes());
}

// RGB32 with rows `padding` bytes longer than needed (left at 0xEE).
HRESULT ConvertRgb32(Instructions instructions, const Source& source, std::vector<BYTE>* target, size_t padding = 0) {
    const size_t stride = static_cast<size_t>(source.width) * 4 + padding;
    target->assign(stride * source.height, 0xEE);
    CFrameConverter converter;
    RETURN_IF_FAILED(converter.UseInstructions(instructions));
    return converter.ToRgb32(source.Picture(), target->data(), static_cast<ptrdiff_t>(stride));
}

// The sets this processor runs; the scalar set and SSE2 always.
std::vector<Instructions> SupportedSets() {
    std::vector<Instructions> sets;
    for (const Instructions instructions : kEverySet) {
        if (CFrameConverter::IsSupported(instructions)) {
            sets.push_back(instructions);
        }
    }
    return sets;
}

constexpr PixelFormat kEveryFormat[] = {PixelFormat::Rgb24, PixelFormat::Rgb32, PixelFormat::Nv12, PixelFormat::Yuy2,
                                        PixelFormat::I420};
constexpr PixelFormat kYuvFormats[] = {PixelFormat::Nv12, PixelFormat::Yuy2, PixelFormat::I420};

constexpr BYTE kUnwritten = 0xEE;

// A frame of any format, its planes one after the other in one buffer
// (filled with kUnwritten first), each plane's rows `padding` bytes longer
// than they need be. Laid out here rather than by LayoutOf, so that the
// converter's idea of each plane's rows is checked against this one.
struct Frame {
    PixelFormat format;
    int width;
    int height;
    size_t padding;
    size_t rowBytes[3] = {};
    size_t rows[3] = {};
    size_t offsets[3] = {};
    std::vector<BYTE> bytes;

    Frame(PixelFormat f, int w, int h, size_t pad = 0) : format(f), width(w), height(h), padding(pad) {
        const size_t wide = static_cast<size_t>(w);
        const size_t high = static_cast<size_t>(h);
        switch (f) {
        case PixelFormat::Rgb24:
            SetPlane(0, wide * 3, high);
            break;
        case PixelFormat::Rgb32:
            SetPlane(0, wide * 4, high);
            break;
        case PixelFormat::Yuy2:
            SetPlane(0, wide * 2, high);
            break;
        case PixelFormat::Nv12:
            SetPlane(0, wide, high);
            SetPlane(1, wide, high / 2);
            break;
        case PixelFormat::I420:
            SetPlane(0, wide, high);
            SetPlane(1, wide / 2, high / 2);
            SetPlane(2, wide / 2, high / 2);
            break;
        }
        bytes.assign(offsets[2] + Stride(2) * rows[2], kUnwritten);
    }

    size_t Stride(int plane) const { return rowBytes[plane] + padding; }
    size_t Index(int plane, size_t x, int y) const { return offsets[plane] + Stride(plane) * static_cast<size_t>(y) + x; }

    FrameTarget Target() {
        FrameTarget target;
        target.format = format;
        target.width = width;
        target.height = height;
        for (int plane = 0; plane < PlaneCountOf(format); ++plane) {
            target.planes[plane] = {bytes.data() + offsets[plane], static_cast<ptrdiff_t>(Stride(plane))};
        }
        return target;
    }

    // Where the YUV formats keep the Y of pixel (x, y), and the U and V
    // that it shares.
    size_t YIndex(int x, int y) const {
        return Index(0, format == PixelFormat::Yuy2 ? static_cast<size_t>(x) * 2 : static_cast<size_t>(x), y);
    }
    size_t UIndex(int x, int y) const { return ChromaIndex(x, y, 0); }
    size_t VIndex(int x, int y) const { return ChromaIndex(x, y, 1); }
    int Y(int x, int y) const { return bytes[YIndex(x, y)]; }
    int U(int x, int y) const { return bytes[UIndex(x, y)]; }
    int V(int x, int y) const { return bytes[VIndex(x, y)]; }

    // Whether every byte past the rows (the padding) is as it was.
    bool PaddingIsUnwritten() const {
        for (int plane = 0; plane < 3; ++plane) {
            for (size_t y = 0; y < rows[plane]; ++y) {
                for (size_t i = rowBytes[plane]; i < Stride(plane); ++i) {
                    if (bytes[offsets[plane] + Stride(plane) * y + i] != kUnwritten) {
                        return false;
                    }
                }
            }
        }
        return true;
    }

private:
    void SetPlane(int plane, size_t planeRowBytes, size_t planeRows) {
        rowBytes[plane] = planeRowBytes;
        rows[plane] = planeRows;
        for (int later = plane + 1; later < 3; ++later) {
            offsets[later] = offsets[plane] + Stride(plane) * planeRows;
        }
    }

    size_t ChromaIndex(int x, int y, int which) const {
        const size_t pair = static_cast<size_t>(x / 2);
        switch (format) {
        case PixelFormat::Yuy2:
            return Index(0, pair * 4 + 1 + 2 * static_cast<size_t>(which), y);
        case PixelFormat::Nv12:
            return Index(1, pair * 2 + static_cast<size_t>(which), y / 2);
        case PixelFormat::I420:
            return Index(1 + which, pair, y / 2);
        case PixelFormat::Rgb24:
        case PixelFormat::Rgb32:
            break;
        }
        ADD_FAILURE() << "no chroma in " << NameOf(format);
        return 0;
    }
};

HRESULT ConvertFrame(Instructions instructions, const Source& source, Frame* target) {
    CFrameConverter converter;
    RETURN_IF_FAILED(converter.UseInstructions(instructions));
    return converter.Convert(source.Picture(), target->Target());
}

// What the converter should make of a source, pixel by pixel from the
// formulas of frame_converter_kernels.h: each Y from its pixel; each U and
// V from the average of the pixels that share it (a horizontal pair for
// YUY2, a 2 x 2 block for NV12 and I420); RGB copied.
Frame Expected(PixelFormat format, const Source& source, size_t padding = 0) {
    namespace formulas = frame_converter_kernels;
    Frame frame(format, source.width, source.height, padding);
    if (format == PixelFormat::Rgb24 || format == PixelFormat::Rgb32) {
        for (int y = 0; y < source.height; ++y) {
            for (int x = 0; x < source.width; ++x) {
                const Bgr pixel = source.At(x, y);
                const size_t at = frame.Index(0, static_cast<size_t>(x) * (format == PixelFormat::Rgb24 ? 3 : 4), y);
                frame.bytes[at] = pixel.blue;
                frame.bytes[at + 1] = pixel.green;
                frame.bytes[at + 2] = pixel.red;
                if (format == PixelFormat::Rgb32) {
                    frame.bytes[at + 3] = 255;
                }
            }
        }
        return frame;
    }
    const int sharingRows = format == PixelFormat::Yuy2 ? 1 : 2;
    for (int y = 0; y < source.height; y += sharingRows) {
        for (int x = 0; x < source.width; x += 2) {
            int blue = 0;
            int green = 0;
            int red = 0;
            for (int row = y; row < y + sharingRows; ++row) {
                for (int column = x; column < x + 2; ++column) {
                    const Bgr pixel = source.At(column, row);
                    frame.bytes[frame.YIndex(column, row)] = formulas::LumaOf(pixel.blue, pixel.green, pixel.red);
                    blue += pixel.blue;
                    green += pixel.green;
                    red += pixel.red;
                }
            }
            if (sharingRows == 1) {
                blue = formulas::AverageOfTwo(blue);
                green = formulas::AverageOfTwo(green);
                red = formulas::AverageOfTwo(red);
            } else {
                blue = formulas::AverageOfFour(blue);
                green = formulas::AverageOfFour(green);
                red = formulas::AverageOfFour(red);
            }
            frame.bytes[frame.UIndex(x, y)] = formulas::BlueDifferenceOf(blue, green, red);
            frame.bytes[frame.VIndex(x, y)] = formulas::RedDifferenceOf(blue, green, red);
        }
    }
    return frame;
}

// Y = ((66 R + 129 G + 25 B + 128) >> 8) + 16, U and V alike, with the
// shift rounding down: red's U is ((-9690 + 128) >> 8) + 128 = -38 + 128.
// A flat colour has the same U and V in every format, whatever pixels
// share them.
constexpr struct {
    const char* name;
    Bgr colour;
    int y;
    int u;
    int v;
} kFlatColours[] = {
    {"black", {0, 0, 0}, 16, 128, 128},  {"white", {255, 255, 255}, 235, 128, 128},
    {"red", {0, 0, 255}, 82, 90, 240},   {"green", {0, 255, 0}, 144, 54, 34},
    {"blue", {255, 0, 0}, 41, 240, 110}, {"mid grey", {128, 128, 128}, 126, 128, 128},
};

// An NV12 picture of a 2 x 2 block repeated: four lumas, one U and one V.
Nv12 RepeatedBlock(int width, int height, const int (&luma)[4], int u, int v) {
    Nv12 picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            picture.bytes[static_cast<size_t>(y) * picture.lumaStride + x] = static_cast<BYTE>(luma[(y % 2) * 2 + x % 2]);
            picture.Chroma()[(y / 2) * picture.chromaStride + x] = static_cast<BYTE>(x % 2 == 0 ? u : v);
        }
    }
    return picture;
}

}  // namespace

TEST(FrameConverterTest, ScalarAndSse2AreAlwaysSupported) {
    EXPECT_TRUE(CFrameConverter::IsSupported(Instructions::Scalar));
    EXPECT_TRUE(CFrameConverter::IsSupported(Instructions::Sse2));
    CFrameConverter converter;
    EXPECT_EQ(CFrameConverter::Best(), converter.CurrentInstructions());
    EXPECT_NE(Instructions::Scalar, converter.CurrentInstructions());
    if (!CFrameConverter::IsSupported(Instructions::Avx2)) {
        EXPECT_EQ(E_NOTIMPL, converter.UseInstructions(Instructions::Avx2));
        EXPECT_EQ(Instructions::Sse2, converter.CurrentInstructions());
    }
}

TEST(FrameConverterTest, FlatColoursGiveTheirExactValues) {
    // Wide enough for whole vector steps and a tail of every set.
    const int width = 70;
    const int height = 4;
    for (const auto& c : kFlatColours) {
        Source source(width, height);
        source.Fill(c.colour);
        const Nv12 expected = RepeatedBlock(width, height, {c.y, c.y, c.y, c.y}, c.u, c.v);
        for (const Instructions instructions : SupportedSets()) {
            Nv12 target(width, height);
            ASSERT_EQ(S_OK, Convert(instructions, source, &target));
            EXPECT_TRUE(expected.bytes == target.bytes) << c.name << " " << CFrameConverter::NameOf(instructions) << ": Y " << target.Y(0, 0)
                                                        << ", U " << target.U(0, 0) << ", V " << target.V(0, 0);
        }
    }
}

TEST(FrameConverterTest, ABlockOfFourColoursAveragesTheirChannels) {
    // R, G, B of the block: top (200, 30, 60), (10, 240, 90); bottom
    // (120, 120, 5), (33, 77, 250). Sums 363, 467, 405, rounded averages
    // 91, 117, 101: U = ((-676) >> 8) + 128 = 125, V = ((-2496) >> 8) + 128
    // = 118. Lumas 89, 148, 108, 88.
    const Bgr block[4] = {{60, 30, 200}, {90, 240, 10}, {5, 120, 120}, {250, 77, 33}};
    // The block over a whole picture, so that every set converts it in its
    // vector steps and in its tail.
    const int width = 98;
    const int height = 4;
    Source source(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            source.Set(x, y, block[(y % 2) * 2 + x % 2]);
        }
    }
    const Nv12 expected = RepeatedBlock(width, height, {89, 148, 108, 88}, 125, 118);
    for (const Instructions instructions : SupportedSets()) {
        Nv12 target(width, height);
        ASSERT_EQ(S_OK, Convert(instructions, source, &target));
        EXPECT_TRUE(expected.bytes == target.bytes) << CFrameConverter::NameOf(instructions) << ": Y " << target.Y(0, 0) << " "
                                                    << target.Y(1, 0) << " " << target.Y(0, 1) << " " << target.Y(1, 1)
                                                    << ", U " << target.U(0, 0) << ", V " << target.V(0, 0);
    }
}

TEST(FrameConverterTest, ABottomUpSourceComesOutTopRowFirst) {
    // Stored as DirectShow stores RGB24: the picture's bottom row first in
    // memory. The picture is red in its top half and blue below; passing
    // the last memory row and a negative stride makes the top the first
    // NV12 row.
    const int width = 36;
    const int height = 6;
    Source memory(width, height);
    for (int row = 0; row < height; ++row) {
        const bool pictureTop = height - 1 - row < height / 2;
        for (int x = 0; x < width; ++x) {
            memory.Set(x, row, pictureTop ? Bgr{0, 0, 255} : Bgr{255, 0, 0});
        }
    }
    const Bgr24Picture bottomUp = {memory.bytes.data() + memory.stride * (height - 1),
                                   -static_cast<ptrdiff_t>(memory.stride), width, height};
    for (const Instructions instructions : SupportedSets()) {
        CFrameConverter converter;
        ASSERT_EQ(S_OK, converter.UseInstructions(instructions));
        Nv12 target(width, height);
        ASSERT_EQ(S_OK, converter.ToNv12(bottomUp, target.Planes()));
        for (int x = 0; x < width; ++x) {
            EXPECT_EQ(82, target.Y(x, 0)) << CFrameConverter::NameOf(instructions);
            EXPECT_EQ(240, target.V(x, 0)) << CFrameConverter::NameOf(instructions);
            EXPECT_EQ(41, target.Y(x, height - 1)) << CFrameConverter::NameOf(instructions);
            EXPECT_EQ(240, target.U(x, height - 1)) << CFrameConverter::NameOf(instructions);
        }
        std::vector<BYTE> rgb32(static_cast<size_t>(width) * 4 * height);
        ASSERT_EQ(S_OK, converter.ToRgb32(bottomUp, rgb32.data(), width * 4));
        EXPECT_EQ(255, rgb32[2]) << "top left is red";
        EXPECT_EQ(0, rgb32[0]);
        EXPECT_EQ(255, rgb32[rgb32.size() - 4]) << "bottom right is blue";
        EXPECT_EQ(0, rgb32[rgb32.size() - 2]);
    }
}

TEST(FrameConverterTest, Rgb32CopiesEveryPixelWithOpaqueAlpha) {
    std::mt19937 random(7);
    for (const int width : {1, 3, 15, 17, 33, 70}) {
        Source source(width, 3);
        source.FillRandom(random);
        std::vector<BYTE> expected;
        for (int y = 0; y < 3; ++y) {
            const BYTE* row = &source.bytes[static_cast<size_t>(y) * source.stride];
            for (int x = 0; x < width; ++x) {
                expected.insert(expected.end(), {row[3 * x], row[3 * x + 1], row[3 * x + 2], 255});
            }
        }
        for (const Instructions instructions : SupportedSets()) {
            std::vector<BYTE> target;
            ASSERT_EQ(S_OK, ConvertRgb32(instructions, source, &target));
            EXPECT_TRUE(expected == target) << CFrameConverter::NameOf(instructions) << " at width " << width;
        }
    }
}

TEST(FrameConverterTest, EverySetGivesTheScalarBytesAtEveryTableSize) {
    std::mt19937 random(2024);
    for (int i = 0; i < kFrameSizeTableCount; ++i) {
        const FrameSize size = FrameSizeTable[i];
        Source source(size.width, size.height);
        source.FillRandom(random);
        Nv12 reference(size.width, size.height);
        ASSERT_EQ(S_OK, Convert(Instructions::Scalar, source, &reference));
        std::vector<BYTE> rgbReference;
        ASSERT_EQ(S_OK, ConvertRgb32(Instructions::Scalar, source, &rgbReference));
        for (const Instructions instructions : SupportedSets()) {
            Nv12 target(size.width, size.height);
            ASSERT_EQ(S_OK, Convert(instructions, source, &target));
            EXPECT_TRUE(reference.bytes == target.bytes)
                << CFrameConverter::NameOf(instructions) << " NV12 at " << size.width << "x" << size.height;
            std::vector<BYTE> rgb;
            ASSERT_EQ(S_OK, ConvertRgb32(instructions, source, &rgb));
            EXPECT_TRUE(rgbReference == rgb) << CFrameConverter::NameOf(instructions) << " RGB32 at " << size.width << "x" << size.height;
        }
    }
}

TEST(FrameConverterTest, EverySetGivesTheScalarBytesAtSmallWidths) {
    // Twice an odd number: below one SSE2 step, between the steps of SSE2
    // and AVX2, and just past whole steps, where the last step overlaps.
    std::mt19937 random(99);
    for (const int width : {2, 6, 10, 14, 18, 22, 30, 34, 38, 46, 50, 62, 66, 98}) {
        for (const int height : {2, 6}) {
            Source source(width, height);
            source.FillRandom(random);
            Nv12 reference(width, height);
            ASSERT_EQ(S_OK, Convert(Instructions::Scalar, source, &reference));
            for (const Instructions instructions : SupportedSets()) {
                Nv12 target(width, height);
                ASSERT_EQ(S_OK, Convert(instructions, source, &target));
                EXPECT_TRUE(reference.bytes == target.bytes) << CFrameConverter::NameOf(instructions) << " at " << width << "x" << height;
            }
        }
    }
}

TEST(FrameConverterTest, PaddedStridesWriteOnlyTheRows) {
    std::mt19937 random(5);
    const int width = 204;
    const int height = 8;
    Source packed(width, height);
    packed.FillRandom(random);
    // The same picture with 7 bytes after each source row.
    Source padded(width, height, 7);
    for (int y = 0; y < height; ++y) {
        std::copy_n(&packed.bytes[y * packed.stride], packed.stride, &padded.bytes[y * padded.stride]);
    }
    // The expected planes: the packed conversion's rows, then the padding
    // as it was.
    Nv12 reference(width, height);
    ASSERT_EQ(S_OK, Convert(Instructions::Scalar, packed, &reference));
    Nv12 expected(width, height, 20, 44);
    for (int y = 0; y < height; ++y) {
        std::copy_n(&reference.bytes[y * reference.lumaStride], width, &expected.bytes[y * expected.lumaStride]);
    }
    for (int y = 0; y < height / 2; ++y) {
        std::copy_n(&reference.Chroma()[y * reference.chromaStride], width, &expected.Chroma()[y * expected.chromaStride]);
    }
    std::vector<BYTE> rgbReference;
    ASSERT_EQ(S_OK, ConvertRgb32(Instructions::Scalar, packed, &rgbReference));
    std::vector<BYTE> rgbExpected(static_cast<size_t>(width * 4 + 12) * height, 0xEE);
    for (int y = 0; y < height; ++y) {
        std::copy_n(&rgbReference[static_cast<size_t>(y) * width * 4], width * 4, &rgbExpected[static_cast<size_t>(y) * (width * 4 + 12)]);
    }
    for (const Instructions instructions : SupportedSets()) {
        Nv12 target(width, height, 20, 44);
        ASSERT_EQ(S_OK, Convert(instructions, padded, &target));
        EXPECT_TRUE(expected.bytes == target.bytes) << CFrameConverter::NameOf(instructions);
        std::vector<BYTE> rgb;
        ASSERT_EQ(S_OK, ConvertRgb32(instructions, padded, &rgb, 12));
        EXPECT_TRUE(rgbExpected == rgb) << CFrameConverter::NameOf(instructions) << " RGB32";
    }
}

TEST(FrameConverterTest, RefusesOddSizesShortStridesAndNullPointers) {
    CFrameConverter converter;
    Source source(64, 64);
    Nv12 target(64, 64);
    const std::vector<BYTE> untouched = target.bytes;
    const Nv12Planes planes = target.Planes();
    const ptrdiff_t sourceStride = static_cast<ptrdiff_t>(source.stride);
    const BYTE* const top = source.bytes.data();

    for (const auto& [width, height] : {std::make_pair(63, 64), std::make_pair(64, 63), std::make_pair(0, 64),
                                        std::make_pair(64, 0), std::make_pair(-2, 64), std::make_pair(64, -2),
                                        std::make_pair(kMaxFrameDimension + 2, 2)}) {
        EXPECT_EQ(E_INVALIDARG, converter.ToNv12({top, sourceStride, width, height}, planes))
            << width << "x" << height;
    }
    EXPECT_EQ(E_INVALIDARG, converter.ToNv12({top, 64 * 3 - 1, 64, 64}, planes));
    EXPECT_EQ(E_INVALIDARG, converter.ToNv12({top, sourceStride, 64, 64}, {planes.luma, 63, planes.chroma, 64}));
    EXPECT_EQ(E_INVALIDARG, converter.ToNv12({top, sourceStride, 64, 64}, {planes.luma, 64, planes.chroma, 63}));
    EXPECT_EQ(E_POINTER, converter.ToNv12({nullptr, sourceStride, 64, 64}, planes));
    EXPECT_EQ(E_POINTER, converter.ToNv12({top, sourceStride, 64, 64}, {nullptr, 64, planes.chroma, 64}));
    EXPECT_EQ(E_POINTER, converter.ToNv12({top, sourceStride, 64, 64}, {planes.luma, 64, nullptr, 64}));
    EXPECT_TRUE(untouched == target.bytes) << "a refused call wrote into the target";

    std::vector<BYTE> rgb(64 * 4 * 64, 0xEE);
    const std::vector<BYTE> rgbUntouched = rgb;
    EXPECT_EQ(E_INVALIDARG, converter.ToRgb32({top, sourceStride, 0, 64}, rgb.data(), 64 * 4));
    EXPECT_EQ(E_INVALIDARG, converter.ToRgb32({top, sourceStride, 64, -1}, rgb.data(), 64 * 4));
    EXPECT_EQ(E_INVALIDARG, converter.ToRgb32({top, sourceStride, 64, 64}, rgb.data(), 64 * 4 - 1));
    EXPECT_EQ(E_POINTER, converter.ToRgb32({nullptr, sourceStride, 64, 64}, rgb.data(), 64 * 4));
    EXPECT_EQ(E_POINTER, converter.ToRgb32({top, sourceStride, 64, 64}, nullptr, 64 * 4));
    EXPECT_TRUE(rgbUntouched == rgb) << "a refused call wrote into the target";
    // An odd size is fine for RGB32.
    EXPECT_EQ(S_OK, converter.ToRgb32({top, sourceStride, 63, 63}, rgb.data(), 64 * 4));
}

TEST(FrameConverterTest, Yuy2AndI420GiveFlatColoursTheirExactValues) {
    const int width = 70;
    const int height = 4;
    for (const auto& c : kFlatColours) {
        Source source(width, height);
        source.Fill(c.colour);
        for (const PixelFormat format : {PixelFormat::Yuy2, PixelFormat::I420}) {
            for (const Instructions instructions : SupportedSets()) {
                Frame target(format, width, height);
                ASSERT_EQ(S_OK, ConvertFrame(instructions, source, &target));
                int wrong = 0;
                for (int y = 0; y < height; ++y) {
                    for (int x = 0; x < width; ++x) {
                        wrong += target.Y(x, y) != c.y || target.U(x, y) != c.u || target.V(x, y) != c.v;
                    }
                }
                EXPECT_EQ(0, wrong) << c.name << " " << NameOf(format) << " " << CFrameConverter::NameOf(instructions)
                                    << ": Y " << target.Y(0, 0) << ", U " << target.U(0, 0) << ", V " << target.V(0, 0);
            }
        }
    }
}

TEST(FrameConverterTest, Yuy2AveragesPairsAndI420AveragesBlocks) {
    // The 2 x 2 block of the NV12 test: R, G, B top (200, 30, 60),
    // (10, 240, 90); bottom (120, 120, 5), (33, 77, 250); lumas 89, 148,
    // 108, 88. I420 shares NV12's U 125 and V 118. YUY2 averages each row's
    // pair alone: top sums 210, 270, 150, averages 105, 135, 75, so
    // U = (27316 >> 8) = 106 and V = (30616 >> 8) = 119; bottom sums 153,
    // 197, 255, averages (rounded up) 77, 99, 128, so U = 36980 >> 8 = 144
    // and V = 29910 >> 8 = 116.
    const Bgr block[4] = {{60, 30, 200}, {90, 240, 10}, {5, 120, 120}, {250, 77, 33}};
    const int lumas[4] = {89, 148, 108, 88};
    const int width = 98;
    const int height = 4;
    Source source(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            source.Set(x, y, block[(y % 2) * 2 + x % 2]);
        }
    }
    for (const Instructions instructions : SupportedSets()) {
        Frame yuy2(PixelFormat::Yuy2, width, height);
        Frame i420(PixelFormat::I420, width, height);
        ASSERT_EQ(S_OK, ConvertFrame(instructions, source, &yuy2));
        ASSERT_EQ(S_OK, ConvertFrame(instructions, source, &i420));
        int wrong = 0;
        for (int y = 0; y < height; ++y) {
            const bool top = y % 2 == 0;
            for (int x = 0; x < width; ++x) {
                const int luma = lumas[(y % 2) * 2 + x % 2];
                wrong += yuy2.Y(x, y) != luma || i420.Y(x, y) != luma;
                wrong += yuy2.U(x, y) != (top ? 106 : 144) || yuy2.V(x, y) != (top ? 119 : 116);
                wrong += i420.U(x, y) != 125 || i420.V(x, y) != 118;
            }
        }
        EXPECT_EQ(0, wrong) << CFrameConverter::NameOf(instructions) << ": YUY2 U " << yuy2.U(0, 0) << " V "
                            << yuy2.V(0, 0) << ", below U " << yuy2.U(0, 1) << " V " << yuy2.V(0, 1) << "; I420 U "
                            << i420.U(0, 0) << " V " << i420.V(0, 0);
    }
}

TEST(FrameConverterTest, OnePixelChangesOnlyTheChromaItShares) {
    // A red pixel on mid grey (Y 126, U and V 128) at even and odd columns
    // and rows, in vector steps and in their tails. Its Y is red's 82.
    // YUY2's pair averages to R 192, G 64, B 64: U 109, V 184, on its own
    // row only. The 2 x 2 block averages to R 160, G 96, B 96: U 119,
    // V 156 for I420 and NV12, on both rows of the block.
    const int width = 70;
    const int height = 6;
    const Bgr grey = {128, 128, 128};
    for (const auto& [redX, redY] : {std::make_pair(0, 0), std::make_pair(1, 0), std::make_pair(0, 1),
                                     std::make_pair(1, 1), std::make_pair(17, 2), std::make_pair(33, 3),
                                     std::make_pair(68, 4), std::make_pair(69, 5)}) {
        Source source(width, height);
        source.Fill(grey);
        source.Set(redX, redY, {0, 0, 255});
        for (const PixelFormat format : kYuvFormats) {
            const bool pairsOnly = format == PixelFormat::Yuy2;
            for (const Instructions instructions : SupportedSets()) {
                Frame target(format, width, height);
                ASSERT_EQ(S_OK, ConvertFrame(instructions, source, &target));
                int wrong = 0;
                for (int y = 0; y < height; ++y) {
                    for (int x = 0; x < width; ++x) {
                        const bool red = x == redX && y == redY;
                        const bool shares = x / 2 == redX / 2 && (pairsOnly ? y == redY : y / 2 == redY / 2);
                        wrong += target.Y(x, y) != (red ? 82 : 126);
                        wrong += target.U(x, y) != (shares ? (pairsOnly ? 109 : 119) : 128);
                        wrong += target.V(x, y) != (shares ? (pairsOnly ? 184 : 156) : 128);
                    }
                }
                EXPECT_EQ(0, wrong) << NameOf(format) << " " << CFrameConverter::NameOf(instructions) << " red at ("
                                    << redX << ", " << redY << "): U " << target.U(redX, redY) << ", V "
                                    << target.V(redX, redY);
            }
        }
    }
}

TEST(FrameConverterTest, GradientsGiveTheFormulasPixelByPixel) {
    // Every channel different in every pixel: a horizontal gradient and a
    // vertical one, against the formulas applied pixel by pixel.
    const int width = 110;
    const int height = 10;
    Source horizontal(width, height);
    Source vertical(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            horizontal.Set(x, y, {static_cast<BYTE>(x * 255 / (width - 1)), static_cast<BYTE>(255 - x * 2),
                                  static_cast<BYTE>((x * 37 + y) % 256)});
            vertical.Set(x, y, {static_cast<BYTE>(y * 255 / (height - 1)), static_cast<BYTE>(x % 3 * 100),
                                static_cast<BYTE>(255 - y * 25)});
        }
    }
    for (const Source* source : {&horizontal, &vertical}) {
        for (const PixelFormat format : kEveryFormat) {
            const Frame expected = Expected(format, *source);
            for (const Instructions instructions : SupportedSets()) {
                Frame target(format, width, height);
                ASSERT_EQ(S_OK, ConvertFrame(instructions, *source, &target));
                EXPECT_TRUE(expected.bytes == target.bytes)
                    << NameOf(format) << " " << CFrameConverter::NameOf(instructions) << " of the "
                    << (source == &horizontal ? "horizontal" : "vertical") << " gradient";
            }
        }
    }
}

TEST(FrameConverterTest, EveryFormatGivesTheFormulasAtSmallWidthsAndPaddedStrides) {
    // Random pictures, below one SSE2 step, between the steps of SSE2 and
    // AVX2, and just past whole steps (where the last step overlaps), into
    // planes whose rows are padded: every set gives the formulas' bytes
    // and leaves the padding alone.
    std::mt19937 random(31);
    for (const int width : {2, 6, 14, 18, 30, 34, 46, 62, 66, 98}) {
        for (const int height : {2, 6}) {
            Source source(width, height, 5);
            source.FillRandom(random);
            for (const PixelFormat format : kEveryFormat) {
                const Frame expected = Expected(format, source, 9);
                for (const Instructions instructions : SupportedSets()) {
                    Frame target(format, width, height, 9);
                    ASSERT_EQ(S_OK, ConvertFrame(instructions, source, &target));
                    EXPECT_TRUE(expected.bytes == target.bytes)
                        << NameOf(format) << " " << CFrameConverter::NameOf(instructions) << " at " << width << "x"
                        << height;
                    EXPECT_TRUE(target.PaddingIsUnwritten()) << NameOf(format);
                }
            }
        }
    }
}

TEST(FrameConverterTest, Yuy2AndI420GiveTheScalarBytesInEverySetAtEveryTableSize) {
    std::mt19937 random(77);
    for (int i = 0; i < kFrameSizeTableCount; ++i) {
        const FrameSize size = FrameSizeTable[i];
        Source source(size.width, size.height);
        source.FillRandom(random);
        for (const PixelFormat format : {PixelFormat::Yuy2, PixelFormat::I420}) {
            Frame reference(format, size.width, size.height);
            ASSERT_EQ(S_OK, ConvertFrame(Instructions::Scalar, source, &reference));
            for (const Instructions instructions : SupportedSets()) {
                Frame target(format, size.width, size.height);
                ASSERT_EQ(S_OK, ConvertFrame(instructions, source, &target));
                EXPECT_TRUE(reference.bytes == target.bytes) << NameOf(format) << " " << CFrameConverter::NameOf(instructions)
                                                             << " at " << size.width << "x" << size.height;
            }
        }
    }
}

TEST(FrameConverterTest, ConvertWritesEachFormatAsItsTargetLiesInMemory) {
    // The blocks media types describe (TargetOf), bottom-up where the
    // format may be: red over blue must come out red on top in each, and
    // RGB24's rows (padded to 4 bytes in memory) copied whole.
    const int width = 38;
    const int height = 6;
    Source source(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            source.Set(x, y, y < height / 2 ? Bgr{0, 0, 255} : Bgr{255, 0, 0});
        }
    }
    source.Set(1, 0, {1, 2, 3});
    CFrameConverter converter;
    for (const PixelFormat format : kEveryFormat) {
        const FrameLayout layout = LayoutOf(format, width, height);
        std::vector<BYTE> block(layout.imageBytes, kUnwritten);
        ASSERT_EQ(S_OK, converter.Convert(source.Picture(), TargetOf(format, width, height, block.data(), true)));
        switch (format) {
        case PixelFormat::Rgb24:
        case PixelFormat::Rgb32: {
            // The last memory row is the picture's top.
            const size_t pixelBytes = format == PixelFormat::Rgb24 ? 3 : 4;
            const BYTE* top = block.data() + static_cast<size_t>(layout.strides[0]) * (height - 1);
            EXPECT_EQ(255, top[2]) << NameOf(format) << ": top left is red";
            EXPECT_EQ(3, top[pixelBytes + 2]) << NameOf(format);
            EXPECT_EQ(1, top[pixelBytes]) << NameOf(format);
            EXPECT_EQ(255, block[0]) << NameOf(format) << ": bottom left is blue";
            if (format == PixelFormat::Rgb24) {
                for (int y = 0; y < height; ++y) {
                    const BYTE* row = block.data() + static_cast<size_t>(layout.strides[0]) * (height - 1 - y);
                    EXPECT_TRUE(std::equal(row, row + width * 3, &source.bytes[source.stride * y])) << "row " << y;
                    EXPECT_EQ(kUnwritten, row[width * 3]) << "the padding of row " << y;
                }
            } else {
                EXPECT_EQ(255, top[3]);
            }
            break;
        }
        case PixelFormat::Nv12:
        case PixelFormat::Yuy2:
        case PixelFormat::I420: {
            Frame frame(format, width, height);
            ASSERT_EQ(frame.bytes.size(), block.size()) << NameOf(format);
            frame.bytes = block;
            EXPECT_EQ(82, frame.Y(0, 0)) << NameOf(format) << ": top left is red";
            EXPECT_EQ(240, frame.V(width - 1, 0)) << NameOf(format);
            EXPECT_EQ(41, frame.Y(width - 1, height - 1)) << NameOf(format) << ": bottom right is blue";
            EXPECT_EQ(240, frame.U(0, height - 1)) << NameOf(format);
            break;
        }
        }
    }
}

TEST(FrameConverterTest, StripsMakeTheWholeFrameAndTouchNoOtherRow) {
    std::mt19937 random(12);
    const int width = 70;
    const int height = 16;
    Source source(width, height);
    source.FillRandom(random);
    CFrameConverter converter;
    for (const PixelFormat format : kEveryFormat) {
        Frame whole(format, width, height, 3);
        ASSERT_EQ(S_OK, converter.Convert(source.Picture(), whole.Target()));
        // Three strips of uneven heights, last first.
        Frame strips(format, width, height, 3);
        ASSERT_EQ(S_OK, converter.ConvertRows(source.Picture(), strips.Target(), 10, 6));
        ASSERT_EQ(S_OK, converter.ConvertRows(source.Picture(), strips.Target(), 0, 4));
        // Rows 4..9 not yet converted: still as they were, and the
        // others already the whole frame's.
        Frame expectedSoFar = whole;
        for (int y = 4; y < 10; ++y) {
            for (int plane = 0; plane < PlaneCountOf(format); ++plane) {
                const int planeRow = plane == 0 || format == PixelFormat::Yuy2 ? y : y / 2;
                const size_t first = expectedSoFar.Index(plane, 0, planeRow);
                std::fill_n(expectedSoFar.bytes.begin() + static_cast<ptrdiff_t>(first),
                            expectedSoFar.rowBytes[plane], kUnwritten);
            }
        }
        EXPECT_TRUE(expectedSoFar.bytes == strips.bytes) << NameOf(format) << ": two strips";
        ASSERT_EQ(S_OK, converter.ConvertRows(source.Picture(), strips.Target(), 4, 6));
        EXPECT_TRUE(whole.bytes == strips.bytes) << NameOf(format) << ": three strips";
        EXPECT_EQ(S_OK, converter.ConvertRows(source.Picture(), strips.Target(), 16, 0)) << "an empty strip at the end";
    }
}

TEST(FrameConverterTest, FillBlackIsTheConversionOfBlackInEveryFormat) {
    const int width = 38;
    const int height = 6;
    Source black(width, height);
    black.Fill({0, 0, 0});
    CFrameConverter converter;
    for (const PixelFormat format : kEveryFormat) {
        Frame converted(format, width, height, 7);
        ASSERT_EQ(S_OK, converter.Convert(black.Picture(), converted.Target()));
        Frame filled(format, width, height, 7);
        ASSERT_EQ(S_OK, converter.FillBlack(filled.Target()));
        EXPECT_TRUE(converted.bytes == filled.bytes) << NameOf(format);
        EXPECT_TRUE(filled.PaddingIsUnwritten()) << NameOf(format);
    }
    // And black as each format spells it.
    Frame rgb32(PixelFormat::Rgb32, 2, 1);
    ASSERT_EQ(S_OK, converter.FillBlack(rgb32.Target()));
    EXPECT_EQ((std::vector<BYTE>{0, 0, 0, 255, 0, 0, 0, 255}), rgb32.bytes);
    Frame yuy2(PixelFormat::Yuy2, 2, 2);
    ASSERT_EQ(S_OK, converter.FillBlack(yuy2.Target()));
    EXPECT_EQ((std::vector<BYTE>{16, 128, 16, 128, 16, 128, 16, 128}), yuy2.bytes);
    Frame i420(PixelFormat::I420, 2, 2);
    ASSERT_EQ(S_OK, converter.FillBlack(i420.Target()));
    EXPECT_EQ((std::vector<BYTE>{16, 16, 16, 16, 128, 128}), i420.bytes);
}

TEST(FrameConverterTest, ConvertAndFillBlackRefuseBadArgumentsAndWriteNothing) {
    const int width = 64;
    const int height = 8;
    Source source(width, height);
    const Bgr24Picture picture = source.Picture();
    CFrameConverter converter;
    for (const PixelFormat format : kEveryFormat) {
        Frame frame(format, width, height);
        const std::vector<BYTE> untouched = frame.bytes;
        const FrameTarget good = frame.Target();
        const auto expectRefused = [&](HRESULT expected, const Bgr24Picture& from, const FrameTarget& to,
                                       const char* what) {
            EXPECT_EQ(expected, converter.Convert(from, to)) << NameOf(format) << ": " << what;
            EXPECT_EQ(expected, converter.ConvertRows(from, to, 0, 2)) << NameOf(format) << ": " << what;
        };
        expectRefused(E_POINTER, {nullptr, picture.stride, width, height}, good, "null source");
        expectRefused(E_INVALIDARG, {picture.top, width * 3 - 1, width, height}, good, "short source stride");
        expectRefused(E_INVALIDARG, {picture.top, picture.stride, width - 2, height}, good, "narrower source");
        expectRefused(E_INVALIDARG, {picture.top, picture.stride, width, height + 2}, good, "taller source");
        for (int plane = 0; plane < PlaneCountOf(format); ++plane) {
            FrameTarget bad = good;
            bad.planes[plane].top = nullptr;
            expectRefused(E_INVALIDARG, picture, bad, "null plane");
            EXPECT_EQ(E_INVALIDARG, converter.FillBlack(bad)) << NameOf(format) << ": null plane " << plane;
            bad = good;
            bad.planes[plane].stride = -(bad.planes[plane].stride - 1);
            expectRefused(E_INVALIDARG, picture, bad, "short stride");
            EXPECT_EQ(E_INVALIDARG, converter.FillBlack(bad)) << NameOf(format) << ": short stride " << plane;
        }
        FrameTarget empty = good;
        empty.width = 0;
        expectRefused(E_INVALIDARG, {picture.top, picture.stride, 0, height}, empty, "no width");
        EXPECT_EQ(E_INVALIDARG, converter.FillBlack(empty)) << NameOf(format);
        for (const auto& [first, count] : {std::make_pair(-2, 2), std::make_pair(0, -2), std::make_pair(6, 4),
                                           std::make_pair(height + 2, 0)}) {
            EXPECT_EQ(E_INVALIDARG, converter.ConvertRows(picture, good, first, count))
                << NameOf(format) << ": rows " << first << " + " << count;
        }
        EXPECT_TRUE(untouched == frame.bytes) << NameOf(format) << ": a refused call wrote into the target";
    }
    // Sizes and strips that split the pixels sharing chroma.
    for (const PixelFormat format : kYuvFormats) {
        Frame frame(format, width, height);
        FrameTarget odd = frame.Target();
        odd.height = height - 1;
        EXPECT_EQ(E_INVALIDARG, converter.Convert({picture.top, picture.stride, width, height - 1}, odd)) << NameOf(format);
        EXPECT_EQ(E_INVALIDARG, converter.FillBlack(odd)) << NameOf(format);
        const bool pairsRows = format != PixelFormat::Yuy2;
        EXPECT_EQ(pairsRows ? E_INVALIDARG : S_OK, converter.ConvertRows(picture, frame.Target(), 1, 2)) << NameOf(format);
        EXPECT_EQ(pairsRows ? E_INVALIDARG : S_OK, converter.ConvertRows(picture, frame.Target(), 2, 3)) << NameOf(format);
    }
}
