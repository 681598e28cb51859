// qmcapture's camera commands run as users run them: a camera is added,
// listed, captured by its name, renamed and removed again. The list is the
// test prefix's own machine list; every camera a test adds it removes.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "settings/camera_list.h"
#include "framework/com_util.h"
#include "tests/support/registry_sandbox.h"
#include "tests/tools/client_process.h"
#include "tools/capture_client/camera_commands.h"
#include "tools/capture_client/capture_client.h"
#include "tools/capture_client/capture_options.h"
#include "tools/capture_client/console_output.h"

using namespace qmtest;
using namespace qmcapture;

namespace {

constexpr DWORD kClientTimeoutMs = 60000;
// The hidden switch that marks the run with administrator rights.
constexpr wchar_t kElevatedRunArg[] = L"--elevated-run";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

ClientRun RunClient(std::vector<std::wstring> args) {
    ClientRun run;
    EXPECT_EQ(S_OK, RunCaptureClientProcess(args, kClientTimeoutMs, &run)) << "running qmcapture.exe failed";
    return run;
}

// Takes off the list whatever camera of that name a failed test left.
void RemoveIfListed(const std::wstring& name) {
    const int camera = CCameraList::Find(name.c_str());
    if (camera > kFirstCamera) {
        QM_IGNORE(CCameraList::Remove(camera), "best effort after a failed test");
    }
}

// Answers on administrator rights as a test sets them, and counts the
// elevated runs asked for instead of starting them.
class FakeElevation final : public Elevation {
public:
    explicit FakeElevation(bool elevated) : m_elevated(elevated) {}
    bool IsProcessElevated() const override { return m_elevated; }
    int RunElevated(const std::wstring& parameters, std::wstring*) const override {
        launches.push_back(parameters);
        return kElevatedRunStatus;
    }

    static constexpr int kElevatedRunStatus = 42;
    mutable std::vector<std::wstring> launches;

private:
    bool m_elevated;
};

CaptureOptions ParsedOptions(const std::vector<std::wstring>& args) {
    CaptureOptions options;
    std::wstring error;
    EXPECT_EQ(ParseStatus::kOk, ParseCaptureOptions(args, &options, &error)) << error;
    return options;
}

}  // namespace

TEST(CameraElevationTest, AnElevatedOrMarkedRunReportsARefusalAndNeverElevatesAgain_ElevationInjected) {
    // Where elevation gives the same token again (elevation switched off),
    // the token cannot tell; the mark can.
    for (const bool marked : {false, true}) {
        const FakeElevation elevation(!marked);
        const CaptureOptions options = marked ? ParsedOptions({L"--remove-camera", L"2", kElevatedRunArg})
                                              : ParsedOptions({L"--remove-camera", L"2"});
        std::wstring output;
        std::wstring error;
        EXPECT_EQ(kExitFailure, ConcludeCameraChange(E_ACCESSDENIED, options, L"--remove-camera \"2\"", L"",
                                                     elevation, &output, &error));
        EXPECT_EQ(0u, elevation.launches.size()) << marked;
        EXPECT_NE(std::wstring::npos, error.find(L"access denied (0x80070005)")) << error;
    }
}

TEST(CameraElevationTest, ARunWithoutRightsAsksOnceAndMarksTheElevatedRun_ElevationInjected) {
    const FakeElevation notElevated(false);
    const CaptureOptions options = ParsedOptions({L"--add-camera", L"Slides"});
    std::wstring output;
    std::wstring error;
    EXPECT_EQ(FakeElevation::kElevatedRunStatus,
              ConcludeCameraChange(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), options, L"--add-camera \"Slides\"",
                                   L"", notElevated, &output, &error));
    ASSERT_EQ(1u, notElevated.launches.size());
    EXPECT_EQ(std::wstring(L"--add-camera \"Slides\" ") + kElevatedRunArg, notElevated.launches[0]);
}

TEST(CameraElevationTest, RemovingAnEntryWithASubkeyNeedsNoElevation_ElevationInjected) {
    RegistrySandbox sandbox{HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    ASSERT_TRUE(sandbox.ok());
    int camera = 0;
    ASSERT_EQ(S_OK, CCameraList::Add(L"Slides", &camera));
    const std::wstring child = std::wstring(kCameraListKeyPath) + L"\\" + std::to_wstring(camera) + L"\\Extra";
    UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, child.c_str(), 0, nullptr, 0,
                                               KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(), nullptr));
    key.reset();
    const FakeElevation elevated(true);
    std::wstring output;
    std::wstring error;
    EXPECT_EQ(kExitSuccess, RunCameraCommand(ParsedOptions({L"--remove-camera", L"Slides"}), L"", elevated, &output,
                                             &error))
        << error;
    EXPECT_EQ(0u, elevated.launches.size());
    EXPECT_EQ(0, CCameraList::Find(L"Slides"));
}

