// qmsettings: the settings program of QM Capture Device. It opens the
// device's property pages in the standard OLE property frame, the way
// capture applications do, without any capture application running; the
// Start menu entry "QM Capture Settings" starts it. Scripts and tests use
// its options to pick how the device is opened, to learn when the frame is
// on screen and to close it.
#include <windows.h>
#include <commctrl.h>
#include <dshow.h>
#include <ocidl.h>
#include <olectl.h>
#include <shellapi.h>
#include <wrl/client.h>

#include <cwchar>
#include <string>
#include <vector>

#include "settings/camera_list.h"
#include "settings/capture_device_ids.h"
#include "framework/com_util.h"
#include "tools/capture_client/console_output.h"
#include "tools/capture_client/video_device.h"
#include "tools/settings_app/camera_picker.h"

using Microsoft::WRL::ComPtr;

namespace qmsettings {

// The capture client's console output and device lookup.
using qmcapture::FindCapturePin;
using qmcapture::FormatText;
using qmcapture::OpenVideoInputDevice;
using qmcapture::ToUtf8;
using qmcapture::WriteStderr;
using qmcapture::WriteStdout;

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// One day: anything longer is a mistyped number.
constexpr int kMaxCloseAfterSeconds = 24 * 3600;
// More pages than any frame shows: a larger number is mistyped.
constexpr int kMaxPage = 99;
// How often the frame is looked at while it is open.
constexpr UINT kWatchPeriodMs = 100;
constexpr wchar_t kProgramName[] = L"qmsettings";
// Caption of the message boxes that stand in for standard error when no
// console or pipe is attached (the program is started from the Start menu).
constexpr wchar_t kMessageCaption[] = L"QM Capture Settings";

constexpr wchar_t kUsage[] = LR"(Usage: qmsettings [options]

Started without options, shows the cameras first: the one chosen has its
pages opened; cameras can be added, renamed and removed there (with
administrator rights, which Windows asks for).

Opens the settings of QM Capture Device: the device's property pages in the
standard property frame (OleCreatePropertyFrame), as capture applications
do. The filter is created from its moniker in the video input device
category, found by its friendly name "QM Capture Device"; its
ISpecifyPropertyPages names the pages; the frame's caption is "QM Capture
Device". OK and Apply store the settings for the current user. The device
must be registered (setup.exe, install.cmd or regsvr32 QMCaptureDevice.ax).

Options:
  --clsid              create the filter with CoCreateInstance of its class
                       instead of through the system device enumerator
  --pin                give the frame the filter's output pin instead of
                       the filter itself
  --close-after N      close the frame by itself N seconds after it
                       appeared, as its Cancel button does (1-86400)
  --ready-file PATH    once the frame is on screen, write its window title
                       to PATH (UTF-8), for scripts that wait for it
  --page N             show the Nth page first (1 the settings page, 2 the
                       window page)
  --camera N|NAME      open the pages of another camera (its number or
                       name, as qmcapture --cameras lists them); default:
                       camera 1, "QM Capture Device"
  -h, --help           show this help and exit

Exit status: 0 when the frame was closed, 1 when it could not be opened,
2 on a usage error. Messages go to standard output and standard error when
they lead somewhere (a pipe, a file or a console), and to a message box
otherwise.
)";

struct Options {
    bool byClsid = false;
    bool editPin = false;
    int closeAfterSeconds = 0;  // 0: stay open until the user closes it
    std::wstring readyFile;
    int page = 1;  // the page shown first, counted from 1
    std::wstring camera;  // empty: camera 1
};

enum class Parsed { kRun, kHelp, kError };

