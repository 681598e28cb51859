// Which window the device captures, among real top-level windows: the
// configured one first, any window of the built-in class else, found by
// one frame's search and followed from the next frame on until it closes
// or the tracker is told to forget it.
#include <gtest/gtest.h>

#include "capture/capture_settings.h"
#include "capture/window_tracker.h"
#include "tests/support/test_window.h"

namespace {

constexpr wchar_t kQuillmereClass[] = L"Quillmere::MainFrame";
constexpr COLORREF kGrey = RGB(90, 90, 90);

class WindowTrackerTest : public testing::Test {
protected:
    void SetUp() override {
        // Only this program's windows may be found (see private_desktop.cpp).
        ASSERT_TRUE(PrivateTestDesktop::IsCurrent());
        ASSERT_EQ(nullptr, ::FindWindowW(kQuillmereClass, nullptr)) << "a Quillmere::MainFrame window exists";
    }

    HWND Frame(const char* windowClass = kDefaultWindowClass, const char* windowName = kDefaultWindowName) {
        return m_tracker.WindowForFrame(windowClass, windowName);
    }

    CWindowTracker m_tracker;
};

}  // namespace

TEST_F(WindowTrackerTest, WithoutAWindowEveryFrameIsAStandbyFrame) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(nullptr, Frame());
        EXPECT_EQ(nullptr, m_tracker.Current());
    }
}

TEST_F(WindowTrackerTest, AFoundWindowIsCapturedFromTheNextFrameUntilItCloses) {
    EXPECT_EQ(nullptr, Frame());
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 200, 200, SolidPainter(kGrey)));
    // The frame that finds the window is still a standby frame.
    EXPECT_EQ(nullptr, Frame());
    EXPECT_EQ(window.hwnd(), m_tracker.Current());
    EXPECT_EQ(window.hwnd(), Frame());
    EXPECT_EQ(window.hwnd(), Frame());
    window.Destroy();
    EXPECT_EQ(nullptr, Frame());
    EXPECT_EQ(nullptr, m_tracker.Current()) << "the search found nothing";
}

TEST_F(WindowTrackerTest, ForgettingMakesTheNextFrameAStandbyFrameThatSearchesAgain) {
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 200, 200, SolidPainter(kGrey)));
    Frame();
    ASSERT_EQ(window.hwnd(), Frame());
    m_tracker.Forget();
    EXPECT_EQ(nullptr, m_tracker.Current());
    EXPECT_EQ(nullptr, Frame());
    EXPECT_EQ(window.hwnd(), m_tracker.Current());
    EXPECT_EQ(window.hwnd(), Frame());
}

TEST_F(WindowTrackerTest, TheBuiltInClassIsCapturedWhateverTheConfiguredName) {
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Notes.txt - Quillmere", 120, 90, SolidPainter(kGrey)));
    Frame("Nothing::Here", "Nope");
    EXPECT_EQ(window.hwnd(), Frame("Nothing::Here", "Nope"));
}

TEST_F(WindowTrackerTest, TheConfiguredWindowComesFirst) {
    TestWindow fallback;
    ASSERT_EQ(S_OK, fallback.Create(kQuillmereClass, L"Quillmere", 120, 90, SolidPainter(kGrey)));
    TestWindow configured;
    ASSERT_EQ(S_OK, configured.Create(L"Other::Frame", L"Other", 120, 90, SolidPainter(kGrey), 200, 0));
    Frame("Other::Frame", "Other");
    EXPECT_EQ(configured.hwnd(), Frame("Other::Frame", "Other"));
}
