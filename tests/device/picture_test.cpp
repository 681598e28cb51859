// What the registered device delivers downstream: the captured window's
// picture, the standby frame without it, and size changes on a connected
// pin.
#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

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
    // While running the graph cannot reconnect: the stream stays live at
    // the connected size.
    ASSERT_EQ(S_OK, config->SetFormat(mt));
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
