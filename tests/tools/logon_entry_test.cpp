// qmcamera's logon entry: CLogonEntry and the icon's menu in this process,
// with HKEY_CURRENT_USER redirected to a scratch key (RegistrySandbox);
// and `qmcamera --autostart` run as a program, which writes the Run key of
// the build's Wine prefix: those tests keep whatever value of the entry's
// name was there and put it back (SavedLogonEntry).
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "framework/com_util.h"
#include "tests/support/registry_sandbox.h"
#include "tests/tools/client_process.h"
#include "tools/camera_app/logon_entry.h"
#include "tools/camera_app/tray_icon.h"
#include "tools/camera_app/virtual_cameras.h"

using namespace qmtest;
using qmcamera::CLogonEntry;
using State = CLogonEntry::State;

namespace {

constexpr wchar_t kProgram[] = L"C:\\Program Files\\QM Capture Device\\x64\\qmcamera.exe";

// The entry's data as a string value of the given type; false when the
// value is missing or no string.
bool ReadRaw(std::wstring* data, DWORD* type = nullptr) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, CLogonEntry::kRunKeyPath, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
        return false;
    }
    const UniqueRegKey key(opened);
    wchar_t buffer[1024] = {};
    DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
    DWORD valueType = 0;
    if (::RegQueryValueExW(key.get(), CLogonEntry::kValueName, nullptr, &valueType, reinterpret_cast<BYTE*>(buffer),
                           &bytes) != ERROR_SUCCESS ||
        (valueType != REG_SZ && valueType != REG_EXPAND_SZ)) {
        return false;
    }
    data->assign(buffer);
    if (type != nullptr) {
        *type = valueType;
    }
    return true;
}

void WriteRaw(const std::wstring& data, DWORD type = REG_SZ) {
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CURRENT_USER, CLogonEntry::kRunKeyPath, CLogonEntry::kValueName,
                                               type, data.c_str(),
                                               static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
}

// What the entry holds now: "" when it is missing.
std::wstring EntryNow() {
    std::wstring data;
    return ReadRaw(&data) ? data : std::wstring();
}

State StateFor(const std::wstring& program) {
    State state = State::Absent;
    EXPECT_EQ(S_OK, CLogonEntry(program).Query(&state));
    return state;
}

// The user's own entry, when the prefix has one, kept while a test runs
// qmcamera.exe, and put back (or removed) when it ends.
class SavedLogonEntry {
public:
    SavedLogonEntry() { m_present = ReadRaw(&m_data, &m_type); }
    ~SavedLogonEntry() {
        if (m_present) {
            WriteRaw(m_data, m_type);
        } else {
            ::RegDeleteKeyValueW(HKEY_CURRENT_USER, CLogonEntry::kRunKeyPath, CLogonEntry::kValueName);
        }
    }
    SavedLogonEntry(const SavedLogonEntry&) = delete;
    SavedLogonEntry& operator=(const SavedLogonEntry&) = delete;

private:
    bool m_present = false;
    std::wstring m_data;
    DWORD m_type = REG_SZ;
};

// Each case of a parameterised test is named by its `name`.
template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& test) {
    return test.param.name;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

// ---- In this process -------------------------------------------------------

struct QueryCase {
    const char* name;
    // The entry's data (null: no entry) and its type.
    const wchar_t* data;
    DWORD type;
    State expected;
};

class LogonEntryQueryTest : public testing::TestWithParam<QueryCase> {};

TEST_P(LogonEntryQueryTest, TellsWhetherTheEntryStartsTheProgram) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    const QueryCase& c = GetParam();
    if (c.data != nullptr) {
        WriteRaw(c.data, c.type);
    }
    EXPECT_EQ(c.expected, StateFor(kProgram));
    // Asking changes nothing.
    EXPECT_EQ(c.data != nullptr ? std::wstring(c.data) : std::wstring(), EntryNow());
}

