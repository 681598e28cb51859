#include "tools/capture_client/window_settings.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "settings/capture_settings.h"
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

// The first listed window whose title is `title`.
bool FindWindowOfTitle(const std::wstring& title, ListedWindow* found) {
    std::vector<ListedWindow> windows;
    if (FAILED(ListCaptureWindows(nullptr, &windows))) {
        return false;
    }
    for (const ListedWindow& window : windows) {
        if (window.title == title) {
            *found = window;
            return true;
        }
    }
    return false;
}

}  // namespace

const wchar_t* WindowMatchRuleName(WindowMatchRule rule) {
    switch (rule) {
    case WindowMatchRule::ExactTitle:
        return L"its class and title";
    case WindowMatchRule::TitlePrefix:
        return L"its class and the start of its title";
    case WindowMatchRule::ClassAndProgram:
        return L"its class and program";
    case WindowMatchRule::ProgramOnly:
        return L"its program";
    case WindowMatchRule::BuiltInClass:
        return L"the built-in class";
    case WindowMatchRule::None:
        break;
    }
    return L"nothing";
}

std::wstring FormatWindowList(const std::vector<ListedWindow>& windows, const WindowMatch& taken) {
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
        const bool isTaken = &row != &rows.front() && taken.window != nullptr &&
                             row.handle == FormatText(L"0x%08llX", static_cast<unsigned long long>(
                                                                      reinterpret_cast<uintptr_t>(taken.window)));
        std::wstring line = (isTaken ? L"* " : L"  ") + Padded(row.handle, handleWidth) + kColumnGap +
                            Padded(row.size, sizeWidth) +
                            kColumnGap + Padded(row.program, programWidth) + kColumnGap +
                            Padded(row.windowClass, classWidth) + kColumnGap + row.title;
        while (!line.empty() && line.back() == L' ') {
            line.pop_back();
        }
        text += line + L"\n";
    }
    if (taken.window != nullptr) {
        text += FormatText(L"* the device takes 0x%08llX now, found by %ls%ls\n",
                           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(taken.window)),
                           WindowMatchRuleName(taken.rule), taken.visible ? L"" : L" (hidden: standby until it is shown)");
    } else {
        text += L"The device finds no window now: it sends the standby frame.\n";
    }
    return text;
}

WindowMatch FindStoredWindow(const char* keyPath) {
    const CCaptureSettings stored(keyPath);
    const CCaptureSettings::Snapshot snapshot = stored.GetSnapshot();
    return FindCaptureWindow(snapshot.Identity());
}

int StoreWindowSettings(const CaptureOptions& options, std::wstring* report, std::wstring* error,
                        const char* keyPath) {
    report->clear();
    const bool storesWindow = options.useWindow || options.useClass || options.useProgram;
    const std::wstring title = options.useWindow.value_or(std::wstring());
    std::wstring windowClass = options.useClass.value_or(std::wstring());
    std::wstring program = options.useProgram.value_or(std::wstring());
    if (options.useWindow && !options.useClass) {
        ListedWindow open;
        if (!FindWindowOfTitle(title, &open)) {
            *error = L"no window titled \"" + title + L"\" is open (qmcapture --windows lists them); " +
                     L"give its class with --use-class";
            return kExitFailure;
        }
        windowClass = open.className;
        if (!options.useProgram) {
            program = open.program;
        }
    }
    // The device runs in another process, with another current folder: a
    // relative path is stored made full.
    std::wstring standbyImage = options.standbyImage.value_or(std::wstring());
    if (!standbyImage.empty()) {
        wchar_t full[kStandbyImageCapacity] = {};
        const DWORD length = ::GetFullPathNameW(standbyImage.c_str(), kStandbyImageCapacity, full, nullptr);
        if (length == 0 || length >= kStandbyImageCapacity) {
            *error = L"the full path of \"" + standbyImage + L"\" is longer than " +
                     std::to_wstring(kStandbyImageCapacity - 1) + L" characters";
            return kExitFailure;
        }
        standbyImage = full;
    }
    const wchar_t* failed = nullptr;
    if (storesWindow && !StoreWindowChoice(title.c_str(), windowClass.c_str(), program.c_str(), keyPath)) {
        failed = L"WindowName, WindowClass and WindowProgram";
    } else if (options.scale && !StoreScaleMode(*options.scale, keyPath)) {
        failed = L"ScaleMode";
    } else if (options.mirror && !StoreMirror(*options.mirror, keyPath)) {
        failed = L"Mirror";
    } else if (options.standbyImage && !StoreStandbyImage(standbyImage.c_str(), keyPath)) {
        failed = L"StandbyImage";
    }
    if (failed != nullptr) {
        std::wstring path;
        for (const char* c = keyPath; *c != '\0'; ++c) {
            path += static_cast<wchar_t>(static_cast<unsigned char>(*c));
        }
        *error = std::wstring(L"cannot store ") + failed + L" under HKEY_CURRENT_USER\\" + path;
        return kExitFailure;
    }

    // What the device will read, as it reads it.
    const CCaptureSettings stored(keyPath);
    const CCaptureSettings::Snapshot snapshot = stored.GetSnapshot();
    if (storesWindow) {
        *report += std::wstring(L"stored: WindowClass \"") + snapshot.windowClass + L"\", WindowName \"" +
                   snapshot.windowName + L"\"" +
                   (snapshot.windowName[0] == L'\0' ? L" (any title)" : L"") + L", WindowProgram \"" +
                   snapshot.windowProgram + L"\"\n";
        if (title.size() >= kWindowTitleCapacity) {
            *report += FormatText(L"note: the title is stored cut to %u characters; the device finds the window by "
                                  L"its start\n",
                                  static_cast<unsigned>(kWindowTitleCapacity - 1));
        }
    }
    if (options.scale) {
        *report += FormatText(L"stored: ScaleMode %d (%ls)\n", static_cast<int>(snapshot.scaleMode),
                              ScaleModeName(snapshot.scaleMode));
    }
    if (options.mirror) {
        *report += FormatText(L"stored: Mirror %d (%ls)\n", snapshot.mirror ? 1 : 0, snapshot.mirror ? L"on" : L"off");
    }
    if (options.standbyImage) {
        *report += snapshot.standbyImage[0] == L'\0'
                       ? std::wstring(L"stored: StandbyImage \"\" (none: plain black)\n")
                       : std::wstring(L"stored: StandbyImage \"") + snapshot.standbyImage + L"\"\n";
    }
    return kExitSuccess;
}

}  // namespace qmcapture
