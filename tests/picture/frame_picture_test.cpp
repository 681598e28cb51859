// The picture every sample carries, drawn with real GDI into real samples
// from the platform's memory allocator: the canvas and its faults, the
// standby frame, real top-level windows painted with known colours and
// scaled into every format, framed (fit, fill, mirror), and resizes racing
// the streaming thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <thread>
#include <vector>

#include "tests/support/sample_rendering.h"
#include "settings/capture_settings.h"
#include "scaler/frame_geometry.h"
#include "picture/frame_converter.h"
#include "picture/frame_picture.h"
#include "capture/output_formats.h"
#include "window/window_capture.h"
#include "tests/support/capture_test_support.h"
#include "tests/support/test_window.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

constexpr wchar_t kQuillmereClass[] = L"Quillmere::MainFrame";
constexpr int kBottomMargin = 5;

constexpr COLORREF kRed = RGB(200, 30, 30);
constexpr COLORREF kGreen = RGB(30, 200, 30);
constexpr COLORREF kBlue = RGB(30, 30, 200);
constexpr COLORREF kYellow = RGB(220, 220, 40);

class FramePictureTest : public testing::Test {
protected:
    void SetUp() override {
        // Windows of other test programs must stay out of sight (see
        // private_desktop.cpp).
        ASSERT_TRUE(PrivateTestDesktop::IsCurrent());
    }

    // A sample of exactly the canvas size of `picture`.
    void MakeSample(const CFramePicture& picture) {
        m_allocator = std::make_unique<SampleAllocator>();
        ASSERT_EQ(S_OK, m_allocator->Init(static_cast<long>(picture.ImageSize())));
        m_sample.Reset();
        ASSERT_EQ(S_OK, m_allocator->GetSample(&m_sample));
    }

    // The standby frame without a window, else the window's copy.
    const BYTE* Render(CFramePicture& picture, HWND window, const wchar_t* text = kDefaultTitleTextW) {
        Render(picture, window, text, m_sample.Get());
        return SampleBytes(m_sample.Get());
    }
    void Render(CFramePicture& picture, HWND window, const wchar_t* text, IMediaSample* sample,
                ScaleMode mode = ScaleMode::Stretch, bool mirror = false) {
        if (window == nullptr) {
            RenderStandby(picture, text, sample);
        } else if (m_capture.Read(window, CaptureMethod::Copy, INFINITE, nullptr) ==
                   CWindowCapture::Outcome::Picture) {
            const CWindowCapture::Picture& read = m_capture.LastPicture();
            RenderWindow(picture, read.topRow, read.stride, read.width, read.height, mode, mirror, sample);
        } else {
            const CWindowCapture::Picture& kept = m_capture.LastPicture();
            RenderPrevious(picture, kept.topRow, kept.stride, kept.width, kept.height, mode, mirror, sample);
        }
    }

    // A framed frame, into a sample first filled with leftovers of other
    // pictures (a recycled buffer).
    const BYTE* RenderFramed(CFramePicture& picture, HWND window, ScaleMode mode, bool mirror) {
        std::memset(SampleBytes(m_sample.Get()), 0xAB, static_cast<size_t>(m_sample->GetSize()));
        Render(picture, window, kDefaultTitleTextW, m_sample.Get(), mode, mirror);
        return SampleBytes(m_sample.Get());
    }

    // Reads on the calling thread: no capture thread is started.
    CWindowCapture m_capture;
    std::unique_ptr<SampleAllocator> m_allocator;
    ComPtr<IMediaSample> m_sample;
};

bool AllZero(const std::vector<BYTE>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](BYTE b) { return b == 0; });
}

SIZE TextExtent(const wchar_t* text) {
    UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
    UniqueGdiObject font = CFramePicture::CreateStandbyFont();
    ScopedSelectObject select(dc.get(), font.get());
    SIZE size = {};
    ::GetTextExtentPoint32W(dc.get(), text, static_cast<int>(std::wcslen(text)), &size);
    return size;
}

