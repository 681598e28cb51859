// What qmcapture does with monitors: the list --monitors prints, and the
// monitor that --use-monitor names.
#pragma once

#include <string>
#include <vector>

#include "window/monitor_list.h"

namespace qmcapture {

// One line per monitor under a heading: its number (1, the primary, first,
// in ListMonitors' order), device name, position (virtual-screen pixels,
// negative left of or above the primary), size and a primary mark. When
// the camera shows a monitor (`shownMonitor`: its stored SourceMonitor;
// null when it shows a window or a region), the one it shows now is
// starred, and a last line says so, or that the named one is not
// connected and the primary is shown instead.
std::wstring FormatMonitorList(const std::vector<MonitorInfo>& monitors, const wchar_t* shownMonitor = nullptr);

// The device name that --use-monitor's argument stands for among
// `monitors`: empty for none given (the primary, whichever it is when the
// camera shows it), the name of monitor N for a number, or a listed
// device name as the system spells it (compared without regard to case).
// False with `error` for a number or a name not in the list.
bool ResolveMonitorArgument(const std::wstring& argument, const std::vector<MonitorInfo>& monitors,
                            std::wstring* deviceName, std::wstring* error);

}  // namespace qmcapture
