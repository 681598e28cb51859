// What a camera shows, read by its capture source on the real screen: a
// window cropped to a part of its client area (by copy and by print), a
// region of the screen, a monitor (the system's, and a monitor list of
// the test's own standing in for a change of resolution or DPI, which Wine
// cannot make), and the pointer drawn in. The seams: the monitor list
// (ListMonitorsFunction) and where the pointer is (PointerFunction).
#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

#include "source/capture_source.h"
#include "tests/support/test_window.h"
#include "tests/support/test_window_thread.h"

using namespace qmtest;

namespace {

constexpr DWORD kDeadlineMs = 5000;
constexpr COLORREF kRed = RGB(200, 30, 30);
constexpr COLORREF kGreen = RGB(30, 200, 30);
constexpr COLORREF kBlue = RGB(30, 30, 200);
constexpr COLORREF kYellow = RGB(220, 220, 40);
constexpr int kWidth = 320;
constexpr int kHeight = 240;

COLORREF PixelOf(const SourcePicture& picture, int x, int y) {
    const BYTE* p = picture.topRow + y * picture.stride + x * 4;
    return RGB(p[2], p[1], p[0]);
}

// A monitor list of the test's own: what it holds now.
std::vector<MonitorInfo> g_monitors;
int TestMonitors(MonitorInfo* monitors, int capacity) {
    for (int i = 0; i < static_cast<int>(g_monitors.size()) && i < capacity; ++i) {
        monitors[i] = g_monitors[static_cast<size_t>(i)];
    }
    return static_cast<int>(g_monitors.size());
}
MonitorInfo Monitor(const wchar_t* name, RECT rect, bool primary) {
    MonitorInfo monitor;
    std::wcsncpy(monitor.deviceName, name, kMonitorNameCapacity - 1);
    monitor.rect = rect;
    monitor.primary = primary;
    return monitor;
}

// The pointer where the test puts it, showing, without a shape of its own
// (as Wine reports it over another process's window): the arrow.
PointerState g_pointer;
PointerState TestPointer() {
    return g_pointer;
}

class CaptureSourceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_ui.ok());
        // Topmost, so that the screen shows it where the test looks.
        ASSERT_EQ(S_OK, m_ui.Create(L"QMCaptureTest::Source", L"Source", kWidth, kHeight,
                                    QuadrantPainter(kWidth, kHeight, kRed, kGreen, kBlue, kYellow), &m_window, 60, 60,
                                    WS_EX_TOPMOST));
        m_ui.Run([&] { ::UpdateWindow(m_window); });
        POINT origin = {0, 0};
        ::ClientToScreen(m_window, &origin);
        m_client = {origin.x, origin.y, origin.x + kWidth, origin.y + kHeight};
        CopyWideText(m_settings.windowClass, L"QMCaptureTest::Source", kWindowClassCapacity);
        CopyWideText(m_settings.windowName, L"", kWindowTitleCapacity);
        m_settings.showCursor = CursorChoice::Off;
    }

    IFrameSource::Outcome Read(CCaptureSource& source) { return source.Read(m_settings, kDeadlineMs, nullptr); }

    TestWindowThread m_ui;
    HWND m_window = nullptr;
    RECT m_client = {};
    CCaptureSettings::Values m_settings;
};

class CropTest : public CaptureSourceTest, public testing::WithParamInterface<CaptureMethod> {};

}  // namespace

TEST_P(CropTest, ACropShowsOnlyItsPartClippedToTheClientArea) {
    CCaptureSource source;
    ASSERT_EQ(S_OK, source.Start());
    m_settings.captureMethod = GetParam();
    struct Case {
        StoredRect crop;
        int width;
        int height;
        COLORREF topLeft;
        COLORREF bottomRight;
    };
    const Case cases[] = {
        {{}, kWidth, kHeight, kRed, kYellow},
        {{kWidth / 2, 0, kWidth / 2, kHeight / 2}, kWidth / 2, kHeight / 2, kGreen, kGreen},
        {{kWidth / 2 - 10, kHeight / 2 - 10, 20, 20}, 20, 20, kRed, kYellow},
        // Beyond the client area (the window shrank): clipped.
        {{kWidth - 20, kHeight - 40, 500, 500}, 20, 40, kYellow, kYellow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.crop.width);
        m_settings.cropRect = c.crop;
        ASSERT_EQ(IFrameSource::Outcome::Picture, Read(source));
        const SourcePicture picture = source.LastPicture();
        ASSERT_EQ(c.width, picture.width);
        ASSERT_EQ(c.height, picture.height);
        EXPECT_EQ(c.topLeft, PixelOf(picture, 0, 0));
        EXPECT_EQ(c.bottomRight, PixelOf(picture, c.width - 1, c.height - 1));
    }
    // Nothing of it left: the standby frame.
    m_settings.cropRect = {kWidth + 10, 0, 50, 50};
    EXPECT_EQ(IFrameSource::Outcome::Standby, Read(source));
    source.Stop();
}

INSTANTIATE_TEST_SUITE_P(CopyAndPrint, CropTest, testing::Values(CaptureMethod::Copy, CaptureMethod::Print),
                         [](const testing::TestParamInfo<CaptureMethod>& method) {
                             return method.param == CaptureMethod::Copy ? "Copy" : "Print";
                         });

