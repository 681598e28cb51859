// qmcapture's windows: the list --windows prints, and the window and
// framing settings it stores, called directly (in a registry sandbox) and
// run as users run it, against windows the test creates.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "settings/capture_settings.h"
#include "framework/com_util.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/stored_settings.h"
#include "tests/support/test_window.h"
#include "tests/tools/client_process.h"
#include "tools/capture_client/capture_client.h"
#include "tools/capture_client/console_output.h"
#include "tools/capture_client/window_settings.h"

using namespace qmtest;
using namespace qmcapture;

namespace {

constexpr DWORD kClientTimeoutMs = 60000;
constexpr wchar_t kTestClass[] = L"QMClientWindowTest::Frame";
constexpr wchar_t kTestTitle[] = L"qmcapture window test \u00E9";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

ClientRun RunClient(std::vector<std::wstring> args) {
    ClientRun run;
    EXPECT_EQ(S_OK, RunCaptureClientProcess(args, kClientTimeoutMs, &run)) << "running qmcapture.exe failed";
    return run;
}

CaptureOptions Options(std::vector<std::wstring> args) {
    CaptureOptions options;
    std::wstring error;
    EXPECT_EQ(ParseStatus::kOk, ParseCaptureOptions(args, &options, &error)) << ToUtf8(error);
    return options;
}

class WindowSettingsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sandbox.ok());
        ASSERT_EQ(S_OK, m_window.Create(kTestClass, kTestTitle, 300, 200, SolidPainter(RGB(1, 2, 3)), 700, 0));
    }

    RegistrySandbox m_sandbox;
    TestWindow m_window;
};

}  // namespace

TEST(WindowListFormatTest, OneLineEachUnderAHeadingWithTheTitleLast) {
    ListedWindow notepad;
    notepad.window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234A));
    notepad.title = L"Untitled - Notepad";
    notepad.className = L"Notepad";
    notepad.program = L"notepad.exe";
    notepad.client = {640, 480};
    ListedWindow unknown;
    unknown.window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x20010));
    unknown.title = L"\u30A6\u30A3\u30F3\u30C9\u30A6";
    unknown.className = L"Quillmere::MainFrame";
    unknown.client = {1280, 720};
    WindowMatch taken;
    taken.window = notepad.window;
    taken.rule = WindowMatchRule::ClassAndProgram;
    taken.visible = true;
    WindowMethods methods;
    methods.stored = CaptureMethod::Auto;
    methods.graphics = GraphicsCaptureAvailability::Available;
    methods.perWindow = {CaptureMethod::Copy, CaptureMethod::Graphics};
    EXPECT_EQ(L"Windows to capture (2):\n"
              L"  handle      client    program      class                 method    title\n"
              L"* 0x0001234A  640x480   notepad.exe  Notepad               copy      Untitled - Notepad\n"
              L"  0x00020010  1280x720  ?            Quillmere::MainFrame  graphics  \u30A6\u30A3\u30F3\u30C9\u30A6\n"
              L"* the device takes 0x0001234A now, found by its class and program\n"
              L"capture method: auto (stored CaptureMethod 0): a copy; a window whose copy reads back black by "
              L"graphics capture where available, else by print\n"
              L"graphics capture: available\n",
              FormatWindowList({notepad, unknown}, taken, methods));

    // Forced graphics capture where there is none: why, and with what the
    // windows are read instead.
    methods.stored = CaptureMethod::Graphics;
    methods.graphics = GraphicsCaptureAvailability::NoRuntime;
    methods.graphicsError = REGDB_E_CLASSNOTREG;
    methods.perWindow.clear();
    EXPECT_EQ(L"No windows to capture are open.\n"
              L"capture method: graphics (stored CaptureMethod 3), not available here: windows are read as auto "
              L"reads them\n"
              L"graphics capture: not available here: no graphics capture runtime (0x80040154)\n",
              FormatWindowList({}, WindowMatch{}, methods));
    const std::wstring none = FormatWindowList({notepad}, WindowMatch{}, methods);
    EXPECT_NE(std::wstring::npos, none.find(L"The device finds no window now")) << ToUtf8(none);
    // A window without a method found shows a question mark.
    EXPECT_NE(std::wstring::npos, none.find(L"Notepad  ?       Untitled - Notepad")) << ToUtf8(none);
}