// A standby picture: black, but for the text in white (grey where it is
// smoothed) within its line box, centred, the box's bottom 5 pixels above
// the bottom edge.
void ExpectStandbyFrame(const BYTE* picture, int width, int height, const wchar_t* text) {
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
    if (text[0] == L'\0') {
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

// The picture of a window of size sw x sh (its quadrant picture) framed
// into a w x h picture by `geometry`: black exactly outside the target
// rectangle; inside it, nothing black, and where an output pixel's source
// area (mirrored if so) lies in one quadrant of the window, that colour.
// Pixels at the quadrants' edges lie between their colours.
void ExpectFramedQuadrants(const BYTE* picture, int w, int h, const FrameGeometry& geometry, int sw, int sh) {
    const COLORREF colours[4] = {kRed, kGreen, kBlue, kYellow};
    const RECT& source = geometry.source;
    const RECT& target = geometry.target;
    const double rx = static_cast<double>(source.right - source.left) / (target.right - target.left);
    const double ry = static_cast<double>(source.bottom - source.top) / (target.bottom - target.top);
    constexpr double kReach = 3.0;
    int exact = 0;
    int inside = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const COLORREF pixel = PixelOf(picture, w, h, x, y);
            if (x < target.left || x >= target.right || y < target.top || y >= target.bottom) {
                ASSERT_EQ(0u, pixel) << "not black outside the picture at " << x << "," << y;
                continue;
            }
            ++inside;
            ASSERT_GE(std::max({GetRValue(pixel), GetGValue(pixel), GetBValue(pixel)}), 25)
                << "black inside the picture at " << x << "," << y;
            const int column = geometry.mirror ? target.right - 1 - x : x - target.left;
            const double x0 = source.left + column * rx - kReach;
            const double x1 = source.left + (column + 1) * rx + kReach;
            const double y0 = source.top + (y - target.top) * ry - kReach;
            const double y1 = source.top + (y - target.top + 1) * ry + kReach;
            const bool left = x1 <= sw / 2;
            const bool right = x0 >= sw / 2;
            const bool top = y1 <= sh / 2;
            const bool bottom = y0 >= sh / 2;
            if ((left || right) && (top || bottom)) {
                const COLORREF expected = colours[(bottom ? 2 : 0) + (right ? 1 : 0)];
                ASSERT_NEAR(GetRValue(expected), GetRValue(pixel), 1) << x << "," << y;
                ASSERT_NEAR(GetGValue(expected), GetGValue(pixel), 1) << x << "," << y;
                ASSERT_NEAR(GetBValue(expected), GetBValue(pixel), 1) << x << "," << y;
                ++exact;
            }
        }
    }
    EXPECT_GT(exact, inside / 2);
}

// Quadrants, with the columns (or rows) beyond `keep` of the middle in
// magenta: what a fill must cut off.
TestWindowPainter QuadrantsWithMagentaEdges(int width, int height, bool columns, int keep) {
    const TestWindowPainter quadrants = QuadrantPainter(width, height, kRed, kGreen, kBlue, kYellow);
    return [=](int x, int y) {
        const int position = columns ? x : y;
        const int length = columns ? width : height;
        if (std::abs(2 * position + 1 - length) > keep) {
            return RGB(255, 0, 255);
        }
        return quadrants(x, y);
    };
}

bool HasMagenta(const BYTE* picture, int w, int h) {
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const COLORREF pixel = PixelOf(picture, w, h, x, y);
            if (GetRValue(pixel) > 230 && GetBValue(pixel) > 150) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

// ---- Canvas -------------------------------------------------------------------

TEST_F(FramePictureTest, ANewPictureIsA204x360BlackCanvas) {
    CFramePicture picture;
    EXPECT_EQ(204, picture.Width());
    EXPECT_EQ(360, picture.Height());
    ASSERT_EQ(220320u, picture.ImageSize());
    std::vector<BYTE> pixels(220320, 0xEE);
    ASSERT_EQ(S_OK, picture.CopyPixels(pixels.data(), 220320));
    EXPECT_TRUE(AllZero(pixels));
    EXPECT_EQ(E_INVALIDARG, picture.CopyPixels(pixels.data(), 220319));
    EXPECT_EQ(E_POINTER, picture.CopyPixels(nullptr, 220320));
}

TEST_F(FramePictureTest, ResizingGivesABlackCanvasOfTheNewSizeEvenAtTheSameSize) {
    CFramePicture picture;
    MakeSample(picture);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 100, 80, SolidPainter(kRed)));
    EXPECT_EQ(kRed, PixelOf(Render(picture, window.hwnd()), 204, 360, 10, 10));
    ASSERT_EQ(S_OK, picture.Resize(204, 360));
    std::vector<BYTE> pixels(220320, 0xEE);
    ASSERT_EQ(S_OK, picture.CopyPixels(pixels.data(), 220320));
    EXPECT_TRUE(AllZero(pixels)) << "the same size again still clears the picture";

    ASSERT_EQ(S_OK, picture.Resize(1136, 640));
    ASSERT_EQ(2181120u, picture.ImageSize());
    pixels.assign(2181120, 0xEE);
    ASSERT_EQ(S_OK, picture.CopyPixels(pixels.data(), 2181120));
    EXPECT_TRUE(AllZero(pixels));
    // Rows of 203 pixels are padded to 612 bytes.
    ASSERT_EQ(S_OK, picture.Resize(203, 100));
    EXPECT_EQ(61200u, picture.ImageSize());
}

