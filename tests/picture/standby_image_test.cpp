// The standby picture: files read through WIC into top-down 32-bit rows,
// files that cannot be used (each leaving no picture and one log line,
// the size refused before any pixel memory), and the picture fitted into
// the standby frame on black under the standby text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/sample_rendering.h"
#include "picture/frame_picture.h"
#include "picture/standby_image.h"
#include "tests/support/capture_test_support.h"
#include "tests/support/standby_test_files.h"

using namespace qmtest;

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr int kCanvasWidth = 204;
constexpr int kCanvasHeight = 360;
constexpr DWORD kCanvasBytes = 220320;

COLORREF ImagePixel(const CStandbyImage& image, int x, int y) {
    const BYTE* p = image.TopRow() + y * image.Stride() + x * 4;
    return RGB(p[2], p[1], p[0]);
}

class StandbyImageTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_log.ok()); }

    // The lines the log gained that name a standby image.
    std::vector<std::string> StandbyLines() const { return m_log.LinesWith("standby image"); }

    // Loads a file that cannot be used: a failure, no picture, and exactly
    // one log line naming the file.
    void ExpectRefused(const std::wstring& path, HRESULT expected = S_OK) {
        const size_t before = StandbyLines().size();
        CStandbyImage image;
        const HRESULT hr = image.Load(path.c_str());
        EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
        if (expected != S_OK) {
            EXPECT_EQ(expected, hr);
        }
        EXPECT_TRUE(image.Empty());
        EXPECT_EQ(nullptr, image.TopRow());
        const std::vector<std::string> lines = StandbyLines();
        ASSERT_EQ(before + 1, lines.size());
        EXPECT_NE(std::string::npos, lines.back().find(Utf8(path))) << lines.back();
    }

    ScratchFolder m_folder;
    LogInFolder m_log{m_folder.Path()};
};

}  // namespace

TEST_F(StandbyImageTest, APngIsReadIntoTopDownRows) {
    const std::wstring path = m_folder.File(L"halves.png");
    ASSERT_EQ(S_OK, WritePng(path, 40, 20, [](int x, int y) { return y < 5 ? kGreen : x < 20 ? kRed : kBlue; }));
    CStandbyImage image;
    ASSERT_EQ(S_OK, image.Load(path.c_str()));
    ASSERT_FALSE(image.Empty());
    EXPECT_EQ(40, image.Width());
    EXPECT_EQ(20, image.Height());
    EXPECT_EQ(160, image.Stride());
    EXPECT_EQ(kGreen, ImagePixel(image, 0, 0));
    EXPECT_EQ(kRed, ImagePixel(image, 0, 19));
    EXPECT_EQ(kBlue, ImagePixel(image, 39, 19));
    EXPECT_TRUE(StandbyLines().empty());
}

TEST_F(StandbyImageTest, ABottomUpBmpIsReadTopRowFirst) {
    const std::wstring path = m_folder.File(L"stripe.bmp");
    ASSERT_TRUE(WriteBytes(path, BmpBytes(7, 5, [](int, int y) { return y == 0 ? kGreen : kWhite; })));
    CStandbyImage image;
    ASSERT_EQ(S_OK, image.Load(path.c_str()));
    EXPECT_EQ(7, image.Width());
    EXPECT_EQ(5, image.Height());
    EXPECT_EQ(kGreen, ImagePixel(image, 6, 0));
    EXPECT_EQ(kWhite, ImagePixel(image, 6, 4));
}

TEST_F(StandbyImageTest, TransparentPartsComeOutBlack) {
    const std::wstring path = m_folder.File(L"hole.png");
    ASSERT_EQ(S_OK, WritePng(path, 8, 8, Solid(kWhite), [](int x, int) { return static_cast<BYTE>(x < 4 ? 0 : 255); }));
    CStandbyImage image;
    ASSERT_EQ(S_OK, image.Load(path.c_str()));
    EXPECT_EQ(RGB(0, 0, 0), ImagePixel(image, 1, 1));
    EXPECT_EQ(kWhite, ImagePixel(image, 6, 1));
}

TEST_F(StandbyImageTest, NoPathMeansNoPictureAndNoLogLine) {
    CStandbyImage image;
    EXPECT_EQ(S_FALSE, image.Load(L""));
    EXPECT_EQ(S_FALSE, image.Load(nullptr));
    EXPECT_TRUE(image.Empty());
    EXPECT_TRUE(StandbyLines().empty());
}

TEST_F(StandbyImageTest, AMissingFileIsRefusedWithOneLogLine) {
    ExpectRefused(m_folder.Path() + L"\\missing.png");
}

TEST_F(StandbyImageTest, TextNamedPngIsRefusedWithOneLogLine) {
    const std::wstring path = m_folder.File(L"notes.png");
    ASSERT_TRUE(WriteBytes(path, "This is a note, not a picture.\r\n"));
    ExpectRefused(path);
}