// A program of the Windows subsystem has standard handles only when its
// starter passed them (a redirection, a pipe); started from the Start menu
// or Explorer it has none, and the user sees a message box instead.
bool HasStandardHandle(DWORD which) {
    const HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

void ShowInformation(const std::wstring& text) {
    if (HasStandardHandle(STD_OUTPUT_HANDLE)) {
        WriteStdout(text);
    } else {
        ::MessageBoxW(nullptr, text.c_str(), kMessageCaption, MB_OK | MB_ICONINFORMATION);
    }
}

void ShowError(const std::wstring& text) {
    if (HasStandardHandle(STD_ERROR_HANDLE)) {
        WriteStderr(std::wstring(kProgramName) + L": " + text + L"\n");
    } else {
        ::MessageBoxW(nullptr, text.c_str(), kMessageCaption, MB_OK | MB_ICONERROR);
    }
}

Parsed ParseArguments(const std::vector<std::wstring>& args, Options* options, std::wstring* error) {
    for (size_t i = 1; i < args.size(); ++i) {
        std::wstring name = args[i];
        std::wstring value;
        bool hasValue = false;
        const size_t equals = name.find(L'=');
        if (name.rfind(L"--", 0) == 0 && equals != std::wstring::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            hasValue = true;
        }
        if (name == L"-h" || name == L"--help" || name == L"/?") {
            return Parsed::kHelp;
        }
        if ((name == L"--clsid" || name == L"--pin") && !hasValue) {
            (name == L"--clsid" ? options->byClsid : options->editPin) = true;
            continue;
        }
        if (name != L"--close-after" && name != L"--ready-file" && name != L"--page" && name != L"--camera") {
            *error = L"unknown option '" + args[i] + L"'";
            return Parsed::kError;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                *error = L"option " + name + L" needs a value";
                return Parsed::kError;
            }
            value = args[++i];
        }
        if (name == L"--close-after") {
            wchar_t* end = nullptr;
            const long seconds = std::wcstol(value.c_str(), &end, 10);
            if (value.empty() || value.find_first_not_of(L"0123456789") != std::wstring::npos ||
                end != value.c_str() + value.size() || seconds < 1 || seconds > kMaxCloseAfterSeconds) {
                *error = L"bad value '" + value + L"' for --close-after (whole seconds, 1-86400)";
                return Parsed::kError;
            }
            options->closeAfterSeconds = static_cast<int>(seconds);
        } else if (name == L"--page") {
            wchar_t* end = nullptr;
            const long page = std::wcstol(value.c_str(), &end, 10);
            if (value.empty() || value.find_first_not_of(L"0123456789") != std::wstring::npos ||
                end != value.c_str() + value.size() || page < 1 || page > kMaxPage) {
                *error = L"bad value '" + value + L"' for --page (a page number from 1)";
                return Parsed::kError;
            }
            options->page = static_cast<int>(page);
        } else if (name == L"--camera") {
            if (value.empty()) {
                *error = L"option --camera needs a camera number or name";
                return Parsed::kError;
            }
            options->camera = value;
        } else {
            if (value.empty()) {
                *error = L"option --ready-file needs a path";
                return Parsed::kError;
            }
            options->readyFile = value;
        }
    }
    return Parsed::kRun;
}

// The command line split the way the C runtime splits it for wmain.
std::vector<std::wstring> CommandLineArguments() {
    std::vector<std::wstring> args;
    int count = 0;
    wchar_t** list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (list == nullptr) {
        return args;
    }
    for (int i = 0; i < count; ++i) {
        args.emplace_back(list[i]);
    }
    ::LocalFree(list);
    return args;
}

std::wstring DescribeHresult(HRESULT hr) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = FormatText(L"0x%08lX", static_cast<unsigned long>(hr));
    if (length > 0 && text != nullptr) {
        std::wstring system(text, length);
        while (!system.empty() && (system.back() == L'\n' || system.back() == L'\r' || system.back() == L' ')) {
            system.pop_back();
        }
        message += L" (" + system + L")";
    }
    ::LocalFree(text);
    return message;
}

// Watches the frame from a timer of a message-only window on the thread
// that runs the frame's modal loop: the loop dispatches the timer, so no
// second thread touches the frame's windows.
class FrameWatch {
public:
    explicit FrameWatch(const Options& options) : m_options(options) {}