TEST_F(FramePictureTest, AFailedResizeKeepsThePreviousCanvas) {
    CFramePicture picture;
    MakeSample(picture);
    for (const auto& [w, h] : {std::make_pair(0, 360), std::make_pair(204, -1),
                               std::make_pair(kMaxFrameDimension + 1, 10), std::make_pair(-5, -5)}) {
        EXPECT_EQ(E_INVALIDARG, picture.Resize(w, h)) << w << "x" << h;
        EXPECT_EQ(204, picture.Width());
        EXPECT_EQ(360, picture.Height());
        EXPECT_EQ(220320u, picture.ImageSize());
    }
    // Frames go on with the kept canvas.
    ExpectStandbyFrame(Render(picture, nullptr), 204, 360, kDefaultTitleTextW);
}

// ---- Standby frames ---------------------------------------------------------

TEST_F(FramePictureTest, StandbyFramesAtTheSmallestAndLargestSizeWithAnyText) {
    CFramePicture picture;
    MakeSample(picture);
    ExpectStandbyFrame(Render(picture, nullptr), 204, 360, kDefaultTitleTextW);
    ASSERT_EQ(S_OK, picture.Resize(1136, 640));
    MakeSample(picture);
    ExpectStandbyFrame(Render(picture, nullptr), 1136, 640, kDefaultTitleTextW);
    ExpectStandbyFrame(Render(picture, nullptr, L"Be right back"), 1136, 640, L"Be right back");
    ExpectStandbyFrame(Render(picture, nullptr, L""), 1136, 640, L"");
    // Drawn as it reads: an ampersand is no mnemonic prefix.
    ExpectStandbyFrame(Render(picture, nullptr, L"Q&A"), 1136, 640, L"Q&A");
}

// ---- Windows ------------------------------------------------------------------

TEST_F(FramePictureTest, AWindowIsStretchedOverTheWholeCanvas) {
    CFramePicture picture;
    MakeSample(picture);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 400, 300,
                                  QuadrantPainter(400, 300, kRed, kGreen, kBlue, kYellow)));
    ExpectStretchedQuadrants(Render(picture, window.hwnd()), 204, 360, 400, 300);
}

TEST_F(FramePictureTest, LargerWindowsShrinkIntoEveryFormat) {
    CFramePicture picture;
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 1280, 720,
                                  QuadrantPainter(1280, 720, kRed, kGreen, kBlue, kYellow)));
    for (const FrameSize& size : FrameSizeTable) {
        ASSERT_EQ(S_OK, picture.Resize(size.width, size.height));
        MakeSample(picture);
        ExpectStretchedQuadrants(Render(picture, window.hwnd()), size.width, size.height, 1280, 720);
    }
}

TEST_F(FramePictureTest, AWindowRepaintedIsSeenInTheNextFrame) {
    CFramePicture picture;
    MakeSample(picture);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 300, 300, SolidPainter(kRed)));
    EXPECT_EQ(kRed, PixelOf(Render(picture, window.hwnd()), 204, 360, 50, 50));
    window.Paint(SolidPainter(kYellow));
    EXPECT_EQ(kYellow, PixelOf(Render(picture, window.hwnd()), 204, 360, 50, 50));
}