INSTANTIATE_TEST_SUITE_P(
    Entries, LogonEntryQueryTest,
    testing::Values(
        QueryCase{"None", nullptr, REG_SZ, State::Absent},
        QueryCase{"AsWritten", L"\"C:\\Program Files\\QM Capture Device\\x64\\qmcamera.exe\" --tray", REG_SZ,
                  State::ThisProgram},
        QueryCase{"OtherCaseNoOption", L"\"c:\\program files\\qm capture device\\X64\\QMCAMERA.EXE\"", REG_SZ,
                  State::ThisProgram},
        QueryCase{"Expanded", L"\"%SystemDrive%\\Program Files\\QM Capture Device\\x64\\qmcamera.exe\" --tray",
                  REG_EXPAND_SZ, State::ThisProgram},
        QueryCase{"AnotherCopy", L"\"C:\\Program Files (x86)\\QM Capture Device\\x86\\qmcamera.exe\" --tray", REG_SZ,
                  State::OtherProgram},
        QueryCase{"UnquotedPathCutAtItsSpace", L"C:\\Program Files\\QM Capture Device\\x64\\qmcamera.exe --tray",
                  REG_SZ, State::OtherProgram},
        QueryCase{"Empty", L"", REG_SZ, State::OtherProgram}),
    CaseName<QueryCase>);

TEST(LogonEntryTest, AddWritesTheQuotedPathWithTheTrayOptionInPlaceOfAnyOtherAndRemoveTakesItAway) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    EXPECT_EQ(L"\"C:\\Program Files\\QM Capture Device\\x64\\qmcamera.exe\" --tray",
              CLogonEntry::CommandLine(kProgram));
    // The Run key does not exist yet in the scratch key: it is made.
    ASSERT_EQ(S_OK, CLogonEntry(kProgram).Add());
    DWORD type = 0;
    std::wstring data;
    ASSERT_TRUE(ReadRaw(&data, &type));
    EXPECT_EQ(CLogonEntry::CommandLine(kProgram), data);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(State::ThisProgram, StateFor(kProgram));
    // Another copy's entry is replaced by this one's.
    const std::wstring other = L"D:\\Other\\qmcamera.exe";
    EXPECT_EQ(State::OtherProgram, StateFor(other));
    ASSERT_EQ(S_OK, CLogonEntry(other).Add());
    EXPECT_EQ(CLogonEntry::CommandLine(other), EntryNow());
    EXPECT_EQ(State::OtherProgram, StateFor(kProgram));
    // Removed wherever it points; a second time finds none.
    EXPECT_EQ(S_OK, CLogonEntry::Remove());
    EXPECT_EQ(State::Absent, StateFor(kProgram));
    EXPECT_EQ(S_FALSE, CLogonEntry::Remove());
}

TEST(LogonEntryTest, WhatIsNoFullPathOrNoPlaceForTheAnswerIsRefusedAndChangesNothing) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    const std::wstring before = L"\"C:\\Earlier\\qmcamera.exe\" --tray";
    WriteRaw(before);
    for (const wchar_t* program : {L"", L"qmcamera.exe", L"x64\\qmcamera.exe", L"C:qmcamera.exe",
                                   L"C:\\a\" --evil \"b.exe"}) {
        EXPECT_EQ(E_INVALIDARG, CLogonEntry(program).Add()) << std::string(program, program + std::wcslen(program));
        EXPECT_EQ(before, EntryNow());
    }
    EXPECT_EQ(E_POINTER, CLogonEntry(kProgram).Query(nullptr));
    EXPECT_EQ(before, EntryNow());
}

TEST(LogonEntryTest, TheIconsMenuTicksTheStartAtLogonWhileTheEntryStartsThisProgramAndItsCommandTurnsItOverEachTime) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    const auto ticked = []() {
        const HMENU menu = qmcamera::CTrayIcon::MakeMenu();
        EXPECT_NE(nullptr, menu);
        if (menu == nullptr) {
            return false;
        }
        const UINT menuState = ::GetMenuState(menu, qmcamera::CTrayIcon::kCommandStartAtLogon, MF_BYCOMMAND);
        ::DestroyMenu(menu);
        EXPECT_NE(static_cast<UINT>(-1), menuState) << "no start-at-logon item";
        return menuState != static_cast<UINT>(-1) && (menuState & MF_CHECKED) != 0;
    };
    UniqueHandle quit(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(quit);
    qmcamera::CTrayIcon icon;
    ASSERT_TRUE(icon.Create(quit.get()));
    const std::wstring self = CLogonEntry::RunningProgram();
    ASSERT_FALSE(self.empty());

    EXPECT_FALSE(ticked());
    // An entry for another copy is not this program's: the command makes
    // the entry start this one.
    WriteRaw(L"\"D:\\Other\\qmcamera.exe\" --tray");
    EXPECT_FALSE(ticked());
    ::SendMessageW(icon.hwnd(), WM_COMMAND, qmcamera::CTrayIcon::kCommandStartAtLogon, 0);
    EXPECT_EQ(CLogonEntry::CommandLine(self), EntryNow());
    EXPECT_TRUE(ticked());
    // Chosen again: removed.
    ::SendMessageW(icon.hwnd(), WM_COMMAND, qmcamera::CTrayIcon::kCommandStartAtLogon, 0);
    std::wstring data;
    EXPECT_FALSE(ReadRaw(&data)) << "still there";
    EXPECT_FALSE(ticked());
    EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(quit.get(), 0)) << "the program must go on";
}

