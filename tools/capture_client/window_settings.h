// What qmcapture does with windows: the list --windows prints (the same
// windows the device's window page lists), and the window and framing
// settings it stores for the current user.
#pragma once

#include <string>
#include <vector>

#include "capture/window_list.h"
#include "tools/capture_client/capture_options.h"

namespace qmcapture {

// The listing that --windows prints: one line per window with its handle,
// client size, program, class and title, under a heading.
std::wstring FormatWindowList(const std::vector<ListedWindow>& windows);

// Stores the settings the options carry (--use-window, --use-class,
// --scale, --mirror) under HKEY_CURRENT_USER\Software\QMCapture. A title
// without a class takes the class of the open window of that title, as
// --windows lists them. Returns kExitSuccess with `report` saying what is
// now stored, or kExitFailure with `error`: no window of that title
// (nothing is stored), or the value that could not be written.
int StoreWindowSettings(const CaptureOptions& options, std::wstring* report, std::wstring* error);

}  // namespace qmcapture
