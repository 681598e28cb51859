// The framing geometry: where stretch, fit and fill put the window, at the
// output sizes and at many others, rounded to whole pixels with equal
// margins.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <tuple>
#include <utility>

#include "scaler/frame_geometry.h"
#include "capture/output_formats.h"

namespace {

long Width(const RECT& r) {
    return r.right - r.left;
}

long Height(const RECT& r) {
    return r.bottom - r.top;
}

bool IsWhole(const RECT& r, int width, int height) {
    return r.left == 0 && r.top == 0 && r.right == width && r.bottom == height;
}

// Within a pixel of the exact length, or (for a fraction of a pixel) one or
// two pixels, as the margins need.
bool CloseTo(long length, double exact) {
    return std::fabs(length - exact) <= 1.0 || (exact < 1.0 && length <= 2);
}

// The properties every geometry of a mode has, for any sizes.
void ExpectWellFormed(ScaleMode mode, int sw, int sh, int tw, int th) {
    SCOPED_TRACE(testing::Message() << sw << "x" << sh << " -> " << tw << "x" << th << " mode "
                                    << static_cast<int>(mode));
    const FrameGeometry g = ComputeFrameGeometry(mode, false, sw, sh, tw, th);
    ASSERT_GE(g.source.left, 0);
    ASSERT_GE(g.source.top, 0);
    ASSERT_LE(g.source.right, sw);
    ASSERT_LE(g.source.bottom, sh);
    ASSERT_GE(g.target.left, 0);
    ASSERT_GE(g.target.top, 0);
    ASSERT_LE(g.target.right, tw);
    ASSERT_LE(g.target.bottom, th);
    ASSERT_GE(Width(g.source), 1);
    ASSERT_GE(Height(g.source), 1);
    ASSERT_GE(Width(g.target), 1);
    ASSERT_GE(Height(g.target), 1);
    // Centred: the margins on both sides of each axis are equal.
    EXPECT_EQ(g.source.left, sw - g.source.right);
    EXPECT_EQ(g.source.top, sh - g.source.bottom);
    EXPECT_EQ(g.target.left, tw - g.target.right);
    EXPECT_EQ(g.target.top, th - g.target.bottom);
    const double sourceAspect = static_cast<double>(sw) / sh;
    const double targetAspect = static_cast<double>(tw) / th;
    switch (mode) {
    case ScaleMode::Stretch:
        EXPECT_TRUE(IsWhole(g.source, sw, sh));
        EXPECT_TRUE(IsWhole(g.target, tw, th));
        break;
    case ScaleMode::Fit:
        // The whole source; the target keeps its aspect ratio to within a
        // pixel, and fills one axis.
        EXPECT_TRUE(IsWhole(g.source, sw, sh));
        if (sourceAspect >= targetAspect) {
            EXPECT_EQ(tw, Width(g.target));
            EXPECT_TRUE(CloseTo(Height(g.target), tw / sourceAspect));
        } else {
            EXPECT_EQ(th, Height(g.target));
            EXPECT_TRUE(CloseTo(Width(g.target), th * sourceAspect));
        }
        break;
    case ScaleMode::Fill:
        // The whole target; the part of the source has its aspect ratio to
        // within a pixel, and spans one axis of the source.
        EXPECT_TRUE(IsWhole(g.target, tw, th));
        if (sourceAspect > targetAspect) {
            EXPECT_EQ(sh, Height(g.source));
            EXPECT_TRUE(CloseTo(Width(g.source), sh * targetAspect));
        } else {
            EXPECT_EQ(sw, Width(g.source));
            EXPECT_TRUE(CloseTo(Height(g.source), sw / targetAspect));
        }
        break;
    }
}

}  // namespace

TEST(FrameGeometryTest, StretchTakesTheWholeSourceOverTheWholeTarget) {
    const FrameGeometry g = ComputeFrameGeometry(ScaleMode::Stretch, false, 1280, 720, 204, 360);
    EXPECT_TRUE(IsWhole(g.source, 1280, 720));
    EXPECT_TRUE(IsWhole(g.target, 204, 360));
    EXPECT_FALSE(g.mirror);
    EXPECT_TRUE(ComputeFrameGeometry(ScaleMode::Stretch, true, 1280, 720, 204, 360).mirror);
}

TEST(FrameGeometryTest, FitLetterboxesAWideWindowInAPortraitPicture) {
    // 204 x 720 / 1280 = 114.75 rows; 114 leaves 123 rows above and below.
    const FrameGeometry g = ComputeFrameGeometry(ScaleMode::Fit, false, 1280, 720, 204, 360);
    EXPECT_TRUE(IsWhole(g.source, 1280, 720));
    const RECT expected = {0, 123, 204, 237};
    EXPECT_TRUE(EqualRect(&expected, &g.target))
        << g.target.left << "," << g.target.top << "," << g.target.right << "," << g.target.bottom;
}

