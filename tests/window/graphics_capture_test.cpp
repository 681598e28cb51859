// Graphics capture (Windows.Graphics.Capture), which Wine lacks, through a
// stand-in for its runtime: the test DLL graphics_capture_stand_in.dll,
// registered under the real class names so that Wine's own
// RoGetActivationFactory hands it to the reader (tests/support/
// graphics_capture_stand_in.h). Its frames are real Direct3D 11 textures,
// so the reader's cut-out, staging copy and map run for real.
//
// Seams: the stand-in's registration (the runtime), and where the reader
// takes CreateDirect3D11DeviceFromDXGIDevice from
// (SetDeviceInteropForTesting / SetGraphicsDeviceInteropForTesting: Wine's
// d3d11.dll has none, so without the seam the reader finds "no Direct3D
// 11 device for the graphics capture runtime"). A copy that reads back
// black is injected (BlackCopyReader) to reach auto's later methods. The
// last group runs against Wine itself, without the stand-in.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "window/graphics_capture_reader.h"
#include "window/window_capture.h"
#include "tests/window/black_copy_reader.h"
#include "tests/support/graphics_capture_stand_in.h"
#include "tests/support/test_window_thread.h"

using namespace qmtest;

namespace {

constexpr wchar_t kTargetClass[] = L"QMGraphicsCaptureTest::Target";
constexpr wchar_t kFramedClass[] = L"QMGraphicsCaptureTest::Framed";
constexpr DWORD kFramedStyle = WS_POPUP | WS_DLGFRAME;
constexpr DWORD kFramedExStyle = WS_EX_NOACTIVATE | WS_EX_CLIENTEDGE;
constexpr COLORREF kRed = RGB(200, 30, 30);
constexpr DWORD kGenerousDeadlineMs = 5000;
const std::atomic<bool> kNeverGiveUp{false};

using Result = CGraphicsCaptureReader::Result;
using Availability = GraphicsCaptureAvailability;

// Every pixel of a picture against the stand-in's client pattern of one
// frame, from the client point `from` on.
testing::AssertionResult ShowsStandInFrame(const BYTE* topRow, ptrdiff_t stride, SIZE size, POINT from, int frame) {
    for (int y = 0; y < size.cy; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(topRow + y * stride);
        for (int x = 0; x < size.cx; ++x) {
            const uint32_t want = StandInClientPixel(from.x + x, from.y + y, frame) & 0x00FFFFFFu;
            if ((row[x] & 0x00FFFFFFu) != want) {
                char colours[48];
                std::snprintf(colours, sizeof(colours), "%06X, not %06X", static_cast<unsigned>(row[x] & 0x00FFFFFFu),
                              static_cast<unsigned>(want));
                return testing::AssertionFailure() << "pixel (" << x << ", " << y << ") of frame " << frame << " is "
                                                   << colours;
            }
        }
    }
    return testing::AssertionSuccess();
}

COLORREF PixelAt(const CWindowCapture::Picture& picture, int x, int y) {
    const BYTE* p = picture.topRow + y * picture.stride + x * 4;
    return RGB(p[2], p[1], p[0]);
}

// Each case of a parameterised test is named by its `name`.
template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& test) {
    return test.param.name;
}

LRESULT CALLBACK FramedProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(window, message, wParam, lParam);
}

class GraphicsCaptureTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_ui.ok());
        ASSERT_EQ(S_OK, m_standIn.LoadResult());
        ASSERT_EQ(S_OK, m_standIn.Register());
    }
    void TearDown() override {
        for (const HWND window : m_framed) {
            m_ui.Run([&]() { ::DestroyWindow(window); });
        }
    }

    // A window with borders, whose client area lies inside its frames;
    // shown unless asked not to be. Borders without a caption: a window
    // manager (none under Xvfb) would manage a captioned window, and Wine
    // waits two seconds for one whenever such a window is hidden.
    HWND CreateFramed(int clientWidth, int clientHeight, bool shown = true) {
        HWND window = nullptr;
        m_ui.Run([&]() {
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = &FramedProc;
            windowClass.hInstance = ::GetModuleHandleW(nullptr);
            windowClass.lpszClassName = kFramedClass;
            ::RegisterClassW(&windowClass);
            RECT rect = {0, 0, clientWidth, clientHeight};
            ::AdjustWindowRectEx(&rect, kFramedStyle, FALSE, kFramedExStyle);
            window = ::CreateWindowExW(kFramedExStyle, kFramedClass, L"Framed", kFramedStyle, 40, 30,
                                       rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                                       windowClass.hInstance, nullptr);
            if (window != nullptr && shown) {
                ::ShowWindow(window, SW_SHOWNOACTIVATE);
            }
        });
        EXPECT_NE(nullptr, window);
        m_framed.push_back(window);
        return window;
    }
    void ResizeClient(HWND window, int clientWidth, int clientHeight) {
        m_ui.Run([&]() {
            RECT rect = {0, 0, clientWidth, clientHeight};
            ::AdjustWindowRectEx(&rect, kFramedStyle, FALSE, kFramedExStyle);
            ::SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        });
    }
    HWND CreateQuadrants(int width, int height) {
        HWND window = nullptr;
        EXPECT_EQ(S_OK, m_ui.Create(kTargetClass, L"Target", width, height,
                                    QuadrantPainter(width, height, kRed, RGB(30, 200, 30), RGB(30, 30, 200),
                                                    RGB(220, 220, 40)),
                                    &window));
        return window;
    }
    int LastFrame() const { return m_standIn.Control().framesMade - 1; }
    GraphicsCaptureStandInControl& StandIn() const { return m_standIn.Control(); }

    GraphicsCaptureStandIn m_standIn;
    TestWindowThread m_ui{PrivateTestDesktop::Handle()};
    std::vector<HWND> m_framed;
};

// ---- The reader ----------------------------------------------------------

struct AvailabilityCase {
    const char* name;
    // What the system lacks.
    void (*arrange)(GraphicsCaptureStandIn& standIn);
    bool deviceInteropSeam;
    Availability expected;
};

class GraphicsCaptureAvailabilityTest : public GraphicsCaptureTest,
                                        public testing::WithParamInterface<AvailabilityCase> {};

