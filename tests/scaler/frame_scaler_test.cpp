// The resampler on pictures in memory: exact colours, the area average,
// bilinear enlargement, the grey of a shrunk checkerboard, the row
// addressing of bottom-up targets, framing rectangles and mirroring, and
// the same pictures from every instruction set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "scaler/frame_geometry.h"
#include "scaler/frame_scaler.h"
#include "capture/output_formats.h"
#include "framework/memory_dib.h"

namespace {

struct Picture {
    int width;
    int height;
    std::vector<BYTE> bgrx;  // top-down

    Picture(int w, int h, const std::function<uint32_t(int, int)>& colour)
        : width(w), height(h), bgrx(static_cast<size_t>(w) * h * 4) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const uint32_t c = colour(x, y);
                BYTE* p = &bgrx[(static_cast<size_t>(y) * w + x) * 4];
                p[0] = static_cast<BYTE>(c);
                p[1] = static_cast<BYTE>(c >> 8);
                p[2] = static_cast<BYTE>(c >> 16);
                p[3] = 0;
            }
        }
    }
    int Channel(int x, int y, int c) const { return bgrx[(static_cast<size_t>(y) * width + x) * 4 + c]; }
};

// Scales into a top-down 24-bit picture with rows padded to 4 bytes.
std::vector<BYTE> Scale(const Picture& source, int width, int height) {
    CFrameScaler scaler;
    EXPECT_EQ(S_OK, scaler.Prepare(source.width, source.height, width, height));
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    std::vector<BYTE> target(stride * height, 0xEE);
    scaler.Scale(source.bgrx.data(), source.width * 4, target.data(), static_cast<ptrdiff_t>(stride));
    return target;
}

int At(const std::vector<BYTE>& target, int width, int x, int y, int c) {
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    return target[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3 + c];
}

// The exact area average of one output channel value, in floating point.
double AreaAverage(const Picture& source, int width, int height, int x, int y, int c) {
    const double rx = static_cast<double>(source.width) / width;
    const double ry = static_cast<double>(source.height) / height;
    double sum = 0;
    for (int sy = static_cast<int>(std::floor(y * ry)); sy < source.height && sy < (y + 1) * ry; ++sy) {
        const double wy = std::min((y + 1) * ry, sy + 1.0) - std::max(y * ry, static_cast<double>(sy));
        for (int sx = static_cast<int>(std::floor(x * rx)); sx < source.width && sx < (x + 1) * rx; ++sx) {
            const double wx = std::min((x + 1) * rx, sx + 1.0) - std::max(x * rx, static_cast<double>(sx));
            sum += wx * wy * source.Channel(sx, sy, c);
        }
    }
    return sum / (rx * ry);
}

double MaxErrorAgainstAreaAverage(const Picture& source, int width, int height) {
    const std::vector<BYTE> target = Scale(source, width, height);
    double worst = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                worst = std::max(worst, std::fabs(At(target, width, x, y, c) - AreaAverage(source, width, height, x, y, c)));
            }
        }
    }
    return worst;
}

uint32_t Rgb(int r, int g, int b) {
    return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}

}  // namespace

TEST(FrameScalerTest, WeightsOfEveryPositionSumToOne) {
    for (const auto& [from, to] : {std::make_pair(1280, 1136), std::make_pair(720, 360), std::make_pair(720, 768),
                                   std::make_pair(5, 1136), std::make_pair(1136, 1136), std::make_pair(3, 1)}) {
        const auto axis = CFrameScaler::ComputeAxisWeights(from, to);
        ASSERT_EQ(static_cast<size_t>(to), axis.size());
        for (const auto& taps : axis) {
            int sum = 0;
            for (const auto& tap : taps) {
                EXPECT_GE(tap.index, 0);
                EXPECT_LT(tap.index, from);
                sum += tap.weight;
            }
            EXPECT_EQ(CFrameScaler::kWeightOne, sum) << from << "->" << to;
        }
    }
}

