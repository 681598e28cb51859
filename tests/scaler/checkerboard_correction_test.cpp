// The checkerboard correction of one band: nothing over flat areas and
// straight lines; over a checkerboard patch, spans that cover it and a
// correction of the patch's amplitude with each column's sign; and a
// checkerboard row less that correction (the horizontal-first order's
// corrected copy) comes out grey. From every instruction set.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "framework/cpu_features.h"
#include "scaler/checkerboard_correction.h"
#include "scaler/corrected_source_row.h"
#include "scaler/frame_scaler_kernels.h"

namespace {

namespace kernels = frame_scaler_kernels;

// A top-down BGRX picture, grey as `level(x, y)`.
struct Grey {
    int width;
    int height;
    std::vector<BYTE> bgrx;

    Grey(int w, int h, const std::function<BYTE(int, int)>& level)
        : width(w), height(h), bgrx(static_cast<size_t>(w) * static_cast<size_t>(h) * 4 + 64, 0) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                BYTE* p = &bgrx[(static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 4];
                p[0] = p[1] = p[2] = level(x, y);
            }
        }
    }
    const BYTE* Row(int y) const { return &bgrx[static_cast<size_t>(y) * static_cast<size_t>(width) * 4]; }
    ptrdiff_t Stride() const { return static_cast<ptrdiff_t>(width) * 4; }
};

std::vector<const kernels::KernelSet*> KernelSets() {
    std::vector<const kernels::KernelSet*> sets = {&kernels::kSse2Kernels};
    if (cpu_features::HasAvx2()) {
        sets.push_back(&kernels::kAvx2Kernels);
    }
    return sets;
}

// A one-pixel checkerboard of 0 and 255 in columns [from, to), grey 128
// elsewhere.
BYTE Patch(int x, int y, int from, int to) {
    if (x < from || x >= to) {
        return 128;
    }
    return (x + y) % 2 == 0 ? 255 : 0;
}

}  // namespace

TEST(CheckerboardCorrectionTest, FlatAreasAndStraightLinesHaveNoSpans) {
    const Grey stripes(256, 16, [](int x, int) { return static_cast<BYTE>(x % 2 == 0 ? 255 : 0); });
    const Grey lines(256, 16, [](int, int y) { return static_cast<BYTE>(y % 2 == 0 ? 10 : 240); });
    const Grey edge(256, 16, [](int x, int y) { return static_cast<BYTE>(x + y < 130 ? 30 : 200); });
    for (const kernels::KernelSet* set : KernelSets()) {
        for (const Grey* picture : {&stripes, &lines}) {
            CCheckerboardCorrection correction;
            correction.Build({0, 0, picture->width, picture->height});
            for (int band = 0; band < 4; ++band) {
                correction.Prepare(picture->Row(0), picture->Stride(), band, *set);
                EXPECT_EQ(band, correction.Band());
                EXPECT_TRUE(correction.Spans().empty()) << "band " << band;
            }
        }
        // A diagonal edge's steps are not flat: spans may cover the tiles
        // it crosses (columns 127 to 130 in the first band), no others.
        CCheckerboardCorrection correction;
        correction.Build({0, 0, edge.width, edge.height});
        correction.Prepare(edge.Row(0), edge.Stride(), 0, *set);
        for (const int32_t column : correction.Spans()) {
            EXPECT_GE(column, 64);
            EXPECT_LE(column, 192);
        }
    }
}

