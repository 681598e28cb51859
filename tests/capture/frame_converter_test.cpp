// The BGR24 to NV12 and RGB32 converter: exact values of known colours and
// of a 2 x 2 block, the orientation of bottom-up sources, the same bytes
// from every instruction set, padded strides, and the arguments it
// refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "picture/frame_converter.h"
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
    // Y = ((66 R + 129 G + 25 B + 128) >> 8) + 16, U and V alike, with the
    // shift rounding down: red's U is ((-9690 + 128) >> 8) + 128 = -38 + 128.
    const struct {
        const char* name;
        Bgr colour;
        int y;
        int u;
        int v;
    } cases[] = {
        {"black", {0, 0, 0}, 16, 128, 128},  {"white", {255, 255, 255}, 235, 128, 128},
        {"red", {0, 0, 255}, 82, 90, 240},   {"green", {0, 255, 0}, 144, 54, 34},
        {"blue", {255, 0, 0}, 41, 240, 110}, {"mid grey", {128, 128, 128}, 126, 128, 128},
    };
    // Wide enough for whole vector steps and a tail of every set.
    const int width = 70;
    const int height = 4;
    for (const auto& c : cases) {
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
