// Which window the device captures, among real top-level windows: the
// stored identity's rules in order (exact title, a cut title's start, the
// class and program, the program alone, the built-in class), a visible
// window before a hidden one and the topmost among equals, found by a
// frame's search and followed by its handle, whatever its title becomes,
// until it closes, the tracker forgets it, or (while it is hidden) a
// visible match appears.
#include <gtest/gtest.h>

#include <string>

#include "settings/capture_settings.h"
#include "window/window_tracker.h"
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

    HWND Frame(const wchar_t* windowClass = kDefaultWindowClass, const wchar_t* windowName = kDefaultWindowName,
               const wchar_t* program = L"") {
        WindowIdentity identity;
        identity.windowClass = windowClass;
        identity.windowName = windowName;
        identity.program = program;
        return m_tracker.WindowForFrame(identity);
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
    EXPECT_EQ(first.hwnd(), Frame(L"Other::Frame", L"Other"));
    m_tracker.Forget();
    EXPECT_EQ(nullptr, m_tracker.Current());
    EXPECT_EQ(second.hwnd(), Frame(L"Other::Frame", L"Other"));
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
    EXPECT_EQ(window.hwnd(), Frame(L"Other::Frame", L""));
}

TEST_F(WindowTrackerTest, TheBuiltInClassIsCapturedWhateverTheConfiguredName) {
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kQuillmereClass, L"Notes.txt - Quillmere", 120, 90, SolidPainter(kGrey)));
    EXPECT_EQ(window.hwnd(), Frame(L"Nothing::Here", L"Nope"));
}

TEST_F(WindowTrackerTest, TheConfiguredWindowComesFirst) {
    TestWindow fallback;
    ASSERT_EQ(S_OK, fallback.Create(kQuillmereClass, L"Quillmere", 120, 90, SolidPainter(kGrey)));
    TestWindow configured;
    ASSERT_EQ(S_OK, configured.Create(L"Other::Frame", L"Other", 120, 90, SolidPainter(kGrey), 200, 0));
    EXPECT_EQ(configured.hwnd(), Frame(L"Other::Frame", L"Other"));
}

namespace {

// The file name of this test program, as the search reads a program.
std::wstring ThisProgram() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full = path;
    return full.substr(full.find_last_of(L"\\/") + 1);
}

}  // namespace

TEST_F(WindowTrackerTest, LongAndJapaneseTitlesOfAnyClassAreFoundWhole) {
    const std::wstring longTitle =
        L"Quarterly report 2026 - final draft with comments from every reviewer - Some Editor";
    ASSERT_GT(longTitle.size(), 63u);
    TestWindow editor;
    ASSERT_EQ(S_OK, editor.Create(L"Some::Editor", longTitle.c_str(), 120, 90, SolidPainter(kGrey)));
    EXPECT_EQ(editor.hwnd(), Frame(L"Some::Editor", longTitle.c_str()));
    EXPECT_EQ(WindowMatchRule::ExactTitle, m_tracker.CurrentRule());
    m_tracker.Forget();
    // "会議 - Notes": no code page stands between the page and the search.
    const wchar_t* japanese = L"\u4F1A\u8B70 - Notes";
    TestWindow notes;
    ASSERT_EQ(S_OK, notes.Create(L"Notes::Main", japanese, 120, 90, SolidPainter(kGrey), 200, 0));
    EXPECT_EQ(notes.hwnd(), Frame(L"Notes::Main", japanese));
    EXPECT_EQ(WindowMatchRule::ExactTitle, m_tracker.CurrentRule());
}

TEST_F(WindowTrackerTest, ATitleThatAnOlderVersionCutIsFoundByItsStart) {
    // 70 bytes of title; an older version stored its first 63.
    const std::wstring title(L"A browser tab whose title runs on well past sixty-three bytes - Browser");
    const std::wstring stored = title.substr(0, 63);
    ASSERT_TRUE(TitleMayBeCut(stored.c_str()));
    ASSERT_FALSE(TitleMayBeCut(L"Short title"));
    TestWindow browser;
    ASSERT_EQ(S_OK, browser.Create(L"Browser::Frame", title.c_str(), 120, 90, SolidPainter(kGrey)));
    EXPECT_EQ(browser.hwnd(), Frame(L"Browser::Frame", stored.c_str()));
    EXPECT_EQ(WindowMatchRule::TitlePrefix, m_tracker.CurrentRule());
    // A stored title that was not cut is no prefix of anything.
    m_tracker.Forget();
    EXPECT_EQ(nullptr, Frame(L"Browser::Frame", L"A browser tab"));
}