TEST_F(StandbyImageTest, ATruncatedPngIsRefusedWithOneLogLine) {
    const std::wstring whole = m_folder.File(L"whole.png");
    ASSERT_EQ(S_OK, WritePng(whole, 64, 64, [](int x, int y) { return RGB(x * 4, y * 4, (x * y) & 255); }));
    const std::string bytes = ReadBytes(whole);
    ASSERT_GT(bytes.size(), 100u);
    const std::wstring cut = m_folder.File(L"cut.png");
    ASSERT_TRUE(WriteBytes(cut, bytes.substr(0, bytes.size() / 2)));
    ExpectRefused(cut);
}

TEST_F(StandbyImageTest, APictureOver8192InEitherDirectionIsRefusedBeforeItsPixelsAreRead) {
    // Headers that claim the size, with a few pixels of data behind them:
    // refused by size, not by the missing data.
    const std::wstring wide = m_folder.File(L"wide.bmp");
    ASSERT_TRUE(WriteBytes(wide, BmpBytes(4, 4, Solid(kRed), 9000, 10)));
    ExpectRefused(wide, WINCODEC_ERR_IMAGESIZEOUTOFRANGE);
    const std::wstring tall = m_folder.File(L"tall.bmp");
    ASSERT_TRUE(WriteBytes(tall, BmpBytes(4, 4, Solid(kRed), 10, 60000)));
    ExpectRefused(tall, WINCODEC_ERR_IMAGESIZEOUTOFRANGE);
    // 8192 itself is taken as far as the size goes (its data is missing).
    const std::wstring edge = m_folder.File(L"edge.bmp");
    ASSERT_TRUE(WriteBytes(edge, BmpBytes(4, 4, Solid(kRed), 8192, 1)));
    CStandbyImage image;
    EXPECT_NE(WINCODEC_ERR_IMAGESIZEOUTOFRANGE, image.Load(edge.c_str()));
}

TEST_F(StandbyImageTest, AHugePictureIsReadNoLargerThanTheLargestFrameNeeds) {
    // A small file that declares 8192 x 8192: fitted into 1920 x 1080 or
    // 1080 x 1920, the largest frames, it needs no more than 1080 x 1080.
    const std::wstring square = m_folder.File(L"square.png");
    ASSERT_EQ(S_OK, WriteBlackWhitePng(square, 8192, 8192, true));
    CStandbyImage image;
    ASSERT_EQ(S_OK, image.Load(square.c_str()));
    EXPECT_EQ(1080, image.Width());
    EXPECT_EQ(1080, image.Height());
    EXPECT_EQ(kWhite, ImagePixel(image, 540, 540));
    EXPECT_EQ(kWhite, ImagePixel(image, 1079, 1079));
    // Wide and tall ones keep their shape, each within its largest frame.
    const std::wstring wide = m_folder.File(L"wide.png");
    ASSERT_EQ(S_OK, WriteBlackWhitePng(wide, 8000, 2000, true));
    ASSERT_EQ(S_OK, image.Load(wide.c_str()));
    EXPECT_EQ(1920, image.Width());
    EXPECT_EQ(480, image.Height());
    const std::wstring tall = m_folder.File(L"tall.png");
    ASSERT_EQ(S_OK, WriteBlackWhitePng(tall, 2000, 8000, true));
    ASSERT_EQ(S_OK, image.Load(tall.c_str()));
    EXPECT_EQ(480, image.Width());
    EXPECT_EQ(1920, image.Height());
    EXPECT_TRUE(StandbyLines().empty());
}

TEST_F(StandbyImageTest, ALoadThatFailsDropsThePictureItHad) {
    const std::wstring good = m_folder.File(L"good.png");
    ASSERT_EQ(S_OK, WritePng(good, 4, 4, Solid(kRed)));
    CStandbyImage image;
    ASSERT_EQ(S_OK, image.Load(good.c_str()));
    ASSERT_FALSE(image.Empty());
    EXPECT_TRUE(FAILED(image.Load((m_folder.Path() + L"\\gone.png").c_str())));
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(0, image.Width());
}