TEST(FrameScalerTest, AFlatColourStaysExactAtAnySize) {
    const Picture source(301, 197, [](int, int) { return Rgb(12, 200, 77); });
    for (const auto& [w, h] : {std::make_pair(204, 360), std::make_pair(1136, 640), std::make_pair(37, 11),
                               std::make_pair(301, 197), std::make_pair(1, 1)}) {
        const std::vector<BYTE> target = Scale(source, w, h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                ASSERT_EQ(77, At(target, w, x, y, 0)) << w << "x" << h << " at " << x << "," << y;
                ASSERT_EQ(200, At(target, w, x, y, 1));
                ASSERT_EQ(12, At(target, w, x, y, 2));
            }
        }
    }
}

TEST(FrameScalerTest, TheSameSizeIsAnExactCopyEvenOfACheckerboard) {
    const Picture source(64, 48, [](int x, int y) { return ((x + y) % 2 == 0) ? 0xFFFFFFu : 0u; });
    const std::vector<BYTE> target = Scale(source, 64, 48);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            ASSERT_EQ(source.Channel(x, y, 1), At(target, 64, x, y, 1)) << x << "," << y;
        }
    }
}

TEST(FrameScalerTest, ShrinkingSmoothPicturesGivesTheAreaAverage) {
    const Picture ramp(1280, 720,
                       [](int x, int y) { return Rgb(x * 255 / 1279, y * 255 / 719, (x + y) * 255 / 1998); });
    const Picture waves(1280, 720, [](int x, int y) {
        return Rgb(static_cast<int>(127.5 + 127.5 * std::sin(x / 23.0) * std::cos(y / 17.0)),
                   static_cast<int>(127.5 + 127.5 * std::sin((x + y) / 41.0)), 90);
    });
    for (int i = 0; i < kFrameSizeTableCount; ++i) {
        const FrameSize size = FrameSizeTable[i];
        if (size.height > 720) {
            continue;  // enlarges vertically
        }
        EXPECT_LE(MaxErrorAgainstAreaAverage(waves, size.width, size.height), 1.5) << size.width;
    }
    EXPECT_LE(MaxErrorAgainstAreaAverage(ramp, 852, 480), 1.5);
}

TEST(FrameScalerTest, StraightLinesAndEdgesKeepTheAreaAverage) {
    const Picture stripes(1280, 720, [](int x, int) { return x % 2 == 0 ? 0xFFFFFFu : 0u; });
    const Picture lines(1280, 720, [](int, int y) { return y % 3 == 0 ? Rgb(0, 0, 0) : Rgb(250, 240, 230); });
    const Picture edges(1280, 720, [](int x, int) { return x < 641 ? Rgb(20, 40, 60) : Rgb(220, 200, 180); });
    for (const Picture* picture : {&stripes, &lines, &edges}) {
        EXPECT_LE(MaxErrorAgainstAreaAverage(*picture, 1136, 640), 1.5);
        EXPECT_LE(MaxErrorAgainstAreaAverage(*picture, 568, 320), 1.5);
    }
}

TEST(FrameScalerTest, UserInterfaceDetailStaysCloseToTheAreaAverage) {
    // A table: hairlines crossing every 24 x 18 pixels over blocks with
    // corners. The correction touches the crossings and corners; the picture
    // as a whole stays above 40 dB against the exact area average.
    const Picture grid(1280, 720, [](int x, int y) {
        if (x % 24 == 0 || y % 18 == 0) {
            return Rgb(0, 0, 0);
        }
        return (x / 64 + y / 64) % 2 == 0 ? Rgb(250, 250, 250) : Rgb(30, 90, 200);
    });
    for (const auto& [w, h] : {std::make_pair(1136, 640), std::make_pair(852, 480), std::make_pair(272, 480)}) {
        const std::vector<BYTE> target = Scale(grid, w, h);
        double squares = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const double d = At(target, w, x, y, c) - AreaAverage(grid, w, h, x, y, c);
                    squares += d * d;
                }
            }
        }
        const double psnr = 10 * std::log10(255.0 * 255.0 / (squares / (3.0 * w * h)));
        EXPECT_GE(psnr, 40.0) << w << "x" << h;
    }
}