TEST(CheckerboardCorrectionTest, APatchIsCorrectedWhereItIsWithTheAmplitudeOfItsPattern) {
    const Grey picture(256, 16, [](int x, int y) { return Patch(x, y, 96, 160); });
    for (const kernels::KernelSet* set : KernelSets()) {
        CCheckerboardCorrection correction;
        correction.Build({0, 0, picture.width, picture.height});
        correction.Prepare(picture.Row(0), picture.Stride(), 1, *set);
        const std::vector<int32_t>& spans = correction.Spans();
        ASSERT_EQ(2u, spans.size());
        EXPECT_LE(spans[0], 96);
        EXPECT_GE(spans[1], 160);
        EXPECT_GE(spans[0], 64);
        EXPECT_LE(spans[1], 192);
        kernels::VerticalRow row = {};
        correction.ApplyTo(1000, row);
        EXPECT_EQ(1000, row.correctionWeight);
        ASSERT_EQ(1, row.spanCount);
        // Within the patch (away from its edges, where tiles interpolate
        // towards grey), 127.5 in units of 1/256, with the column's sign.
        for (int x = 104; x < 152; ++x) {
            const int sign = x % 2 == 0 ? 1 : -1;
            ASSERT_EQ(sign * 32640, row.correctionEven[2 * x]) << x;
            ASSERT_EQ(sign * 32640, row.correctionEven[2 * x + 1]) << x;
            ASSERT_EQ(sign * 32640, row.correctionOdd[2 * x]) << x;
            ASSERT_EQ(0, row.correctionOdd[2 * x + 1]) << "the unused byte has no pattern";
        }
        // Outside the spans, nothing.
        for (int x = 0; x < picture.width; ++x) {
            if (x < spans[0] || x >= spans[1]) {
                ASSERT_EQ(0, row.correctionEven[2 * x]) << x;
                ASSERT_EQ(0, row.correctionOdd[2 * x]) << x;
            }
        }
    }
}

TEST(CorrectedSourceRowTest, OnlyTheBlocksThatReadASpanReadTheCopy) {
    // Sixteen output pixels, each reading four columns from 4 x: a block
    // of four pixels reads sixteen columns.
    std::vector<int32_t> first(16);
    for (size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<int32_t>(4 * i);
    }
    CCorrectedSourceRow row;
    row.Build(64, 16, first, 4);
    const auto flags = [&row]() { return std::vector<BYTE>(row.BlockFlags(), row.BlockFlags() + 4); };
    row.FlagBlocks({20, 24});
    EXPECT_EQ((std::vector<BYTE>{0, 1, 0, 0}), flags());
    row.FlagBlocks({0, 8, 48, 64});
    EXPECT_EQ((std::vector<BYTE>{1, 0, 0, 1}), flags());
    row.FlagBlocks({});
    EXPECT_EQ((std::vector<BYTE>{0, 0, 0, 0}), flags());
    // Mirrored, the first block reads the last columns.
    std::reverse(first.begin(), first.end());
    row.Build(64, 16, first, 4);
    row.FlagBlocks({0, 8});
    EXPECT_EQ((std::vector<BYTE>{0, 0, 0, 1}), flags());
}

TEST(CorrectedSourceRowTest, ACheckerboardRowLessItsCorrectionIsGrey) {
    const Grey picture(64, 8, [](int x, int y) { return Patch(x, y, 16, 48); });
    std::vector<int32_t> first(16);
    for (size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<int32_t>(4 * i);
    }
    for (const kernels::KernelSet* set : KernelSets()) {
        CCheckerboardCorrection correction;
        correction.Build({0, 0, picture.width, picture.height});
        correction.Prepare(picture.Row(0), picture.Stride(), 0, *set);
        CCorrectedSourceRow row;
        row.Build(picture.width, 16, first, 4);
        row.FlagBlocks(correction.Spans());
        for (int y = 0; y < 4; ++y) {
            row.Correct(picture.Row(y), kernels::SignOfParity(y), correction, *set);
            // The patch's middle tiles (their neighbours within it too):
            // 255 and 0 less +-127.5, rounded, each 127 or 128.
            for (int x = 24; x < 40; ++x) {
                for (int c = 0; c < 3; ++c) {
                    ASSERT_NEAR(127.5, row.Copy()[x * 4 + c], 0.5) << "row " << y << " column " << x;
                }
            }
        }
    }
}
