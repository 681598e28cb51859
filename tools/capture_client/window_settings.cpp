#include "tools/capture_client/window_settings.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "settings/capture_settings.h"
#include "window/monitor_list.h"
#include "window/window_capture.h"
#include "tools/capture_client/capture_client.h"
#include "tools/capture_client/console_output.h"
#include "tools/capture_client/monitor_settings.h"
#include "tools/capture_client/source_description.h"

namespace qmcapture {

namespace {

constexpr wchar_t kHandleHeading[] = L"handle";
constexpr wchar_t kSizeHeading[] = L"client";
constexpr wchar_t kProgramHeading[] = L"program";
constexpr wchar_t kClassHeading[] = L"class";
constexpr wchar_t kMethodHeading[] = L"method";
constexpr wchar_t kTitleHeading[] = L"title";
// Reads of one window in auto mode: enough for a copy that keeps reading
// back black to be given up for another way (the third black copy is).
constexpr int kAutoReadsToSettle = 4;
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

namespace {

// The method auto mode settles on for a window: a copy that reads back a
// picture stays a copy; one that reads back black moves on.
CaptureMethod SettleAutoMethod(CWindowCapture& capture, HWND window) {
    for (int read = 0; read < kAutoReadsToSettle; ++read) {
        const CWindowCapture::Outcome outcome = capture.Read(window, CaptureMethod::Auto, INFINITE, nullptr);
        const CWindowCapture::Picture& picture = capture.LastPicture();
        if (capture.AutoMethodInUse() != CaptureMethod::Copy ||
            (read == 0 && outcome == CWindowCapture::Outcome::Picture &&
             !CWindowCapture::IsBlack(picture.topRow, picture.stride, picture.width, picture.height))) {
            break;
        }
    }
    return capture.AutoMethodInUse();
}

std::wstring MethodLine(const WindowMethods& methods) {
    switch (methods.stored) {
    case CaptureMethod::Copy:
        return L"capture method: copy (stored CaptureMethod 1)\n";
    case CaptureMethod::Print:
        return L"capture method: print (stored CaptureMethod 2)\n";
    case CaptureMethod::Graphics:
        return methods.graphics == GraphicsCaptureAvailability::Available
                   ? L"capture method: graphics (stored CaptureMethod 3)\n"
                   : L"capture method: graphics (stored CaptureMethod 3), not available here: windows are read as "
                     L"auto reads them\n";
    case CaptureMethod::Auto:
        break;
    }
    return L"capture method: auto (stored CaptureMethod 0): a copy; a window whose copy reads back black by graphics "
           L"capture where available, else by print\n";
}

std::wstring GraphicsLine(const WindowMethods& methods) {
    std::wstring reason;
    for (const char* c = DescribeGraphicsCaptureAvailability(methods.graphics); *c != '\0'; ++c) {
        reason += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    if (methods.graphics == GraphicsCaptureAvailability::Available) {
        return L"graphics capture: available\n";
    }
    return L"graphics capture: not available here: " + reason +
           (FAILED(methods.graphicsError)
                ? FormatText(L" (0x%08lX)\n", static_cast<unsigned long>(methods.graphicsError))
                : std::wstring(L"\n"));
}

}  // namespace

CaptureMethod FindStoredMethod(const char* keyPath) {
    const CCaptureSettings stored(keyPath);
    return stored.GetSnapshot().captureMethod;
}

WindowMethods FindWindowMethods(const std::vector<ListedWindow>& windows, CaptureMethod stored) {
    WindowMethods methods;
    methods.stored = stored;
    // One capture for the whole list: it starts afresh with each window,
    // and looks at graphics capture once.
    CWindowCapture capture;
    HRESULT probeError = S_OK;
    const GraphicsCaptureAvailability probed = stored == CaptureMethod::Graphics
                                                   ? CGraphicsCaptureReader::Probe(&probeError)
                                                   : GraphicsCaptureAvailability::Unknown;
    const bool forcedGraphics = probed == GraphicsCaptureAvailability::Available;
    for (const ListedWindow& window : windows) {
        CaptureMethod method = stored;
        if (stored == CaptureMethod::Auto || (stored == CaptureMethod::Graphics && !forcedGraphics)) {
            method = SettleAutoMethod(capture, window.window);
        }
        methods.perWindow.push_back(method);
    }
    methods.graphics = capture.GraphicsAvailabilityFound();
    if (methods.graphics == GraphicsCaptureAvailability::Unknown) {
        // No read needed it (every copy read a picture): asked afresh.
        methods.graphics = probed != GraphicsCaptureAvailability::Unknown
                               ? probed
                               : CGraphicsCaptureReader::Probe(&probeError);
        methods.graphicsError = probeError;
    }
    return methods;
}

std::wstring FormatWindowList(const std::vector<ListedWindow>& windows, const WindowMatch& taken,
                              const WindowMethods& methods) {
    if (windows.empty()) {
        return L"No windows to capture are open.\n" + MethodLine(methods) + GraphicsLine(methods);
    }
    struct Row {
        std::wstring handle, size, program, windowClass, method, title;
    };
    std::vector<Row> rows;
    rows.push_back({kHandleHeading, kSizeHeading, kProgramHeading, kClassHeading, kMethodHeading, kTitleHeading});
    for (size_t i = 0; i < windows.size(); ++i) {
        const ListedWindow& window = windows[i];
        rows.push_back({FormatText(L"0x%08llX", static_cast<unsigned long long>(
                                                    reinterpret_cast<uintptr_t>(window.window))),
                        FormatText(L"%ldx%ld", static_cast<long>(window.client.cx), static_cast<long>(window.client.cy)),
                        window.program.empty() ? L"?" : window.program, window.className,
                        i < methods.perWindow.size() ? CaptureMethodName(methods.perWindow[i]) : L"?",
                        window.title});
    }
    size_t handleWidth = 0, sizeWidth = 0, programWidth = 0, classWidth = 0, methodWidth = 0;
    for (const Row& row : rows) {
        handleWidth = std::max(handleWidth, row.handle.size());
        sizeWidth = std::max(sizeWidth, row.size.size());
        programWidth = std::max(programWidth, row.program.size());
        classWidth = std::max(classWidth, row.windowClass.size());
        methodWidth = std::max(methodWidth, row.method.size());
    }
    std::wstring text = FormatText(L"Windows to capture (%u):\n", static_cast<unsigned>(windows.size()));
    for (const Row& row : rows) {
        const bool isTaken = &row != &rows.front() && taken.window != nullptr &&
                             row.handle == FormatText(L"0x%08llX", static_cast<unsigned long long>(
                                                                      reinterpret_cast<uintptr_t>(taken.window)));
        std::wstring line = (isTaken ? L"* " : L"  ") + Padded(row.handle, handleWidth) + kColumnGap +
                            Padded(row.size, sizeWidth) +
                            kColumnGap + Padded(row.program, programWidth) + kColumnGap +
                            Padded(row.windowClass, classWidth) + kColumnGap + Padded(row.method, methodWidth) +
                            kColumnGap + row.title;
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
    return text + MethodLine(methods) + GraphicsLine(methods);
}

WindowMatch FindStoredWindow(const char* keyPath) {
    const CCaptureSettings stored(keyPath);
    const CCaptureSettings::Snapshot snapshot = stored.GetSnapshot();
    return FindCaptureWindow(snapshot.Identity());
}

int StoreWindowSettings(const CaptureOptions& options, std::wstring* report, std::wstring* error,
                        const char* keyPath) {
    report->clear();
    const bool storesWindow = options.ChoosesWindow();
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
    // The monitor a number or a name stands for now.
    std::wstring monitorName;
    if (options.useMonitor && !ResolveMonitorArgument(*options.useMonitor, ListMonitors(), &monitorName, error)) {
        return kExitFailure;
    }
    const CSettingsKey key(keyPath);
    const wchar_t* failed = nullptr;
    if (storesWindow && !(StoreWindowChoice(title.c_str(), windowClass.c_str(), program.c_str(), keyPath) &&
                          StoreSourceWindow(keyPath))) {
        failed = L"WindowName, WindowClass, WindowProgram and SourceKind";
    } else if (options.useMonitor && !StoreSourceMonitor(monitorName.c_str(), keyPath)) {
        failed = L"SourceMonitor and SourceKind";
    } else if (options.useRegion && !StoreSourceRegion(*options.useRegion, keyPath)) {
        failed = L"SourceRegion and SourceKind";
    } else if (options.crop && !StoreCropRect(*options.crop, keyPath)) {
        failed = L"CropRect";
    } else if (options.cursor && !StoreShowCursor(*options.cursor, keyPath)) {
        failed = L"ShowCursor";
    } else if (options.method && !key.WriteNumber(kCaptureMethodValue, static_cast<int>(*options.method))) {
        failed = L"CaptureMethod";
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
    if (storesWindow) {
        *report += L"stored: SourceKind 0 (window" +
                   (snapshot.cropRect.Empty() ? std::wstring(L")\n")
                                              : L", crop " + RectangleText(snapshot.cropRect) + L" kept)\n");
    }
    if (options.useMonitor) {
        *report += std::wstring(L"stored: SourceKind 1 (monitor), SourceMonitor \"") + snapshot.sourceMonitor + L"\"" +
                   (snapshot.sourceMonitor[0] == L'\0' ? L" (the primary)" : L"") + L"\n";
    }
    if (options.useRegion) {
        *report += L"stored: SourceKind 2 (region), SourceRegion \"" + RectangleText(snapshot.sourceRegion) + L"\"\n";
    }
    if (options.crop) {
        *report += snapshot.cropRect.Empty()
                       ? std::wstring(L"stored: CropRect \"\" (whole client area)")
                       : L"stored: CropRect \"" + RectangleText(snapshot.cropRect) + L"\"";
        *report += snapshot.sourceKind == SourceKind::Window ? L"\n" : L" (for when a window is shown)\n";
    }
    if (options.cursor) {
        *report += snapshot.showCursor == CursorChoice::Default
                       ? std::wstring(L"stored: ShowCursor removed (default: off for a window, on for a monitor or a "
                                      L"region)\n")
                       : FormatText(L"stored: ShowCursor %d (%ls)\n", static_cast<int>(snapshot.showCursor),
                                    snapshot.showCursor == CursorChoice::On ? L"on" : L"off");
    }
    if (options.method) {
        *report += FormatText(L"stored: CaptureMethod %d (%ls)\n", static_cast<int>(snapshot.captureMethod),
                              CaptureMethodName(snapshot.captureMethod));
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