TEST_F(FramePictureTest, ThePreviousPictureIsRepeatedAsItWas) {
    CFramePicture picture;
    MakeSample(picture);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 300, 300, SolidPainter(kGreen)));
    EXPECT_EQ(kGreen, PixelOf(Render(picture, window.hwnd()), 204, 360, 50, 50));
    window.Paint(SolidPainter(kRed));
    // The window's picture as the capture keeps it, scaled again.
    const CWindowCapture::Picture kept = m_capture.LastPicture();
    std::memset(SampleBytes(m_sample.Get()), 0xAB, 220320);
    RenderPrevious(picture, kept.topRow, kept.stride, kept.width, kept.height, ScaleMode::Stretch, false,
                           m_sample.Get());
    EXPECT_EQ(kGreen, PixelOf(SampleBytes(m_sample.Get()), 204, 360, 50, 50));
    EXPECT_EQ(220320, m_sample->GetActualDataLength());
    // After a standby frame, the standby frame again, whatever is kept.
    RenderStandby(picture, L"", m_sample.Get());
    std::memset(SampleBytes(m_sample.Get()), 0xAB, 220320);
    RenderPrevious(picture, kept.topRow, kept.stride, kept.width, kept.height, ScaleMode::Stretch, false,
                           m_sample.Get());
    EXPECT_EQ(0u, PixelOf(SampleBytes(m_sample.Get()), 204, 360, 50, 50));
}

TEST_F(FramePictureTest, AWindowsPictureGoesStraightIntoTheSampleAndNotIntoTheCanvas) {
    CFramePicture picture;
    MakeSample(picture);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 300, 300, SolidPainter(kGreen)));
    std::memset(SampleBytes(m_sample.Get()), 0xAB, 220320);
    EXPECT_EQ(kGreen, PixelOf(Render(picture, window.hwnd()), 204, 360, 50, 50));
    std::vector<BYTE> canvas(220320, 0xCD);
    ASSERT_EQ(S_OK, picture.CopyPixels(canvas.data(), 220320));
    EXPECT_TRUE(AllZero(canvas)) << "the window's picture was drawn into the canvas too";
}

TEST_F(FramePictureTest, TheStandbyTextGrowsWithTheHdSizesAndKeepsItsSizeBelowThem) {
    for (int index = 0; index < kFrameSizeTableCount; ++index) {
        const FrameSize size = FrameSizeTable[index];
        const LONG expected = index < 6 ? 16 : (size.width < size.height ? size.width : size.height) * 16 / 360;
        EXPECT_EQ(expected, CFramePicture::StandbyFontHeightFor(size.width, size.height)) << index;
    }
    EXPECT_EQ(48, CFramePicture::StandbyFontHeightFor(1920, 1080));
    EXPECT_EQ(15, CFramePicture::StandbyTextMarginFor(1080, 1920));
    EXPECT_EQ(5, CFramePicture::StandbyTextMarginFor(1136, 640));
    // Drawn at 1920x1080, the text's ink is three times as tall as at the
    // small sizes.
    CFramePicture picture;
    ASSERT_EQ(S_OK, picture.Resize(1920, 1080));
    MakeSample(picture);
    RenderStandby(picture, L"HHHH", m_sample.Get());
    const BYTE* bytes = SampleBytes(m_sample.Get());
    int top = 1080;
    int bottom = -1;
    for (int y = 0; y < 1080; ++y) {
        for (int x = 900; x < 1020; ++x) {
            if (GetRValue(PixelOf(bytes, 1920, 1080, x, y)) > 128) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    ASSERT_GE(bottom, top) << "no text";
    EXPECT_GE(bottom - top + 1, 24) << "the text is no taller than at the small sizes";
    EXPECT_LE(bottom, 1080 - 15);
}

TEST_F(FramePictureTest, JapaneseStandbyTextIsDrawnAsItsOwnGlyphs) {
    CFramePicture picture;
    ASSERT_EQ(S_OK, picture.Resize(568, 320));
    MakeSample(picture);
    // "待機中" (standing by) against what a code page without it makes of it.
    const BYTE* bytes = Render(picture, nullptr, L"\u5F85\u6A5F\u4E2D");
    const std::vector<BYTE> japanese(bytes, bytes + 545280);
    bytes = Render(picture, nullptr, L"???");
    const std::vector<BYTE> questions(bytes, bytes + 545280);
    EXPECT_NE(japanese, questions);
    EXPECT_TRUE(std::any_of(japanese.begin(), japanese.end(), [](BYTE b) { return b != 0; })) << "no ink at all";
}

// ---- Framing ------------------------------------------------------------------

TEST_F(FramePictureTest, FitPutsBlackBarsWhereTheGeometrySaysPortraitAndLandscape) {
    struct Case {
        int windowWidth;
        int windowHeight;
        int width;
        int height;
        RECT target;
    };
    // A wide window letterboxed in a portrait picture; a 4:3 window
    // pillarboxed in a landscape one.
    for (const Case& c : {Case{1280, 720, 204, 360, {0, 123, 204, 237}}, Case{400, 300, 852, 480, {106, 0, 746, 480}}}) {
        CFramePicture picture;
        ASSERT_EQ(S_OK, picture.Resize(c.width, c.height));
        MakeSample(picture);
        TestWindow window;
        ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", c.windowWidth, c.windowHeight,
                                      QuadrantPainter(c.windowWidth, c.windowHeight, kRed, kGreen, kBlue, kYellow)));
        const FrameGeometry geometry =
            ComputeFrameGeometry(ScaleMode::Fit, false, c.windowWidth, c.windowHeight, c.width, c.height);
        ASSERT_TRUE(EqualRect(&c.target, &geometry.target));
        // A stretched frame first: the bars of the next are cleared anyway.
        RenderFramed(picture, window.hwnd(), ScaleMode::Stretch, false);
        for (int frame = 0; frame < 2; ++frame) {
            ExpectFramedQuadrants(RenderFramed(picture, window.hwnd(), ScaleMode::Fit, false), c.width, c.height,
                                  geometry, c.windowWidth, c.windowHeight);
        }
    }
}

