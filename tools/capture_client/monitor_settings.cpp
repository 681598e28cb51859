#include "tools/capture_client/monitor_settings.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "tools/capture_client/console_output.h"

namespace qmcapture {

namespace {

constexpr wchar_t kColumnGap[] = L"  ";

std::wstring Padded(const std::wstring& text, size_t width) {
    return text.size() >= width ? text : text + std::wstring(width - text.size(), L' ');
}

bool AllDigits(const std::wstring& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

}  // namespace

std::wstring FormatMonitorList(const std::vector<MonitorInfo>& monitors, const wchar_t* shownMonitor) {
    if (monitors.empty()) {
        return shownMonitor != nullptr ? L"No monitors: the camera sends the standby frame.\n" : L"No monitors.\n";
    }
    // The monitor the device takes for the stored name, as it takes it.
    const MonitorInfo* shown = shownMonitor != nullptr
                                   ? ChooseMonitor(monitors.data(), static_cast<int>(monitors.size()), shownMonitor)
                                   : nullptr;
    struct Row {
        std::wstring number, name, position, size, primary;
    };
    std::vector<Row> rows;
    rows.push_back({L"number", L"device", L"position", L"size", std::wstring()});
    for (size_t i = 0; i < monitors.size(); ++i) {
        const RECT& rect = monitors[i].rect;
        rows.push_back({FormatText(L"%u", static_cast<unsigned>(i + 1)), monitors[i].deviceName,
                        FormatText(L"%ld,%ld", static_cast<long>(rect.left), static_cast<long>(rect.top)),
                        FormatText(L"%ldx%ld", static_cast<long>(rect.right - rect.left),
                                   static_cast<long>(rect.bottom - rect.top)),
                        monitors[i].primary ? std::wstring(L"primary") : std::wstring()});
    }
    size_t numberWidth = 0, nameWidth = 0, positionWidth = 0, sizeWidth = 0;
    for (const Row& row : rows) {
        numberWidth = std::max(numberWidth, row.number.size());
        nameWidth = std::max(nameWidth, row.name.size());
        positionWidth = std::max(positionWidth, row.position.size());
        sizeWidth = std::max(sizeWidth, row.size.size());
    }
    std::wstring text = FormatText(L"Monitors (%u):\n", static_cast<unsigned>(monitors.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const bool isShown = i > 0 && shown == &monitors[i - 1];
        std::wstring line = (isShown ? L"* " : L"  ") + Padded(row.number, numberWidth);
        for (const std::wstring& cell : {Padded(row.name, nameWidth), Padded(row.position, positionWidth),
                                         Padded(row.size, sizeWidth), row.primary}) {
            line.append(kColumnGap).append(cell);
        }
        while (!line.empty() && line.back() == L' ') {
            line.pop_back();
        }
        text += line + L"\n";
    }
    if (shown != nullptr) {
        const unsigned number = static_cast<unsigned>(shown - monitors.data() + 1);
        if (shownMonitor[0] == L'\0') {
            text += FormatText(L"* the camera shows monitor %u, the primary\n", number);
        } else if (::CompareStringOrdinal(shown->deviceName, -1, shownMonitor, -1, TRUE) == CSTR_EQUAL) {
            text += FormatText(L"* the camera shows monitor %u\n", number);
        } else {
            text += FormatText(L"* the camera shows monitor %u, the primary: %ls is not connected\n", number,
                               shownMonitor);
        }
    }
    return text;
}

bool ResolveMonitorArgument(const std::wstring& argument, const std::vector<MonitorInfo>& monitors,
                            std::wstring* deviceName, std::wstring* error) {
    if (argument.empty()) {
        deviceName->clear();
        return true;
    }
    const std::wstring listed = FormatText(L" (qmcapture --monitors lists %u)", static_cast<unsigned>(monitors.size()));
    if (AllDigits(argument)) {
        // A number beyond the list, however long (wcstoul saturates), names
        // no monitor.
        const unsigned long number = std::wcstoul(argument.c_str(), nullptr, 10);
        if (number == 0 || number > monitors.size()) {
            *error = L"no monitor " + argument + listed;
            return false;
        }
        *deviceName = monitors[number - 1].deviceName;
        return true;
    }
    for (const MonitorInfo& monitor : monitors) {
        if (::CompareStringOrdinal(monitor.deviceName, -1, argument.c_str(), -1, TRUE) == CSTR_EQUAL) {
            *deviceName = monitor.deviceName;
            return true;
        }
    }
    *error = L"no monitor named \"" + argument + L"\" is connected" + listed;
    return false;
}

}  // namespace qmcapture