TEST_F(CaptureSourceTest, ARegionShowsThatPartOfTheScreenAndBlackOutsideEveryMonitor) {
    CCaptureSource source;
    ASSERT_EQ(S_OK, source.Start());
    m_settings.sourceKind = SourceKind::Region;
    // Exactly the window's client area.
    m_settings.sourceRegion = {m_client.left, m_client.top, kWidth, kHeight};
    ASSERT_EQ(IFrameSource::Outcome::Picture, Read(source));
    SourcePicture picture = source.LastPicture();
    ASSERT_EQ(kWidth, picture.width);
    ASSERT_EQ(kHeight, picture.height);
    EXPECT_EQ(kRed, PixelOf(picture, 0, 0));
    EXPECT_EQ(kGreen, PixelOf(picture, kWidth - 1, 0));
    EXPECT_EQ(kBlue, PixelOf(picture, 0, kHeight - 1));
    EXPECT_EQ(kYellow, PixelOf(picture, kWidth - 1, kHeight - 1));
    // Left of the virtual screen, where no monitor is: black.
    const int width = 200 + m_client.left + 20;
    m_settings.sourceRegion = {-200, m_client.top, width, 20};
    ASSERT_EQ(IFrameSource::Outcome::Picture, Read(source));
    picture = source.LastPicture();
    ASSERT_EQ(width, picture.width);
    EXPECT_EQ(RGB(0, 0, 0), PixelOf(picture, 10, 10)) << "outside every monitor";
    EXPECT_EQ(kRed, PixelOf(picture, width - 10, 10));
    // No region stored: nothing to show.
    m_settings.sourceRegion = {};
    EXPECT_EQ(IFrameSource::Outcome::Standby, Read(source));
    source.Stop();
}

TEST_F(CaptureSourceTest, AMonitorIsShownWholeAndFollowedWhenItChangesOrGoes_MonitorListInjected) {
    // The system's primary, as the monitor list gives it.
    {
        CCaptureSource source;
        m_settings.sourceKind = SourceKind::Monitor;
        ASSERT_EQ(IFrameSource::Outcome::Picture, Read(source));
        const std::vector<MonitorInfo> monitors = ListMonitors();
        ASSERT_FALSE(monitors.empty());
        EXPECT_EQ(monitors[0].rect.right - monitors[0].rect.left, source.LastPicture().width);
        EXPECT_EQ(kRed, PixelOf(source.LastPicture(), m_client.left + 5, m_client.top + 5));
    }
    // A second "monitor" whose rectangle holds the window; its size then
    // changes (a new resolution or DPI), and then it goes away.
    g_monitors = {Monitor(L"\\\\.\\DISPLAY1", {0, 0, 2560, 1440}, true),
                  Monitor(L"\\\\.\\DISPLAY2", {m_client.left, m_client.top, m_client.right, m_client.bottom}, false)};
    CCaptureSource source(nullptr, &TestMonitors);
    ASSERT_EQ(S_OK, source.Start());
    CopyWideText(m_settings.sourceMonitor, L"\\\\.\\DISPLAY2", kMonitorNameCapacity);
    ASSERT_EQ(IFrameSource::Outcome::Picture, Read(source));
    EXPECT_EQ(kWidth, source.LastPicture().width);
    EXPECT_EQ(kYellow, PixelOf(source.LastPicture(), kWidth - 1, kHeight - 1));
    g_monitors[1].rect.right -= kWidth / 2;
    ASSERT_EQ(IFrameSource::Outcome::Picture, Read(source));
    EXPECT_EQ(kWidth / 2, source.LastPicture().width) << "the change is followed from the next frame";
    EXPECT_EQ(kBlue, PixelOf(source.LastPicture(), kWidth / 2 - 1, kHeight - 1));
    g_monitors.erase(g_monitors.begin() + 1);
    ASSERT_EQ(IFrameSource::Outcome::Picture, Read(source));
    EXPECT_EQ(2560, source.LastPicture().width) << "the primary while the monitor is not there";
    g_monitors.clear();
    EXPECT_EQ(IFrameSource::Outcome::Standby, Read(source)) << "no monitor at all";
    source.Stop();
}

TEST_F(CaptureSourceTest, WithThePointerOnTheFramesDifferOnlyAroundIt_PointerInjected) {
    CCaptureSource source;
    source.CaptureForTesting().SetPointerForTesting(&TestPointer);
    ASSERT_EQ(S_OK, source.Start());
    m_settings.sourceKind = SourceKind::Region;
    m_settings.sourceRegion = {m_client.left, m_client.top, kWidth, kHeight};
    g_pointer = {true, {m_client.left + 100, m_client.top + 100}, nullptr};
    const auto read = [&](CursorChoice choice) {
        m_settings.showCursor = choice;
        EXPECT_EQ(IFrameSource::Outcome::Picture, Read(source));
        const SourcePicture picture = source.LastPicture();
        std::vector<COLORREF> pixels;
        for (int y = 0; y < picture.height; ++y) {
            for (int x = 0; x < picture.width; ++x) {
                pixels.push_back(PixelOf(picture, x, y));
            }
        }
        return pixels;
    };
    const std::vector<COLORREF> without = read(CursorChoice::Off);
    // Missing, a region shows it.
    const std::vector<COLORREF> with = read(CursorChoice::Default);
    ASSERT_EQ(without.size(), with.size());
    int changed = 0;
    int outside = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const size_t i = static_cast<size_t>(y) * kWidth + static_cast<size_t>(x);
            if (with[i] != without[i]) {
                ++changed;
                // The arrow's hotspot is its tip: it lies below and right.
                if (x < 100 || y < 100 || x >= 100 + 64 || y >= 100 + 64) {
                    ++outside;
                }
            }
        }
    }
    EXPECT_GT(changed, 50) << "the pointer is drawn";
    EXPECT_EQ(0, outside) << "pixels away from the pointer changed";
    // Off the picture: the frames are as without it.
    g_pointer.position = {m_client.left - 400, m_client.top};
    EXPECT_EQ(without, read(CursorChoice::On));
    source.Stop();
}