TEST_P(GraphicsCaptureAvailabilityTest, IsFoundOutFirstAndGivesItsReason) {
    const AvailabilityCase& c = GetParam();
    c.arrange(m_standIn);
    const HWND window = CreateFramed(64, 48);
    CGraphicsCaptureReader reader;
    if (c.deviceInteropSeam) {
        reader.SetDeviceInteropForTesting(m_standIn.DeviceInterop());
    }
    EXPECT_EQ(c.expected, reader.Availability()) << DescribeGraphicsCaptureAvailability(reader.KnownAvailability());
    CMemoryDib dib;
    ASSERT_TRUE(dib.Create(64, 48, 32, true));
    SIZE read = {};
    const Result result = reader.Read(window, {0, 0, 64, 48}, false, kNeverGiveUp, dib, &read);
    EXPECT_EQ(c.expected == Availability::Available ? Result::Picture : Result::Unavailable, result);
    // Nothing is made for a capture before the runtime has said yes.
    EXPECT_EQ(c.expected == Availability::Available ? 1 : 0, StandIn().itemsCreated.load());
    if (!c.deviceInteropSeam) {
        // A program that lists windows asks the same way.
        EXPECT_EQ(c.expected, CGraphicsCaptureReader::Probe());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, GraphicsCaptureAvailabilityTest,
    testing::Values(
        AvailabilityCase{"NoRuntime", [](GraphicsCaptureStandIn&) { GraphicsCaptureStandIn::RemoveRegistration(); },
                         true, Availability::NoRuntime},
        AvailabilityCase{"NotSupported", [](GraphicsCaptureStandIn& s) { s.Control().supported = false; }, true,
                         Availability::NotSupported},
        AvailabilityCase{"NoWindowCapture", [](GraphicsCaptureStandIn& s) { s.Control().windowCapture = false; },
                         true, Availability::NoWindowCapture},
        AvailabilityCase{"NoDeviceInterop", [](GraphicsCaptureStandIn&) {}, false, Availability::NoDeviceInterop},
        AvailabilityCase{"Available", [](GraphicsCaptureStandIn&) {}, true, Availability::Available}),
    CaseName<AvailabilityCase>);

TEST_F(GraphicsCaptureTest, TheClientAreaOrPartOfItIsCutOutOfTheFramePixelForPixel) {
    const HWND window = CreateFramed(320, 200);
    CGraphicsCaptureReader reader;
    reader.SetDeviceInteropForTesting(m_standIn.DeviceInterop());
    CMemoryDib dib;
    ASSERT_TRUE(dib.Create(320, 200, 32, true));
    SIZE read = {};
    ASSERT_EQ(Result::Picture, reader.Read(window, {0, 0, 320, 200}, false, kNeverGiveUp, dib, &read));
    EXPECT_EQ(320, read.cx);
    EXPECT_EQ(200, read.cy);
    EXPECT_TRUE(ShowsStandInFrame(dib.Pixels(), dib.Stride(), read, {0, 0}, LastFrame()));
    // One capture: no pointer, no border; told when its item closes.
    EXPECT_EQ(1, StandIn().sessionsStarted.load());
    EXPECT_EQ(0, StandIn().pointerSetting.load());
    EXPECT_EQ(0, StandIn().borderSetting.load());
    EXPECT_EQ(1, StandIn().closedHandlers.load());

    // A part of the client area (as a crop asks), and the pointer asked for.
    ASSERT_EQ(Result::Picture, reader.Read(window, {17, 9, 117, 89}, true, kNeverGiveUp, dib, &read));
    EXPECT_EQ(100, read.cx);
    EXPECT_EQ(80, read.cy);
    EXPECT_TRUE(ShowsStandInFrame(dib.Pixels(), dib.Stride(), read, {17, 9}, LastFrame()));
    EXPECT_EQ(1, StandIn().pointerSetting.load());
    EXPECT_EQ(1, StandIn().itemsCreated.load());

    // Ended: session, pool and Closed handler go (and with them the border).
    reader.Close();
    EXPECT_EQ(1, StandIn().sessionsClosed.load());
    EXPECT_EQ(1, StandIn().poolsClosed.load());
    EXPECT_EQ(0, StandIn().closedHandlers.load());
    // A system without the border switch captures with its border.
    StandIn().borderSwitch = false;
    StandIn().borderSetting = -1;
    ASSERT_EQ(Result::Picture, reader.Read(window, {0, 0, 320, 200}, false, kNeverGiveUp, dib, &read));
    EXPECT_EQ(-1, StandIn().borderSetting.load());
    EXPECT_TRUE(ShowsStandInFrame(dib.Pixels(), dib.Stride(), read, {0, 0}, LastFrame()));
}

TEST_F(GraphicsCaptureTest, OnlyNewFramesAreReadAndTheNewestOfThem) {
    StandIn().manualFrames = true;
    const HWND window = CreateFramed(160, 120);
    CGraphicsCaptureReader reader;
    reader.SetDeviceInteropForTesting(m_standIn.DeviceInterop());
    CMemoryDib dib;
    ASSERT_TRUE(dib.Create(160, 120, 32, true));
    SIZE read = {};
    // No frame yet from the capture just started: nothing to show.
    EXPECT_EQ(Result::Unchanged, reader.Read(window, {0, 0, 160, 120}, false, kNeverGiveUp, dib, &read));
    ASSERT_EQ(S_OK, m_standIn.DeliverFrames(1));
    ASSERT_EQ(Result::Picture, reader.Read(window, {0, 0, 160, 120}, false, kNeverGiveUp, dib, &read));
    EXPECT_TRUE(ShowsStandInFrame(dib.Pixels(), dib.Stride(), read, {0, 0}, 0));
    // The window did not change: nothing is read, the picture is untouched.
    std::memset(dib.Pixels(), 0x5A, dib.ImageSize());
    EXPECT_EQ(Result::Unchanged, reader.Read(window, {0, 0, 160, 120}, false, kNeverGiveUp, dib, &read));
    EXPECT_EQ(0x5A5A5A5Au, *reinterpret_cast<const uint32_t*>(dib.Pixels()));
    // Two frames came meanwhile: the newer is shown.
    ASSERT_EQ(S_OK, m_standIn.DeliverFrames(2));
    ASSERT_EQ(Result::Picture, reader.Read(window, {0, 0, 160, 120}, false, kNeverGiveUp, dib, &read));
    EXPECT_TRUE(ShowsStandInFrame(dib.Pixels(), dib.Stride(), read, {0, 0}, 2));
    EXPECT_EQ(3, StandIn().framesTaken.load());
}

TEST_F(GraphicsCaptureTest, AResizedWindowHasThePoolRecreatedAtItsSize) {
    const HWND window = CreateFramed(200, 150);
    CGraphicsCaptureReader reader;
    reader.SetDeviceInteropForTesting(m_standIn.DeviceInterop());
    CMemoryDib dib;
    ASSERT_TRUE(dib.Create(300, 220, 32, true));
    SIZE read = {};
    ASSERT_EQ(Result::Picture, reader.Read(window, {0, 0, 200, 150}, false, kNeverGiveUp, dib, &read));
    const int firstPoolWidth = StandIn().poolWidth;
    ResizeClient(window, 300, 220);
    // The first frame after it is still of the pool's size: what it holds
    // of the larger client area.
    ASSERT_EQ(Result::Picture, reader.Read(window, {0, 0, 300, 220}, false, kNeverGiveUp, dib, &read));
    EXPECT_LT(read.cx, 300);
    EXPECT_LT(read.cy, 220);
    EXPECT_TRUE(ShowsStandInFrame(dib.Pixels(), dib.Stride(), read, {0, 0}, LastFrame()));
    EXPECT_EQ(1, StandIn().poolsRecreated.load());
    EXPECT_EQ(firstPoolWidth + 100, StandIn().poolWidth.load());
    // Then frames of the new size: all of it.
    ASSERT_EQ(Result::Picture, reader.Read(window, {0, 0, 300, 220}, false, kNeverGiveUp, dib, &read));
    EXPECT_EQ(300, read.cx);
    EXPECT_EQ(220, read.cy);
    EXPECT_TRUE(ShowsStandInFrame(dib.Pixels(), dib.Stride(), read, {0, 0}, LastFrame()));
    EXPECT_EQ(1, StandIn().poolsRecreated.load());
    EXPECT_EQ(1, StandIn().poolsCreated.load());
}

struct EndingCase {
    const char* name;
    void (*arrange)(GraphicsCaptureStandIn& standIn);
    Result expected;
};

class GraphicsCaptureEndingTest : public GraphicsCaptureTest, public testing::WithParamInterface<EndingCase> {};

TEST_P(GraphicsCaptureEndingTest, EndsTheCaptureAndTheNextReadStartsAnother) {
    const HWND window = CreateFramed(120, 90);
    CGraphicsCaptureReader reader;
    reader.SetDeviceInteropForTesting(m_standIn.DeviceInterop());
    CMemoryDib dib;
    ASSERT_TRUE(dib.Create(120, 90, 32, true));
    SIZE read = {};
    ASSERT_EQ(Result::Picture, reader.Read(window, {0, 0, 120, 90}, false, kNeverGiveUp, dib, &read));
    GetParam().arrange(m_standIn);
    EXPECT_EQ(GetParam().expected, reader.Read(window, {0, 0, 120, 90}, false, kNeverGiveUp, dib, &read));
    EXPECT_FALSE(reader.IsCapturing());
    EXPECT_EQ(1, StandIn().sessionsClosed.load());
    EXPECT_EQ(0, StandIn().closedHandlers.load());
    StandIn().nextFrameResult = S_OK;
    ASSERT_EQ(Result::Picture, reader.Read(window, {0, 0, 120, 90}, false, kNeverGiveUp, dib, &read));
    EXPECT_EQ(2, StandIn().itemsCreated.load());
}

INSTANTIATE_TEST_SUITE_P(
    Endings, GraphicsCaptureEndingTest,
    testing::Values(EndingCase{"ItemClosed", [](GraphicsCaptureStandIn& s) { s.CloseItems(); }, Result::Closed},
                    EndingCase{"DeviceLost",
                               [](GraphicsCaptureStandIn& s) {
                                   s.Control().nextFrameResult = static_cast<HRESULT>(0x887A0005L);
                               },
                               Result::Failed}),
    CaseName<EndingCase>);

// ---- Through the window capture --------------------------------------------

TEST_F(GraphicsCaptureTest, MethodThreeStreamsTheWindowAndFollowsItsState) {
    const HWND window = CreateQuadrants(200, 150);
    CWindowCapture capture;
    capture.SetGraphicsDeviceInteropForTesting(m_standIn.DeviceInterop());
    ASSERT_EQ(S_OK, capture.Start());
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(window, CaptureMethod::Graphics, kGenerousDeadlineMs, nullptr));
    const CWindowCapture::Picture& picture = capture.LastPicture();
    EXPECT_TRUE(ShowsStandInFrame(picture.topRow, picture.stride, {picture.width, picture.height}, {0, 0},
                                  LastFrame()));
    EXPECT_EQ(Availability::Available, capture.GraphicsAvailabilityFound());
    // Minimised: the last picture; restored: its frames again.
    m_ui.Run([&]() { ::ShowWindow(window, SW_SHOWMINNOACTIVE); });
    EXPECT_EQ(CWindowCapture::Outcome::KeepPrevious,
              capture.Read(window, CaptureMethod::Graphics, kGenerousDeadlineMs, nullptr));
    m_ui.Run([&]() { ::ShowWindow(window, SW_SHOWNOACTIVATE); });
    EXPECT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(window, CaptureMethod::Graphics, kGenerousDeadlineMs, nullptr));
    // A window that was never shown: the standby frame.
    EXPECT_EQ(CWindowCapture::Outcome::Standby,
              capture.Read(CreateFramed(80, 60, /*shown=*/false), CaptureMethod::Graphics, kGenerousDeadlineMs,
                           nullptr));
    // Its item closes while the window is still there: the window is read
    // as auto reads it, by its copy.
    m_standIn.CloseItems();
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(window, CaptureMethod::Graphics, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(kRed, PixelAt(capture.LastPicture(), 10, 10));
    // Closed: the standby frame.
    m_ui.Destroy(window);
    EXPECT_EQ(CWindowCapture::Outcome::Standby,
              capture.Read(window, CaptureMethod::Graphics, kGenerousDeadlineMs, nullptr));
    capture.Stop();
    capture.WaitUntilEnded();
    EXPECT_EQ(StandIn().sessionsStarted.load(), StandIn().sessionsClosed.load());
}

