// qmcapture's options of what a camera shows (--use-monitor, --use-region,
// --crop, --cursor, --method), run as users run them and checked in the
// values the device reads; --monitors against the window layer's own
// monitor list; and the words the client uses for a camera's source.
#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "settings/capture_settings.h"
#include "settings/settings_values.h"
#include "window/monitor_list.h"
#include "tests/support/stored_settings.h"
#include "tests/tools/client_process.h"
#include "tools/capture_client/capture_summary.h"
#include "tools/capture_client/console_output.h"
#include "tools/capture_client/monitor_settings.h"
#include "tools/capture_client/source_description.h"

using namespace qmtest;
using namespace qmcapture;

namespace {

constexpr DWORD kClientTimeoutMs = 60000;
// Stands for the primary monitor's device name in a case's arguments and
// expectations (Wine names it; the test does not).
constexpr wchar_t kPrimary[] = L"<primary>";
constexpr char kMissing[] = "<missing or malformed>";

// The values the options write, as each case starts: none of them is what
// an option stores, so that a case that must store nothing shows it.
const std::map<std::string, std::string> kBefore = {
    {kSourceKindValue, "2"},    {kSourceMonitorValue, "\\\\.\\DISPLAY7"}, {kSourceRegionValue, "5,5,50,50"},
    {kCropRectValue, "1,2,3,4"}, {kShowCursorValue, "2"},                 {kCaptureMethodValue, "9"},
};

struct StoreCase {
    const char* name;
    std::vector<std::wstring> args;
    DWORD exitCode;
    // The values that differ from kBefore afterwards (kMissing: removed).
    std::map<std::string, std::string> changed;
};

std::ostream& operator<<(std::ostream& out, const StoreCase& storeCase) { return out << storeCase.name; }

std::wstring PrimaryName() {
    const std::vector<MonitorInfo> monitors = ListMonitors();
    return monitors.empty() ? std::wstring() : monitors.front().deviceName;
}

std::wstring Substituted(const std::wstring& text, const std::wstring& primary) {
    const size_t at = text.find(kPrimary);
    return at == std::wstring::npos ? text : text.substr(0, at) + primary + text.substr(at + wcslen(kPrimary));
}

class SourceOptionsClientTest : public testing::TestWithParam<StoreCase> {
protected:
    // The user's own settings, which the client writes, put back.
    SavedUserSettings m_saved;
};

}  // namespace

