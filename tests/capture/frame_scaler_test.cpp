// The resampler on pictures in memory: exact colours, the area average,
// bilinear enlargement, the grey of a shrunk checkerboard, and the row
// addressing of bottom-up targets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "capture/frame_scaler.h"
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