TEST_F(GraphicsCaptureTest, AutoReadsAWindowWhoseCopyStaysBlackByGraphicsCaptureBeforeThePrint_CopyInjected) {
    const HWND window = CreateQuadrants(200, 150);
    BlackCopyReader copies;
    CWindowCapture capture(&copies);
    capture.SetGraphicsDeviceInteropForTesting(m_standIn.DeviceInterop());
    capture.SetNewWindowGraceForTesting(0);
    ASSERT_EQ(S_OK, capture.Start());
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(CWindowCapture::Outcome::Picture,
                  capture.Read(window, CaptureMethod::Auto, kGenerousDeadlineMs, nullptr));
    }
    EXPECT_EQ(CaptureMethod::Graphics, capture.AutoMethodInUse());
    const CWindowCapture::Picture& picture = capture.LastPicture();
    EXPECT_TRUE(ShowsStandInFrame(picture.topRow, picture.stride, {picture.width, picture.height}, {0, 0},
                                  LastFrame()));
    EXPECT_EQ(0, copies.prints.load());
    // Frames keep coming from the capture, without a copy each.
    const int copiesBefore = copies.copies;
    ASSERT_EQ(CWindowCapture::Outcome::Picture,
              capture.Read(window, CaptureMethod::Auto, kGenerousDeadlineMs, nullptr));
    EXPECT_EQ(copiesBefore, copies.copies.load());
    // The copy recovers: within a few seconds auto copies again, and the
    // capture (its border with it) ends.
    copies.black = false;
    const ULONGLONG start = ::GetTickCount64();
    while (capture.AutoMethodInUse() != CaptureMethod::Copy && ::GetTickCount64() - start < 10000) {
        ASSERT_NE(CWindowCapture::Outcome::Standby,
                  capture.Read(window, CaptureMethod::Auto, kGenerousDeadlineMs, nullptr));
        ::Sleep(100);
    }
    EXPECT_EQ(CaptureMethod::Copy, capture.AutoMethodInUse());
    EXPECT_EQ(kRed, PixelAt(capture.LastPicture(), 10, 10));
    EXPECT_EQ(1, StandIn().sessionsClosed.load());
}

