// The frame source end to end: real samples from the memory allocator,
// real top-level windows of class "Quillmere::MainFrame" painted with known
// colours, the standby frame, window tracking, the canvas and its faults,
// timestamps, the wake event and setters racing the fill.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_settings.h"
#include "capture/frame_source.h"
#include "capture/output_formats.h"
#include "tests/capture/capture_test_support.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/test_window.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kQuillmereClass[] = L"Quillmere::MainFrame";
constexpr int kBottomMargin = 5;

constexpr COLORREF kRed = RGB(200, 30, 30);
constexpr COLORREF kGreen = RGB(30, 200, 30);
constexpr COLORREF kBlue = RGB(30, 30, 200);
constexpr COLORREF kYellow = RGB(220, 220, 40);

class FrameSourceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sandbox.ok());
        // Windows of other test programs must stay out of sight (see
        // private_desktop.cpp), and none of ours may be left over: either
        // would be captured instead of the standby frame.
        ASSERT_TRUE(PrivateTestDesktop::IsCurrent());
        ASSERT_EQ(nullptr, ::FindWindowW(kQuillmereClass, nullptr)) << "a Quillmere::MainFrame window exists";
    }

    // A sample of exactly the canvas size of `source`.
    void MakeSample(const CFrameSource& source) {
        m_allocator = std::make_unique<SampleAllocator>();
        ASSERT_EQ(S_OK, m_allocator->Init(static_cast<long>(source.GetCanvasImageSize())));
        m_sample.Reset();
        ASSERT_EQ(S_OK, m_allocator->GetSample(&m_sample));
    }

    const BYTE* Fill(CFrameSource& source) {
        EXPECT_EQ(S_OK, source.FillBuffer(m_sample.Get(), nullptr));
        return SampleBytes(m_sample.Get());
    }

    RegistrySandbox m_sandbox;
    std::unique_ptr<SampleAllocator> m_allocator;
    ComPtr<IMediaSample> m_sample;
};

// The standby font as the device describes it, for the expected text box.
UniqueGdiObject MakeStandbyFont() {
    LOGFONTW font = {};
    ::SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof(font), &font, 0);
    font.lfHeight = 16;
    font.lfWeight = FW_NORMAL;
    constexpr wchar_t kFace[] = L"\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF";
    std::memcpy(font.lfFaceName, kFace, sizeof(kFace));
    return UniqueGdiObject(::CreateFontIndirectW(&font));
}

SIZE TextExtent(const char* text) {
    UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    UniqueGdiObject font = MakeStandbyFont();
    ScopedSelectObject select(dc.get(), font.get());
    SIZE size = {};
    ::GetTextExtentPoint32A(dc.get(), text, static_cast<int>(std::strlen(text)), &size);
    return size;
}

// A standby picture: black, but for the text in white (grey where it is
// smoothed) within its line box, centred, the box's bottom 5 pixels above
// the bottom edge.
void ExpectStandbyFrame(const BYTE* picture, int width, int height, const char* text) {
    const SIZE extent = TextExtent(text);
    const int boxLeft = (width - extent.cx) / 2 - 1;
    const int boxRight = (width + extent.cx) / 2 + 1;
    const int boxBottom = height - kBottomMargin;
    const int boxTop = boxBottom - extent.cy - 1;
    int inkLeft = width;
    int inkRight = -1;
    int brightest = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const COLORREF pixel = PixelOf(picture, width, height, x, y);
            const int r = GetRValue(pixel);
            ASSERT_TRUE(r == GetGValue(pixel) && r == GetBValue(pixel)) << "not grey at " << x << "," << y;
            if (r == 0) {
                continue;
            }
            ASSERT_TRUE(x >= boxLeft && x < boxRight && y >= boxTop && y < boxBottom)
                << "ink outside the text line at " << x << "," << y;
            inkLeft = std::min(inkLeft, x);
            inkRight = std::max(inkRight, x);
            brightest = std::max(brightest, r);
        }
    }
    if (text[0] == '\0') {
        EXPECT_EQ(-1, inkRight) << "an empty text draws nothing";
        return;
    }
    EXPECT_EQ(255, brightest) << "the text is white";
    EXPECT_NEAR(width / 2.0, (inkLeft + inkRight + 1) / 2.0, 3.0) << "the text is centred";
}

