// The diagnostic log: off by default, one line per event with time,
// process and thread, failures of the error macros among them, and a
// bounded file.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "framework/com_util.h"
#include "framework/diagnostic_log.h"

namespace {

// Points %LOCALAPPDATA% at a fresh folder for one test and puts it back.
class DiagnosticLogTest : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ASSERT_NE(0u, ::GetTempPathW(MAX_PATH, temp));
        m_folder = std::wstring(temp) + L"qm-log-test-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(m_folder.c_str(), nullptr);
        wchar_t previous[MAX_PATH] = {};
        m_hadPrevious = ::GetEnvironmentVariableW(L"LOCALAPPDATA", previous, MAX_PATH) > 0;
        m_previous = previous;
        ASSERT_TRUE(::SetEnvironmentVariableW(L"LOCALAPPDATA", m_folder.c_str()));
        wchar_t path[MAX_PATH * 2] = {};
        ASSERT_TRUE(diagnostic_log::FilePath(path, MAX_PATH * 2));
        m_path = path;
        m_oldPath = m_folder + L"\\QMCapture\\diagnostic.old.log";
    }
    void TearDown() override {
        diagnostic_log::Enable(false);
        ::DeleteFileW(m_path.c_str());
        ::DeleteFileW(m_oldPath.c_str());
        ::RemoveDirectoryW((m_folder + L"\\QMCapture").c_str());
        ::RemoveDirectoryW(m_folder.c_str());
        ::SetEnvironmentVariableW(L"LOCALAPPDATA", m_hadPrevious ? m_previous.c_str() : nullptr);
    }

    static std::string Contents(const std::wstring& path) {
        std::ifstream file(path.c_str(), std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static long long SizeOf(const std::wstring& path) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
            return -1;
        }
        return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }

    std::wstring m_folder;
    std::wstring m_path;
    std::wstring m_oldPath;
    std::wstring m_previous;
    bool m_hadPrevious = false;
};

HRESULT FailWith(HRESULT hr) {
    RETURN_HR_IF(hr, FAILED(hr));
    return S_OK;
}

}  // namespace

TEST_F(DiagnosticLogTest, NothingIsWrittenWhileItIsOff) {
    diagnostic_log::Enable(false);
    diagnostic_log::Write("not written %d", 1);
    EXPECT_EQ(-1, SizeOf(m_path));
}

TEST_F(DiagnosticLogTest, LinesSayWhenWhoAndWhatAndFailuresAreAmongThem) {
    EXPECT_NE(std::wstring::npos, m_path.find(L"\\QMCapture\\diagnostic.log"));
    diagnostic_log::Enable(true);
    diagnostic_log::Write("stream %s", "started");
    EXPECT_EQ(E_ACCESSDENIED, FailWith(E_ACCESSDENIED));
    const std::string text = Contents(m_path);
    const std::string who = "[" + std::to_string(::GetCurrentProcessId()) + ":" +
                            std::to_string(::GetCurrentThreadId()) + "] ";
    EXPECT_NE(std::string::npos, text.find(who + "stream started\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("failed: diagnostic_log_test.cpp(")) << text;
    EXPECT_NE(std::string::npos, text.find("FAILED(hr): 0x80070005\r\n")) << text;
    // Every line starts with the local date and time.
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    char year[8];
    std::snprintf(year, sizeof(year), "%04u-", now.wYear);
    EXPECT_EQ(0u, text.find(year)) << text;
}

TEST_F(DiagnosticLogTest, AFullFileMakesWayForANewOne) {
    diagnostic_log::Enable(true);
    const std::string filler(900, 'x');
    const long long lines = diagnostic_log::kMaxBytes / 900 + 2;
    for (long long i = 0; i < lines; ++i) {
        diagnostic_log::Write("%s", filler.c_str());
    }
    EXPECT_GE(SizeOf(m_oldPath), diagnostic_log::kMaxBytes);
    EXPECT_LT(SizeOf(m_path), diagnostic_log::kMaxBytes);
    diagnostic_log::Write("after");
    EXPECT_NE(std::string::npos, Contents(m_path).find("after\r\n"));
}