TEST_F(FramePictureTest, FillCropsTheWindowsCentrePortraitAndLandscape) {
    struct Case {
        int windowWidth;
        int windowHeight;
        int width;
        int height;
        bool columns;
        RECT source;
    };
    // The middle 408 columns of a wide window for a portrait picture; the
    // middle 226 rows of a 4:3 window for a landscape one. What lies further
    // out is magenta and must not show.
    for (const Case& c : {Case{1280, 720, 204, 360, true, {436, 0, 844, 720}},
                          Case{400, 300, 852, 480, false, {0, 37, 400, 263}}}) {
        CFramePicture picture;
        ASSERT_EQ(S_OK, picture.Resize(c.width, c.height));
        MakeSample(picture);
        TestWindow window;
        const int keep = c.columns ? 408 + 40 : 226 + 10;
        ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", c.windowWidth, c.windowHeight,
                                      QuadrantsWithMagentaEdges(c.windowWidth, c.windowHeight, c.columns, keep)));
        const FrameGeometry geometry =
            ComputeFrameGeometry(ScaleMode::Fill, false, c.windowWidth, c.windowHeight, c.width, c.height);
        ASSERT_TRUE(EqualRect(&c.source, &geometry.source));
        const BYTE* framed = RenderFramed(picture, window.hwnd(), ScaleMode::Fill, false);
        ExpectFramedQuadrants(framed, c.width, c.height, geometry, c.windowWidth, c.windowHeight);
        EXPECT_FALSE(HasMagenta(framed, c.width, c.height));
        // Stretched, the magenta edges are there: the test can see them.
        EXPECT_TRUE(HasMagenta(RenderFramed(picture, window.hwnd(), ScaleMode::Stretch, false), c.width, c.height));
    }
}

TEST_F(FramePictureTest, MirrorSwapsTheLeftAndRightQuadrants) {
    CFramePicture picture;
    ASSERT_EQ(S_OK, picture.Resize(568, 320));
    MakeSample(picture);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 640, 360,
                                  QuadrantPainter(640, 360, kRed, kGreen, kBlue, kYellow)));
    for (const ScaleMode mode : {ScaleMode::Stretch, ScaleMode::Fit}) {
        const BYTE* mirrored = RenderFramed(picture, window.hwnd(), mode, true);
        ExpectFramedQuadrants(mirrored, 568, 320, ComputeFrameGeometry(mode, true, 640, 360, 568, 320), 640, 360);
        EXPECT_EQ(kGreen, PixelOf(mirrored, 568, 320, 10, 10)) << "the window's top right, now on the left";
        EXPECT_EQ(kRed, PixelOf(mirrored, 568, 320, 557, 10));
        EXPECT_EQ(kYellow, PixelOf(mirrored, 568, 320, 10, 309));
        EXPECT_EQ(kBlue, PixelOf(mirrored, 568, 320, 557, 309));
    }
}