    // False when the watch window cannot be made; the frame then only
    // closes by hand and no ready file is written.
    bool Start() {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &FrameWatch::WindowProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kWatchClassName;
        ::RegisterClassExW(&wc);
        m_window.reset(::CreateWindowExW(0, kWatchClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         wc.hInstance, nullptr));
        if (!m_window) {
            return false;
        }
        ::SetWindowLongPtrW(m_window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        return ::SetTimer(m_window.get(), kTimerId, kWatchPeriodMs, nullptr) != 0;
    }

    bool seen() const { return m_announced; }

private:
    static constexpr wchar_t kWatchClassName[] = L"QMSettingsFrameWatch";
    static constexpr UINT_PTR kTimerId = 1;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* watch = reinterpret_cast<FrameWatch*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_TIMER && watch != nullptr) {
            watch->Look();
            return 0;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    // The frame: the one visible top-level window of this thread without an
    // owner.
    static BOOL CALLBACK FindFrame(HWND window, LPARAM found) {
        if (!::IsWindowVisible(window) || ::GetWindow(window, GW_OWNER) != nullptr) {
            return TRUE;
        }
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }

    void Look() {
        if (m_frame == nullptr || !::IsWindow(m_frame)) {
            m_frame = nullptr;
            ::EnumThreadWindows(::GetCurrentThreadId(), &FindFrame, reinterpret_cast<LPARAM>(&m_frame));
            if (m_frame == nullptr) {
                return;
            }
        }
        if (!m_announced) {
            m_announced = true;
            m_seenAt = ::GetTickCount64();
            ShowFirstPage();
            Announce();
        }
        const ULONGLONG closeAfterMs = static_cast<ULONGLONG>(m_options.closeAfterSeconds) * 1000;
        if (!m_closing && closeAfterMs > 0 && ::GetTickCount64() - m_seenAt >= closeAfterMs) {
            m_closing = true;
            ::PostMessageW(m_frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
    }

    // The frame's tab control: one tab per page.
    static BOOL CALLBACK FindTabs(HWND child, LPARAM found) {
        wchar_t name[64] = {};
        ::GetClassNameW(child, name, 64);
        if (std::wcscmp(name, WC_TABCONTROLW) != 0) {
            return TRUE;
        }
        *reinterpret_cast<HWND*>(found) = child;
        return FALSE;
    }

    // Moves to the page asked for as a click on its tab does: without
    // button style, moving a tab control's focus selects the tab and tells
    // the frame, which then shows that page.
    void ShowFirstPage() const {
        if (m_options.page <= 1) {
            return;
        }
        HWND tabs = nullptr;
        ::EnumChildWindows(m_frame, &FindTabs, reinterpret_cast<LPARAM>(&tabs));
        if (tabs != nullptr) {
            ::SendMessageW(tabs, TCM_SETCURFOCUS, static_cast<WPARAM>(m_options.page - 1), 0);
        }
    }

    // Only for scripts: a user who starts the program sees the frame.
    void Announce() const {
        std::wstring title(static_cast<size_t>(::GetWindowTextLengthW(m_frame)) + 1, L'\0');
        title.resize(static_cast<size_t>(::GetWindowTextW(m_frame, title.data(), static_cast<int>(title.size()))));
        WriteStdout(std::wstring(kProgramName) + L": the frame \"" + title + L"\" is open\n");
        if (m_options.readyFile.empty()) {
            return;
        }
        const HRESULT hr = WriteTextFile(m_options.readyFile, title + L"\n");
        if (FAILED(hr)) {
            ShowError(L"cannot write " + m_options.readyFile + L": " + DescribeHresult(hr));
        }
    }

    static HRESULT WriteTextFile(const std::wstring& path, const std::wstring& text) {
        const HANDLE created = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE) {
            return HResultFromLastError();
        }
        UniqueHandle file(created);
        const std::string bytes = ToUtf8(text);
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
            return HResultFromLastError();
        }
        return written == bytes.size() ? S_OK : E_FAIL;
    }

    const Options m_options;
    UniqueWindow m_window;
    ULONGLONG m_seenAt = 0;
    HWND m_frame = nullptr;  // not owned: the frame belongs to OleCreatePropertyFrame
    bool m_announced = false;
    bool m_closing = false;
};

HRESULT CreateDevice(const Options& options, IBaseFilter** filter, std::wstring* what, std::wstring* caption) {
    int camera = kFirstCamera;
    if (!options.camera.empty()) {
        camera = CCameraList::Find(options.camera.c_str());
        if (camera == 0) {
            *what = L"no camera \"" + options.camera + L"\" (qmcapture --cameras lists them)";
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        }
    }
    wchar_t name[kCameraNameCapacity] = {};
    RETURN_IF_FAILED(CCameraList::GetName(camera, name, kCameraNameCapacity));
    *caption = name;
    if (options.byClsid) {
        *what = L"cannot create the class of camera " + std::to_wstring(camera);
        return ::CoCreateInstance(*CameraClassId(camera), nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(filter));
    }
    *what = L"cannot open the video input device \"" + std::wstring(name) + L"\"";
    return OpenVideoInputDevice(name, filter);
}

int ShowFrame(const Options& options) {
    ComPtr<IBaseFilter> filter;
    std::wstring what;
    std::wstring caption = kCaptureDeviceName;
    HRESULT hr = CreateDevice(options, &filter, &what, &caption);
    if (FAILED(hr)) {
        if (hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND) || hr == REGDB_E_CLASSNOTREG) {
            what += L": QM Capture Device is not installed for " +
                    std::wstring(sizeof(void*) == 8 ? L"64-bit" : L"32-bit") +
                    L" applications (is QMCaptureDevice.ax registered? Run setup again)";
        }
        ShowError(what + L": " + DescribeHresult(hr));
        return kExitFailure;
    }
    ComPtr<IUnknown> edited = filter;
    if (options.editPin) {
        ComPtr<IPin> pin;
        hr = FindCapturePin(filter.Get(), &pin);
        if (FAILED(hr)) {
            ShowError(L"the device has no output pin: " + DescribeHresult(hr));
            return kExitFailure;
        }
        edited = pin;
    }