struct HandOverCase {
    const char* name;
    void (*arrange)(GraphicsCaptureStandIn& standIn);
};

class GraphicsCaptureHandOverTest : public GraphicsCaptureTest, public testing::WithParamInterface<HandOverCase> {};

TEST_P(GraphicsCaptureHandOverTest, AutoPrintsAWindowWhoseGraphicsCaptureFailsOrReadsBlack_CopyInjected) {
    GetParam().arrange(m_standIn);
    const HWND window = CreateQuadrants(200, 150);
    BlackCopyReader copies;
    CWindowCapture capture(&copies);
    capture.SetGraphicsDeviceInteropForTesting(m_standIn.DeviceInterop());
    capture.SetNewWindowGraceForTesting(0);
    ASSERT_EQ(S_OK, capture.Start());
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(CWindowCapture::Outcome::Picture,
                  capture.Read(window, CaptureMethod::Auto, kGenerousDeadlineMs, nullptr));
    }
    EXPECT_EQ(CaptureMethod::Print, capture.AutoMethodInUse());
    EXPECT_EQ(kRed, PixelAt(capture.LastPicture(), 10, 10));
    EXPECT_EQ(2, copies.prints.load());
    // No capture left running for the printed window.
    EXPECT_EQ(StandIn().sessionsStarted.load(), StandIn().sessionsClosed.load());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, GraphicsCaptureHandOverTest,
    testing::Values(HandOverCase{"BlackFrames", [](GraphicsCaptureStandIn& s) { s.Control().blackFrames = true; }},
                    HandOverCase{"NoItem",
                                 [](GraphicsCaptureStandIn& s) { s.Control().createForWindowResult = E_ACCESSDENIED; }}),
    CaseName<HandOverCase>);

