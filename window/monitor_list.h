// The monitors a camera can show, as Windows reports them: each one's
// device name ("\\.\DISPLAY2"), its rectangle in virtual-screen pixels and
// whether it is the primary. Listed per-monitor DPI aware, so that the
// rectangles are physical pixels whatever the host's own awareness.
#pragma once

#include <windows.h>

#include <vector>

#include "settings/settings_values.h"

struct MonitorInfo {
    wchar_t deviceName[kMonitorNameCapacity] = {};
    RECT rect = {0, 0, 0, 0};
    bool primary = false;
};

// How the monitors are listed: the system's, or a test's (Wine cannot
// change a monitor's size or DPI on demand). Fills up to `capacity`
// entries and answers how many there are (more than capacity when some
// did not fit).
using ListMonitorsFunction = int (*)(MonitorInfo* monitors, int capacity);
int ListSystemMonitors(MonitorInfo* monitors, int capacity);

// The monitors of the system, primary first, then in the system's order.
std::vector<MonitorInfo> ListMonitors(ListMonitorsFunction list = nullptr);

// The monitor a stored name names among `monitors` (count of them): the
// one of that device name, else the primary (an empty name, or one that is
// not there); null when there is no monitor at all.
const MonitorInfo* ChooseMonitor(const MonitorInfo* monitors, int count, const wchar_t* deviceName);