TEST_F(WindowSettingsTest, TitleAndClassAreStoredAsGiven) {
    std::wstring report;
    std::wstring error;
    ASSERT_EQ(kExitSuccess,
              StoreWindowSettings(Options({L"--use-window", L"Some title", L"--use-class", L"Some::Class"}), &report,
                                  &error))
        << ToUtf8(error);
    EXPECT_EQ("Some title", StoredText(kWindowNameValue));
    EXPECT_EQ("Some::Class", StoredText(kWindowClassValue));
    EXPECT_EQ(L"stored: WindowClass \"Some::Class\", WindowName \"Some title\", WindowProgram \"\"\n"
              L"stored: SourceKind 0 (window)\n",
              report);
    EXPECT_EQ("<missing or malformed>", StoredText(kScaleModeValue));
    EXPECT_EQ("<missing or malformed>", StoredText(kMirrorValue));
}

TEST_F(WindowSettingsTest, ATitleAloneTakesTheClassAndProgramOfTheOpenWindow) {
    std::wstring report;
    std::wstring error;
    ASSERT_EQ(kExitSuccess, StoreWindowSettings(Options({L"--use-window", kTestTitle}), &report, &error))
        << ToUtf8(error);
    CCaptureSettings settings;
    const CCaptureSettings::Snapshot snapshot = settings.GetSnapshot();
    EXPECT_STREQ(kTestClass, snapshot.windowClass);
    EXPECT_STREQ(kTestTitle, snapshot.windowName);
    EXPECT_STREQ(L"tools_tests.exe", snapshot.windowProgram);
    // A program given too wins over the window's.
    ASSERT_EQ(kExitSuccess,
              StoreWindowSettings(Options({L"--use-window", kTestTitle, L"--use-program", L"other.exe"}), &report,
                                  &error));
    EXPECT_STREQ(L"other.exe", CCaptureSettings().GetSnapshot().windowProgram);

    // No window of that title: nothing stored, and the reason.
    ASSERT_TRUE(WriteSetting("kept", kWindowNameValue));
    EXPECT_EQ(kExitFailure,
              StoreWindowSettings(Options({L"--use-window", L"No such window 7c1e", L"--scale", L"fit"}), &report,
                                  &error));
    EXPECT_NE(std::wstring::npos, error.find(L"no window titled \"No such window 7c1e\"")) << ToUtf8(error);
    EXPECT_NE(std::wstring::npos, error.find(L"--use-class"));
    EXPECT_EQ("kept", StoredText(kWindowNameValue));
    EXPECT_EQ("<missing or malformed>", StoredText(kScaleModeValue));
}

TEST_F(WindowSettingsTest, AClassOrAProgramAloneMeansAnyTitleAndLongTitlesAreStoredWhole) {
    std::wstring report;
    std::wstring error;
    ASSERT_EQ(kExitSuccess, StoreWindowSettings(Options({L"--use-class", L"Notepad"}), &report, &error));
    EXPECT_EQ("", StoredText(kWindowNameValue));
    EXPECT_EQ("Notepad", StoredText(kWindowClassValue));
    EXPECT_NE(std::wstring::npos, report.find(L"(any title)")) << ToUtf8(report);

    ASSERT_EQ(kExitSuccess, StoreWindowSettings(Options({L"--use-program", L"notes.exe"}), &report, &error));
    EXPECT_EQ("", StoredText(kWindowNameValue));
    EXPECT_EQ("", StoredText(kWindowClassValue));
    EXPECT_EQ("notes.exe", StoredText(kWindowProgramValue));

    const std::wstring longTitle(100, L'L');
    ASSERT_EQ(kExitSuccess,
              StoreWindowSettings(Options({L"--use-window", longTitle, L"--use-class", L"Notepad"}), &report, &error));
    EXPECT_EQ(std::string(100, 'L'), StoredText(kWindowNameValue));
    EXPECT_EQ(std::wstring::npos, report.find(L"note:")) << ToUtf8(report);
    const std::wstring hugeTitle(700, L'H');
    ASSERT_EQ(kExitSuccess,
              StoreWindowSettings(Options({L"--use-window", hugeTitle, L"--use-class", L"Notepad"}), &report, &error));
    EXPECT_EQ(std::wstring(kWindowTitleCapacity - 1, L'H'), StoredWideText(kWindowNameValue));
    EXPECT_NE(std::wstring::npos, report.find(L"cut to 511 characters")) << ToUtf8(report);
}

