// What the registered device delivers downstream: the captured window's
// picture, the standby frame without it, and size changes on a connected
// pin.
#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

#include <string>

#include "framework/memory_dib.h"
#include "tests/device/device_test_support.h"
#include "tests/support/test_window.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

constexpr DWORD kTimeoutMs = 10000;
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// The colour at (x, y), y = 0 at the top, of a bottom-up RGB24 frame.
COLORREF PixelAt(const std::vector<BYTE>& frame, int width, int height, int x, int y) {
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    const BYTE* p = frame.data() + stride * static_cast<size_t>(height - 1 - y) + static_cast<size_t>(x) * 3;
    return RGB(p[2], p[1], p[0]);
}

bool IsNear(COLORREF a, COLORREF b) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= 8 && std::abs(GetGValue(a) - GetGValue(b)) <= 8 &&
           std::abs(GetBValue(a) - GetBValue(b)) <= 8;
}

// Waits for `n` more samples and returns the latest picture.
std::vector<BYTE> NextFrames(CaptureGraph& graph, size_t n) {
    const size_t target = graph.recorder.count() + n;
    EXPECT_TRUE(graph.recorder.WaitForSamples(target, kTimeoutMs));
    return graph.recorder.latestFrame();
}

class PictureTest : public DeviceTest {
protected:
    void StartGraph(int selectPixel) {
        char index[2] = {static_cast<char>('0' + selectPixel), 0};
        ASSERT_TRUE(StoreText("SelectPixel", index));
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(S_OK, CreateFromMoniker(&filter));
        ASSERT_EQ(S_OK, m_graph.Build(filter.Get(), true));
        ASSERT_TRUE(SUCCEEDED(m_graph.Run()));
    }
    CaptureGraph m_graph;
};

}  // namespace

TEST_F(PictureTest, FramesShowTheWindowStretchedAndStandbyWithoutIt) {
    // No window yet: black frames with the standby text in white, low in
    // the picture and clear of the bottom edge.
    StartGraph(3);  // 568x320
    std::vector<BYTE> frame = NextFrames(m_graph, 3);
    ASSERT_EQ(568u * 320u * 3u, frame.size());
    int white = 0;
    int whiteAbove = 0;
    int whiteAtBottom = 0;
    for (int y = 0; y < 320; ++y) {
        for (int x = 0; x < 568; ++x) {
            const COLORREF c = PixelAt(frame, 568, 320, x, y);
            if (c != 0) {
                ++white;
                whiteAbove += y < 320 / 2;
                whiteAtBottom += y >= 320 - 5;
            }
        }
    }
    EXPECT_GT(white, 20) << "standby text";
    EXPECT_EQ(0, whiteAbove);
    EXPECT_EQ(0, whiteAtBottom);

    // A window of the default class appears: it is found during one
    // standby frame and captured from the next, stretched to the frame.
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(L"Quillmere::MainFrame", L"Quillmere", 320, 180,
                                  QuadrantPainter(320, 180, kRed, kGreen, kBlue, kWhite), 40, 40));
    frame = NextFrames(m_graph, 3);
    EXPECT_TRUE(IsNear(kRed, PixelAt(frame, 568, 320, 100, 60)));
    EXPECT_TRUE(IsNear(kGreen, PixelAt(frame, 568, 320, 468, 60)));
    EXPECT_TRUE(IsNear(kBlue, PixelAt(frame, 568, 320, 100, 260)));
    EXPECT_TRUE(IsNear(kWhite, PixelAt(frame, 568, 320, 468, 260)));
    EXPECT_TRUE(IsNear(kRed, PixelAt(frame, 568, 320, 0, 0)));
    EXPECT_TRUE(IsNear(kWhite, PixelAt(frame, 568, 320, 567, 319)));

    // The window closes: standby again.
    window.Destroy();
    frame = NextFrames(m_graph, 3);
    EXPECT_EQ(0u, PixelAt(frame, 568, 320, 100, 60));
    EXPECT_EQ(0u, PixelAt(frame, 568, 320, 468, 60));
    EXPECT_EQ(S_OK, m_graph.Stop());

    for (const RecordedSample& s : m_graph.recorder.samples()) {
        EXPECT_EQ(568 * 320 * 3, s.actualLength);
    }
}