// ---- qmcamera.exe --autostart ----------------------------------------------

TEST(LogonEntryProgramTest, AutostartOnWritesTheEntryForTheProgramItselfAndOffRemovesIt) {
    SavedLogonEntry saved;
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, CLogonEntry::kRunKeyPath, CLogonEntry::kValueName);
    const std::wstring program = TestProgramFolder() + L"qmcamera.exe";
    ClientRun run;
    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {L"--autostart", L"on"}, 60000, &run));
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ("", run.err);
    EXPECT_NE(std::string::npos, run.out.find("starts when you log on")) << run.out;
    EXPECT_EQ(L"\"" + program + L"\" --tray", EntryNow());
    EXPECT_EQ(State::ThisProgram, StateFor(program));
    // Again: the same one entry.
    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {L"--autostart", L"on"}, 60000, &run));
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ(L"\"" + program + L"\" --tray", EntryNow());

    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {L"--autostart", L"off"}, 60000, &run));
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("removed the logon entry")) << run.out;
    EXPECT_EQ(State::Absent, StateFor(program));
    // Off when there is none is no failure.
    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {L"--autostart", L"off"}, 60000, &run));
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("there was no logon entry")) << run.out;
}

TEST(LogonEntryProgramTest, WhatTheEntryStartsGoesOnAsAPlainStartDoes) {
    // Here to the virtual cameras that Wine lacks, said on the standard
    // error it was given although it let go of its console.
    ClientRun run;
    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {L"--tray"}, 60000, &run));
    EXPECT_EQ(static_cast<DWORD>(qmcamera::kExitNoVirtualCameras), run.exitCode);
    EXPECT_EQ(qmcamera::kNoVirtualCamerasLine, Trimmed(run.err));
    // The option stands alone.
    ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", {L"--tray", L"--tray"}, 60000, &run));
    EXPECT_EQ(2u, run.exitCode);
    EXPECT_NE(std::string::npos, run.out.find("Usage: qmcamera [--tray]")) << run.out;
}

struct BadArgumentsCase {
    const char* name;
    std::vector<std::wstring> args;
    const char* message;
};

class LogonEntryBadArgumentsTest : public testing::TestWithParam<BadArgumentsCase> {};

TEST_P(LogonEntryBadArgumentsTest, AreAUsageErrorWithAMessageAndChangeNothing) {
    SavedLogonEntry saved;
    const BadArgumentsCase& c = GetParam();
    // Both with an entry there (which must stay) and without (which must
    // not appear).
    for (const bool present : {true, false}) {
        const std::wstring before = present ? L"\"D:\\Other\\qmcamera.exe\" --tray" : L"";
        if (present) {
            WriteRaw(before);
        } else {
            ::RegDeleteKeyValueW(HKEY_CURRENT_USER, CLogonEntry::kRunKeyPath, CLogonEntry::kValueName);
        }
        ClientRun run;
        ASSERT_EQ(S_OK, RunToolProcess(L"qmcamera.exe", c.args, 60000, &run));
        EXPECT_EQ(2u, run.exitCode);
        EXPECT_EQ(c.message, Trimmed(run.err));
        EXPECT_EQ("", run.out);
        EXPECT_EQ(before, EntryNow()) << (present ? "with an entry" : "without an entry");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, LogonEntryBadArgumentsTest,
    testing::Values(
        BadArgumentsCase{"None", {L"--autostart"}, "qmcamera: --autostart takes one argument, on or off"},
        BadArgumentsCase{"Yes", {L"--autostart", L"yes"}, "qmcamera: --autostart takes on or off, not \"yes\""},
        BadArgumentsCase{"Empty", {L"--autostart", L""}, "qmcamera: --autostart takes on or off, not \"\""},
        BadArgumentsCase{"TwoOfThem",
                         {L"--autostart", L"on", L"off"},
                         "qmcamera: --autostart takes one argument, on or off"}),
    CaseName<BadArgumentsCase>);

}  // namespace