TEST_F(WindowTrackerTest, AWindowWhoseTitleChangesIsFollowedAndFoundAgainByItsProgram) {
    const std::wstring program = ThisProgram();
    TestWindow editor;
    ASSERT_EQ(S_OK, editor.Create(L"Some::Editor", L"notes.txt - Some Editor", 120, 90, SolidPainter(kGrey)));
    EXPECT_EQ(editor.hwnd(), Frame(L"Some::Editor", L"notes.txt - Some Editor", program.c_str()));
    ::SetWindowTextW(editor.hwnd(), L"plans.txt - Some Editor");
    EXPECT_EQ(editor.hwnd(), Frame(L"Some::Editor", L"notes.txt - Some Editor", program.c_str()))
        << "a followed window stays followed whatever its title";
    // A new search (the device started again) finds it by class and program.
    m_tracker.Forget();
    EXPECT_EQ(editor.hwnd(), Frame(L"Some::Editor", L"notes.txt - Some Editor", program.c_str()));
    EXPECT_EQ(WindowMatchRule::ClassAndProgram, m_tracker.CurrentRule());
    // Without the program stored, the changed title finds nothing.
    m_tracker.Forget();
    EXPECT_EQ(nullptr, Frame(L"Some::Editor", L"notes.txt - Some Editor"));
    // With no class stored, the program alone finds it.
    m_tracker.Forget();
    EXPECT_EQ(editor.hwnd(), Frame(L"", L"", program.c_str()));
    EXPECT_EQ(WindowMatchRule::ProgramOnly, m_tracker.CurrentRule());
    WindowIdentity byProgram;
    byProgram.program = program.c_str();
    EXPECT_EQ(WindowMatchRule::ProgramOnly, MatchOfWindow(editor.hwnd(), byProgram));
    EXPECT_EQ(WindowMatchRule::None, MatchOfWindow(editor.hwnd(), WindowIdentity{}));
}

TEST_F(WindowTrackerTest, AmongVisibleWindowsOfOneRuleTheTopmostWins) {
    TestWindow lower;
    ASSERT_EQ(S_OK, lower.Create(L"Other::Frame", L"Other", 100, 100, SolidPainter(kGrey)));
    TestWindow upper;
    ASSERT_EQ(S_OK, upper.Create(L"Other::Frame", L"Other", 100, 100, SolidPainter(kGrey), 150, 0));
    ::SetWindowPos(upper.hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EXPECT_EQ(upper.hwnd(), Frame(L"Other::Frame", L"Other"));
    m_tracker.Forget();
    ::SetWindowPos(lower.hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EXPECT_EQ(lower.hwnd(), Frame(L"Other::Frame", L"Other"));
}

TEST_F(WindowTrackerTest, AVisibleWindowOfAnyRuleWinsOverAHiddenExactMatch) {
    TestWindow hidden;
    ASSERT_EQ(S_OK, hidden.Create(L"Other::Frame", L"Other", 100, 100, SolidPainter(kGrey)));
    ::ShowWindow(hidden.hwnd(), SW_HIDE);
    TestWindow fallback;
    ASSERT_EQ(S_OK, fallback.Create(kQuillmereClass, L"Quillmere", 100, 100, SolidPainter(kGrey), 150, 0));
    EXPECT_EQ(fallback.hwnd(), Frame(L"Other::Frame", L"Other"));
    EXPECT_EQ(WindowMatchRule::BuiltInClass, m_tracker.CurrentRule());
}

TEST_F(WindowTrackerTest, AFollowedHiddenWindowGivesWayToAVisibleMatchWithinAFewFrames) {
    // A helper window of the class, hidden, is all there is at first.
    TestWindow helper;
    ASSERT_EQ(S_OK, helper.Create(L"Chrome::WidgetWin", L"", 100, 100, SolidPainter(kGrey)));
    ::ShowWindow(helper.hwnd(), SW_HIDE);
    EXPECT_EQ(helper.hwnd(), Frame(L"Chrome::WidgetWin", L""));
    // The main window appears.
    TestWindow main;
    ASSERT_EQ(S_OK, main.Create(L"Chrome::WidgetWin", L"News - Browser", 100, 100, SolidPainter(kGrey), 150, 0));
    int frames = 0;
    while (Frame(L"Chrome::WidgetWin", L"") != main.hwnd() && frames < CWindowTracker::kHiddenRecheckFrames) {
        ++frames;
    }
    EXPECT_EQ(main.hwnd(), m_tracker.Current());
    EXPECT_LT(frames, CWindowTracker::kHiddenRecheckFrames);
    // A visible window is not left for another one.
    TestWindow other;
    ASSERT_EQ(S_OK, other.Create(L"Chrome::WidgetWin", L"Other - Browser", 100, 100, SolidPainter(kGrey), 300, 0));
    for (int i = 0; i < 2 * CWindowTracker::kHiddenRecheckFrames; ++i) {
        EXPECT_EQ(main.hwnd(), Frame(L"Chrome::WidgetWin", L""));
    }
}