TEST_P(SourceOptionsClientTest, StoresWhatTheOptionsSayOrNothing) {
    const StoreCase& storeCase = GetParam();
    const std::wstring primary = PrimaryName();
    ASSERT_FALSE(primary.empty()) << "no monitor";
    for (const auto& value : kBefore) {
        ASSERT_TRUE(StoreText(value.first.c_str(), value.second.c_str()));
    }
    std::vector<std::wstring> args;
    for (const std::wstring& arg : storeCase.args) {
        args.push_back(Substituted(arg, primary));
    }
    ClientRun run;
    ASSERT_EQ(S_OK, RunCaptureClientProcess(args, kClientTimeoutMs, &run));
    EXPECT_EQ(storeCase.exitCode, run.exitCode) << run.out << run.err;
    if (storeCase.exitCode != 0) {
        EXPECT_EQ(0u, run.err.find("qmcapture: ")) << run.err;
        EXPECT_EQ("", run.out);
    } else {
        EXPECT_EQ("", run.err);
        EXPECT_NE(std::string::npos, run.out.find("stored: ")) << run.out;
    }
    for (const auto& value : kBefore) {
        const auto changed = storeCase.changed.find(value.first);
        const std::string expected = changed != storeCase.changed.end()
                                         ? ToUtf8(Substituted(FromUtf8(changed->second), primary))
                                         : value.second;
        EXPECT_EQ(expected, StoredText(value.first.c_str())) << value.first;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, SourceOptionsClientTest,
    testing::Values(
        StoreCase{"MonitorAloneIsThePrimaryWhicheverItIs", {L"--use-monitor"}, 0,
                  {{kSourceKindValue, "1"}, {kSourceMonitorValue, ""}}},
        StoreCase{"MonitorByNumber", {L"--use-monitor", L"1"}, 0,
                  {{kSourceKindValue, "1"}, {kSourceMonitorValue, "<primary>"}}},
        StoreCase{"MonitorByNameInAnyCase", {L"--use-monitor=\\\\.\\display1"}, 0,
                  {{kSourceKindValue, "1"}, {kSourceMonitorValue, "\\\\.\\DISPLAY1"}}},
        StoreCase{"Region", {L"--use-region", L"-10,20,300,200"}, 0,
                  {{kSourceKindValue, "2"}, {kSourceRegionValue, "-10,20,300,200"}}},
        StoreCase{"AWindowAgainKeepsTheCrop", {L"--use-class", L"QMNoSuchWindow::Class"}, 0,
                  {{kSourceKindValue, "0"}}},
        StoreCase{"WindowAndCrop", {L"--use-program", L"notes.exe", L"--crop", L"0,0,640,360"}, 0,
                  {{kSourceKindValue, "0"}, {kCropRectValue, "0,0,640,360"}}},
        StoreCase{"CropNone", {L"--crop", L"none"}, 0, {{kCropRectValue, ""}}},
        StoreCase{"CursorOn", {L"--cursor", L"on"}, 0, {{kShowCursorValue, "1"}}},
        StoreCase{"CursorOffLastWins", {L"--cursor", L"on", L"--cursor=off"}, 0, {{kShowCursorValue, "0"}}},
        StoreCase{"CursorDefaultRemovesIt", {L"--cursor", L"default"}, 0, {{kShowCursorValue, kMissing}}},
        StoreCase{"MethodAuto", {L"--method", L"auto"}, 0, {{kCaptureMethodValue, "0"}}},
        StoreCase{"MethodCopy", {L"--method", L"copy"}, 0, {{kCaptureMethodValue, "1"}}},
        StoreCase{"MethodPrint", {L"--method", L"print"}, 0, {{kCaptureMethodValue, "2"}}},
        StoreCase{"MethodGraphics", {L"--method=graphics"}, 0, {{kCaptureMethodValue, "3"}}},
        StoreCase{"Together", {L"--use-monitor", L"--cursor", L"off", L"--method", L"copy"}, 0,
                  {{kSourceKindValue, "1"}, {kSourceMonitorValue, ""}, {kShowCursorValue, "0"},
                   {kCaptureMethodValue, "1"}}},
        // Refused: nothing is stored.
        StoreCase{"NoSuchMonitorNumber", {L"--use-monitor", L"9", L"--method", L"print"}, 1, {}},
        StoreCase{"NoSuchMonitorName", {L"--use-monitor", L"\\\\.\\DISPLAY9", L"--cursor", L"on"}, 1, {}},
        StoreCase{"BadRegion", {L"--use-region", L"1,2,3", L"--method", L"print"}, 2, {}},
        StoreCase{"EmptyRegion", {L"--use-region", L"0,0,0,10"}, 2, {}},
        StoreCase{"BadCrop", {L"--crop", L"0,0,x,1", L"--cursor", L"on"}, 2, {}},
        StoreCase{"BadCursor", {L"--method", L"print", L"--cursor", L"yes"}, 2, {}},
        StoreCase{"BadMethod", {L"--method", L"dxgi"}, 2, {}},
        StoreCase{"TwoSources", {L"--use-monitor", L"--use-region", L"0,0,10,10"}, 2, {}},
        StoreCase{"WindowAndMonitor", {L"--use-class", L"X", L"--use-monitor", L"1"}, 2, {}}),
    [](const testing::TestParamInfo<StoreCase>& param) { return std::string(param.param.name); });

// --monitors prints the window layer's list: one line each, the primary
// first, in its order.
TEST(MonitorListTest, TheClientListsTheMonitorsOfTheWindowLayer) {
    const std::vector<MonitorInfo> monitors = ListMonitors();
    ASSERT_FALSE(monitors.empty());
    SavedUserSettings saved;
    ASSERT_TRUE(StoreText(kSourceKindValue, "0"));
    ClientRun run;
    ASSERT_EQ(S_OK, RunCaptureClientProcess({L"--monitors"}, kClientTimeoutMs, &run));
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_EQ(ToUtf8(FormatMonitorList(monitors)), run.out);
    EXPECT_EQ(std::string::npos, run.out.find("* ")) << "a window is shown, not a monitor";
    EXPECT_NE(std::string::npos, run.out.find("\n  1       " + ToUtf8(monitors.front().deviceName))) << run.out;

    // A camera that shows the primary has it starred.
    ASSERT_TRUE(StoreText(kSourceKindValue, "1"));
    ASSERT_TRUE(StoreText(kSourceMonitorValue, ""));
    ASSERT_EQ(S_OK, RunCaptureClientProcess({L"--monitors"}, kClientTimeoutMs, &run));
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ(ToUtf8(FormatMonitorList(monitors, L"")), run.out);
    EXPECT_NE(std::string::npos, run.out.find("\n* 1 ")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("* the camera shows monitor 1, the primary\n")) << run.out;
    EXPECT_EQ(0u, run.out.find(ToUtf8(FormatText(L"Monitors (%u):\n", static_cast<unsigned>(monitors.size())))))
        << run.out;
    EXPECT_TRUE(monitors.front().primary);
}

// Two monitors, the second left of the primary, as Wine gives them only
// from an X server with two outputs: the listing, and the monitor a number
// or a name stands for.
TEST(MonitorListTest, NumbersFollowTheListAndNamesAreTheSystemsSpelling) {
    MonitorInfo primary;
    CopyWideText(primary.deviceName, L"\\\\.\\DISPLAY1", sizeof(primary.deviceName) / sizeof(wchar_t));
    primary.rect = {0, 0, 1920, 1080};
    primary.primary = true;
    MonitorInfo left;
    CopyWideText(left.deviceName, L"\\\\.\\DISPLAY2", sizeof(left.deviceName) / sizeof(wchar_t));
    left.rect = {-1280, -200, 0, 520};
    const std::vector<MonitorInfo> monitors = {primary, left};
    EXPECT_EQ(L"Monitors (2):\n"
              L"  number  device        position    size\n"
              L"  1       \\\\.\\DISPLAY1  0,0         1920x1080  primary\n"
              L"  2       \\\\.\\DISPLAY2  -1280,-200  1280x720\n",
              FormatMonitorList(monitors));
    EXPECT_EQ(L"No monitors.\n", FormatMonitorList({}));
    EXPECT_EQ(L"No monitors: the camera sends the standby frame.\n", FormatMonitorList({}, L""));

    // The monitor the camera shows, starred; one that is not connected
    // gives the primary.
    const std::wstring second = FormatMonitorList(monitors, L"\\\\.\\display2");
    EXPECT_NE(std::wstring::npos, second.find(L"\n* 2       \\\\.\\DISPLAY2")) << ToUtf8(second);
    EXPECT_NE(std::wstring::npos, second.find(L"\n  1       ")) << ToUtf8(second);
    EXPECT_NE(std::wstring::npos, second.find(L"* the camera shows monitor 2\n")) << ToUtf8(second);
    const std::wstring gone = FormatMonitorList(monitors, L"\\\\.\\DISPLAY9");
    EXPECT_NE(std::wstring::npos, gone.find(L"\n* 1       \\\\.\\DISPLAY1")) << ToUtf8(gone);
    EXPECT_NE(std::wstring::npos,
              gone.find(L"* the camera shows monitor 1, the primary: \\\\.\\DISPLAY9 is not connected\n"))
        << ToUtf8(gone);

    struct Resolution {
        const wchar_t* argument;
        bool found;
        const wchar_t* deviceName;
    };
    for (const Resolution& resolution :
         {Resolution{L"", true, L""}, Resolution{L"1", true, L"\\\\.\\DISPLAY1"},
          Resolution{L"2", true, L"\\\\.\\DISPLAY2"}, Resolution{L"\\\\.\\display2", true, L"\\\\.\\DISPLAY2"},
          Resolution{L"3", false, L"kept"}, Resolution{L"0", false, L"kept"},
          Resolution{L"99999999999999999999", false, L"kept"}, Resolution{L"\\\\.\\DISPLAY3", false, L"kept"}}) {
        std::wstring deviceName = L"kept";
        std::wstring error;
        EXPECT_EQ(resolution.found, ResolveMonitorArgument(resolution.argument, monitors, &deviceName, &error))
            << ToUtf8(resolution.argument);
        EXPECT_EQ(resolution.deviceName, deviceName) << ToUtf8(resolution.argument);
        EXPECT_EQ(resolution.found, error.empty()) << ToUtf8(error);
        if (!resolution.found) {
            EXPECT_NE(std::wstring::npos, error.find(L"qmcapture --monitors lists 2")) << ToUtf8(error);
        }
    }
}

namespace {

struct SourceWords {
    const char* name;
    SourceKind kind;
    const wchar_t* monitor;
    StoredRect region;
    StoredRect crop;
    CursorChoice cursor;
    CaptureMethod method;
    const wchar_t* source;
    const wchar_t* pointer;
    // The summary's keys: source_kind, crop, pointer, capture_method.
    const wchar_t* summary;
};

std::ostream& operator<<(std::ostream& out, const SourceWords& words) { return out << words.name; }

class SourceWordsTest : public testing::TestWithParam<SourceWords> {};

}  // namespace

TEST_P(SourceWordsTest, SayWhatIsShownThePointerAndTheMethod) {
    const SourceWords& words = GetParam();
    CCaptureSettings::Values values;
    CopyWideText(values.windowClass, L"Notepad", sizeof(values.windowClass) / sizeof(wchar_t));
    CopyWideText(values.windowProgram, L"notepad.exe", sizeof(values.windowProgram) / sizeof(wchar_t));
    values.sourceKind = words.kind;
    CopyWideText(values.sourceMonitor, words.monitor, sizeof(values.sourceMonitor) / sizeof(wchar_t));
    values.sourceRegion = words.region;
    values.cropRect = words.crop;
    values.showCursor = words.cursor;
    values.captureMethod = words.method;
    EXPECT_EQ(words.source, DescribeSource(values));
    EXPECT_EQ(words.pointer, DescribePointer(values));

    CaptureSummary summary;
    summary.AddSource(values);
    std::wstring keys;
    for (const auto& entry : summary.Entries()) {
        if (entry.first != L"source") {
            keys += entry.first + L"=" + entry.second + L";";
        } else {
            EXPECT_EQ(words.source, entry.second);
        }
    }
    EXPECT_EQ(words.summary, keys);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, SourceWordsTest,
    testing::Values(
        SourceWords{"WholeWindow", SourceKind::Window, L"", {}, {}, CursorChoice::Default, CaptureMethod::Auto,
                    L"window of class \"Notepad\", any title, program notepad.exe, whole client area",
                    L"off (default for a window)", L"source_kind=window;crop=;pointer=off;capture_method=auto;"},
        SourceWords{"CroppedWindow", SourceKind::Window, L"", {}, {10, 20, 300, 200}, CursorChoice::On,
                    CaptureMethod::Graphics,
                    L"window of class \"Notepad\", any title, program notepad.exe, crop 10,20,300,200", L"on",
                    L"source_kind=window;crop=10,20,300,200;pointer=on;capture_method=graphics;"},
        SourceWords{"PrimaryMonitor", SourceKind::Monitor, L"", {}, {10, 20, 300, 200}, CursorChoice::Default,
                    CaptureMethod::Print, L"the primary monitor", L"on (default for a monitor or a region)",
                    L"source_kind=monitor;crop=;pointer=on;capture_method=print;"},
        SourceWords{"NamedMonitor", SourceKind::Monitor, L"\\\\.\\DISPLAY2", {}, {}, CursorChoice::Off,
                    CaptureMethod::Copy, L"monitor \\\\.\\DISPLAY2", L"off",
                    L"source_kind=monitor;crop=;pointer=off;capture_method=copy;"},
        SourceWords{"Region", SourceKind::Region, L"", {-1280, 0, 640, 480}, {}, CursorChoice::Default,
                    CaptureMethod::Auto, L"region -1280,0,640,480 of the screen",
                    L"on (default for a monitor or a region)",
                    L"source_kind=region;crop=;pointer=on;capture_method=auto;"}),
    [](const testing::TestParamInfo<SourceWords>& param) { return std::string(param.param.name); });
