// qmcapture.exe --check in a child process, with the device registered
// and the demo window open, and with the device's registration taken
// away: the report's lines, the exit status of each case, and the
// settings of the user and the machine left exactly as they were.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "framework/com_util.h"
#include "tests/support/stored_settings.h"
#include "tests/tools/client_process.h"
#include "tools/capture_client/capture_client.h"
#include "tools/capture_client/self_check.h"

using namespace qmtest;

namespace {

constexpr DWORD kCheckTimeoutMs = 120000;
constexpr DWORD kDemoWindowReadyMs = 60000;

// Everything below a key: its own values and its subkeys', by path.
struct KeyTree {
    bool exists = false;
    std::map<std::wstring, std::map<std::wstring, StoredValue>> values;

    bool operator==(const KeyTree& other) const { return exists == other.exists && values == other.values; }
};

void ReadKeyTree(HKEY key, const std::wstring& path, KeyTree* tree) {
    auto& values = tree->values[path];
    wchar_t name[16384];
    BYTE data[16384];
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = ARRAYSIZE(name);
        DWORD type = 0;
        DWORD size = sizeof(data);
        if (::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) {
            break;
        }
        values[name] = StoredValue{type, std::string(reinterpret_cast<const char*>(data), size)};
    }
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = ARRAYSIZE(name);
        if (::RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        UniqueRegKey child;
        if (::RegOpenKeyExW(key, name, 0, KEY_READ, child.put()) == ERROR_SUCCESS) {
            ReadKeyTree(child.get(), path + L"\\" + name, tree);
        }
    }
}

// The settings of the user (every camera's key) and the machine's camera
// list, as they stand.
std::vector<KeyTree> SnapshotSettings() {
    std::vector<KeyTree> trees;
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        KeyTree tree;
        UniqueRegKey key;
        tree.exists = ::RegOpenKeyExW(root, L"Software\\QMCapture", 0, KEY_READ | KEY_WOW64_64KEY, key.put()) ==
                      ERROR_SUCCESS;
        if (tree.exists) {
            ReadKeyTree(key.get(), L"", &tree);
        }
        trees.push_back(std::move(tree));
    }
    return trees;
}

// The value of the report's line "name: value"; npos-like "<missing>"
// when there is no such line.
std::string ReportValue(const std::string& report, const std::string& name) {
    const std::string start = name + ": ";
    size_t at = 0;
    while (at < report.size()) {
        size_t end = report.find('\n', at);
        if (end == std::string::npos) {
            end = report.size();
        }
        std::string line = report.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.compare(0, start.size(), start) == 0) {
            return line.substr(start.size());
        }
        at = end + 1;
    }
    return "<missing>";
}

// The other architecture's client where an installation puts it: in the
// folder of that architecture's name beside the program's folder. This
// machine may run no program of the other architecture, so the stand-in
// is a copy of the program's own qmcapture.exe: the check runs it, bounded,
// and reads its device list as it would the other one's.
class ScopedOtherClient {
public:
    ScopedOtherClient() {
        std::wstring parent = TestProgramFolder();
        parent.pop_back();
        parent.resize(parent.find_last_of(L"\\/"));
        m_folder = parent + (sizeof(void*) == 8 ? L"\\x86" : L"\\x64");
        m_createdFolder = ::CreateDirectoryW(m_folder.c_str(), nullptr) != FALSE;
        m_client = m_folder + L"\\qmcapture.exe";
        m_copied = ::CopyFileW((TestProgramFolder() + L"qmcapture.exe").c_str(), m_client.c_str(), TRUE) != FALSE;
    }
    ~ScopedOtherClient() {
        if (m_copied) {
            ::DeleteFileW(m_client.c_str());
        }
        if (m_createdFolder) {
            ::RemoveDirectoryW(m_folder.c_str());
        }
    }
    ScopedOtherClient(const ScopedOtherClient&) = delete;
    ScopedOtherClient& operator=(const ScopedOtherClient&) = delete;

    bool Placed() const { return m_copied; }

private:
    std::wstring m_folder;
    std::wstring m_client;
    bool m_createdFolder = false;
    bool m_copied = false;
};

