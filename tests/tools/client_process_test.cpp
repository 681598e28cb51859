// qmcapture.exe as users run it, in a child process: help, usage errors,
// a device that is not there, and the device listing.
#include <gtest/gtest.h>

#include <map>

#include "tests/tools/client_process.h"
#include "tools/capture_client/console_output.h"
#include "tools/capture_client/video_device.h"

using namespace qmtest;
using namespace qmcapture;

namespace {

constexpr DWORD kClientTimeoutMs = 60000;
constexpr wchar_t kAbsentDevice[] = L"No Such Camera 4f1d";

ClientRun RunClient(std::vector<std::wstring> args) {
    ClientRun run;
    const HRESULT hr = RunCaptureClientProcess(args, kClientTimeoutMs, &run);
    EXPECT_EQ(S_OK, hr) << "running qmcapture.exe failed";
    return run;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(ClientProcessTest, HelpGoesToStdoutWithExitZero) {
    const ClientRun run = RunClient({L"--help"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0u, run.out.find("Usage: qmcapture [options]")) << run.out;
    EXPECT_TRUE(Contains(run.out, "--device NAME"));
    EXPECT_TRUE(Contains(run.out, "Exit status: 0 success, 1 runtime failure"));
    EXPECT_EQ("", run.err);
}

TEST(ClientProcessTest, VersionGoesToStdoutWithExitZero) {
    const ClientRun run = RunClient({L"--version"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0u, run.out.find("qmcapture ")) << run.out;
    EXPECT_EQ("", run.err);
}

TEST(ClientProcessTest, UnknownOptionIsAUsageErrorOnStderr) {
    const ClientRun run = RunClient({L"--bogus"});
    EXPECT_EQ(2u, run.exitCode);
    EXPECT_EQ("", run.out);
    EXPECT_TRUE(Contains(run.err, "qmcapture: unknown option '--bogus'")) << run.err;
    EXPECT_TRUE(Contains(run.err, "Try 'qmcapture --help'")) << run.err;
}

TEST(ClientProcessTest, BadNumbersAreUsageErrors) {
    const std::vector<std::vector<std::wstring>> cases = {
        {L"--fps", L"abc"}, {L"--fps=0"}, {L"--frames", L"0"}, {L"--frames", L"2.5"},
        {L"--seconds", L"-1"}, {L"--size", L"12x"}, {L"--timeout", L"never"},
    };
    for (const auto& args : cases) {
        const ClientRun run = RunClient(args);
        EXPECT_EQ(2u, run.exitCode) << ToUtf8(args[0]);
        EXPECT_EQ("", run.out);
        EXPECT_TRUE(Contains(run.err, "bad value")) << run.err;
    }
}

TEST(ClientProcessTest, MissingValueIsAUsageError) {
    const ClientRun run = RunClient({L"--device"});
    EXPECT_EQ(2u, run.exitCode);
    EXPECT_TRUE(Contains(run.err, "option --device needs a value")) << run.err;
}

TEST(ClientProcessTest, AbsentDeviceFailsWithExitOneForEveryAction) {
    const std::string expected = "qmcapture: video input device \"No Such Camera 4f1d\" not found";
    for (const std::vector<std::wstring>& args : std::vector<std::vector<std::wstring>>{
             {L"-d", kAbsentDevice, L"--frames", L"1"},
             {L"--caps", L"--device", kAbsentDevice},
             {L"--properties", L"--device", kAbsentDevice}}) {
        const ClientRun run = RunClient(args);
        EXPECT_EQ(1u, run.exitCode) << ToUtf8(args[0]);
        EXPECT_EQ("", run.out);
        EXPECT_TRUE(Contains(run.err, expected)) << run.err;
    }
}

TEST(ClientProcessTest, AbsentDeviceStillWritesAFailedSummary) {
    const std::wstring summaryPath = ScratchPath(L"summary.txt");
    ::DeleteFileW(summaryPath.c_str());
    const ClientRun run = RunClient({L"--device", kAbsentDevice, L"--seconds", L"1", L"--summary", summaryPath});
    EXPECT_EQ(1u, run.exitCode);
    std::map<std::string, std::string> summary;
    ASSERT_EQ(S_OK, ReadSummaryFile(summaryPath, &summary));
    ::DeleteFileW(summaryPath.c_str());
    EXPECT_EQ("failed", summary["result"]);
    EXPECT_EQ(ToUtf8(kAbsentDevice), summary["device"]);
    EXPECT_TRUE(Contains(summary["error"], "not found")) << summary["error"];
    EXPECT_EQ("1.000", summary["requested_seconds"]);
}

TEST(ClientProcessTest, ListingShowsExactlyTheRegisteredDevices) {
    std::vector<VideoDeviceInfo> devices;
    ASSERT_EQ(S_OK, ListVideoInputDevices(&devices));
    const ClientRun run = RunClient({L"--list"});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("", run.err);
    // The same enumeration in this process gives the same text, with or
    // without devices present.
    EXPECT_EQ(ToUtf8(FormatDeviceList(devices)), run.out);
}

TEST(DeviceListTest, EmptyListSaysSo) {
    EXPECT_EQ(L"No video input devices are registered.\n", FormatDeviceList({}));
}

TEST(DeviceListTest, DevicesAreNumberedWithTheirPaths) {
    const std::wstring text = FormatDeviceList({{L"QM Capture Device", L""}, {L"USB Camera", L"\\\\?\\usb#1"}});
    EXPECT_EQ(L"Video input devices (2):\n"
              L"  0  QM Capture Device\n"
              L"  1  USB Camera\n"
              L"     path: \\\\?\\usb#1\n",
              text);
}

TEST(ClientProcessTest, UnwritableSummaryIsReported) {
    const std::wstring summaryPath = ScratchPath(L"no-such-folder\\summary.txt");
    const ClientRun run = RunClient({L"--device", kAbsentDevice, L"--frames", L"1", L"--summary", summaryPath});
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(Contains(run.err, "not found")) << run.err;
    EXPECT_TRUE(Contains(run.err, "qmcapture: cannot write the summary")) << run.err;
}