TEST_F(PictureTest, SizeChangeOnAConnectedPinTakesEffectAtReconnection) {
    StartGraph(0);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_graph.source.As(&config));
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    ASSERT_EQ(S_OK, config->GetStreamCaps(5, &mt, reinterpret_cast<BYTE*>(&caps)));
    // While running the format is in use: SetFormat is refused and the
    // stream stays live at the connected size.
    ASSERT_EQ(VFW_E_NOT_STOPPED, config->SetFormat(mt));
    NextFrames(m_graph, 2);
    CMediaType connected;
    ASSERT_EQ(S_OK, m_graph.ConnectedType(&connected));
    EXPECT_EQ(204, FrameSizeOf(connected).cx);
    for (const RecordedSample& s : m_graph.recorder.samples()) {
        EXPECT_EQ(204 * 360 * 3, s.size);
    }
    // Stopped, the same request reconnects the pin at the new size.
    ASSERT_EQ(S_OK, m_graph.Stop());
    ASSERT_EQ(S_OK, config->SetFormat(mt));
    DeleteMediaType(mt);
    CMediaType reconnected;
    ASSERT_EQ(S_OK, m_graph.ConnectedType(&reconnected));
    EXPECT_EQ(1136, FrameSizeOf(reconnected).cx);
    EXPECT_EQ(640, FrameSizeOf(reconnected).cy);
    // The graph renegotiated the device's link only; the grabber passes
    // samples through in place, so its own link follows.
    ComPtr<IPin> grabberOut;
    ASSERT_EQ(S_OK, GetPin(m_graph.grabberFilter.Get(), PINDIR_OUTPUT, &grabberOut));
    ASSERT_EQ(S_OK, m_graph.graph->Reconnect(grabberOut.Get()));
    m_graph.recorder.Clear();
    ASSERT_TRUE(SUCCEEDED(m_graph.Run()));
    EXPECT_TRUE(m_graph.recorder.WaitForSamples(3, kTimeoutMs));
    EXPECT_EQ(S_OK, m_graph.Stop());
    for (const RecordedSample& s : m_graph.recorder.samples()) {
        EXPECT_EQ(1136 * 640 * 3, s.size);
    }
}

namespace {

// A pixel's limited-range BT.601 values, as a YUV host reads them.
struct Yuv {
    int y;
    int u;
    int v;
};

// The YUV of (x, y) in a top-down frame of the format, or of the BGR of a
// bottom-up RGB32 frame converted with the same formula as the device (so
// that one expectation serves every format).
Yuv YuvAt(const std::vector<BYTE>& frame, const GUID& subtype, int width, int height, int x, int y) {
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(height);
    const size_t px = static_cast<size_t>(x);
    const size_t py = static_cast<size_t>(y);
    if (IsEqualGUID(subtype, MEDIASUBTYPE_NV12)) {
        const BYTE* chroma = frame.data() + w * h + (py / 2) * w + (px / 2) * 2;
        return {frame[py * w + px], chroma[0], chroma[1]};
    }
    if (IsEqualGUID(subtype, MEDIASUBTYPE_YUY2)) {
        const BYTE* pair = frame.data() + py * w * 2 + (px / 2) * 4;
        return {pair[(px % 2) * 2], pair[1], pair[3]};
    }
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) {
        const BYTE* p = frame.data() + (h - 1 - py) * w * 4 + px * 4;
        const int b = p[0];
        const int g = p[1];
        const int r = p[2];
        return {(66 * r + 129 * g + 25 * b + 4224) >> 8, (112 * b - 74 * g - 38 * r + 32896) >> 8,
                (112 * r - 94 * g - 18 * b + 32896) >> 8};
    }
    // I420: U plane, then V plane, each a quarter of the luma plane.
    const size_t chromaAt = (py / 2) * (w / 2) + px / 2;
    return {frame[py * w + px], frame[w * h + chromaAt], frame[w * h + w * h / 4 + chromaAt]};
}

