// qmsettings.exe, the settings program: its options as scripts use them,
// and the real property frame it opens on the registered device with no
// capture application running, with the settings page inside.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <string>
#include <thread>
#include <vector>

#include "settings/capture_device_ids.h"
#include "framework/com_util.h"
#include "resources/resource.h"
#include "tests/tools/client_process.h"

using namespace qmtest;

namespace {

constexpr wchar_t kProgram[] = L"qmsettings.exe";
constexpr DWORD kQuickRunMs = 30000;
constexpr DWORD kFrameRunMs = 60000;
// How long a test waits for the frame to appear before it gives up.
constexpr DWORD kFrameAppearMs = 30000;

std::string ReadTextFile(const std::wstring& path) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        return std::string();
    }
    std::string text;
    char buffer[512];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    return text;
}

std::wstring WindowText(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

BOOL CALLBACK CollectText(HWND child, LPARAM list) {
    reinterpret_cast<std::vector<std::wstring>*>(list)->push_back(WindowText(child));
    return TRUE;
}

// Texts of every window below a window, at any depth.
std::vector<std::wstring> DescendantTexts(HWND window) {
    std::vector<std::wstring> texts;
    ::EnumChildWindows(window, &CollectText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

// The frame's tab control: one tab per page.
BOOL CALLBACK FindTabControl(HWND child, LPARAM found) {
    wchar_t name[64] = {};
    ::GetClassNameW(child, name, 64);
    if (std::wstring(name) != WC_TABCONTROLW) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

// How many pages the registered device names, asked in this process.
HRESULT CountDevicePages(ULONG* count) {
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 0;
    Microsoft::WRL::ComPtr<ISpecifyPropertyPages> specify;
    RETURN_IF_FAILED(::CoCreateInstance(CLSID_CaptureDevice, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&specify)));
    CAUUID pages = {};
    RETURN_IF_FAILED(specify->GetPages(&pages));
    const CoTaskMemPtr<GUID> pageIds(pages.pElems);
    *count = pages.cElems;
    return S_OK;
}

bool Contains(const std::vector<std::wstring>& texts, const std::wstring& text) {
    for (const std::wstring& t : texts) {
        if (t == text) {
            return true;
        }
    }
    return false;
}

// A removed scratch file on both ends of a test.
class ScratchFile {
public:
    explicit ScratchFile(const wchar_t* name) : m_path(ScratchPath(name)) { ::DeleteFileW(m_path.c_str()); }
    ~ScratchFile() { ::DeleteFileW(m_path.c_str()); }
    const std::wstring& path() const { return m_path; }

private:
    std::wstring m_path;
};

}  // namespace

TEST(SettingsAppTest, HelpGoesToStdoutWithExitZero) {
    ClientRun run;
    ASSERT_EQ(S_OK, RunToolProcess(kProgram, {L"--help"}, kQuickRunMs, &run));
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_NE(std::string::npos, run.out.find("OleCreatePropertyFrame"));
    EXPECT_NE(std::string::npos, run.out.find("--close-after"));
    EXPECT_TRUE(run.err.empty());
}

TEST(SettingsAppTest, BadOptionsAreUsageErrors) {
    const std::vector<std::vector<std::wstring>> cases = {
        {L"--bogus"},           {L"--close-after"},        {L"--close-after", L"0"},
        {L"--close-after=-1"},  {L"--close-after", L"2s"}, {L"--close-after", L"86401"},
        {L"--ready-file"},      {L"--ready-file="},        {L"--pin=yes"},
        {L"--page"},            {L"--page", L"0"},         {L"--page=two"},
        {L"--page", L"-1"},     {L"--page", L"100"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(std::string(args[0].begin(), args[0].end()));
        ClientRun run;
        ASSERT_EQ(S_OK, RunToolProcess(kProgram, args, kQuickRunMs, &run));
        EXPECT_EQ(2u, run.exitCode);
        EXPECT_NE(std::string::npos, run.err.find("qmsettings: ")) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
}

TEST(SettingsAppTest, FrameShowsEveryPageTheDeviceNamesAndClosesByItself) {
    ScopedDeviceRegistration registration;
    ASSERT_TRUE(SUCCEEDED(registration.Register()));
    ULONG pageCount = 0;
    ASSERT_EQ(S_OK, CountDevicePages(&pageCount));
    ASSERT_GE(pageCount, 1u);
    const std::vector<std::vector<std::wstring>> ways = {{}, {L"--clsid"}, {L"--pin"}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.empty() ? "by friendly name" : std::string(way[0].begin(), way[0].end()));
        ScratchFile ready(L"frame.ready");
        std::vector<std::wstring> args = way;
        args.insert(args.end(), {L"--close-after", L"1", L"--ready-file", ready.path()});

        ClientRun run;
        HRESULT runResult = E_FAIL;
        std::thread tool([&] { runResult = RunToolProcess(kProgram, args, kFrameRunMs, &run); });

        // While the frame is open: its window, and the page's controls in it.
        std::string title;
        for (DWORD waited = 0; waited < kFrameAppearMs && title.empty(); waited += 100) {
            ::Sleep(100);
            title = ReadTextFile(ready.path());
        }
        std::vector<std::wstring> texts;
        HWND frame = nullptr;
        LRESULT tabs = -1;
        if (!title.empty()) {
            while (!title.empty() && (title.back() == '\n' || title.back() == '\r')) {
                title.pop_back();
            }
            frame = ::FindWindowW(nullptr, std::wstring(title.begin(), title.end()).c_str());
            texts = DescendantTexts(frame);
            HWND tabControl = nullptr;
            ::EnumChildWindows(frame, &FindTabControl, reinterpret_cast<LPARAM>(&tabControl));
            if (tabControl != nullptr) {
                tabs = ::SendMessageW(tabControl, TCM_GETITEMCOUNT, 0, 0);
            }
        }
        tool.join();

        ASSERT_EQ(S_OK, runResult);
        EXPECT_EQ(0u, run.exitCode) << run.err;
        ASSERT_FALSE(title.empty()) << "no ready file; stderr: " << run.err;
        EXPECT_NE(std::string::npos, title.find("QM Capture Device")) << title;
        EXPECT_NE(std::string::npos, run.out.find("is open"));
        ASSERT_NE(nullptr, frame);
        // Every page the device names, and only those.
        EXPECT_EQ(static_cast<LRESULT>(pageCount), tabs);
        // The radio buttons "縦" and "横" and the label "方向 :".
        EXPECT_TRUE(Contains(texts, L"\u7E26"));
        EXPECT_TRUE(Contains(texts, L"\u6A2A"));
        EXPECT_TRUE(Contains(texts, L"\u65B9\u5411 :"));
        // Closed as Cancel closes it.
        EXPECT_FALSE(::IsWindow(frame));
    }
}

TEST(SettingsAppTest, TheWindowPageCanBeShownFirst) {
    ScopedDeviceRegistration registration;
    ASSERT_TRUE(SUCCEEDED(registration.Register()));
    ULONG pageCount = 0;
    ASSERT_EQ(S_OK, CountDevicePages(&pageCount));
    ASSERT_EQ(2u, pageCount);
    ScratchFile ready(L"frame.ready");
    const std::vector<std::wstring> args = {L"--page", L"2", L"--close-after", L"1", L"--ready-file", ready.path()};
    ClientRun run;
    HRESULT runResult = E_FAIL;
    std::thread tool([&] { runResult = RunToolProcess(kProgram, args, kFrameRunMs, &run); });

    std::string title;
    for (DWORD waited = 0; waited < kFrameAppearMs && title.empty(); waited += 100) {
        ::Sleep(100);
        title = ReadTextFile(ready.path());
    }
    LRESULT selected = -1;
    std::vector<std::wstring> texts;
    if (!title.empty()) {
        while (!title.empty() && (title.back() == '\n' || title.back() == '\r')) {
            title.pop_back();
        }
        const HWND frame = ::FindWindowW(nullptr, std::wstring(title.begin(), title.end()).c_str());
        HWND tabControl = nullptr;
        ::EnumChildWindows(frame, &FindTabControl, reinterpret_cast<LPARAM>(&tabControl));
        if (tabControl != nullptr) {
            selected = ::SendMessageW(tabControl, TCM_GETCURSEL, 0, 0);
        }
        texts = DescendantTexts(frame);
    }
    tool.join();
    ASSERT_EQ(S_OK, runResult);
    EXPECT_EQ(0u, run.exitCode) << run.err;
    ASSERT_FALSE(title.empty()) << "no ready file; stderr: " << run.err;
    EXPECT_EQ(1, selected);
    // The window page's "クラスだけで探す" (class only) and "左右反転" (mirror),
    // its kinds "モニター" and "範囲", and "マウス ポインターを表示".
    EXPECT_TRUE(Contains(texts, L"\u30AF\u30E9\u30B9\u3060\u3051\u3067\u63A2\u3059"));
    EXPECT_TRUE(Contains(texts, L"\u5DE6\u53F3\u53CD\u8EE2"));
    EXPECT_TRUE(Contains(texts, L"\u30E2\u30CB\u30BF\u30FC"));
    EXPECT_TRUE(Contains(texts, L"\u7BC4\u56F2"));
    EXPECT_TRUE(Contains(texts, L"\u30DE\u30A6\u30B9 \u30DD\u30A4\u30F3\u30BF\u30FC\u3092\u8868\u793A"));

    // A page the device does not have.
    ASSERT_EQ(S_OK, RunToolProcess(kProgram, {L"--page", L"3"}, kQuickRunMs, &run));
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("there is no page 3")) << run.err;
}

// The window page's dialog in the frame: the window with the region's
// radio button.
BOOL CALLBACK FindWindowPage(HWND child, LPARAM found) {
    if (::GetDlgItem(child, IDC_SOURCE_REGION) == nullptr) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

// Wine's property frame never calls a page's Apply (nor enables its Apply
// button when a page reports a change), so what the program stores cannot
// be seen here; the page's own tests apply it as a frame does. This test
// drives the page's controls inside the program's real frame.
TEST(SettingsAppTest, TheWindowPageChoosesAKindInTheFrame) {
    ScopedDeviceRegistration registration;
    ASSERT_TRUE(SUCCEEDED(registration.Register()));
    ScratchFile ready(L"frame.ready");
    // Closed by the test with Cancel; the close-after is a safety net.
    const std::vector<std::wstring> args = {L"--page", L"2", L"--close-after", L"30", L"--ready-file", ready.path()};
    ClientRun run;
    HRESULT runResult = E_FAIL;
    std::thread tool([&] { runResult = RunToolProcess(kProgram, args, kFrameRunMs, &run); });

    std::string title;
    for (DWORD waited = 0; waited < kFrameAppearMs && title.empty(); waited += 100) {
        ::Sleep(100);
        title = ReadTextFile(ready.path());
    }
    HWND page = nullptr;
    struct Enabled {
        bool list = false;
        bool method = false;
        bool monitors = false;
        bool region = false;
    };
    Enabled before;
    Enabled monitor;
    Enabled region;
    LRESULT monitorItems = -1;
    LRESULT methodItems = -1;
    if (!title.empty()) {
        while (!title.empty() && (title.back() == '\n' || title.back() == '\r')) {
            title.pop_back();
        }
        const HWND frame = ::FindWindowW(nullptr, std::wstring(title.begin(), title.end()).c_str());
        ::EnumChildWindows(frame, &FindWindowPage, reinterpret_cast<LPARAM>(&page));
        const auto enabled = [&page](int id) { return ::IsWindowEnabled(::GetDlgItem(page, id)) != FALSE; };
        const auto look = [&enabled]() {
            return Enabled{enabled(IDC_WINDOW_LIST), enabled(IDC_CAPTURE_METHOD), enabled(IDC_MONITOR_LIST),
                           enabled(IDC_REGION_X)};
        };
        if (page != nullptr) {
            // As a user clicks them, in the program's page (whatever the
            // prefix's user has stored).
            ::SendMessageW(::GetDlgItem(page, IDC_SOURCE_WINDOW), BM_CLICK, 0, 0);
            before = look();
            ::SendMessageW(::GetDlgItem(page, IDC_SOURCE_MONITOR), BM_CLICK, 0, 0);
            monitor = look();
            ::SendMessageW(::GetDlgItem(page, IDC_SOURCE_REGION), BM_CLICK, 0, 0);
            region = look();
            monitorItems = ::SendDlgItemMessageW(page, IDC_MONITOR_LIST, CB_GETCOUNT, 0, 0);
            methodItems = ::SendDlgItemMessageW(page, IDC_CAPTURE_METHOD, CB_GETCOUNT, 0, 0);
        }
        ::PostMessageW(frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    tool.join();
    ASSERT_EQ(S_OK, runResult);
    EXPECT_EQ(0u, run.exitCode) << run.err;
    ASSERT_NE(nullptr, page) << "no window page in the frame; stderr: " << run.err;
    // A window: its list and method; then a monitor: its list alone; then
    // a region.
    EXPECT_TRUE(before.list && before.method && !before.monitors && !before.region);
    EXPECT_TRUE(!monitor.list && !monitor.method && monitor.monitors && !monitor.region);
    EXPECT_TRUE(!region.list && !region.method && !region.monitors && region.region);
    // The primary's own item and at least one monitor; the four methods.
    EXPECT_GE(monitorItems, 2);
    EXPECT_EQ(4, methodItems);
}

TEST(SettingsAppTest, StartedWithoutOptionsItListsTheCamerasFirst) {
    ScopedDeviceRegistration registration;
    ASSERT_TRUE(SUCCEEDED(registration.Register()));
    ClientRun run;
    HRESULT runResult = E_FAIL;
    std::thread tool([&] { runResult = RunToolProcess(kProgram, {}, kFrameRunMs, &run); });

    // The picker: camera 1 listed and chosen, Rename and Remove off for it.
    HWND picker = nullptr;
    // Found once it shows: a dialog exists, hidden, before its
    // initialisation has filled it.
    for (DWORD waited = 0; waited < kFrameAppearMs && picker == nullptr; waited += 100) {
        ::Sleep(100);
        const HWND found = ::FindWindowW(L"#32770", L"QM Capture Settings");
        picker = found != nullptr && ::IsWindowVisible(found) ? found : nullptr;
    }
    std::wstring first;
    LRESULT selected = -1;
    bool renameEnabled = true;
    bool removeEnabled = true;
    if (picker != nullptr) {
        const HWND list = ::GetDlgItem(picker, 101);
        wchar_t item[128] = {};
        if (::SendMessageW(list, LB_GETTEXTLEN, 0, 0) < 128) {
            ::SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(item));
        }
        first = item;
        selected = ::SendMessageW(list, LB_GETCURSEL, 0, 0);
        renameEnabled = ::IsWindowEnabled(::GetDlgItem(picker, 103)) != FALSE;
        removeEnabled = ::IsWindowEnabled(::GetDlgItem(picker, 104)) != FALSE;
        // Closed without a choice: nothing opens.
        ::PostMessageW(picker, WM_COMMAND, IDCANCEL, 0);
    }
    tool.join();
    ASSERT_NE(nullptr, picker) << "no camera picker; stderr: " << run.err;
    ASSERT_EQ(S_OK, runResult);
    EXPECT_EQ(0u, run.exitCode) << run.err;
    EXPECT_EQ(L"1: QM Capture Device", first);
    EXPECT_EQ(0, selected);
    EXPECT_FALSE(renameEnabled);
    EXPECT_FALSE(removeEnabled);
}