// The quadrant picture of a window of size sw x sh scaled to w x h: where
// an output pixel's source neighbourhood lies in one quadrant it is that
// colour; next to one edge it lies between the two colours.
void ExpectStretchedQuadrants(const BYTE* picture, int w, int h, int sw, int sh) {
    const COLORREF colours[4] = {kRed, kGreen, kBlue, kYellow};
    const double rx = static_cast<double>(sw) / w;
    const double ry = static_cast<double>(sh) / h;
    constexpr double kReach = 3.0;
    int exact = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double x0 = x * rx - kReach;
            const double x1 = (x + 1) * rx + kReach;
            const double y0 = y * ry - kReach;
            const double y1 = (y + 1) * ry + kReach;
            const bool left = x1 <= sw / 2;
            const bool right = x0 >= sw / 2;
            const bool top = y1 <= sh / 2;
            const bool bottom = y0 >= sh / 2;
            const COLORREF pixel = PixelOf(picture, w, h, x, y);
            if ((left || right) && (top || bottom)) {
                const COLORREF expected = colours[(bottom ? 2 : 0) + (right ? 1 : 0)];
                ASSERT_NEAR(GetRValue(expected), GetRValue(pixel), 1) << x << "," << y;
                ASSERT_NEAR(GetGValue(expected), GetGValue(pixel), 1) << x << "," << y;
                ASSERT_NEAR(GetBValue(expected), GetBValue(pixel), 1) << x << "," << y;
                ++exact;
            } else if (left || right || top || bottom) {
                // Next to one straight edge: between its two colours.
                COLORREF a;
                COLORREF b;
                if (left || right) {
                    a = colours[right ? 1 : 0];
                    b = colours[right ? 3 : 2];
                } else {
                    a = colours[bottom ? 2 : 0];
                    b = colours[bottom ? 3 : 1];
                }
                for (const int shift : {0, 8, 16}) {
                    const int ca = (a >> shift) & 0xFF;
                    const int cb = (b >> shift) & 0xFF;
                    const int value = static_cast<int>((pixel >> shift) & 0xFF);
                    ASSERT_GE(value + 1, std::min(ca, cb)) << x << "," << y;
                    ASSERT_LE(value - 1, std::max(ca, cb)) << x << "," << y;
                }
            }
        }
    }
    EXPECT_GT(exact, w * h / 2);
}

}  // namespace

// ---- Construction and canvas ------------------------------------------------

TEST_F(FrameSourceTest, ConstructionBuildsABlackCanvasAndSearchesNothing) {
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 100, 80, SolidPainter(kRed)));
    CFrameSource source;
    EXPECT_EQ(nullptr, source.GetCapturedWindow());
    EXPECT_EQ(204, source.GetCanvasWidth());
    EXPECT_EQ(360, source.GetCanvasHeight());
    ASSERT_EQ(220320u, source.GetCanvasImageSize());
    std::vector<BYTE> pixels(220320, 0xEE);
    ASSERT_EQ(S_OK, source.CopyCanvasPixels(pixels.data(), 220320));
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](BYTE b) { return b == 0; }));
}

TEST_F(FrameSourceTest, RebuildingGivesABlackCanvasOfTheNewSize) {
    CFrameSource source;
    CMediaType current;
    ASSERT_EQ(S_OK, BuildMediaType(&current, source.GetFrameTime(), 0));
    ASSERT_EQ(S_OK, source.SetSelectPixel(5, &current));
    ASSERT_EQ(2181120u, source.GetCanvasImageSize());
    std::vector<BYTE> pixels(2181120, 0xEE);
    ASSERT_EQ(S_OK, source.CopyCanvasPixels(pixels.data(), 2181120));
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](BYTE b) { return b == 0; }));

    // Rows of 203 pixels are padded to 612 bytes.
    ASSERT_EQ(S_OK, source.RebuildCanvas(203, 100));
    EXPECT_EQ(61200u, source.GetCanvasImageSize());
}