bool IsNear(const Yuv& a, const Yuv& b) {
    return std::abs(a.y - b.y) <= 2 && std::abs(a.u - b.u) <= 2 && std::abs(a.v - b.v) <= 2;
}

std::string Text(const Yuv& c) {
    return std::to_string(c.y) + "," + std::to_string(c.u) + "," + std::to_string(c.v);
}

}  // namespace

TEST_F(DeviceTest, EveryFormatCarriesTheWindowFramedAndMirroredInItsOwnLayout) {
    // The quadrant colours in limited-range BT.601, as webcams send them.
    constexpr Yuv kRedYuv = {82, 90, 240};
    constexpr Yuv kGreenYuv = {144, 54, 34};
    constexpr Yuv kBlueYuv = {41, 240, 110};
    constexpr Yuv kWhiteYuv = {235, 128, 128};
    constexpr Yuv kBlackYuv = {16, 128, 128};
    const GUID i420 = {MAKEFOURCC('I', '4', '2', '0'), 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    struct Format {
        const char* stored;
        GUID subtype;
        size_t bytes;
    };
    const Format formats[] = {
        {"1", MEDIASUBTYPE_NV12, 568 * 320 * 3 / 2},
        {"2", MEDIASUBTYPE_YUY2, 568 * 320 * 2},
        {"3", i420, 568 * 320 * 3 / 2},
        {"4", MEDIASUBTYPE_RGB32, 568 * 320 * 4},
    };
    // A square window fitted into 568x320 and mirrored: a 320x320 picture
    // from x = 124, black bars beside it, red at the top right.
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(L"Quillmere::MainFrame", L"Quillmere", 200, 200,
                                  QuadrantPainter(200, 200, kRed, kGreen, kBlue, kWhite), 40, 40));
    ASSERT_TRUE(StoreText("SelectPixel", "3"));
    ASSERT_TRUE(StoreText("ScaleMode", "1"));
    ASSERT_TRUE(StoreText("Mirror", "1"));
    for (const Format& format : formats) {
        SCOPED_TRACE(format.stored);
        ASSERT_TRUE(StoreText("OutputFormat", format.stored));
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(S_OK, CreateFromMoniker(&filter));
        CaptureGraph graph;
        ASSERT_EQ(S_OK, graph.Build(filter.Get(), true, format.subtype));
        AM_MEDIA_TYPE connected = {};
        ASSERT_EQ(S_OK, graph.ConnectedType(&connected));
        EXPECT_TRUE(IsEqualGUID(format.subtype, connected.subtype));
        FreeMediaType(connected);
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        const std::vector<BYTE> frame = NextFrames(graph, 3);
        ASSERT_EQ(format.bytes, frame.size());
        const struct {
            int x;
            int y;
            Yuv expected;
        } points[] = {
            {20, 160, kBlackYuv},  {548, 160, kBlackYuv},  // the bars
            {204, 80, kGreenYuv},  {364, 80, kRedYuv},     // mirrored: red on the right
            {204, 240, kWhiteYuv}, {364, 240, kBlueYuv},
        };
        for (const auto& point : points) {
            const Yuv seen = YuvAt(frame, format.subtype, 568, 320, point.x, point.y);
            EXPECT_TRUE(IsNear(point.expected, seen))
                << "at " << point.x << "," << point.y << ": " << Text(seen) << " for " << Text(point.expected);
        }
        EXPECT_EQ(S_OK, graph.Stop());
        for (const RecordedSample& sample : graph.recorder.samples()) {
            EXPECT_EQ(static_cast<long>(format.bytes), sample.actualLength);
        }
    }
}
