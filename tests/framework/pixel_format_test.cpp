// The pixel formats: the values the frame ring shares between processes,
// read back only when they name a format, and layouts known at compile
// time.
#include <gtest/gtest.h>

#include <iterator>

#include "framework/pixel_format.h"

namespace {

// The ring's slots are sized from LayoutOf before the program runs.
static_assert(LayoutOf(PixelFormat::Rgb32, 1920, 1080).imageBytes == 1920u * 1080u * 4u, "constexpr layout");
static_assert(LayoutOf(PixelFormat::I420, 6, 4).offsets[2] == 6u * 4u + 3u * 2u, "constexpr layout");
static_assert(LayoutOf(PixelFormat::Nv12, 3, 4).imageBytes == 0, "an odd width takes no NV12 frame");

}  // namespace

TEST(PixelFormatTest, StoredValuesAreFixedAndOnlyTheirsAreRead) {
    // What another build of qmcamera or the media source writes into the
    // ring means the same format here: these values never change.
    const struct {
        PixelFormat format;
        uint32_t value;
    } fixed[] = {{PixelFormat::Rgb24, 1}, {PixelFormat::Rgb32, 2}, {PixelFormat::Nv12, 3},
                 {PixelFormat::Yuy2, 4},  {PixelFormat::I420, 5}};
    ASSERT_EQ(std::size(kPixelFormats), std::size(fixed));
    for (const auto& entry : fixed) {
        SCOPED_TRACE(NameOf(entry.format));
        EXPECT_EQ(entry.value, static_cast<uint32_t>(entry.format));
        PixelFormat read = PixelFormat::Rgb24;
        ASSERT_TRUE(PixelFormatFromValue(entry.value, &read));
        EXPECT_EQ(entry.format, read);
    }
    // 0 (no format), the next value and garbage name none, and leave the
    // format as it was.
    for (const uint32_t value : {0u, 6u, 0x80000003u, 0xFFFFFFFFu}) {
        PixelFormat read = PixelFormat::Yuy2;
        EXPECT_FALSE(PixelFormatFromValue(value, &read)) << value;
        EXPECT_EQ(PixelFormat::Yuy2, read) << value;
    }
}