struct CheckCase {
    const char* name;
    bool registered;
    int exitStatus;
    // Lines whose value must start so.
    std::vector<std::pair<std::string, std::string>> lines;
};

class SelfCheckTest : public ::testing::TestWithParam<CheckCase> {};

// Lines every report has, whatever it found.
const char* const kEveryReportHas[] = {
    "qmcapture", "windows", "program architecture", "system architecture", "x86 module", "x86 device listed",
    "x64 module", "x64 device listed", "camera 1", "camera 1 source", "media foundation",
    "windows 11 virtual camera", "qmcamera", "graphics capture", "diagnostic log", "diagnostic log file", "result",
};

TEST_P(SelfCheckTest, ReportsAndEndsWithItsStatusChangingNoSetting) {
    const CheckCase& check = GetParam();
    ScopedDeviceRegistration registration;
    ScopedDeviceUnregistration unregistration;
    ScopedDemoWindow demo;
    ScopedOtherClient otherClient;
    ASSERT_TRUE(otherClient.Placed()) << "the other architecture's client could not be placed";
    if (check.registered) {
        const HRESULT hr = registration.Register();
        ASSERT_TRUE(SUCCEEDED(hr)) << "registering the device failed: 0x" << std::hex << hr;
        // The window the device looks for by default.
        ASSERT_EQ(S_OK, demo.Start(L"Quillmere", L"Quillmere::MainFrame", kDemoWindowReadyMs));
    } else {
        const HRESULT hr = unregistration.Unregister();
        ASSERT_TRUE(SUCCEEDED(hr)) << "unregistering the device failed: 0x" << std::hex << hr;
    }
    const std::vector<KeyTree> before = SnapshotSettings();

    ClientRun run;
    ASSERT_EQ(S_OK, RunCaptureClientProcess({L"--check"}, kCheckTimeoutMs, &run));

    EXPECT_EQ(static_cast<DWORD>(check.exitStatus), run.exitCode) << run.out << run.err;
    for (const char* name : kEveryReportHas) {
        EXPECT_NE("<missing>", ReportValue(run.out, name)) << name << " is not in the report:\n" << run.out;
    }
    for (const auto& line : check.lines) {
        EXPECT_EQ(0u, ReportValue(run.out, line.first).rfind(line.second, 0))
            << line.first << ": expected to start with \"" << line.second << "\" in\n"
            << run.out;
    }
    if (check.registered) {
        const std::string frames = ReportValue(run.out, "stream frames");
        EXPECT_GT(std::atoi(frames.c_str()), 0) << "stream frames: " << frames;
    }
    EXPECT_TRUE(before == SnapshotSettings()) << "the check changed the settings";
}

INSTANTIATE_TEST_SUITE_P(
    Device, SelfCheckTest,
    ::testing::Values(
        CheckCase{"Registered",
                  true,
                  qmcapture::kExitSuccess,
                  {{"program architecture", sizeof(void*) == 8 ? "x64" : "x86"},
                   {sizeof(void*) == 8 ? "x64 module" : "x86 module", "registered, "},
                   {sizeof(void*) == 8 ? "x64 device listed" : "x86 device listed", "yes"},
                   {sizeof(void*) == 8 ? "x86 device listed" : "x64 device listed", "yes"},
                   {"stream format", "RGB24"},
                   {"stream size", ""},
                   {"stream rate", ""},
                   {"stream timestamps", ""},
                   {"stream", "ok"},
                   {"camera 1 window", "0x"},
                   {"camera 1 method", "auto, by copy now (a picture was read)"},
                   {"result", "ok"}}},
        CheckCase{"NotRegistered",
                  false,
                  qmcapture::kExitCheckNotRegistered,
                  {{sizeof(void*) == 8 ? "x64 module" : "x86 module", "not registered"},
                   {sizeof(void*) == 8 ? "x86 device listed" : "x64 device listed", "no"},
                   {"stream", "not run"},
                   {"result", "the "}}}),
    [](const ::testing::TestParamInfo<CheckCase>& param) { return std::string(param.param.name); });

}  // namespace