TEST(FrameScalerTest, AOnePixelCheckerboardShrinksToEvenGrey) {
    for (const auto& [sw, sh] : {std::make_pair(1280, 720), std::make_pair(1000, 700), std::make_pair(1599, 999),
                                 std::make_pair(640, 480)}) {
        const Picture board(sw, sh, [](int x, int y) { return ((x + y) % 2 == 0) ? 0xFFFFFFu : 0u; });
        for (int i = 0; i < kFrameSizeTableCount; ++i) {
            const FrameSize size = FrameSizeTable[i];
            if (size.width >= sw && size.height >= sh) {
                continue;  // nothing shrinks: the pattern is kept
            }
            const std::vector<BYTE> target = Scale(board, size.width, size.height);
            int low = 255;
            int high = 0;
            for (int y = 0; y < size.height; ++y) {
                for (int x = 0; x < size.width; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        low = std::min(low, At(target, size.width, x, y, c));
                        high = std::max(high, At(target, size.width, x, y, c));
                    }
                }
            }
            EXPECT_GE(low, 126) << sw << "x" << sh << " -> " << size.width << "x" << size.height;
            EXPECT_LE(high, 130) << sw << "x" << sh << " -> " << size.width << "x" << size.height;
        }
    }
}

TEST(FrameScalerTest, EnlargingInterpolatesBilinearly) {
    // 4 pixels to 8: output centres fall at source positions -0.25, 0.25,
    // 0.75, ... so each output mixes its two nearest inputs 3:1 or 1:3.
    const int values[4] = {0, 100, 200, 40};
    const Picture source(4, 1, [&](int x, int) { return Rgb(values[x], values[x], values[x]); });
    const std::vector<BYTE> target = Scale(source, 8, 1);
    const int expected[8] = {0, 25, 75, 125, 175, 160, 80, 40};
    for (int x = 0; x < 8; ++x) {
        EXPECT_NEAR(expected[x], At(target, 8, x, 0, 0), 1) << x;
    }
}

TEST(FrameScalerTest, BottomUpTargetsAreAddressedFromTheirLastRow) {
    const Picture source(8, 4, [](int, int y) { return y < 2 ? Rgb(255, 0, 0) : Rgb(0, 0, 255); });
    CFrameScaler scaler;
    ASSERT_EQ(S_OK, scaler.Prepare(8, 4, 4, 2));
    // 4 pixels of 3 bytes: 12 bytes per row, no padding; memory row 0 is
    // the bottom of the picture.
    std::vector<BYTE> target(24, 0);
    scaler.Scale(source.bgrx.data(), 8 * 4, target.data() + 12, -12);
    EXPECT_EQ(255, target[0]);   // bottom row: blue
    EXPECT_EQ(0, target[2]);
    EXPECT_EQ(0, target[12]);    // top row: red
    EXPECT_EQ(255, target[14]);
}

TEST(FrameScalerTest, PrepareRefusesEmptySizes) {
    CFrameScaler scaler;
    EXPECT_EQ(E_INVALIDARG, scaler.Prepare(0, 10, 10, 10));
    EXPECT_EQ(E_INVALIDARG, scaler.Prepare(10, 10, 10, -1));
    EXPECT_FALSE(scaler.IsPreparedFor(0, 10, 10, 10));
    ASSERT_EQ(S_OK, scaler.Prepare(10, 10, 5, 5));
    EXPECT_TRUE(scaler.IsPreparedFor(10, 10, 5, 5));
}

// ---- Framing -----------------------------------------------------------------

namespace {

// A top-down 24-bit target of a size, every byte kCanary before scaling.
constexpr BYTE kCanary = 0xEE;

struct Target {
    int width;
    int height;
    size_t stride;
    std::vector<BYTE> bytes;