TEST_F(WindowSettingsTest, FramingIsStoredAndReported) {
    std::wstring report;
    std::wstring error;
    ASSERT_EQ(kExitSuccess, StoreWindowSettings(Options({L"--scale", L"fill", L"--mirror", L"on"}), &report, &error));
    EXPECT_EQ("2", StoredText(kScaleModeValue));
    EXPECT_EQ("1", StoredText(kMirrorValue));
    EXPECT_EQ(L"stored: ScaleMode 2 (fill)\nstored: Mirror 1 (on)\n", report);
    EXPECT_EQ("<missing or malformed>", StoredText(kWindowNameValue));
    ASSERT_EQ(kExitSuccess, StoreWindowSettings(Options({L"--scale", L"stretch", L"--mirror", L"off"}), &report, &error));
    EXPECT_EQ("0", StoredText(kScaleModeValue));
    EXPECT_EQ("0", StoredText(kMirrorValue));
}

TEST_F(WindowSettingsTest, TheStandbyImageIsStoredAsAFullPathAndNoneClearsIt) {
    std::wstring report;
    std::wstring error;
    ASSERT_EQ(kExitSuccess, StoreWindowSettings(Options({L"--standby-image", L"C:\\pictures\\away.png"}), &report,
                                                &error));
    EXPECT_EQ(L"C:\\pictures\\away.png", StoredWideText(kStandbyImageValue));
    EXPECT_EQ(L"stored: StandbyImage \"C:\\pictures\\away.png\"\n", report);
    // A relative path is stored made full: the device has another folder.
    wchar_t current[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetCurrentDirectoryW(MAX_PATH, current));
    ASSERT_EQ(kExitSuccess, StoreWindowSettings(Options({L"--standby-image", L"away.png"}), &report, &error));
    std::wstring expected = current;
    if (expected.back() != L'\\') {
        expected += L'\\';
    }
    EXPECT_EQ(expected + L"away.png", StoredWideText(kStandbyImageValue));
    ASSERT_EQ(kExitSuccess, StoreWindowSettings(Options({L"--standby-image", L"none"}), &report, &error));
    EXPECT_EQ(L"", StoredWideText(kStandbyImageValue));
    EXPECT_EQ(L"stored: StandbyImage \"\" (none: plain black)\n", report);
    // A relative path whose full form is too long stores nothing.
    ASSERT_EQ(kExitFailure,
              StoreWindowSettings(Options({L"--standby-image", std::wstring(258, L'p')}), &report, &error));
    EXPECT_NE(std::wstring::npos, error.find(L"longer than 259")) << ToUtf8(error);
    EXPECT_EQ(L"", StoredWideText(kStandbyImageValue));
}

