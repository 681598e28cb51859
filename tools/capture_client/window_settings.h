// What qmcapture does with windows: the list --windows prints (the same
// windows the device's window page lists), and the window and framing
// settings it stores for the current user.
#pragma once

#include <string>
#include <vector>

#include "settings/settings_store.h"
#include "window/window_list.h"
#include "window/window_search.h"
#include "tools/capture_client/capture_options.h"

namespace qmcapture {

// The listing that --windows prints: one line per window with its handle,
// client size, program, class and title, under a heading; the window the
// device takes now (`taken`, found as the device finds it) is marked with
// a star, and a last line says by which rule it is found.
std::wstring FormatWindowList(const std::vector<ListedWindow>& windows, const WindowMatch& taken);

// How a window was found, in words ("its class and title").
const wchar_t* WindowMatchRuleName(WindowMatchRule rule);

// The window the device would take now, with the settings stored under
// keyPath (camera 1's by default).
WindowMatch FindStoredWindow(const char* keyPath = kSettingsKeyPath);

// Stores the settings the options carry (--use-window, --use-class,
// --use-program, --scale, --mirror, --standby-image: a relative path is
// stored made full) under the camera's key below HKEY_CURRENT_USER
// (keyPath; Software\QMCapture for camera 1). A title without a class takes the
// class and program of the open window of that title, as --windows lists
// them. Returns kExitSuccess with `report` saying what is
// now stored, or kExitFailure with `error`: no window of that title
// (nothing is stored), or the value that could not be written.
int StoreWindowSettings(const CaptureOptions& options, std::wstring* report, std::wstring* error,
                        const char* keyPath = kSettingsKeyPath);

}  // namespace qmcapture
