#include "tools/capture_client/window_settings.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "capture/capture_settings.h"
#include "tools/capture_client/capture_client.h"
#include "tools/capture_client/console_output.h"

namespace qmcapture {

namespace {

constexpr wchar_t kHandleHeading[] = L"handle";
constexpr wchar_t kSizeHeading[] = L"client";
constexpr wchar_t kProgramHeading[] = L"program";
constexpr wchar_t kClassHeading[] = L"class";
constexpr wchar_t kTitleHeading[] = L"title";
constexpr wchar_t kColumnGap[] = L"  ";

const wchar_t* ScaleModeName(ScaleMode mode) {
    switch (mode) {
    case ScaleMode::Fit:
        return L"fit";
    case ScaleMode::Fill:
        return L"fill";
    case ScaleMode::Stretch:
        break;
    }
    return L"stretch";
}

std::wstring Padded(const std::wstring& text, size_t width) {
    return text.size() >= width ? text : text + std::wstring(width - text.size(), L' ');
}

// A stored 8-bit setting, in the host's code page, as wide text.
std::wstring FromSetting(const char* text) {
    wchar_t wide[kSettingsTextCapacity] = {};
    if (::MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kSettingsTextCapacity) == 0) {
        wide[0] = L'\0';
    }
    return wide;
}

// The class of the first listed window whose title is `title`.
bool FindClassOfTitle(const std::wstring& title, std::wstring* windowClass) {
    std::vector<ListedWindow> windows;
    if (FAILED(ListCaptureWindows(nullptr, &windows))) {
        return false;
    }
    for (const ListedWindow& window : windows) {
        if (window.title == title) {
            *windowClass = window.className;
            return true;
        }
    }
    return false;
}

// More than the 63 bytes of a setting in the host's code page.
bool IsCut(const std::wstring& text) {
    char stored[kSettingsTextCapacity];
    return !CodePageSettingTextFromWide(stored, text.c_str());
}

}  // namespace

std::wstring FormatWindowList(const std::vector<ListedWindow>& windows) {
    if (windows.empty()) {
        return L"No windows to capture are open.\n";
    }
    struct Row {
        std::wstring handle, size, program, windowClass, title;
    };
    std::vector<Row> rows;
    rows.push_back({kHandleHeading, kSizeHeading, kProgramHeading, kClassHeading, kTitleHeading});
    for (const ListedWindow& window : windows) {
        rows.push_back({FormatText(L"0x%08llX", static_cast<unsigned long long>(
                                                    reinterpret_cast<uintptr_t>(window.window))),
                        FormatText(L"%ldx%ld", static_cast<long>(window.client.cx), static_cast<long>(window.client.cy)),
                        window.program.empty() ? L"?" : window.program, window.className, window.title});
    }
    size_t handleWidth = 0, sizeWidth = 0, programWidth = 0, classWidth = 0;
    for (const Row& row : rows) {
        handleWidth = std::max(handleWidth, row.handle.size());
        sizeWidth = std::max(sizeWidth, row.size.size());
        programWidth = std::max(programWidth, row.program.size());
        classWidth = std::max(classWidth, row.windowClass.size());
    }
    std::wstring text = FormatText(L"Windows to capture (%u):\n", static_cast<unsigned>(windows.size()));
    for (const Row& row : rows) {
        std::wstring line = L"  " + Padded(row.handle, handleWidth) + kColumnGap + Padded(row.size, sizeWidth) +
                            kColumnGap + Padded(row.program, programWidth) + kColumnGap +
                            Padded(row.windowClass, classWidth) + kColumnGap + row.title;
        while (!line.empty() && line.back() == L' ') {
            line.pop_back();
        }
        text += line + L"\n";
    }
    return text;
}

int StoreWindowSettings(const CaptureOptions& options, std::wstring* report, std::wstring* error) {
    report->clear();
    const bool storesWindow = options.useWindow || options.useClass;
    std::wstring title = options.useWindow.value_or(std::wstring());
    std::wstring windowClass;
    if (options.useClass) {
        windowClass = *options.useClass;
    } else if (options.useWindow && !FindClassOfTitle(title, &windowClass)) {
        *error = L"no window titled \"" + title + L"\" is open (qmcapture --windows lists them); " +
                 L"give its class with --use-class";
        return kExitFailure;
    }
    const wchar_t* failed = nullptr;
    if (storesWindow && !StoreWindowChoice(title.c_str(), windowClass.c_str())) {
        failed = L"WindowName and WindowClass";
    } else if (options.scale && !StoreScaleMode(*options.scale)) {
        failed = L"ScaleMode";
    } else if (options.mirror && !StoreMirror(*options.mirror)) {
        failed = L"Mirror";
    }
    if (failed != nullptr) {
        *error = std::wstring(L"cannot store ") + failed + L" under HKEY_CURRENT_USER\\Software\\QMCapture";
        return kExitFailure;
    }

    // What the device will read, as it reads it.
    const CCaptureSettings stored;
    const CCaptureSettings::Snapshot snapshot = stored.GetSnapshot();
    if (storesWindow) {
        *report += L"stored: WindowClass \"" + FromSetting(snapshot.windowClass) + L"\", WindowName \"" +
                   FromSetting(snapshot.windowName) + L"\"" +
                   (snapshot.windowName[0] == '\0' ? L" (any window of the class)" : L"") + L"\n";
        if (IsCut(title) || IsCut(windowClass)) {
            *report += L"note: a setting holds at most 63 bytes; the rest was cut\n";
        }
    }
    if (options.scale) {
        *report += FormatText(L"stored: ScaleMode %d (%ls)\n", static_cast<int>(snapshot.scaleMode),
                              ScaleModeName(snapshot.scaleMode));
    }
    if (options.mirror) {
        *report += FormatText(L"stored: Mirror %d (%ls)\n", snapshot.mirror ? 1 : 0, snapshot.mirror ? L"on" : L"off");
    }
    return kExitSuccess;
}

}  // namespace qmcapture
