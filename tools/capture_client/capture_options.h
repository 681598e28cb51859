// Command line of qmcapture: what to do, with which device, format and
// capture limits. Parsing is kept apart from the program so that tests can
// call it directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/capture_method.h"
#include "settings/scale_mode.h"
#include "settings/source_choice.h"
#include "tools/capture_client/yuv_frame.h"

namespace qmcapture {

inline constexpr wchar_t kDefaultDeviceName[] = L"QM Capture Device";
inline constexpr double kDefaultCaptureSeconds = 5.0;
inline constexpr double kDefaultStallSeconds = 10.0;
// Upper bounds that keep arithmetic on the values well inside 64 bits.
inline constexpr double kMaxCaptureSeconds = 24.0 * 3600.0;
inline constexpr double kMaxFrameRate = 1000.0;
inline constexpr int kMaxFrameDimension = 16384;
// The switch that the run asked for with administrator rights is given, so
// that it never asks again; not in the help text, since users never type it.
inline constexpr wchar_t kElevatedRunSwitch[] = L"--elevated-run";

enum class CaptureAction {
    kCapture,
    kListDevices,
    kListCapabilities,
    kShowProperties,
    // The windows the device could capture.
    kListWindows,
    // The monitors a camera can show.
    kListMonitors,
    // Only the settings below are stored; nothing is captured.
    kStoreSettings,
    // The machine's cameras: list them, add, remove or rename one
    // (cameraArgument, cameraNewName).
    kListCameras,
    kAddCamera,
    kRemoveCamera,
    kRenameCamera,
    // A read-only check of the installation and a short test stream
    // (self_check.h).
    kCheck,
};

// Which captured frames are written as PNG files.
struct FrameSelection {
    bool first = false;
    bool last = false;
    // Every Nth frame (indexes 0, N, 2N, ...); 0 for none.
    uint32_t every = 0;
    // Frame indexes counted from 0, in ascending order without repeats.
    std::vector<uint32_t> indexes;

    bool Empty() const { return !first && !last && every == 0 && indexes.empty(); }
    // Whether frame `index` is to be kept while it arrives; "last" is
    // decided only when the capture has ended.
    bool SelectsWhileCapturing(uint32_t index) const;
};

struct CaptureOptions {
    CaptureAction action = CaptureAction::kCapture;
    std::wstring deviceName = kDefaultDeviceName;

    // Requested output size; 0 keeps the device's current size.
    int width = 0;
    int height = 0;
    // Requested frame rate; 0 keeps the device's current rate.
    double frameRate = 0.0;
    // Requested sample format; none keeps the device's current format when
    // it is offered at the size, else takes the first the device offers
    // for the size.
    std::optional<SampleFormat> format;

    // The capture ends after `seconds` or after `frames` frames, whichever
    // comes first; with neither given, after kDefaultCaptureSeconds.
    double seconds = 0.0;
    uint32_t frames = 0;
    // Failure when no frame arrives for this long.
    double stallSeconds = kDefaultStallSeconds;

    std::wstring outputDir = L".";
    std::wstring filePrefix = L"frame";
    FrameSelection save;
    std::wstring summaryFile;
    // Runs the graph without a reference clock, so that the renderer never
    // holds frames back and arrival times show the device's own pacing.
    bool noClock = false;

    // Settings stored for the current user before the action runs:
    // the window to capture (its title, its class, its program) and the
    // framing.
    std::optional<std::wstring> useWindow;
    std::optional<std::wstring> useClass;
    std::optional<std::wstring> useProgram;
    std::optional<ScaleMode> scale;
    std::optional<bool> mirror;
    // The standby picture's file as given (relative paths are made full
    // when stored); empty for none.
    std::optional<std::wstring> standbyImage;
    // What is shown instead of a window: a monitor (its number in the
    // --monitors list or its device name; empty: the primary, whichever it
    // is then) or a region of the screen. The window options, these two
    // and each other exclude each other.
    std::optional<std::wstring> useMonitor;
    std::optional<StoredRect> useRegion;
    // The part of a window's client area shown; empty: all of it.
    std::optional<StoredRect> crop;
    std::optional<CursorChoice> cursor;
    std::optional<CaptureMethod> method;

    // --camera N|NAME: the camera whose settings are stored and which is
    // captured (its name then replaces --device).
    std::optional<std::wstring> camera;
    // --add-camera NAME, --remove-camera N, --rename-camera N NAME.
    std::wstring cameraArgument;
    std::wstring cameraNewName;
    // kElevatedRunSwitch: this run was started with administrator rights
    // for a camera action, and must not ask for them again.
    bool elevatedRun = false;

    double EffectiveSeconds() const;
    bool ChoosesWindow() const { return useWindow || useClass || useProgram; }
    bool StoresSettings() const {
        return ChoosesWindow() || scale || mirror || standbyImage || useMonitor || useRegion || crop || cursor ||
               method;
    }
};

enum class ParseStatus {
    kOk,
    kHelp,
    kVersion,
    kUsageError,
};

// Parses the arguments that follow the program name. Options take their
// value as the next argument or after '=' (--fps=30). Settings to store
// with nothing else asked for make the action kStoreSettings; with an
// action or capture options they are stored first. On kUsageError,
// `error` says what was wrong and `options` is left as it was.
ParseStatus ParseCaptureOptions(const std::vector<std::wstring>& args, CaptureOptions* options,
                                std::wstring* error);

// Parses "X,Y,W,H" as the settings store rectangles (four decimal
// integers, the size from 1 to kMaxStoredRectSide, the origin within
// +-kMaxStoredRectOrigin); false for anything else.
bool ParseRectangle(const std::wstring& text, StoredRect* rect);

// Parses a --save list such as "first,last,every:30,7,12".
bool ParseFrameSelection(const std::wstring& text, FrameSelection* selection, std::wstring* error);

// The text printed by --help.
std::wstring CaptureUsageText();
std::wstring CaptureVersionText();

}  // namespace qmcapture
