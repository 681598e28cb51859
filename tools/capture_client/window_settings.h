// What qmcapture does with windows: the list --windows prints (the same
// windows the device's window page lists), and the window and framing
// settings it stores for the current user.
#pragma once

#include <string>
#include <vector>

#include "settings/capture_method.h"
#include "settings/settings_store.h"
#include "window/graphics_capture_reader.h"
#include "window/window_list.h"
#include "window/window_search.h"
#include "tools/capture_client/capture_options.h"

namespace qmcapture {

// How the listed windows are read with a camera's stored CaptureMethod.
struct WindowMethods {
    CaptureMethod stored = CaptureMethod::Auto;
    // Whether graphics capture is available here, as the window layer
    // answers it, and the code of the call that failed.
    GraphicsCaptureAvailability graphics = GraphicsCaptureAvailability::Unknown;
    HRESULT graphicsError = S_OK;
    // Per listed window, in the list's order: the method that reads it now,
    // or would (a forced graphics capture that is not available reads as
    // auto does).
    std::vector<CaptureMethod> perWindow;
};

// Reads each window as the device would with `stored`, once, or for auto
// as often as auto mode needs to leave a copy that reads back black, and
// takes the method the window layer settles on; graphics capture's
// availability is what the reads found, or asked of the window layer
// where they did not need it.
WindowMethods FindWindowMethods(const std::vector<ListedWindow>& windows, CaptureMethod stored);

// The listing that --windows prints: one line per window with its handle,
// client size, program, class, the method that reads it and title, under
// a heading; the window the device takes now (`taken`, found as the device
// finds it) is marked with a star, and a line says by which rule it is
// found. Two last lines give the stored method and whether graphics
// capture is available here, and why not.
std::wstring FormatWindowList(const std::vector<ListedWindow>& windows, const WindowMatch& taken,
                              const WindowMethods& methods);

// How a window was found, in words ("its class and title").
const wchar_t* WindowMatchRuleName(WindowMatchRule rule);

// The window the device would take now, with the settings stored under
// keyPath (camera 1's by default).
WindowMatch FindStoredWindow(const char* keyPath = kSettingsKeyPath);
// The capture method stored under keyPath.
CaptureMethod FindStoredMethod(const char* keyPath = kSettingsKeyPath);

// Stores the settings the options carry (--use-window, --use-class,
// --use-program, --use-monitor, --use-region, --crop, --cursor, --method,
// --scale, --mirror, --standby-image: a relative path is stored made full)
// under the camera's key below HKEY_CURRENT_USER
// (keyPath; Software\QMCapture for camera 1). A title without a class takes the
// class and program of the open window of that title, as --windows lists
// them; a monitor's number or name stores the device name it has now.
// Returns kExitSuccess with `report` saying what is now stored, or
// kExitFailure with `error`: no window of that title or no such monitor
// (nothing is stored), or the value that could not be written.
int StoreWindowSettings(const CaptureOptions& options, std::wstring* report, std::wstring* error,
                        const char* keyPath = kSettingsKeyPath);

}  // namespace qmcapture