    Target(int w, int h)
        : width(w), height(h), stride(static_cast<size_t>(DibStride(w, 24))), bytes(stride * h, kCanary) {}
    const BYTE* Pixel(int x, int y) const { return &bytes[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3]; }
};

Target ScaleFramed(const Picture& source, int width, int height, const FrameGeometry& geometry,
                   CFrameScaler::Instructions instructions = CFrameScaler::Best(), bool bottomUp = false) {
    CFrameScaler scaler;
    EXPECT_EQ(S_OK, scaler.UseInstructions(instructions));
    EXPECT_EQ(S_OK, scaler.Prepare(source.width, source.height, width, height, geometry));
    Target target(width, height);
    if (bottomUp) {
        scaler.Scale(source.bgrx.data(), source.width * 4, target.bytes.data() + target.stride * (height - 1),
                     -static_cast<ptrdiff_t>(target.stride));
        // Back to top-down rows for the caller.
        Target flipped(width, height);
        for (int y = 0; y < height; ++y) {
            std::copy_n(&target.bytes[target.stride * (height - 1 - y)], target.stride, &flipped.bytes[target.stride * y]);
        }
        return flipped;
    }
    scaler.Scale(source.bgrx.data(), source.width * 4, target.bytes.data(), static_cast<ptrdiff_t>(target.stride));
    return target;
}

Picture Quadrants(int w, int h) {
    return Picture(w, h, [w, h](int x, int y) {
        const bool right = x >= w / 2;
        const bool bottom = y >= h / 2;
        return bottom ? (right ? Rgb(220, 220, 40) : Rgb(30, 30, 200)) : (right ? Rgb(30, 200, 30) : Rgb(200, 30, 30));
    });
}

bool Untouched(const Target& target, int x, int y) {
    const BYTE* p = target.Pixel(x, y);
    return p[0] == kCanary && p[1] == kCanary && p[2] == kCanary;
}

}  // namespace

TEST(FrameScalerTest, OnlyTheTargetRectangleIsWritten) {
    const Picture source = Quadrants(640, 360);
    struct Case {
        int width;
        int height;
        ScaleMode mode;
        bool mirror;
    };
    for (const Case& c : {Case{204, 360, ScaleMode::Fit, false}, Case{204, 360, ScaleMode::Fit, true},
                          Case{1136, 640, ScaleMode::Fit, true}, Case{432, 768, ScaleMode::Fit, false},
                          Case{203, 101, ScaleMode::Fit, true}}) {
        const FrameGeometry geometry = ComputeFrameGeometry(c.mode, c.mirror, 640, 360, c.width, c.height);
        for (const bool bottomUp : {false, true}) {
            const Target target = ScaleFramed(source, c.width, c.height, geometry, CFrameScaler::Best(), bottomUp);
            for (int y = 0; y < c.height; ++y) {
                for (int x = 0; x < c.width; ++x) {
                    const bool inside = x >= geometry.target.left && x < geometry.target.right &&
                                        y >= geometry.target.top && y < geometry.target.bottom;
                    ASSERT_EQ(!inside, Untouched(target, x, y))
                        << c.width << "x" << c.height << " at " << x << "," << y << (bottomUp ? " bottom-up" : "");
                }
                // Row padding is never written either.
                for (size_t k = static_cast<size_t>(c.width) * 3; k < target.stride; ++k) {
                    ASSERT_EQ(kCanary, target.bytes[static_cast<size_t>(y) * target.stride + k]);
                }
            }
        }
    }
}

TEST(FrameScalerTest, ARectangleOfTheSourceFillsARectangleOfTheTarget) {
    // The source's top-right quadrant (green) alone, into the middle of the
    // target: all green, exactly where the rectangle says.
    const Picture source = Quadrants(400, 300);
    const FrameGeometry geometry = {{200, 0, 400, 150}, {10, 20, 110, 95}, false};
    const Target target = ScaleFramed(source, 120, 100, geometry);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 120; ++x) {
            const bool inside = x >= 10 && x < 110 && y >= 20 && y < 95;
            ASSERT_EQ(!inside, Untouched(target, x, y)) << x << "," << y;
            if (inside) {
                const BYTE* p = target.Pixel(x, y);
                ASSERT_EQ(30, p[0]);
                ASSERT_EQ(200, p[1]);
                ASSERT_EQ(30, p[2]);
            }
        }
    }
}

