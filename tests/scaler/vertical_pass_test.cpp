// The vertical pass's plan: each output row's taps at the source rows and
// weights of the axis weights, the checkerboard leak of those weights, and
// every source row fetched ahead once.
#include <gtest/gtest.h>

#include <vector>

#include "scaler/axis_weights.h"
#include "scaler/frame_scaler_kernels.h"
#include "scaler/vertical_pass.h"

namespace {

using frame_scaler_kernels::kWeightCopies;
using frame_scaler_kernels::kWeightOne;

// Stand-ins for the source rows: row r lives at bytes[r].
struct Rows {
    std::vector<BYTE> bytes = std::vector<BYTE>(1000);
    const BYTE* operator()(int row) const { return &bytes[static_cast<size_t>(row)]; }
    int Index(const BYTE* row) const { return static_cast<int>(row - bytes.data()); }
};

}  // namespace

TEST(VerticalPassTest, EachOutputRowTakesItsTapsFromItsSourceRows) {
    CVerticalPass pass;
    pass.Build(40, 760, 480, false);
    const AxisWeights axis = ComputeAxisWeights(720, 480, kWeightOne);
    const Rows rows;
    ASSERT_EQ(480, pass.Height());
    for (int y = 0; y < pass.Height(); ++y) {
        const std::vector<AxisTap>& taps = axis[static_cast<size_t>(y)];
        const frame_scaler_kernels::VerticalRow row = pass.Arrange(y, rows);
        ASSERT_EQ(static_cast<int>(taps.size()), row.taps) << y;
        for (int t = 0; t < row.taps; ++t) {
            EXPECT_EQ(40 + taps[static_cast<size_t>(t)].index, rows.Index(row.sources[t])) << y;
            for (int copy = 0; copy < kWeightCopies; ++copy) {
                ASSERT_EQ(taps[static_cast<size_t>(t)].weight, row.weights[t * kWeightCopies + copy]) << y;
            }
        }
        EXPECT_EQ(40 + taps.back().index, pass.LastSource(y));
    }
}

TEST(VerticalPassTest, TheLeakIsWhatTheWeightsLetThroughOfACheckerboard) {
    CVerticalPass pass;
    // Two rows to one weigh an even and an odd row alike: nothing.
    pass.Build(0, 720, 360, true);
    for (int y = 0; y < pass.Height(); ++y) {
        ASSERT_EQ(0, pass.Leak(y)) << y;
    }
    // Three rows to one: +1/3 - 1/3 + 1/3, with the sign of the first row.
    pass.Build(10, 13, 1, true);
    const int evenFirst = pass.Leak(0);
    EXPECT_NEAR(kWeightOne / 3, evenFirst, 2);
    pass.Build(11, 14, 1, true);
    EXPECT_EQ(-evenFirst, pass.Leak(0));
    pass.Build(10, 13, 1, false);
    EXPECT_EQ(0, pass.Leak(0)) << "without the correction, no leak";
}

TEST(VerticalPassTest, EverySourceRowIsFetchedAheadOnceInOrder) {
    // Enlarging: the fetches run ahead of every output row's last tap.
    CVerticalPass pass;
    pass.Build(8, 728, 768, false);
    const Rows rows;
    std::vector<int> fetched;
    for (int y = 0; y < pass.Height(); ++y) {
        frame_scaler_kernels::VerticalRow row = {};
        pass.Prefetch(y, rows, row);
        for (const BYTE* prefetch : row.prefetch) {
            if (prefetch != nullptr) {
                fetched.push_back(rows.Index(prefetch));
            }
        }
        ASSERT_FALSE(fetched.empty());
        EXPECT_GE(fetched.back(), pass.LastSource(y)) << y;
    }
    ASSERT_EQ(720u, fetched.size());
    for (size_t i = 0; i < fetched.size(); ++i) {
        ASSERT_EQ(8 + static_cast<int>(i), fetched[i]);
    }
}