namespace {

// The standby frame as the canvas holds it after RenderStandby.
class StandbyFrameTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_allocator.Init(static_cast<long>(kCanvasBytes)));
        ASSERT_EQ(S_OK, m_allocator.GetSample(&m_sample));
    }

    CStandbyImage Picture(int width, int height, const PixelColour& colour) {
        const std::wstring path = m_folder.File((L"p" + std::to_wstring(++m_files) + L".png").c_str());
        EXPECT_EQ(S_OK, WritePng(path, width, height, colour));
        CStandbyImage image;
        EXPECT_EQ(S_OK, image.Load(path.c_str()));
        return image;
    }

    // Renders the standby frame into the sample; its pixels.
    const BYTE* Render(CFramePicture& picture, const wchar_t* text) {
        std::memset(SampleBytes(m_sample.Get()), 0xAB, kCanvasBytes);
        RenderStandby(picture, text, m_sample.Get());
        EXPECT_EQ(static_cast<long>(kCanvasBytes), m_sample->GetActualDataLength());
        return SampleBytes(m_sample.Get());
    }

    static COLORREF At(const BYTE* pixels, int x, int y) { return PixelOf(pixels, kCanvasWidth, kCanvasHeight, x, y); }

    ScratchFolder m_folder;
    int m_files = 0;
    SampleAllocator m_allocator;
    Microsoft::WRL::ComPtr<IMediaSample> m_sample;
};

}  // namespace

TEST_F(StandbyFrameTest, AWidePictureIsFittedAcrossWithBlackBarsAboveAndBelow) {
    CFramePicture picture;
    // 100 x 50 into 204 x 360: 204 x 102, rows 129 to 230.
    picture.SetStandbyImage(Picture(100, 50, [](int x, int) { return x < 50 ? kRed : kBlue; }));
    const BYTE* frame = Render(picture, L"");
    EXPECT_EQ(kRed, At(frame, 40, 180));
    EXPECT_EQ(kBlue, At(frame, 160, 180));
    EXPECT_EQ(kRed, At(frame, 0, 130));
    EXPECT_EQ(kBlue, At(frame, 203, 229));
    EXPECT_EQ(0u, At(frame, 100, 127));
    EXPECT_EQ(0u, At(frame, 100, 232));
    EXPECT_EQ(0u, At(frame, 0, 0));
    EXPECT_EQ(0u, At(frame, 203, 359));
}

TEST_F(StandbyFrameTest, ATallPictureIsFittedDownWithBlackBarsLeftAndRight) {
    CFramePicture picture;
    // 30 x 90 into 204 x 360: 120 x 360, columns 42 to 161.
    picture.SetStandbyImage(Picture(30, 90, Solid(kGreen)));
    const BYTE* frame = Render(picture, L"");
    EXPECT_EQ(kGreen, At(frame, 102, 0));
    EXPECT_EQ(kGreen, At(frame, 43, 180));
    EXPECT_EQ(kGreen, At(frame, 160, 359));
    EXPECT_EQ(0u, At(frame, 40, 180));
    EXPECT_EQ(0u, At(frame, 163, 180));
}

TEST_F(StandbyFrameTest, TheTextIsDrawnOverThePicture) {
    CFramePicture picture;
    picture.SetStandbyImage(Picture(60, 120, Solid(kBlue)));
    const BYTE* frame = Render(picture, L"HHHHHHHH");
    int white = 0;
    for (int y = kCanvasHeight - 30; y < kCanvasHeight; ++y) {
        for (int x = 0; x < kCanvasWidth; ++x) {
            white += At(frame, x, y) == kWhite ? 1 : 0;
        }
    }
    EXPECT_GT(white, 0) << "no text over the picture";
    EXPECT_EQ(kBlue, At(frame, 102, 100));
}

TEST_F(StandbyFrameTest, AnotherPictureOrNoneRedrawsTheStandbyFrame) {
    CFramePicture picture;
    picture.SetStandbyImage(Picture(20, 20, Solid(kRed)));
    EXPECT_EQ(kRed, At(Render(picture, L"x"), 102, 180));
    picture.SetStandbyImage(Picture(20, 20, Solid(kGreen)));
    EXPECT_EQ(kGreen, At(Render(picture, L"x"), 102, 180));
    picture.SetStandbyImage(CStandbyImage());
    EXPECT_EQ(0u, At(Render(picture, L"x"), 102, 180));
}

TEST_F(StandbyFrameTest, APictureOutlivesAResizeAndIsFittedToTheNewSize) {
    CFramePicture picture;
    picture.SetStandbyImage(Picture(100, 50, Solid(kRed)));
    // 360 x 204 takes as many bytes as 204 x 360: the same sample serves.
    ASSERT_EQ(S_OK, picture.Resize(360, 204));
    RenderStandby(picture, L"", m_sample.Get());
    const BYTE* frame = SampleBytes(m_sample.Get());
    // 100 x 50 into 360 x 204: 360 x 180, rows 12 to 191.
    EXPECT_EQ(kRed, PixelOf(frame, 360, 204, 180, 100));
    EXPECT_EQ(kRed, PixelOf(frame, 360, 204, 0, 13));
    EXPECT_EQ(0u, PixelOf(frame, 360, 204, 180, 10));
    EXPECT_EQ(0u, PixelOf(frame, 360, 204, 180, 193));
}