// ---- Wine itself, without the stand-in -------------------------------------

class GraphicsCaptureWithoutRuntimeTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_ui.ok());
        GraphicsCaptureStandIn::RemoveRegistration();
    }
    TestWindowThread m_ui{PrivateTestDesktop::Handle()};
};

TEST_F(GraphicsCaptureWithoutRuntimeTest, MethodThreeAndAutoReadAsBeforeAndSayWhy_CopyInjectedForAuto) {
    EXPECT_EQ(Availability::NoRuntime, CGraphicsCaptureReader::Probe());
    EXPECT_STREQ("no graphics capture runtime", DescribeGraphicsCaptureAvailability(Availability::NoRuntime));
    HWND window = nullptr;
    ASSERT_EQ(S_OK, m_ui.Create(kTargetClass, L"Target", 200, 150,
                                QuadrantPainter(200, 150, kRed, RGB(30, 200, 30), RGB(30, 30, 200), RGB(0, 0, 0)),
                                &window));
    // Method 3: the copy.
    CWindowCapture forced;
    ASSERT_EQ(S_OK, forced.Start());
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(CWindowCapture::Outcome::Picture,
                  forced.Read(window, CaptureMethod::Graphics, kGenerousDeadlineMs, nullptr));
        EXPECT_EQ(kRed, PixelAt(forced.LastPicture(), 10, 10));
    }
    EXPECT_EQ(Availability::NoRuntime, forced.GraphicsAvailabilityFound());
    EXPECT_EQ(CaptureMethod::Copy, forced.AutoMethodInUse());
    // Auto with a copy that stays black: the print, as before.
    BlackCopyReader copies;
    CWindowCapture automatic(&copies);
    automatic.SetNewWindowGraceForTesting(0);
    ASSERT_EQ(S_OK, automatic.Start());
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(CWindowCapture::Outcome::Picture,
                  automatic.Read(window, CaptureMethod::Auto, kGenerousDeadlineMs, nullptr));
    }
    EXPECT_EQ(CaptureMethod::Print, automatic.AutoMethodInUse());
    EXPECT_EQ(kRed, PixelAt(automatic.LastPicture(), 10, 10));
    EXPECT_EQ(Availability::NoRuntime, automatic.GraphicsAvailabilityFound());
}

}  // namespace