TEST_F(WindowSettingsTest, TheClientListsTheTestsWindow) {
    const ClientRun run = RunClient({L"--windows"});
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(0u, run.out.find("Windows to capture (")) << run.out;
    // The line of the test's window: handle, size, program, class, title.
    const std::string handle =
        ToUtf8(FormatText(L"0x%08llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(m_window.hwnd()))));
    const size_t line = run.out.find("  " + handle + "  ");
    ASSERT_NE(std::string::npos, line) << run.out;
    const std::string text = run.out.substr(line, run.out.find('\n', line) - line);
    EXPECT_TRUE(Contains(text, "300x200")) << text;
    EXPECT_TRUE(Contains(text, "tools_tests.exe")) << text;
    EXPECT_TRUE(Contains(text, "QMClientWindowTest::Frame")) << text;
    EXPECT_TRUE(Contains(text, ToUtf8(kTestTitle))) << text;
}

TEST_F(WindowSettingsTest, TheListMarksTheWindowTheDeviceTakesNow) {
    ASSERT_TRUE(StoreWindowChoice(kTestTitle, kTestClass, L""));
    const WindowMatch taken = FindStoredWindow();
    EXPECT_EQ(m_window.hwnd(), taken.window);
    EXPECT_EQ(WindowMatchRule::ExactTitle, taken.rule);
    std::vector<ListedWindow> windows;
    ASSERT_EQ(S_OK, ListCaptureWindows(nullptr, &windows));
    const std::wstring text = FormatWindowList(windows, taken, FindWindowMethods(windows, CaptureMethod::Auto));
    const std::wstring handle =
        FormatText(L"0x%08llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(m_window.hwnd())));
    EXPECT_NE(std::wstring::npos, text.find(L"* " + handle + L"  300x200")) << ToUtf8(text);
    EXPECT_NE(std::wstring::npos, text.find(L"* the device takes " + handle + L" now, found by its class and title"))
        << ToUtf8(text);
}

// Each window's method as the window layer settles on it: a window with a
// picture is copied; one that copies back black would be read by graphics
// capture, which Wine does not have (the reason is given), so by print.
// Not in a sandbox: the client reads the user's own settings, auto here.
TEST(WindowSettingsClientTest, TheClientSaysWhichMethodReadsEachWindowAndWhyGraphicsCaptureIsNot) {
    SavedUserSettings saved;
    ASSERT_TRUE(StoreText(kCaptureMethodValue, "0"));
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kTestClass, kTestTitle, 300, 200, SolidPainter(RGB(1, 2, 3)), 700, 0));
    TestWindow black;
    ASSERT_EQ(S_OK, black.Create(L"QMClientWindowTest::Black", L"qmcapture black window", 200, 120,
                                 SolidPainter(RGB(0, 0, 0)), 700, 300));
    const ClientRun run = RunClient({L"--windows"});
    EXPECT_EQ(0u, run.exitCode) << run.err;
    const auto lineOf = [&run](HWND listed) {
        const std::string handle =
            ToUtf8(FormatText(L"0x%08llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(listed))));
        const size_t line = run.out.find("  " + handle + "  ");
        return line == std::string::npos ? std::string() : run.out.substr(line, run.out.find('\n', line) - line);
    };
    EXPECT_TRUE(Contains(lineOf(window.hwnd()), "  copy  ")) << run.out;
    EXPECT_TRUE(Contains(lineOf(black.hwnd()), "  print  ")) << run.out;
    EXPECT_TRUE(Contains(run.out, "capture method: auto (stored CaptureMethod 0)")) << run.out;
    EXPECT_TRUE(Contains(run.out, "graphics capture: not available here: no graphics capture runtime")) << run.out;
}

// Not in a sandbox: the client writes the user's own settings, which the
// test reads and then puts back.
TEST(WindowSettingsClientTest, TheClientStoresForTheUserAndFailsAsItsExitCodesSay) {
    TestWindow window;
    ASSERT_EQ(S_OK, window.Create(kTestClass, kTestTitle, 300, 200, SolidPainter(RGB(1, 2, 3)), 700, 0));
    SavedUserSettings saved;
    ClientRun run = RunClient({L"--use-window", kTestTitle, L"--scale", L"fit", L"--mirror", L"on"});
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ("QMClientWindowTest::Frame", StoredText(kWindowClassValue));
    EXPECT_EQ("1", StoredText(kScaleModeValue));
    EXPECT_EQ("1", StoredText(kMirrorValue));
    EXPECT_TRUE(Contains(run.out, "stored: WindowClass \"QMClientWindowTest::Frame\"")) << run.out;
    EXPECT_TRUE(Contains(run.out, "stored: ScaleMode 1 (fit)")) << run.out;
    EXPECT_TRUE(Contains(run.out, "stored: Mirror 1 (on)")) << run.out;
    EXPECT_FALSE(Contains(run.out, "captured")) << "storing alone captured";

    run = RunClient({L"--use-window", L"No such window 7c1e"});
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(Contains(run.err, "qmcapture: no window titled")) << run.err;
    EXPECT_EQ("", run.out);

    for (const std::vector<std::wstring>& args : std::vector<std::vector<std::wstring>>{
             {L"--scale", L"zoom"}, {L"--mirror", L"yes"}, {L"--use-class="}, {L"--use-window"}}) {
        run = RunClient(args);
        EXPECT_EQ(2u, run.exitCode) << ToUtf8(args[0]);
        EXPECT_EQ("", run.out);
        EXPECT_TRUE(Contains(run.err, "qmcapture: ")) << run.err;
    }
}