TEST(FrameScalerTest, ARectangleOfTheTargetsOwnSizeIsCopiedExactlyByEverySet) {
    // Neither axis scaled: a plain copy of the source rectangle, mirrored
    // or not, in every instruction set, at widths around the vector loops'
    // steps (the ends of a row are done pixel by pixel), written exactly
    // into its rectangle and nowhere else.
    const Picture source(300, 40, [](int x, int y) { return Rgb((x * 7 + y) % 256, (x * 13) % 256, (x + 5 * y) % 256); });
    for (const CFrameScaler::Instructions set : {CFrameScaler::Instructions::Sse2, CFrameScaler::Instructions::Avx2}) {
        if (!CFrameScaler::IsSupported(set)) {
            continue;
        }
        for (const int width : {1, 3, 4, 7, 8, 9, 10, 11, 17, 33, 259}) {
            for (const bool mirror : {false, true}) {
                const FrameGeometry geometry = {{20, 3, 20 + width, 3 + 30}, {2, 5, 2 + width, 5 + 30}, mirror};
                const Target target = ScaleFramed(source, width + 4, 40, geometry, set);
                for (int y = 0; y < 40; ++y) {
                    for (int x = 0; x < width + 4; ++x) {
                        const bool inside = x >= 2 && x < 2 + width && y >= 5 && y < 35;
                        ASSERT_EQ(!inside, Untouched(target, x, y)) << width << " at " << x << "," << y;
                        if (!inside) {
                            continue;
                        }
                        const int sx = 20 + (mirror ? width - 1 - (x - 2) : x - 2);
                        const int sy = y - 5 + 3;
                        for (int c = 0; c < 3; ++c) {
                            ASSERT_EQ(source.Channel(sx, sy, c), target.Pixel(x, y)[c])
                                << width << (mirror ? " mirrored" : "") << " at " << x << "," << y;
                        }
                    }
                }
            }
        }
    }
}

TEST(FrameScalerTest, MirroringReversesEveryRowExactly) {
    // Detail in every column (and a checkerboard patch for the correction):
    // the mirrored picture is the plain one read backwards, byte for byte,
    // in each horizontal pass (windows, pixel taps, and pixel taps first).
    const Picture source(640, 360, [](int x, int y) {
        if (x > 300 && x < 380 && y > 100 && y < 200) {
            return ((x + y) % 2 == 0) ? 0xFFFFFFu : 0u;
        }
        return Rgb((x * 7 + y) % 256, (x * x / 13 + y * 3) % 256, (x / 3 + y * y / 7) % 256);
    });
    for (const auto& [w, h] : {std::make_pair(568, 320), std::make_pair(204, 360), std::make_pair(432, 768),
                               std::make_pair(201, 111), std::make_pair(700, 400)}) {
        const Target plain = ScaleFramed(source, w, h, ComputeFrameGeometry(ScaleMode::Stretch, false, 640, 360, w, h));
        const Target mirrored =
            ScaleFramed(source, w, h, ComputeFrameGeometry(ScaleMode::Stretch, true, 640, 360, w, h));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                ASSERT_TRUE(std::equal(plain.Pixel(x, y), plain.Pixel(x, y) + 3, mirrored.Pixel(w - 1 - x, y)))
                    << w << "x" << h << " at " << x << "," << y;
            }
        }
    }
}

