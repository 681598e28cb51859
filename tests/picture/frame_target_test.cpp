// Frame targets: the layouts the media types describe, and the top rows
// and strides the picture code is given for them.
#include <gtest/gtest.h>

#include <vector>

#include "picture/frame_target.h"

namespace {

TEST(FrameTargetTest, LayoutsFollowTheUsualConventionsOfEachFormat) {
    // 204 pixels of RGB24 are 612 bytes, a multiple of 4 already; 6 pixels
    // are 18, padded to 20.
    const FrameLayout rgb24 = LayoutOf(PixelFormat::Rgb24, 6, 3);
    EXPECT_EQ(20, rgb24.strides[0]);
    EXPECT_EQ(60u, rgb24.imageBytes);
    EXPECT_EQ(204u * 3 * 360, LayoutOf(PixelFormat::Rgb24, 204, 360).imageBytes);
    EXPECT_EQ(1920u * 4 * 1080, LayoutOf(PixelFormat::Rgb32, 1920, 1080).imageBytes);
    EXPECT_EQ(1280u * 2 * 720, LayoutOf(PixelFormat::Yuy2, 1280, 720).imageBytes);

    const FrameLayout nv12 = LayoutOf(PixelFormat::Nv12, 204, 360);
    EXPECT_EQ(204, nv12.strides[0]);
    EXPECT_EQ(204, nv12.strides[1]);
    EXPECT_EQ(204u * 360, nv12.offsets[1]);
    EXPECT_EQ(204u * 360 * 3 / 2, nv12.imageBytes);

    const FrameLayout i420 = LayoutOf(PixelFormat::I420, 204, 360);
    EXPECT_EQ(102, i420.strides[1]);
    EXPECT_EQ(102, i420.strides[2]);
    EXPECT_EQ(204u * 360, i420.offsets[1]);
    EXPECT_EQ(204u * 360 + 102u * 180, i420.offsets[2]);
    EXPECT_EQ(204u * 360 * 3 / 2, i420.imageBytes);
}

TEST(FrameTargetTest, SizesAFormatCannotTakeHaveNoLayoutAndNoPlanes) {
    EXPECT_EQ(0u, LayoutOf(PixelFormat::Nv12, 205, 360).imageBytes);
    EXPECT_EQ(0u, LayoutOf(PixelFormat::I420, 204, 361).imageBytes);
    EXPECT_EQ(0u, LayoutOf(PixelFormat::Yuy2, 3, 2).imageBytes);
    EXPECT_EQ(0u, LayoutOf(PixelFormat::Rgb24, 0, 2).imageBytes);
    EXPECT_EQ(0u, LayoutOf(PixelFormat::Rgb32, 8193, 2).imageBytes);
    EXPECT_NE(0u, LayoutOf(PixelFormat::Rgb24, 205, 361).imageBytes);

    BYTE block[64] = {};
    EXPECT_FALSE(IsUsable(TargetOf(PixelFormat::Nv12, 3, 2, block, false)));
    EXPECT_FALSE(IsUsable(TargetOf(PixelFormat::Rgb24, 2, 2, nullptr, false)));
    EXPECT_TRUE(IsUsable(TargetOf(PixelFormat::Nv12, 4, 2, block, false)));
}

TEST(FrameTargetTest, BottomUpRgbStartsAtTheLastMemoryRowAndYuvIsAlwaysTopDown) {
    std::vector<BYTE> block(LayoutOf(PixelFormat::Rgb24, 6, 3).imageBytes);
    const FrameTarget rgb = TargetOf(PixelFormat::Rgb24, 6, 3, block.data(), true);
    EXPECT_EQ(block.data() + 40, rgb.planes[0].top);
    EXPECT_EQ(-20, rgb.planes[0].stride);
    const FrameTarget topDown = TargetOf(PixelFormat::Rgb24, 6, 3, block.data(), false);
    EXPECT_EQ(block.data(), topDown.planes[0].top);
    EXPECT_EQ(20, topDown.planes[0].stride);

    std::vector<BYTE> yuv(LayoutOf(PixelFormat::I420, 4, 2).imageBytes);
    const FrameTarget i420 = TargetOf(PixelFormat::I420, 4, 2, yuv.data(), true);
    EXPECT_EQ(yuv.data(), i420.planes[0].top);
    EXPECT_EQ(4, i420.planes[0].stride);
    EXPECT_EQ(yuv.data() + 8, i420.planes[1].top);
    EXPECT_EQ(yuv.data() + 10, i420.planes[2].top);
    EXPECT_EQ(2, i420.planes[2].stride);
    EXPECT_TRUE(IsUsable(i420));
}

}  // namespace