TEST_F(FramePictureTest, TheStandbyFrameIsNeverMirrored) {
    // A standby frame after mirrored frames of a window is the one a fresh
    // picture draws, text readable, byte for byte; and again for the same
    // text (which is not drawn again).
    CFramePicture fresh;
    CFramePicture mirrored;
    for (CFramePicture* picture : {&fresh, &mirrored}) {
        ASSERT_EQ(S_OK, picture->Resize(852, 480));
    }
    MakeSample(fresh);
    const size_t bytes = fresh.ImageSize();
    RenderStandby(fresh, L"Be right back", m_sample.Get());
    const std::vector<BYTE> expected(SampleBytes(m_sample.Get()), SampleBytes(m_sample.Get()) + bytes);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 640, 360,
                                  QuadrantPainter(640, 360, kRed, kGreen, kBlue, kYellow)));
    for (const ScaleMode mode : {ScaleMode::Stretch, ScaleMode::Fit, ScaleMode::Fill}) {
        RenderFramed(mirrored, window.hwnd(), mode, true);
        for (int frame = 0; frame < 2; ++frame) {
            std::memset(SampleBytes(m_sample.Get()), 0xAB, bytes);
            RenderStandby(mirrored, L"Be right back", m_sample.Get());
            const BYTE* standby = SampleBytes(m_sample.Get());
            ExpectStandbyFrame(standby, 852, 480, L"Be right back");
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), standby)) << "mode " << static_cast<int>(mode);
        }
    }
}

TEST_F(FramePictureTest, APreviousFramedPictureRepeatsWithItsBars) {
    CFramePicture picture;
    ASSERT_EQ(S_OK, picture.Resize(204, 360));
    MakeSample(picture);
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 640, 360,
                                  QuadrantPainter(640, 360, kRed, kGreen, kBlue, kYellow)));
    const FrameGeometry geometry = ComputeFrameGeometry(ScaleMode::Fit, true, 640, 360, 204, 360);
    ExpectFramedQuadrants(RenderFramed(picture, window.hwnd(), ScaleMode::Fit, true), 204, 360, geometry, 640, 360);
    // No copy of the window any more (gone): the last picture again, bars
    // and all, into a sample that held something else.
    const HWND gone = window.hwnd();
    window.Destroy();
    ExpectFramedQuadrants(RenderFramed(picture, gone, ScaleMode::Fit, true), 204, 360, geometry, 640, 360);
    // Back to stretch: the bars are gone.
    TestWindow again;
    ASSERT_EQ(S_OK, again.Create(kQuillmereClass, L"Quillmere", 640, 360,
                                 QuadrantPainter(640, 360, kRed, kGreen, kBlue, kYellow)));
    ExpectFramedQuadrants(RenderFramed(picture, again.hwnd(), ScaleMode::Stretch, false), 204, 360,
                          ComputeFrameGeometry(ScaleMode::Stretch, false, 640, 360, 204, 360), 640, 360);
}

// ---- Samples ------------------------------------------------------------------

TEST_F(FramePictureTest, LargerSamplesCarryThePictureInFrontAndSmallerOnesNone) {
    CFramePicture picture;
    SampleAllocator larger;
    ASSERT_EQ(S_OK, larger.Init(220321));
    ComPtr<IMediaSample> sample;
    ASSERT_EQ(S_OK, larger.GetSample(&sample));
    ASSERT_EQ(220321, sample->GetSize());
    BYTE* bytes = SampleBytes(sample.Get());
    std::memset(bytes, 0xAB, 220321);
    RenderStandby(picture, kDefaultTitleTextW, sample.Get());
    // The black standby picture fills the front; the length says how much.
    EXPECT_EQ(0, bytes[0]);
    EXPECT_EQ(0xAB, bytes[220320]);
    EXPECT_EQ(220320, sample->GetActualDataLength());

    SampleAllocator smaller;
    ASSERT_EQ(S_OK, smaller.Init(220319));
    ASSERT_EQ(S_OK, smaller.GetSample(&sample));
    bytes = SampleBytes(sample.Get());
    std::memset(bytes, 0xAB, 220319);
    RenderStandby(picture, kDefaultTitleTextW, sample.Get());
    EXPECT_TRUE(std::all_of(bytes, bytes + 220319, [](BYTE b) { return b == 0xAB; }));
}

