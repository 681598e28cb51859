// The window pass on its own: which shrinks it takes, and a row of one
// colour through its windows, plain and mirrored, from every instruction
// set, written exactly into its target row.
#include <gtest/gtest.h>

#include <vector>

#include "framework/cpu_features.h"
#include "scaler/frame_scaler_kernels.h"
#include "scaler/horizontal_window_pass.h"

namespace kernels = frame_scaler_kernels;

TEST(HorizontalWindowPassTest, ItTakesShrinksUpToEightFifthsAndTheSameWidth) {
    EXPECT_TRUE(CHorizontalWindowPass::Suits(1136, 1136));
    EXPECT_TRUE(CHorizontalWindowPass::Suits(1280, 852));
    EXPECT_TRUE(CHorizontalWindowPass::Suits(8, 5));
    EXPECT_FALSE(CHorizontalWindowPass::Suits(9, 5));
    EXPECT_FALSE(CHorizontalWindowPass::Suits(1280, 568));
    EXPECT_FALSE(CHorizontalWindowPass::Suits(5, 8)) << "enlarging";
}

TEST(HorizontalWindowPassTest, AFlatRowStaysFlatAndWithinItsTarget) {
    std::vector<const kernels::KernelSet*> sets = {&kernels::kSse2Kernels};
    if (cpu_features::HasAvx2()) {
        sets.push_back(&kernels::kAvx2Kernels);
    }
    constexpr BYTE kCanary = 0xEE;
    for (const kernels::KernelSet* set : sets) {
        for (const int width : {5, 13, 40, 101}) {
            for (const bool mirror : {false, true}) {
                const int columns = width * 3 / 2;
                CHorizontalWindowPass pass;
                pass.Build(columns, width, mirror, *set);
                kernels::VerticalRow row = {};
                pass.TakeOutputOf(row);
                // The vertical pass's lanes, in units of 1/128: blue and red
                // in `even`, green and the unused byte in `odd`.
                for (int x = 0; x < columns; ++x) {
                    row.even[2 * x] = 100 * 128;
                    row.even[2 * x + 1] = 30 * 128;
                    row.odd[2 * x] = 210 * 128;
                    row.odd[2 * x + 1] = 0;
                }
                std::vector<BYTE> target(static_cast<size_t>(width) * 3 + 32, kCanary);
                pass.Run(target.data(), *set);
                for (int x = 0; x < width; ++x) {
                    ASSERT_EQ(100, target[static_cast<size_t>(x) * 3]) << width << (mirror ? " mirrored" : "");
                    ASSERT_EQ(210, target[static_cast<size_t>(x) * 3 + 1]);
                    ASSERT_EQ(30, target[static_cast<size_t>(x) * 3 + 2]);
                }
                for (size_t k = static_cast<size_t>(width) * 3; k < target.size(); ++k) {
                    ASSERT_EQ(kCanary, target[k]) << "written past the row: " << width << (mirror ? " mirrored" : "");
                }
            }
        }
    }
}