TEST_F(FrameSourceTest, RebuildingAtTheSameSizeClearsThePictureAndTheWindow) {
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 100, 80, SolidPainter(kRed)));
    CFrameSource source(nullptr);
    AlwaysLateClock clock;
    CFrameSource fast(&clock);
    MakeSample(fast);
    Fill(fast);
    Fill(fast);
    ASSERT_EQ(window.hwnd(), fast.GetCapturedWindow());
    ASSERT_EQ(S_OK, fast.RebuildCanvas(204, 360));
    EXPECT_EQ(nullptr, fast.GetCapturedWindow());
    std::vector<BYTE> pixels(220320, 0xEE);
    ASSERT_EQ(S_OK, fast.CopyCanvasPixels(pixels.data(), 220320));
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](BYTE b) { return b == 0; }));
}

TEST_F(FrameSourceTest, AFailedRebuildKeepsThePreviousCanvas) {
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    MakeSample(source);
    for (const auto& [w, h] : {std::make_pair(0, 360), std::make_pair(204, -1),
                               std::make_pair(kMaxFrameDimension + 1, 10), std::make_pair(-5, -5)}) {
        EXPECT_EQ(E_INVALIDARG, source.RebuildCanvas(w, h)) << w << "x" << h;
        EXPECT_EQ(204, source.GetCanvasWidth());
        EXPECT_EQ(360, source.GetCanvasHeight());
        EXPECT_EQ(220320u, source.GetCanvasImageSize());
    }
    // Frames go on with the kept canvas.
    ExpectStandbyFrame(Fill(source), 204, 360, kDefaultTitleText);
}

// ---- Standby frames ---------------------------------------------------------

TEST_F(FrameSourceTest, WithoutAWindowEveryFrameIsTheStandbyFrame) {
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    MakeSample(source);
    for (int i = 0; i < 3; ++i) {
        ExpectStandbyFrame(Fill(source), 204, 360, kDefaultTitleText);
        EXPECT_EQ(nullptr, source.GetCapturedWindow());
    }
}

TEST_F(FrameSourceTest, StandbyFramesAtTheLargestSizeAndWithOtherTexts) {
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    ASSERT_EQ(S_OK, source.RebuildCanvas(1136, 640));
    MakeSample(source);
    ExpectStandbyFrame(Fill(source), 1136, 640, kDefaultTitleText);
    ASSERT_EQ(S_OK, source.SetTitleText("Be right back"));
    ExpectStandbyFrame(Fill(source), 1136, 640, "Be right back");
    ASSERT_EQ(S_OK, source.SetTitleText(""));
    ExpectStandbyFrame(Fill(source), 1136, 640, "");
}

// ---- Capturing windows ------------------------------------------------------

TEST_F(FrameSourceTest, AFoundWindowIsCapturedFromTheNextFrameStretched) {
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    MakeSample(source);
    ExpectStandbyFrame(Fill(source), 204, 360, kDefaultTitleText);

    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 400, 300,
                                  QuadrantPainter(400, 300, kRed, kGreen, kBlue, kYellow)));
    // The frame that finds the window is still a standby frame.
    ExpectStandbyFrame(Fill(source), 204, 360, kDefaultTitleText);
    EXPECT_EQ(window.hwnd(), source.GetCapturedWindow());
    ExpectStretchedQuadrants(Fill(source), 204, 360, 400, 300);
}