// ---- Resizes racing the streaming thread ----------------------------------------

TEST_F(FramePictureTest, ResizesOnAnotherThreadNeverOverlapAFrame) {
    CFramePicture picture;
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 640, 360, SolidPainter(kYellow)));
    MakeSample(picture);
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::atomic<int> torn{0};
    std::atomic<int> captured{0};
    // The worker renders into samples of the first format, the window and
    // the standby frame by turns; whenever the canvas has that size the
    // sample must be one whole picture: the yellow window, or a standby
    // frame whose corners are black.
    std::thread worker([&]() {
        // The window lives on the private desktop: so does its reader.
        if (!::SetThreadDesktop(PrivateTestDesktop::Handle())) {
            ++torn;
            return;
        }
        ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        BYTE* bytes = SampleBytes(m_sample.Get());
        CWindowCapture capture;
        for (int i = 0; !stop; ++i) {
            std::memset(bytes, 0xAB, 220320);
            if (i % 2 == 0 && capture.Read(window.hwnd(), CaptureMethod::Copy, INFINITE, nullptr) ==
                                  CWindowCapture::Outcome::Picture) {
                const CWindowCapture::Picture& read = capture.LastPicture();
                RenderWindow(picture, read.topRow, read.stride, read.width, read.height, ScaleMode::Stretch,
                                     /*mirror=*/false, m_sample.Get());
            } else {
                RenderStandby(picture, L"a somewhat longer standby text", m_sample.Get());
            }
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
    for (int i = 0; i < 120 || frames < 100; ++i) {
        const FrameSize& size = FrameSizeTable[i % 2 == 0 ? i / 2 % kFrameSizeTableCount : 0];
        EXPECT_EQ(S_OK, picture.Resize(size.width, size.height));
        EXPECT_EQ(S_OK, picture.Resize(204, 360));
        PumpMessages();
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

TEST(FramePictureFormatsTest, EveryFormatGetsTheRgbPictureConvertedExactly) {
    // A picture of noise, fitted and mirrored (bars, and a rectangle that
    // starts within a band of the strip), then the standby frame: every
    // format's frame is the RGB24 frame converted, byte for byte, and the
    // bands leave nothing of the target unwritten.
    unsigned seed = 3;
    std::vector<uint32_t> window(701 * 433);
    for (uint32_t& pixel : window) {
        seed = seed * 1103515245u + 12345u;
        pixel = (seed >> 8) & 0xFFFFFFu;
    }
    const auto* windowTop = reinterpret_cast<const BYTE*>(window.data());
    const CFrameConverter converter;
    for (const int index : {4, 9}) {
        const int width = FrameSizeTable[index].width;
        const int height = FrameSizeTable[index].height;
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        CFramePicture picture;
        ASSERT_EQ(S_OK, picture.Resize(width, height));
        std::vector<BYTE> rgb(LayoutOf(PixelFormat::Rgb24, width, height).imageBytes);
        const FrameTarget rgbTarget = TargetOf(PixelFormat::Rgb24, width, height, rgb.data(), false);
        const Bgr24Picture rgbPicture = {rgb.data(), rgbTarget.planes[0].stride, width, height};
        for (const bool standby : {false, true}) {
            SCOPED_TRACE(standby ? "standby" : "window");
            const auto render = [&](const FrameTarget& target) {
                return standby ? picture.RenderStandby(L"QM Capture", target)
                               : picture.RenderWindow(windowTop, 701 * 4, 701, 433, ScaleMode::Fit, true, target);
            };
            ASSERT_TRUE(render(rgbTarget));
            for (const PixelFormat format : {PixelFormat::Nv12, PixelFormat::Yuy2, PixelFormat::I420, PixelFormat::Rgb32}) {
                SCOPED_TRACE(NameOf(format));
                const size_t bytes = LayoutOf(format, width, height).imageBytes;
                std::vector<BYTE> drawn(bytes, 0xAB);
                std::vector<BYTE> expected(bytes, 0xCD);
                // As DirectShow samples lie: RGB32 bottom-up.
                ASSERT_TRUE(render(TargetOf(format, width, height, drawn.data(), true)));
                ASSERT_EQ(S_OK, converter.Convert(rgbPicture, TargetOf(format, width, height, expected.data(), true)));
                EXPECT_TRUE(drawn == expected);
            }
        }
    }
}
