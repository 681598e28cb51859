// quillmere_demo: the window that QM Capture Device captures by default,
// with an animated test pattern.
#include <windows.h>
#include <shellapi.h>

#include <cerrno>
#include <cmath>
#include <cwchar>
#include <string>
#include <vector>

#include "tools/demo_window/demo_window.h"

namespace qmdemo {
namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;
constexpr int kMaxClientSize = 8192;
constexpr int kMaxRefreshRate = 200;

constexpr wchar_t kUsage[] = LR"(Usage: quillmere_demo [options]

Shows the window that QM Capture Device captures by default (class
"Quillmere::MainFrame", title "Quillmere") with an animated test pattern:
colour bars, a grey ramp, a sweeping bar, corner markers (red top left,
green top right, blue bottom right, white bottom left), a frame counter and
the time of day with milliseconds.

Options:
  --size WxH         client area size (default 1280x720)
  --position X,Y     the window's top left corner on the screen (default:
                     where the system puts new windows)
  --fps N            repaint rate, 1-200 per second (default 60)
  --seconds N        close by itself after N seconds (default: stay open)
  --title TEXT       window title (default "Quillmere")
  --class NAME       window class (default "Quillmere::MainFrame")
  --ready-file PATH  create PATH once the first frame is painted
  -h, --help         show this help and exit

Exit status: 0 when the window was closed, 1 when it could not be shown,
2 on a usage error.
)";

// A windows-subsystem program has no console of its own: text goes to the
// handles it was given (a pipe or a file), else to the console of the
// process that started it, else to a message box.
void Report(const std::wstring& text, bool isError) {
    HANDLE handle = ::GetStdHandle(isError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if ((handle == nullptr || handle == INVALID_HANDLE_VALUE) && ::AttachConsole(ATTACH_PARENT_PROCESS)) {
        handle = ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    DWORD written = 0;
    DWORD mode = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        if (::GetConsoleMode(handle, &mode)) {
            ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            return;
        }
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                               nullptr, nullptr);
        std::string bytes(static_cast<size_t>(size), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                              nullptr);
        if (::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
            return;
        }
    }
    ::MessageBoxW(nullptr, text.c_str(), L"quillmere_demo", isError ? MB_ICONERROR : MB_ICONINFORMATION);
}

bool ParsePositive(const std::wstring& text, double max, double* value) {
    if (text.empty()) {
        return false;
    }
    wchar_t* end = nullptr;
    errno = 0;
    const double parsed = std::wcstod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(parsed) || parsed <= 0.0 ||
        parsed > max || text[0] == L' ') {
        return false;
    }
    *value = parsed;
    return true;
}

bool ParseWhole(const std::wstring& text, int max, int* value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    const int parsed = std::stoi(text);
    if (parsed < 1 || parsed > max) {
        return false;
    }
    *value = parsed;
    return true;
}

// A screen coordinate: whole, 0 or more.
bool ParseCoordinate(const std::wstring& text, int* value) {
    if (text == L"0") {
        *value = 0;
        return true;
    }
    return ParseWhole(text, kMaxClientSize, value);
}

enum class Parsed { kRun, kHelp, kError };

Parsed ParseArguments(const std::vector<std::wstring>& args, DemoWindowOptions* options, std::wstring* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::wstring name = args[i];
        std::wstring value;
        bool inlineValue = false;
        const size_t equals = name.find(L'=');
        if (name.rfind(L"--", 0) == 0 && equals != std::wstring::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            inlineValue = true;
        }
        if (name == L"-h" || name == L"--help" || name == L"/?") {
            return Parsed::kHelp;
        }
        const bool takesValue = name == L"--size" || name == L"--position" || name == L"--fps" ||
                                name == L"--seconds" || name == L"--title" || name == L"--class" ||
                                name == L"--ready-file";
        if (!takesValue) {
            *error = L"unknown option '" + name + L"'";
            return Parsed::kError;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                *error = L"option " + name + L" needs a value";
                return Parsed::kError;
            }
            value = args[++i];
        }
        bool ok = true;
        if (name == L"--size") {
            const size_t x = value.find_first_of(L"xX");
            ok = x != std::wstring::npos && ParseWhole(value.substr(0, x), kMaxClientSize, &options->clientWidth) &&
                 ParseWhole(value.substr(x + 1), kMaxClientSize, &options->clientHeight);
        } else if (name == L"--position") {
            const size_t comma = value.find(L',');
            ok = comma != std::wstring::npos && ParseCoordinate(value.substr(0, comma), &options->x) &&
                 ParseCoordinate(value.substr(comma + 1), &options->y);
            options->hasPosition = ok;
        } else if (name == L"--fps") {
            ok = ParseWhole(value, kMaxRefreshRate, &options->refreshRate);
        } else if (name == L"--seconds") {
            ok = ParsePositive(value, 24.0 * 3600.0, &options->seconds);
        } else if (name == L"--title") {
            options->title = value;
        } else if (name == L"--class") {
            ok = !value.empty();
            options->windowClass = value;
        } else if (name == L"--ready-file") {
            ok = !value.empty();
            options->readyFile = value;
        }
        if (!ok) {
            *error = L"bad value '" + value + L"' for " + name;
            return Parsed::kError;
        }
    }
    return Parsed::kRun;
}

}  // namespace
}  // namespace qmdemo

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace qmdemo;
    std::vector<std::wstring> args;
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    ::LocalFree(argv);

    DemoWindowOptions options;
    std::wstring error;
    switch (ParseArguments(args, &options, &error)) {
    case Parsed::kHelp:
        Report(kUsage, false);
        return 0;
    case Parsed::kError:
        Report(L"quillmere_demo: " + error + L"\nTry 'quillmere_demo --help' for more information.\n", true);
        return kExitUsage;
    case Parsed::kRun:
        break;
    }

    // Physical pixels: the client area is as large as asked on a scaled
    // display too, and a capture of it is sharp.
    ::SetProcessDPIAware();

    DemoWindow window(options);
    if (!window.Create(instance, &error)) {
        Report(L"quillmere_demo: " + error + L"\n", true);
        return kExitFailure;
    }
    return window.Run();
}
