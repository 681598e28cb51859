// Which window the device captures, among real top-level windows: the
// configured one first, any window of the built-in class else, a visible
// one before a hidden one, found by a frame's search and followed by its
// handle until it closes or the tracker is told to forget it.
#include <gtest/gtest.h>

#include "capture/capture_settings.h"
#include "capture/window_tracker.h"
#include "tests/support/test_window.h"

using namespace qmtest;

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

TEST_F(WindowTrackerTest, AFoundWindowIsCapturedFromTheFrameThatFindsItUntilItCloses) {
    EXPECT_EQ(nullptr, Frame());
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Quillmere", 200, 200, SolidPainter(kGrey)));
    EXPECT_EQ(window.hwnd(), Frame());
    EXPECT_EQ(window.hwnd(), m_tracker.Current());
    EXPECT_EQ(window.hwnd(), Frame());
    window.Destroy();
    EXPECT_EQ(nullptr, Frame());
    EXPECT_EQ(nullptr, m_tracker.Current()) << "the search found nothing";
}

TEST_F(WindowTrackerTest, ForgettingMakesTheNextFrameSearchAgain) {
    TestWindow first;
    ASSERT_EQ(S_OK, first.Create(kQuillmereClass, L"Quillmere", 200, 200, SolidPainter(kGrey)));
    ASSERT_EQ(first.hwnd(), Frame());
    // A window of the configured title now exists too; the tracked one is
    // kept until the tracker forgets it.
    TestWindow second;
    ASSERT_EQ(S_OK, second.Create(L"Other::Frame", L"Other", 120, 90, SolidPainter(kGrey), 200, 0));
    EXPECT_EQ(first.hwnd(), Frame("Other::Frame", "Other"));
    m_tracker.Forget();
    EXPECT_EQ(nullptr, m_tracker.Current());
    EXPECT_EQ(second.hwnd(), Frame("Other::Frame", "Other"));
}

TEST_F(WindowTrackerTest, AVisibleWindowWinsOverAHiddenOneOfTheSameClass) {
    TestWindow hidden;
    ASSERT_EQ(S_OK, hidden.Create(kQuillmereClass, L"Quillmere", 100, 100, SolidPainter(kGrey)));
    ::ShowWindow(hidden.hwnd(), SW_HIDE);
    TestWindow visible;
    ASSERT_EQ(S_OK, visible.Create(kQuillmereClass, L"Quillmere", 100, 100, SolidPainter(kGrey), 150, 0));
    ::SetWindowPos(hidden.hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EXPECT_EQ(visible.hwnd(), Frame());
    // Alone, a hidden window is still the one to follow: it may be shown.
    visible.Destroy();
    EXPECT_EQ(hidden.hwnd(), Frame());
}

TEST_F(WindowTrackerTest, AnEmptyTitleFindsAnyWindowOfTheClass) {
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(L"Other::Frame", L"Some document - Other", 120, 90, SolidPainter(kGrey)));
    EXPECT_EQ(window.hwnd(), Frame("Other::Frame", ""));
}

TEST_F(WindowTrackerTest, TheBuiltInClassIsCapturedWhateverTheConfiguredName) {
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Notes.txt - Quillmere", 120, 90, SolidPainter(kGrey)));
    EXPECT_EQ(window.hwnd(), Frame("Nothing::Here", "Nope"));
}

TEST_F(WindowTrackerTest, TheConfiguredWindowComesFirst) {
    TestWindow fallback;
    ASSERT_EQ(S_OK, fallback.Create(kQuillmereClass, L"Quillmere", 120, 90, SolidPainter(kGrey)));
    TestWindow configured;
    ASSERT_EQ(S_OK, configured.Create(L"Other::Frame", L"Other", 120, 90, SolidPainter(kGrey), 200, 0));
    EXPECT_EQ(configured.hwnd(), Frame("Other::Frame", "Other"));
}