TEST_F(FrameSourceTest, LargerWindowsShrinkIntoEveryFormat) {
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 1280, 720,
                                  QuadrantPainter(1280, 720, kRed, kGreen, kBlue, kYellow)));
    for (const FrameSize& size : FrameSizeTable) {
        ASSERT_EQ(S_OK, source.RebuildCanvas(size.width, size.height));
        MakeSample(source);
        ExpectStandbyFrame(Fill(source), size.width, size.height, kDefaultTitleText);
        ExpectStretchedQuadrants(Fill(source), size.width, size.height, 1280, 720);
    }
}

TEST_F(FrameSourceTest, AClosedWindowBringsBackTheStandbyFrame) {
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    MakeSample(source);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 200, 200, SolidPainter(kGreen)));
    Fill(source);
    const BYTE* picture = Fill(source);
    EXPECT_EQ(kGreen, PixelOf(picture, 204, 360, 100, 100));
    window.Destroy();
    ExpectStandbyFrame(Fill(source), 204, 360, kDefaultTitleText);
    EXPECT_EQ(nullptr, source.GetCapturedWindow());
    ExpectStandbyFrame(Fill(source), 204, 360, kDefaultTitleText);
}

TEST_F(FrameSourceTest, ARebuildMakesTheNextFrameAStandbyFrameAndSearchesAgain) {
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    MakeSample(source);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 200, 200, SolidPainter(kBlue)));
    Fill(source);
    EXPECT_EQ(kBlue, PixelOf(Fill(source), 204, 360, 10, 10));
    ASSERT_EQ(S_OK, source.RebuildCanvas(204, 360));
    ExpectStandbyFrame(Fill(source), 204, 360, kDefaultTitleText);
    EXPECT_EQ(window.hwnd(), source.GetCapturedWindow());
    EXPECT_EQ(kBlue, PixelOf(Fill(source), 204, 360, 10, 10));
}

TEST_F(FrameSourceTest, AWindowRepaintedIsSeenInTheNextFrame) {
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    MakeSample(source);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 300, 300, SolidPainter(kRed)));
    Fill(source);
    EXPECT_EQ(kRed, PixelOf(Fill(source), 204, 360, 50, 50));
    window.Paint(SolidPainter(kYellow));
    EXPECT_EQ(kYellow, PixelOf(Fill(source), 204, 360, 50, 50));
}

TEST_F(FrameSourceTest, TheBuiltInClassIsCapturedWhateverTheSettingsName) {
    ASSERT_TRUE(StoreText(kWindowClassValue, "Nothing::Here"));
    ASSERT_TRUE(StoreText(kWindowNameValue, "Nope"));
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    MakeSample(source);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Notes.txt - Quillmere", 120, 90, SolidPainter(kGreen)));
    Fill(source);
    EXPECT_EQ(window.hwnd(), source.GetCapturedWindow());
    EXPECT_EQ(kGreen, PixelOf(Fill(source), 204, 360, 100, 200));
}

TEST_F(FrameSourceTest, TheConfiguredWindowComesFirst) {
    ASSERT_TRUE(StoreText(kWindowClassValue, "Other::Frame"));
    ASSERT_TRUE(StoreText(kWindowNameValue, "Other"));
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    MakeSample(source);
    TestWindow fallback;
    ASSERT_EQ(S_OK, fallback.Create(kQuillmereClass, L"Quillmere", 120, 90, SolidPainter(kRed)));
    TestWindow configured;
    ASSERT_EQ(S_OK, configured.Create(L"Other::Frame", L"Other", 120, 90, SolidPainter(kBlue), 200, 0));
    Fill(source);
    EXPECT_EQ(configured.hwnd(), source.GetCapturedWindow());
    EXPECT_EQ(kBlue, PixelOf(Fill(source), 204, 360, 100, 200));
}

// ---- Samples and timestamps -------------------------------------------------