TEST(CameraOptionsTest, CameraActionsTakeTheirArgumentsAndExcludeOtherActions) {
    CaptureOptions options;
    std::wstring error;
    ASSERT_EQ(ParseStatus::kOk, ParseCaptureOptions({L"--rename-camera", L"2", L"Notes"}, &options, &error));
    EXPECT_EQ(CaptureAction::kRenameCamera, options.action);
    EXPECT_EQ(L"2", options.cameraArgument);
    EXPECT_EQ(L"Notes", options.cameraNewName);
    EXPECT_EQ(ParseStatus::kUsageError, ParseCaptureOptions({L"--rename-camera", L"2"}, &options, &error));
    EXPECT_EQ(ParseStatus::kUsageError, ParseCaptureOptions({L"--add-camera", L""}, &options, &error));
    EXPECT_EQ(ParseStatus::kUsageError, ParseCaptureOptions({L"--cameras", L"--list"}, &options, &error));
    ASSERT_EQ(ParseStatus::kOk, ParseCaptureOptions({L"--camera", L"Slides", L"--use-class", L"Notepad"}, &options,
                                                    &error));
    EXPECT_EQ(CaptureAction::kStoreSettings, options.action);
    EXPECT_EQ(L"Slides", *options.camera);
}

TEST(CameraCommandsTest, ACameraIsAddedListedCapturedRenamedAndRemoved) {
    ScopedDeviceRegistration registration;
    ASSERT_TRUE(SUCCEEDED(registration.Register()));
    const std::wstring name = L"Slides " + std::to_wstring(::GetCurrentProcessId());
    const std::wstring renamed = L"\u30B9\u30E9\u30A4\u30C9 " + std::to_wstring(::GetCurrentProcessId());
    RemoveIfListed(name);
    RemoveIfListed(renamed);

    ClientRun added = RunClient({L"--add-camera", name});
    ASSERT_EQ(0u, added.exitCode) << added.err;
    const int camera = std::atoi(added.out.c_str());
    EXPECT_GE(camera, 2);
    EXPECT_LE(camera, kMaxCameras);
    EXPECT_EQ(camera, CCameraList::Find(name.c_str()));

    // The same name again is refused with a clear message.
    const ClientRun again = RunClient({L"--add-camera", name});
    EXPECT_EQ(1u, again.exitCode);
    EXPECT_TRUE(Contains(again.err, "exists already")) << again.err;

    const ClientRun cameras = RunClient({L"--cameras"});
    EXPECT_EQ(0u, cameras.exitCode);
    EXPECT_TRUE(Contains(cameras.out, ToUtf8(name))) << cameras.out;
    EXPECT_TRUE(Contains(cameras.out, "QM Capture Device")) << cameras.out;

    // Registered again by the command, applications list it, and it is
    // captured by its name at its own size.
    const ClientRun devices = RunClient({L"--list"});
    EXPECT_TRUE(Contains(devices.out, ToUtf8(name))) << devices.out;
    const ClientRun caps = RunClient({L"--camera", name, L"--caps"});
    EXPECT_EQ(0u, caps.exitCode) << caps.err;
    EXPECT_TRUE(Contains(caps.out, "1920x1080")) << caps.out;

    const ClientRun rename = RunClient({L"--rename-camera", std::to_wstring(camera), renamed});
    EXPECT_EQ(0u, rename.exitCode) << rename.err;
    EXPECT_EQ(camera, CCameraList::Find(renamed.c_str()));
    const ClientRun renamedDevices = RunClient({L"--list"});
    EXPECT_TRUE(Contains(renamedDevices.out, ToUtf8(renamed))) << renamedDevices.out;

    const ClientRun removed = RunClient({L"--remove-camera", renamed});
    EXPECT_EQ(0u, removed.exitCode) << removed.err;
    EXPECT_EQ(0, CCameraList::Find(renamed.c_str()));
    const ClientRun gone = RunClient({L"--list"});
    EXPECT_FALSE(Contains(gone.out, ToUtf8(renamed))) << gone.out;
    // Camera 1 stays whatever is asked.
    const ClientRun first = RunClient({L"--remove-camera", L"1"});
    EXPECT_EQ(1u, first.exitCode);
    RemoveIfListed(name);
    RemoveIfListed(renamed);
}

TEST(CameraOptionsTest, ArgumentsQuotedForTheElevatedRunSplitBackWhole) {
    for (const std::wstring& argument :
         {std::wstring(L"Slides"), std::wstring(L"two words"), std::wstring(L"say \"hi\""),
          std::wstring(L"C:\\folder\\"), std::wstring(L"a\\\\\"b"), std::wstring(L""), std::wstring(L"\u4F1A\u8B70")}) {
        const std::wstring line = L"qmcapture.exe " + QuoteArgument(argument);
        int count = 0;
        LPWSTR* split = ::CommandLineToArgvW(line.c_str(), &count);
        ASSERT_NE(nullptr, split);
        EXPECT_EQ(2, count);
        if (count == 2) {
            EXPECT_EQ(argument, std::wstring(split[1]));
        }
        ::LocalFree(split);
    }
}