TEST(FrameScalerTest, TheProcessorsInstructionSetsGiveTheSamePictures) {
    if (!CFrameScaler::IsSupported(CFrameScaler::Instructions::Avx2)) {
        GTEST_SKIP() << "this processor has no AVX2: only the SSE2 loops run here";
    }
    EXPECT_EQ(CFrameScaler::Instructions::Avx2, CFrameScaler::Best());
    // Pictures that exercise the checkerboard correction, the window and
    // pixel passes, both orders, rows of many taps, enlargement and the odd
    // pixels at the ends of rows.
    unsigned seed = 7;
    const Picture noise(701, 433, [&seed](int, int) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xFFFFFFu;
    });
    const Picture board(1280, 720, [](int x, int y) {
        return ((x + y) % 2 == 0) ? 0xFFFFFFu : ((x / 50 + y / 40) % 2 == 0 ? Rgb(40, 90, 160) : 0u);
    });
    const Picture smooth(1281, 719, [](int x, int y) {
        return Rgb(static_cast<int>(127.5 + 127.5 * std::sin(x / 23.0) * std::cos(y / 17.0)),
                   static_cast<int>(127.5 + 127.5 * std::sin((x + y) / 41.0)), (x * y) % 256);
    });
    struct Case {
        int width;
        int height;
        ScaleMode mode;
        bool mirror;
    };
    std::vector<Case> cases;
    for (const FrameSize& size : FrameSizeTable) {
        cases.push_back({size.width, size.height, ScaleMode::Stretch, false});
        cases.push_back({size.width, size.height, ScaleMode::Fit, true});
        cases.push_back({size.width, size.height, ScaleMode::Fill, false});
    }
    // Mirrored stretches at tall shapes take the pixel pass first, with
    // corrected copies of source rows.
    for (const Case& odd : {Case{1, 1, ScaleMode::Stretch, false}, Case{7, 5, ScaleMode::Fill, true},
                            Case{203, 101, ScaleMode::Stretch, true}, Case{1500, 900, ScaleMode::Fit, false},
                            Case{33, 17, ScaleMode::Stretch, false}, Case{640, 48, ScaleMode::Stretch, false},
                            Case{432, 768, ScaleMode::Stretch, true}, Case{130, 600, ScaleMode::Stretch, true}}) {
        cases.push_back(odd);
    }
    for (const Picture* picture : {&noise, &board, &smooth}) {
        for (const Case& c : cases) {
            const FrameGeometry geometry =
                ComputeFrameGeometry(c.mode, c.mirror, picture->width, picture->height, c.width, c.height);
            const Target sse2 = ScaleFramed(*picture, c.width, c.height, geometry, CFrameScaler::Instructions::Sse2);
            const Target avx2 = ScaleFramed(*picture, c.width, c.height, geometry, CFrameScaler::Instructions::Avx2);
            ASSERT_TRUE(sse2.bytes == avx2.bytes)
                << picture->width << "x" << picture->height << " -> " << c.width << "x" << c.height << " mode "
                << static_cast<int>(c.mode) << (c.mirror ? " mirrored" : "");
        }
    }
}

TEST(FrameScalerTest, TheSse2LoopsAlsoShrinkACheckerboardToGrey) {
    const Picture board(1280, 720, [](int x, int y) { return ((x + y) % 2 == 0) ? 0xFFFFFFu : 0u; });
    for (const FrameSize& size : FrameSizeTable) {
        if (size.width >= board.width || size.height >= board.height) {
            continue;  // not a shrink in both directions
        }
        const Target target = ScaleFramed(board, size.width, size.height,
                                          ComputeFrameGeometry(ScaleMode::Stretch, false, 1280, 720, size.width,
                                                               size.height),
                                          CFrameScaler::Instructions::Sse2);
        for (int y = 0; y < size.height; ++y) {
            for (int x = 0; x < size.width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    ASSERT_NEAR(127.5, target.Pixel(x, y)[c], 2.5) << size.width << "x" << size.height;
                }
            }
        }
    }
}

TEST(FrameScalerTest, BadGeometriesAreRefusedAndChangeNothing) {
    CFrameScaler scaler;
    ASSERT_EQ(S_OK, scaler.Prepare(640, 360, 204, 360));
    const FrameGeometry bad[] = {
        {{0, 0, 641, 360}, {0, 0, 204, 360}, false},   // source beyond its picture
        {{10, 0, 10, 360}, {0, 0, 204, 360}, false},   // empty source
        {{0, 0, 640, 360}, {-1, 0, 204, 360}, false},  // target before its picture
        {{0, 0, 640, 360}, {0, 5, 204, 5}, false},     // empty target
        {{0, 0, 640, 360}, {0, 0, 204, 361}, true},    // target beyond its picture
    };
    for (const FrameGeometry& geometry : bad) {
        EXPECT_EQ(E_INVALIDARG, scaler.Prepare(640, 360, 204, 360, geometry));
        EXPECT_TRUE(scaler.IsPreparedFor(640, 360, 204, 360)) << "the previous preparation stays";
    }
    EXPECT_EQ(E_INVALIDARG, scaler.Prepare(640, 360, 0, 360, ComputeFrameGeometry(ScaleMode::Fit, false, 640, 360, 0, 360)));
    EXPECT_TRUE(scaler.IsPreparedFor(640, 360, 204, 360));
}

