// The weights of one axis in the fixed points the passes use: Q15 for the
// vertical and window passes (checked through CFrameScaler), Q12 for the
// pixel pass.
#include <gtest/gtest.h>

#include <utility>

#include "scaler/axis_weights.h"

TEST(AxisWeightsTest, TheWeightsOfAnyFixedPointSumToItsOne) {
    for (const int one : {1 << 12, 1 << 15}) {
        for (const auto& [from, to] : {std::make_pair(1280, 568), std::make_pair(1280, 204), std::make_pair(701, 130),
                                       std::make_pair(720, 768), std::make_pair(3, 7)}) {
            const AxisWeights axis = ComputeAxisWeights(from, to, one);
            ASSERT_EQ(static_cast<size_t>(to), axis.size());
            for (const std::vector<AxisTap>& taps : axis) {
                int sum = 0;
                for (size_t t = 0; t < taps.size(); ++t) {
                    EXPECT_GT(taps[t].weight, 0) << from << "->" << to << " in units of 1/" << one;
                    if (t > 0) {
                        EXPECT_EQ(taps[t - 1].index + 1, taps[t].index) << "taps are adjacent source pixels";
                    }
                    sum += taps[t].weight;
                }
                EXPECT_EQ(one, sum) << from << "->" << to;
            }
        }
    }
}

TEST(AxisWeightsTest, EnlargingMixesTheTwoNearestPixels) {
    // 2 pixels to 8: centres at source positions -0.375, -0.125, 0.125,
    // 0.375, 0.625, ...: the outer ones repeat the edge pixels.
    const AxisWeights axis = ComputeAxisWeights(2, 8, 8);
    const int expected[8][2] = {{8, 0}, {8, 0}, {7, 1}, {5, 3}, {3, 5}, {1, 7}, {0, 8}, {0, 8}};
    for (size_t x = 0; x < axis.size(); ++x) {
        int weights[2] = {0, 0};
        for (const AxisTap& tap : axis[x]) {
            weights[tap.index] = tap.weight;
        }
        EXPECT_EQ(expected[x][0], weights[0]) << x;
        EXPECT_EQ(expected[x][1], weights[1]) << x;
    }
}