TEST_F(FrameSourceTest, LargerSamplesCarryThePictureAndSmallerOnesNone) {
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    SampleAllocator larger;
    ASSERT_EQ(S_OK, larger.Init(220321));
    ComPtr<IMediaSample> sample;
    ASSERT_EQ(S_OK, larger.GetSample(&sample));
    ASSERT_EQ(220321, sample->GetSize());
    BYTE* bytes = SampleBytes(sample.Get());
    std::memset(bytes, 0xAB, 220321);
    ASSERT_EQ(S_OK, source.FillBuffer(sample.Get(), nullptr));
    // The black standby picture fills the front; the length says how much.
    EXPECT_EQ(0, bytes[0]);
    EXPECT_EQ(0xAB, bytes[220320]);
    EXPECT_EQ(220320, sample->GetActualDataLength());
    REFERENCE_TIME start = -1;
    REFERENCE_TIME end = -1;
    ASSERT_EQ(S_OK, sample->GetTime(&start, &end));
    EXPECT_EQ(0, start);
    EXPECT_EQ(333333, end);
    EXPECT_EQ(S_OK, sample->IsSyncPoint());

    SampleAllocator smaller;
    ASSERT_EQ(S_OK, smaller.Init(220319));
    ASSERT_EQ(S_OK, smaller.GetSample(&sample));
    bytes = SampleBytes(sample.Get());
    std::memset(bytes, 0xAB, 220319);
    ASSERT_EQ(S_OK, source.FillBuffer(sample.Get(), nullptr));
    EXPECT_TRUE(std::all_of(bytes, bytes + 220319, [](BYTE b) { return b == 0xAB; }));
    ASSERT_EQ(S_OK, sample->GetTime(&start, &end));
    EXPECT_EQ(333333, start);
    EXPECT_EQ(666666, end);
}

TEST_F(FrameSourceTest, TimestampsAreContiguousFrameTimes) {
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    MakeSample(source);
    ASSERT_EQ(S_OK, source.OnThreadCreate());
    auto stamp = [&]() {
        Fill(source);
        REFERENCE_TIME start = -1;
        REFERENCE_TIME end = -1;
        EXPECT_EQ(S_OK, m_sample->GetTime(&start, &end));
        EXPECT_EQ(S_OK, m_sample->IsSyncPoint());
        return std::make_pair(start, end);
    };
    EXPECT_EQ(std::make_pair(REFERENCE_TIME{0}, REFERENCE_TIME{333333}), stamp());
    EXPECT_EQ(std::make_pair(REFERENCE_TIME{333333}, REFERENCE_TIME{666666}), stamp());
    EXPECT_EQ(std::make_pair(REFERENCE_TIME{666666}, REFERENCE_TIME{999999}), stamp());
    // A new frame time continues from where the stream stands.
    ASSERT_EQ(S_OK, source.SetFrameRate(15.0));
    EXPECT_EQ(std::make_pair(REFERENCE_TIME{999999}, REFERENCE_TIME{1666665}), stamp());
    // A new streaming thread starts again at 0.
    ASSERT_EQ(S_OK, source.OnThreadDestroy());
    ASSERT_EQ(S_OK, source.OnThreadCreate());
    EXPECT_EQ(0, source.GetNextSampleStart());
    EXPECT_EQ(std::make_pair(REFERENCE_TIME{0}, REFERENCE_TIME{666666}), stamp());
    source.OnThreadDestroy();
}

TEST_F(FrameSourceTest, FillBufferRefusesANullSample) {
    CFrameSource source;
    EXPECT_EQ(E_POINTER, source.FillBuffer(nullptr, nullptr));
}

// ---- Pacing and the wake event ----------------------------------------------