TEST(FrameGeometryTest, FitPillarboxesANarrowWindowInALandscapePicture) {
    // A 4:3 window in 852x480: 640 columns, 106 on either side.
    const FrameGeometry g = ComputeFrameGeometry(ScaleMode::Fit, false, 400, 300, 852, 480);
    const RECT expected = {106, 0, 746, 480};
    EXPECT_TRUE(EqualRect(&expected, &g.target));
    // 1280x720 is a hair wider than 1136x640: 639 rows exactly would leave
    // half a row on each side; 638 leaves one.
    const FrameGeometry wide = ComputeFrameGeometry(ScaleMode::Fit, false, 1280, 720, 1136, 640);
    const RECT expectedWide = {0, 1, 1136, 639};
    EXPECT_TRUE(EqualRect(&expectedWide, &wide.target));
}

TEST(FrameGeometryTest, FillCropsTheCentreOfTheWindow) {
    // Portrait from a wide window: the middle 408 of 1280 columns.
    const FrameGeometry portrait = ComputeFrameGeometry(ScaleMode::Fill, false, 1280, 720, 204, 360);
    const RECT expected = {436, 0, 844, 720};
    EXPECT_TRUE(EqualRect(&expected, &portrait.source));
    EXPECT_TRUE(IsWhole(portrait.target, 204, 360));
    // Landscape from a 4:3 window: 225.35 rows exactly; 226 leave 37 above
    // and below.
    const FrameGeometry landscape = ComputeFrameGeometry(ScaleMode::Fill, false, 400, 300, 852, 480);
    const RECT expectedRows = {0, 37, 400, 263};
    EXPECT_TRUE(EqualRect(&expectedRows, &landscape.source))
        << landscape.source.top << ".." << landscape.source.bottom;
}

TEST(FrameGeometryTest, EqualAspectRatiosNeedNeitherBarsNorCrop) {
    // (852x480 is a hair narrower than 16:9: twice its size is the same
    // shape.)
    for (const ScaleMode mode : {ScaleMode::Fit, ScaleMode::Fill}) {
        const FrameGeometry g = ComputeFrameGeometry(mode, true, 1704, 960, 852, 480);
        EXPECT_TRUE(IsWhole(g.source, 1704, 960));
        EXPECT_TRUE(IsWhole(g.target, 852, 480));
        EXPECT_TRUE(g.mirror);
    }
}

TEST(FrameGeometryTest, EveryModeIsCentredAndExactToAPixelAtManySizes) {
    for (const FrameSize& size : FrameSizeTable) {
        for (const auto& [sw, sh] : {std::make_pair(1280, 720), std::make_pair(1920, 1080), std::make_pair(800, 600),
                                     std::make_pair(600, 800), std::make_pair(1281, 721), std::make_pair(3, 997)}) {
            for (const ScaleMode mode : {ScaleMode::Stretch, ScaleMode::Fit, ScaleMode::Fill}) {
                ExpectWellFormed(mode, sw, sh, size.width, size.height);
            }
        }
    }
    // Pseudo-random sizes, extreme aspect ratios included.
    unsigned seed = 12345;
    const auto next = [&seed](int limit) {
        seed = seed * 1103515245u + 12345u;
        return 1 + static_cast<int>((seed >> 8) % static_cast<unsigned>(limit));
    };
    for (int i = 0; i < 2000; ++i) {
        const int sw = next(i % 10 == 0 ? 5000 : 2000);
        const int sh = next(i % 10 == 1 ? 5000 : 2000);
        const int tw = next(1200);
        const int th = next(1200);
        for (const ScaleMode mode : {ScaleMode::Stretch, ScaleMode::Fit, ScaleMode::Fill}) {
            ExpectWellFormed(mode, sw, sh, tw, th);
        }
    }
}

TEST(FrameGeometryTest, AFractionOfAPixelStillGetsAtLeastOne) {
    // 4000x1 fits into 204x360 as 0.05 rows: two rows keep the margins even.
    const FrameGeometry g = ComputeFrameGeometry(ScaleMode::Fit, false, 4000, 1, 204, 360);
    const RECT expected = {0, 179, 204, 181};
    EXPECT_TRUE(EqualRect(&expected, &g.target));
    // An odd height has a middle row of its own.
    const FrameGeometry odd = ComputeFrameGeometry(ScaleMode::Fit, false, 4000, 1, 204, 361);
    const RECT expectedOdd = {0, 180, 204, 181};
    EXPECT_TRUE(EqualRect(&expectedOdd, &odd.target));
}

TEST(FrameGeometryTest, SizesThatAreNoPictureGiveEmptyRectangles) {
    for (const auto& sizes : {std::make_tuple(0, 720, 204, 360), std::make_tuple(1280, -1, 204, 360),
                              std::make_tuple(1280, 720, 0, 360), std::make_tuple(1280, 720, 204, -5)}) {
        const FrameGeometry g = ComputeFrameGeometry(ScaleMode::Fit, true, std::get<0>(sizes), std::get<1>(sizes),
                                                     std::get<2>(sizes), std::get<3>(sizes));
        EXPECT_TRUE(IsRectEmpty(&g.source));
        EXPECT_TRUE(IsRectEmpty(&g.target));
    }
}

TEST(FrameGeometryTest, GeometriesCompareByTheirRectanglesAndMirror) {
    const FrameGeometry a = ComputeFrameGeometry(ScaleMode::Fit, false, 1280, 720, 204, 360);
    FrameGeometry b = a;
    EXPECT_TRUE(a == b);
    b.mirror = true;
    EXPECT_TRUE(a != b);
    b = a;
    b.target.top += 1;
    EXPECT_TRUE(a != b);
}