TEST(FrameScalerTest, AnotherInstructionSetNeedsANewPreparation) {
    CFrameScaler scaler;
    ASSERT_EQ(S_OK, scaler.Prepare(640, 360, 204, 360));
    ASSERT_EQ(S_OK, scaler.UseInstructions(CFrameScaler::Instructions::Sse2));
    EXPECT_EQ(CFrameScaler::Instructions::Sse2, scaler.CurrentInstructions());
    EXPECT_FALSE(scaler.IsPreparedFor(640, 360, 204, 360));
    // Unprepared, Scale writes nothing.
    std::vector<BYTE> source(640 * 360 * 4, 0x55);
    std::vector<BYTE> target(612 * 360, kCanary);
    scaler.Scale(source.data(), 640 * 4, target.data(), 612);
    EXPECT_TRUE(std::all_of(target.begin(), target.end(), [](BYTE b) { return b == kCanary; }));
    const HRESULT avx2 = scaler.UseInstructions(CFrameScaler::Instructions::Avx2);
    EXPECT_EQ(CFrameScaler::IsSupported(CFrameScaler::Instructions::Avx2) ? S_OK : E_NOTIMPL, avx2);
}

// ---- The pictures, bit for bit -------------------------------------------------

namespace {

// FNV-1a, 64 bits.
uint64_t Checksum(const std::vector<BYTE>& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (const BYTE b : bytes) {
        hash = (hash ^ b) * 1099511628211ull;
    }
    return hash;
}

}  // namespace

TEST(FrameScalerTest, ThePicturesStayTheSameBitForBit) {
    // Checksums of whole targets (the canary bytes around the rectangle and
    // the row padding included), recorded by running this test against the
    // scaler of commit f4b3ce9, whose SSE2 and AVX2 loops agreed on every
    // one. Changes to how the scaler is built must keep them; a change
    // meant to alter the pictures records them again, and says why.
    // The cases take every path: the window pass, the pixel pass after the
    // vertical one and before it (with corrected copies of source rows),
    // rows of many taps, enlargement, framing rectangles, mirroring, and
    // rows narrower than a vector.
    unsigned seed = 11;
    const Picture noise(701, 433, [&seed](int, int) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xFFFFFFu;
    });
    const Picture board(1280, 720, [](int x, int y) {
        return ((x + y) % 2 == 0) ? 0xFFFFFFu : ((x / 50 + y / 40) % 2 == 0 ? Rgb(40, 90, 160) : 0u);
    });
    struct Case {
        const Picture* picture;
        int width;
        int height;
        ScaleMode mode;
        bool mirror;
        uint64_t checksum;
    };
    const Case cases[] = {
        {&board, 1136, 640, ScaleMode::Stretch, false, 0xb4924c313be77ee9ull},
        {&board, 852, 480, ScaleMode::Fit, true, 0x52f8774e95ebfd75ull},
        {&board, 568, 320, ScaleMode::Stretch, false, 0xc75b46c0f858b0caull},
        {&board, 432, 768, ScaleMode::Stretch, true, 0xd09b7f9949014374ull},
        {&board, 432, 768, ScaleMode::Fill, false, 0x1d40327e2d99a8baull},
        {&board, 204, 360, ScaleMode::Fit, false, 0xac8491330241074cull},
        {&board, 64, 36, ScaleMode::Stretch, false, 0x259e66fc5d08c4dull},
        {&board, 1500, 900, ScaleMode::Fit, true, 0x3bf2bd830a64d15ull},
        {&board, 7, 5, ScaleMode::Fill, true, 0x139bf7da39c4fb88ull},
        {&noise, 1136, 640, ScaleMode::Fill, false, 0xd877741a1aaa243aull},
        {&noise, 272, 480, ScaleMode::Stretch, true, 0xb5af15aef8ede032ull},
        {&noise, 130, 600, ScaleMode::Stretch, true, 0x48a60cecf309406eull},
        {&noise, 203, 101, ScaleMode::Stretch, false, 0x831d33738b511d3bull},
        {&noise, 640, 48, ScaleMode::Stretch, false, 0x73df2f56ff3cfb85ull},
        {&noise, 5, 3, ScaleMode::Stretch, false, 0xaee9036a07cb55ull},
    };
    for (const CFrameScaler::Instructions instructions :
         {CFrameScaler::Instructions::Sse2, CFrameScaler::Instructions::Avx2}) {
        if (!CFrameScaler::IsSupported(instructions)) {
            continue;
        }
        for (const Case& c : cases) {
            const FrameGeometry geometry =
                ComputeFrameGeometry(c.mode, c.mirror, c.picture->width, c.picture->height, c.width, c.height);
            const Target target = ScaleFramed(*c.picture, c.width, c.height, geometry, instructions);
            const uint64_t checksum = Checksum(target.bytes);
            EXPECT_EQ(c.checksum, checksum)
                << (instructions == CFrameScaler::Instructions::Avx2 ? "AVX2 " : "SSE2 ") << c.picture->width << "x"
                << c.picture->height << " -> " << c.width << "x" << c.height << " mode " << static_cast<int>(c.mode)
                << (c.mirror ? " mirrored" : "") << ": 0x" << std::hex << checksum << "ull";
        }
    }
}

