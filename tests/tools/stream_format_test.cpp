// The format texts of the client: subtype names, frame rates, the --caps
// listing and the description of a media type.
#include <gtest/gtest.h>

#include <dshow.h>

#include "tools/capture_client/stream_format.h"

using namespace qmcapture;

namespace {

StreamCapability Capability(int index, int width, int height) {
    StreamCapability cap;
    cap.index = index;
    cap.width = width;
    cap.height = height;
    cap.subtype = MEDIASUBTYPE_RGB24;
    cap.caps.MinFrameInterval = 333333;
    cap.caps.MaxFrameInterval = 10000000;
    return cap;
}

}  // namespace

TEST(StreamFormatTest, SubtypesAreNamedOrShownAsGuids) {
    EXPECT_EQ(L"RGB24", SubtypeName(MEDIASUBTYPE_RGB24));
    EXPECT_EQ(L"YUY2", SubtypeName(MEDIASUBTYPE_YUY2));
    EXPECT_EQ(L"MJPG", SubtypeName(MEDIASUBTYPE_MJPG));
    EXPECT_EQ(L"{00000000-0000-0000-0000-000000000000}", SubtypeName(GUID_NULL));
}

TEST(StreamFormatTest, FrameRateFollowsTheFrameInterval) {
    EXPECT_EQ(L"30.00", FrameRateText(333333));
    EXPECT_EQ(L"29.97", FrameRateText(333667));
    EXPECT_EQ(L"1.00", FrameRateText(10000000));
    // No interval means no known rate, not a division by zero.
    EXPECT_EQ(L"?", FrameRateText(0));
    EXPECT_EQ(L"?", FrameRateText(-5));
}

TEST(StreamFormatTest, CapabilitiesListingShowsSizesRatesAndTheCurrentFormat) {
    VIDEOINFOHEADER info = {};
    info.AvgTimePerFrame = 666666;
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 852;
    info.bmiHeader.biHeight = 480;
    info.bmiHeader.biBitCount = 24;
    AM_MEDIA_TYPE current = {};
    current.majortype = MEDIATYPE_Video;
    current.subtype = MEDIASUBTYPE_RGB24;
    current.formattype = FORMAT_VideoInfo;
    current.cbFormat = sizeof(info);
    current.pbFormat = reinterpret_cast<BYTE*>(&info);

    const std::wstring text =
        FormatCapabilities(L"QM Capture Device", {Capability(0, 204, 360), Capability(5, 1136, 640)}, &current);
    EXPECT_EQ(L"QM Capture Device: 2 formats\n"
              L"  index  size       subtype  frame rate (fps)  frame interval (100 ns)\n"
              L"      0  204x360    RGB24    1.00 - 30.00      333333 - 10000000\n"
              L"      5  1136x640   RGB24    1.00 - 30.00      333333 - 10000000\n"
              L"current: 852x480 RGB24, 15.00 fps (AvgTimePerFrame 666666)\n",
              text);
}

TEST(StreamFormatTest, TypesWithoutAVideoHeaderAreSaidToBeSo) {
    AM_MEDIA_TYPE type = {};
    type.subtype = MEDIASUBTYPE_RGB24;
    type.formattype = FORMAT_VideoInfo;
    VideoFormatView view;
    EXPECT_FALSE(GetVideoFormatView(type, &view));
    EXPECT_EQ(L"RGB24 (no video header)", DescribeFormat(type));

    // A format block too short for its format type is not read.
    VIDEOINFOHEADER info = {};
    type.cbFormat = sizeof(info) - 1;
    type.pbFormat = reinterpret_cast<BYTE*>(&info);
    EXPECT_FALSE(GetVideoFormatView(type, &view));
}
