#include "window/monitor_list.h"

#include <algorithm>
#include <cwchar>

#include "window/dpi_awareness.h"

namespace {

struct Listing {
    MonitorInfo* monitors;
    int capacity;
    int count;
};

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM parameter) {
    Listing& listing = *reinterpret_cast<Listing*>(parameter);
    MONITORINFOEXW info = {};
    info.cbSize = sizeof(info);
    if (!::GetMonitorInfoW(monitor, &info)) {
        return TRUE;
    }
    if (listing.count < listing.capacity) {
        MonitorInfo& entry = listing.monitors[listing.count];
        std::wmemcpy(entry.deviceName, info.szDevice, kMonitorNameCapacity - 1);
        entry.deviceName[kMonitorNameCapacity - 1] = L'\0';
        entry.rect = info.rcMonitor;
        entry.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
    }
    ++listing.count;
    return TRUE;
}

// More monitors than any desktop has.
constexpr int kMostMonitors = 16;

}  // namespace

int ListSystemMonitors(MonitorInfo* monitors, int capacity) {
    // Physical pixels, whatever the host's awareness.
    CPerMonitorDpiScope dpi;
    Listing listing = {monitors, capacity, 0};
    ::EnumDisplayMonitors(nullptr, nullptr, &AddMonitor, reinterpret_cast<LPARAM>(&listing));
    return listing.count;
}

std::vector<MonitorInfo> ListMonitors(ListMonitorsFunction list) {
    MonitorInfo found[kMostMonitors];
    const int count = std::min((list != nullptr ? list : &ListSystemMonitors)(found, kMostMonitors), kMostMonitors);
    std::vector<MonitorInfo> monitors(found, found + count);
    std::stable_partition(monitors.begin(), monitors.end(), [](const MonitorInfo& m) { return m.primary; });
    return monitors;
}

const MonitorInfo* ChooseMonitor(const MonitorInfo* monitors, int count, const wchar_t* deviceName) {
    const MonitorInfo* primary = nullptr;
    for (int i = 0; i < count; ++i) {
        if (deviceName != nullptr && deviceName[0] != L'\0' &&
            ::CompareStringOrdinal(monitors[i].deviceName, -1, deviceName, -1, TRUE) == CSTR_EQUAL) {
            return &monitors[i];
        }
        if (monitors[i].primary && primary == nullptr) {
            primary = &monitors[i];
        }
    }
    // Without a primary among them (a list in the middle of a change), the
    // first.
    return primary != nullptr ? primary : count > 0 ? &monitors[0] : nullptr;
}