    // Whatever pages the device names, in its order.
    ComPtr<ISpecifyPropertyPages> specify;
    CAUUID pages = {};
    hr = edited.As(&specify);
    if (SUCCEEDED(hr)) {
        hr = specify->GetPages(&pages);
    }
    const CoTaskMemPtr<GUID> pageIds(pages.pElems);
    if (FAILED(hr) || pages.cElems == 0) {
        ShowError(L"the device names no property page" + (FAILED(hr) ? L": " + DescribeHresult(hr) : std::wstring()));
        return kExitFailure;
    }

    if (static_cast<ULONG>(options.page) > pages.cElems) {
        ShowError(FormatText(L"there is no page %d: the device offers %lu", options.page,
                             static_cast<unsigned long>(pages.cElems)));
        return kExitFailure;
    }

    FrameWatch watch(options);
    if (!watch.Start() && (options.closeAfterSeconds > 0 || !options.readyFile.empty())) {
        ShowError(L"cannot watch the frame; --close-after and --ready-file do nothing");
    }

    IUnknown* objects[] = {edited.Get()};
    hr = ::OleCreatePropertyFrame(nullptr, 0, 0, caption.c_str(), 1, objects, pages.cElems, pages.pElems,
                                  ::GetUserDefaultLCID(), 0, nullptr);
    if (FAILED(hr)) {
        ShowError(L"OleCreatePropertyFrame failed: " + DescribeHresult(hr));
        return kExitFailure;
    }
    if (!watch.seen() && (options.closeAfterSeconds > 0 || !options.readyFile.empty())) {
        WriteStderr(std::wstring(kProgramName) + L": the frame closed before it was seen on screen\n");
    }
    return kExitSuccess;
}

}  // namespace
}  // namespace qmsettings

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace qmsettings;
    Options options;
    std::wstring error;
    const std::vector<std::wstring> args = CommandLineArguments();
    switch (ParseArguments(args, &options, &error)) {
    case Parsed::kHelp:
        ShowInformation(kUsage);
        return kExitSuccess;
    case Parsed::kError:
        ShowError(error + L" (try --help)");
        return kExitUsage;
    case Parsed::kRun:
        break;
    }
    const HRESULT hr = ::OleInitialize(nullptr);
    if (FAILED(hr)) {
        ShowError(L"OleInitialize failed: " + DescribeHresult(hr));
        return kExitFailure;
    }
    int result = kExitSuccess;
    // Started without options (from the Start menu): the user picks the
    // camera first, and may add, rename or remove one there.
    if (args.size() <= 1) {
        const int camera = ChooseCamera(instance);
        if (camera != 0) {
            options.camera = std::to_wstring(camera);
            result = ShowFrame(options);
        }
    } else {
        result = ShowFrame(options);
    }
    ::OleUninitialize();
    return result;
}
