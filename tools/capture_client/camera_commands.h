// qmcapture's camera commands: --cameras, --add-camera, --remove-camera
// and --rename-camera, and the camera that --camera picks for the other
// options.
#pragma once

#include <windows.h>

#include <string>

#include "settings/camera_list.h"
#include "tools/capture_client/capture_options.h"
#include "tools/capture_client/elevation.h"

namespace qmcapture {

// The camera the options name with --camera (camera 1 without it): its
// number, settings key and name. False with `error` when no camera has
// that number or name.
struct ChosenCamera {
    int number = kFirstCamera;
    CameraSettingsPath settings;
    std::wstring name;
};
bool ResolveCamera(const CaptureOptions& options, ChosenCamera* camera, std::wstring* error);

// Runs kListCameras, kAddCamera, kRemoveCamera or kRenameCamera; returns
// the exit status. A change that the machine's list refuses for want of
// rights is asked for again with administrator rights (the system asks
// the user) by a run whose token is not elevated, once: the run started
// so carries kElevatedRunSwitch, and a refusal there, or in any elevated
// run, is a failure with its reason. Refused, nothing changes and the
// message says so. After a change, the modules registered for both
// architectures are registered again, so that applications of either see
// the new list. The run with administrator rights is of qmcapture.exe
// beside the running program. Messages go to standard output and error,
// or, when given, to `output` and `error`.
int RunCameraCommand(const CaptureOptions& options, const std::wstring& commandLine,
                     std::wstring* output = nullptr, std::wstring* error = nullptr);
// The same with the answers on administrator rights given.
int RunCameraCommand(const CaptureOptions& options, const std::wstring& commandLine, const Elevation& elevation,
                     std::wstring* output, std::wstring* error);

// What a change of the list that answered `hr` comes to: on success the
// modules are registered again and `report` is printed; a refusal for want
// of rights is asked for again with them; any other failure is described.
// Apart from RunCameraCommand so that tests can give it answers that the
// registry under test cannot produce.
int ConcludeCameraChange(HRESULT hr, const CaptureOptions& options, const std::wstring& commandLine,
                         const std::wstring& report, const Elevation& elevation, std::wstring* output,
                         std::wstring* error);

// The module that camera 1's class names in one registry view
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY); empty when it is not registered
// there.
std::wstring RegisteredModule(REGSAM view);

// One argument quoted as the C runtime and CommandLineToArgvW split it
// back: inner quotes escaped, and backslashes doubled where they precede
// a quote (the closing one included).
std::wstring QuoteArgument(const std::wstring& argument);

// The listing that --cameras prints.
std::wstring FormatCameraList();

}  // namespace qmcapture