TEST_F(FrameSourceTest, ASignalledWakeEventEndsTheWaitAtOnceAndStaysSet) {
    // One frame per second; the clock moves a quarter second per reading.
    SteppingClock clock(2500000);
    CFrameSource source(&clock);
    source.SetFrameTime(10000000);
    MakeSample(source);
    ASSERT_EQ(S_OK, source.OnThreadCreate());
    UniqueHandle wake(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    ASSERT_TRUE(wake);
    ASSERT_EQ(S_OK, source.FillBuffer(m_sample.Get(), wake.get()));  // due at once
    clock.ResetReads();
    ASSERT_EQ(S_OK, source.FillBuffer(m_sample.Get(), wake.get()));
    // One reading to see the frame is not due, one to release it: the wait
    // itself ended on the event, not on the clock.
    EXPECT_EQ(2, clock.reads());
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(wake.get(), 0));
    REFERENCE_TIME start = -1;
    REFERENCE_TIME end = -1;
    ASSERT_EQ(S_OK, m_sample->GetTime(&start, &end));
    EXPECT_EQ(10000000, start);
    EXPECT_EQ(20000000, end);
    source.OnThreadDestroy();
}

TEST_F(FrameSourceTest, WithoutARequestTheFrameWaitsUntilItIsDue) {
    SteppingClock clock(2500000);
    CFrameSource source(&clock);
    source.SetFrameTime(10000000);
    MakeSample(source);
    ASSERT_EQ(S_OK, source.OnThreadCreate());
    UniqueHandle wake(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_EQ(S_OK, source.FillBuffer(m_sample.Get(), wake.get()));
    clock.ResetReads();
    ASSERT_EQ(S_OK, source.FillBuffer(m_sample.Get(), wake.get()));
    // Not due at 0.5 s and 0.75 s after the first frame, due at 1 s, then
    // released: the clock decided, four readings.
    EXPECT_EQ(4, clock.reads());
    source.OnThreadDestroy();
}

// ---- Setters racing the fill ------------------------------------------------

TEST_F(FrameSourceTest, SettersOnAnotherThreadNeverOverlapAFrame) {
    AlwaysLateClock clock;
    CFrameSource source(&clock);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 640, 360, SolidPainter(kYellow)));
    MakeSample(source);
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::atomic<int> torn{0};
    std::atomic<int> captured{0};
    // The worker fills samples of the first format; whenever the canvas has
    // that size the sample must be one whole picture: the captured yellow,
    // or a standby frame whose bottom rows are black.
    std::thread worker([&]() {
        // The worker searches for the window: on the window's desktop.
        if (!::SetThreadDesktop(PrivateTestDesktop::Handle())) {
            ++torn;
            return;
        }
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        BYTE* bytes = SampleBytes(m_sample.Get());
        while (!stop) {
            std::memset(bytes, 0xAB, 220320);
            source.FillBuffer(m_sample.Get(), nullptr);
            ++frames;
            if (bytes[0] == 0xAB && bytes[220319] == 0xAB) {
                continue;  // the canvas had another size: no picture
            }
            const COLORREF top = PixelOf(bytes, 204, 360, 0, 0);
            const COLORREF bottom = PixelOf(bytes, 204, 360, 203, 359);
            const bool isCaptured = top == kYellow && bottom == kYellow;
            const bool standby = top == 0 && bottom == 0;
            if (isCaptured) {
                ++captured;
            } else if (!standby) {
                ++torn;
            }
        }
        ::CoUninitialize();
    });
    CMediaType current;
    ASSERT_EQ(S_OK, BuildMediaType(&current, source.GetFrameTime(), 0));
    for (int i = 0; i < 120 || frames < 100; ++i) {
        source.SetSelectPixel(i % 2 == 0 ? i / 2 % kFrameSizeTableCount : 0, &current);
        source.SetTitleText(i % 3 == 0 ? "one" : "a somewhat longer standby text");
        source.SetFrameRate(5.0 + i % 25);
        source.SetFrameTime(333333 + i);
        source.RebuildCanvas(204, 360);
        char title[kSettingsTextCapacity];
        source.GetTitleText(title);
        TestWindow::PumpMessages();
        if (i > 100000) {
            break;
        }
    }
    stop = true;
    worker.join();
    EXPECT_GT(frames.load(), 0);
    EXPECT_GT(captured.load(), 0) << "the worker never captured the window";
    EXPECT_EQ(0, torn.load());
}