TEST(FrameScalerTest, ScaledInBandsThePictureIsTheSameAsScaledWhole) {
    // Bands of 16 rows (what the picture's strip uses) and of 7 (odd, and
    // smaller than a tile of the correction), over every path: the copy of
    // a rectangle of the target's own size, the passes in both orders with
    // the correction, enlargement, framing and mirroring.
    unsigned seed = 5;
    const Picture noise(701, 433, [&seed](int, int) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xFFFFFFu;
    });
    const Picture board(1280, 720, [](int x, int y) { return ((x + y) % 2 == 0) ? 0xFFFFFFu : Rgb(40, 90, 160); });
    struct Case {
        const Picture* picture;
        int width;
        int height;
        ScaleMode mode;
        bool mirror;
    };
    const Case cases[] = {
        {&board, 1280, 720, ScaleMode::Stretch, true},  {&board, 852, 480, ScaleMode::Fit, true},
        {&board, 432, 768, ScaleMode::Fill, false},     {&board, 1500, 900, ScaleMode::Fit, false},
        {&noise, 272, 480, ScaleMode::Stretch, false},  {&noise, 640, 48, ScaleMode::Stretch, false},
        {&noise, 1136, 640, ScaleMode::Fit, true},
    };
    for (const Case& c : cases) {
        const FrameGeometry geometry =
            ComputeFrameGeometry(c.mode, c.mirror, c.picture->width, c.picture->height, c.width, c.height);
        const Target whole = ScaleFramed(*c.picture, c.width, c.height, geometry);
        for (const int bandRows : {16, 7}) {
            SCOPED_TRACE(testing::Message() << c.picture->width << "x" << c.picture->height << " -> " << c.width
                                            << "x" << c.height << " in bands of " << bandRows);
            CFrameScaler scaler;
            ASSERT_EQ(S_OK, scaler.Prepare(c.picture->width, c.picture->height, c.width, c.height, geometry));
            Target assembled(c.width, c.height);
            std::vector<BYTE> band(assembled.stride * static_cast<size_t>(bandRows));
            // Twice: the second frame starts afresh at row 0.
            for (int frame = 0; frame < 2; ++frame) {
                for (int first = 0; first < c.height; first += bandRows) {
                    const int rows = std::min(bandRows, c.height - first);
                    std::fill(band.begin(), band.end(), kCanary);
                    scaler.ScaleBand(c.picture->bgrx.data(), c.picture->width * 4, band.data(),
                                     static_cast<ptrdiff_t>(assembled.stride), first, rows);
                    std::copy_n(band.data(), assembled.stride * static_cast<size_t>(rows),
                                &assembled.bytes[assembled.stride * static_cast<size_t>(first)]);
                }
                EXPECT_TRUE(whole.bytes == assembled.bytes) << "frame " << frame;
            }
        }
    }
}
