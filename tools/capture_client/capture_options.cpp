#include "tools/capture_client/capture_options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cwchar>
#include <cwctype>

#include "settings/settings_values.h"

namespace qmcapture {

namespace {

constexpr wchar_t kProgramName[] = L"qmcapture";
constexpr wchar_t kVersion[] = L"1.0.0";

bool ParseDouble(const std::wstring& text, double* value) {
    if (text.empty() || std::iswspace(text[0])) {
        return false;
    }
    wchar_t* end = nullptr;
    errno = 0;
    const double parsed = std::wcstod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(parsed)) {
        return false;
    }
    *value = parsed;
    return true;
}

// Plain decimal digits only: no sign, no spaces, no hexadecimal.
bool ParseUnsigned(const std::wstring& text, uint32_t* value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    uint64_t parsed = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        parsed = parsed * 10 + static_cast<uint64_t>(c - L'0');
    }
    if (parsed > UINT32_MAX) {
        return false;
    }
    *value = static_cast<uint32_t>(parsed);
    return true;
}

bool ParseSize(const std::wstring& text, int* width, int* height) {
    const size_t x = text.find_first_of(L"xX");
    if (x == std::wstring::npos) {
        return false;
    }
    uint32_t w = 0;
    uint32_t h = 0;
    if (!ParseUnsigned(text.substr(0, x), &w) || !ParseUnsigned(text.substr(x + 1), &h)) {
        return false;
    }
    if (w == 0 || h == 0 || w > kMaxFrameDimension || h > kMaxFrameDimension) {
        return false;
    }
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

std::wstring Quoted(const std::wstring& text) { return L"'" + text + L"'"; }

// The options, one row each: their names, how many values they take, what
// kind of option they are and what they do with their value. A handler
// that refuses its value sets the error and returns false.

enum class Arity {
    kNone,
    kOne,
    // The value and the argument after it (--rename-camera N NAME).
    kTwo,
    // A value after '=', or the next argument unless it is an option of
    // its own (starts with '-'), or none (--use-monitor [N|NAME]).
    kOptional,
};

enum class OptionKind {
    // Ends the parse with ParseStatus::kHelp or kVersion.
    kShowHelp,
    kShowVersion,
    // One of the actions, which exclude each other.
    kAction,
    // Shapes a capture: with settings to store, the run also captures.
    kCapture,
    // Settings to store, the camera, the elevated-run switch.
    kOther,
};

struct OptionCall {
    // The name as given (-r or --fps), for the messages.
    const std::wstring& name;
    const std::wstring& value;
    // kTwo only: the argument after the value; null when the value came
    // after '=' or nothing follows it.
    const std::wstring* second;
    // kOptional only: whether a value was given at all.
    bool hasValue;
    CaptureOptions* options;
    std::wstring* error;

    bool Bad(const wchar_t* expected) const {
        *error = L"bad value " + Quoted(value) + L" for " + name + L" (expected " + expected + L")";
        return false;
    }
};

struct OptionRow {
    // Either may be null.
    const wchar_t* shortName;
    const wchar_t* longName;
    Arity arity;
    OptionKind kind;
    bool (*handle)(const OptionCall& call);
};

bool Nothing(const OptionCall&) { return true; }

template <CaptureAction kAction>
bool Act(const OptionCall& call) {
    call.options->action = kAction;
    return true;
}

// An action on a camera named by the value.
template <CaptureAction kAction>
bool ActOnCamera(const OptionCall& call) {
    if (call.value.empty()) {
        return call.Bad(kAction == CaptureAction::kAddCamera ? L"a camera name" : L"a camera number or name");
    }
    call.options->action = kAction;
    call.options->cameraArgument = call.value;
    return true;
}

bool RenameCamera(const OptionCall& call) {
    if (call.value.empty()) {
        return call.Bad(L"a camera number or name");
    }
    if (call.second == nullptr || call.second->empty()) {
        *call.error = L"option " + call.name + L" needs a camera and a new name (--rename-camera 2 \"Slides\")";
        return false;
    }
    call.options->action = CaptureAction::kRenameCamera;
    call.options->cameraArgument = call.value;
    call.options->cameraNewName = *call.second;
    return true;
}

// A text, neither empty nor holding any of the `forbidden` characters,
// stored in a member of the options.
template <auto kMember>
bool Text(const OptionCall& call, const wchar_t* expected, const wchar_t* forbidden = L"") {
    if (call.value.empty() || call.value.find_first_of(forbidden) != std::wstring::npos) {
        return call.Bad(expected);
    }
    call.options->*kMember = call.value;
    return true;
}

bool Scale(const OptionCall& call) {
    if (call.value == L"stretch") {
        call.options->scale = ScaleMode::Stretch;
    } else if (call.value == L"fit") {
        call.options->scale = ScaleMode::Fit;
    } else if (call.value == L"fill") {
        call.options->scale = ScaleMode::Fill;
    } else {
        return call.Bad(L"stretch, fit or fill");
    }
    return true;
}

bool Mirror(const OptionCall& call) {
    if (call.value != L"on" && call.value != L"off") {
        return call.Bad(L"on or off");
    }
    call.options->mirror = call.value == L"on";
    return true;
}

bool StandbyImage(const OptionCall& call) {
    if (call.value.empty() || call.value.size() >= kStandbyImageCapacity) {
        return call.Bad(L"the path of a PNG, JPEG or BMP file of at most 259 characters, or none");
    }
    call.options->standbyImage = call.value == L"none" ? std::wstring() : call.value;
    return true;
}

bool UseMonitor(const OptionCall& call) {
    if (!call.hasValue) {
        call.options->useMonitor = std::wstring();
        return true;
    }
    // A number from the --monitors list, or a device name; which monitor
    // either names is looked up when it is stored.
    uint32_t number = 0;
    const bool isNumber = ParseUnsigned(call.value, &number);
    if (call.value.empty() || (isNumber && number == 0) || call.value.size() >= kMonitorNameCapacity) {
        return call.Bad(L"a monitor's number from qmcapture --monitors, or its device name such as \\\\.\\DISPLAY2");
    }
    call.options->useMonitor = call.value;
    return true;
}

bool UseRegion(const OptionCall& call) {
    StoredRect region;
    if (!ParseRectangle(call.value, &region)) {
        return call.Bad(L"X,Y,W,H in screen pixels, for example 0,0,1280,720");
    }
    call.options->useRegion = region;
    return true;
}

bool Crop(const OptionCall& call) {
    StoredRect crop;
    if (call.value != L"none" && !ParseRectangle(call.value, &crop)) {
        return call.Bad(L"X,Y,W,H in the window's client pixels, for example 0,0,640,360, or none");
    }
    call.options->crop = crop;
    return true;
}

bool Cursor(const OptionCall& call) {
    if (call.value == L"on") {
        call.options->cursor = CursorChoice::On;
    } else if (call.value == L"off") {
        call.options->cursor = CursorChoice::Off;
    } else if (call.value == L"default") {
        call.options->cursor = CursorChoice::Default;
    } else {
        return call.Bad(L"on, off or default");
    }
    return true;
}

bool Method(const OptionCall& call) {
    static constexpr struct {
        const wchar_t* name;
        CaptureMethod method;
    } kMethods[] = {{L"auto", CaptureMethod::Auto},
                    {L"copy", CaptureMethod::Copy},
                    {L"print", CaptureMethod::Print},
                    {L"graphics", CaptureMethod::Graphics}};
    for (const auto& entry : kMethods) {
        if (call.value == entry.name) {
            call.options->method = entry.method;
            return true;
        }
    }
    return call.Bad(L"auto, copy, print or graphics");
}

bool Size(const OptionCall& call) {
    if (!ParseSize(call.value, &call.options->width, &call.options->height)) {
        return call.Bad(L"WIDTHxHEIGHT, for example 1136x640");
    }
    return true;
}

bool Format(const OptionCall& call) {
    SampleFormat format = SampleFormat::kRgb24;
    if (!ParseSampleFormat(call.value, &format)) {
        return call.Bad(L"rgb24, nv12, yuy2, i420 or rgb32");
    }
    call.options->format = format;
    return true;
}

bool FrameRate(const OptionCall& call) {
    double rate = 0.0;
    if (!ParseDouble(call.value, &rate) || rate <= 0.0 || rate > kMaxFrameRate) {
        return call.Bad(L"a frame rate above 0 and at most 1000");
    }
    call.options->frameRate = rate;
    return true;
}

// A number of seconds above 0 and at most kMaxCaptureSeconds.
template <double CaptureOptions::*kMember>
bool Seconds(const OptionCall& call) {
    double seconds = 0.0;
    if (!ParseDouble(call.value, &seconds) || seconds <= 0.0 || seconds > kMaxCaptureSeconds) {
        return call.Bad(L"a number of seconds above 0 and at most 86400");
    }
    call.options->*kMember = seconds;
    return true;
}

bool Frames(const OptionCall& call) {
    uint32_t frames = 0;
    if (!ParseUnsigned(call.value, &frames) || frames == 0) {
        return call.Bad(L"a whole number of frames, at least 1");
    }
    call.options->frames = frames;
    return true;
}

bool Save(const OptionCall& call) {
    std::wstring why;
    if (!ParseFrameSelection(call.value, &call.options->save, &why)) {
        *call.error = L"bad value for " + call.name + L": " + why;
        return false;
    }
    return true;
}

const OptionRow kOptionRows[] = {
    {L"-h", L"--help", Arity::kNone, OptionKind::kShowHelp, Nothing},
    {L"/?", nullptr, Arity::kNone, OptionKind::kShowHelp, Nothing},
    {L"-V", L"--version", Arity::kNone, OptionKind::kShowVersion, Nothing},
    {L"-l", L"--list", Arity::kNone, OptionKind::kAction, Act<CaptureAction::kListDevices>},
    {L"-c", L"--caps", Arity::kNone, OptionKind::kAction, Act<CaptureAction::kListCapabilities>},
    {L"-p", L"--properties", Arity::kNone, OptionKind::kAction, Act<CaptureAction::kShowProperties>},
    {nullptr, L"--windows", Arity::kNone, OptionKind::kAction, Act<CaptureAction::kListWindows>},
    {nullptr, L"--cameras", Arity::kNone, OptionKind::kAction, Act<CaptureAction::kListCameras>},
    {nullptr, L"--check", Arity::kNone, OptionKind::kAction, Act<CaptureAction::kCheck>},
    {nullptr, L"--add-camera", Arity::kOne, OptionKind::kAction, ActOnCamera<CaptureAction::kAddCamera>},
    {nullptr, L"--remove-camera", Arity::kOne, OptionKind::kAction, ActOnCamera<CaptureAction::kRemoveCamera>},
    {nullptr, L"--rename-camera", Arity::kTwo, OptionKind::kAction, RenameCamera},
    {nullptr, kElevatedRunSwitch, Arity::kNone, OptionKind::kOther,
     [](const OptionCall& call) {
         call.options->elevatedRun = true;
         return true;
     }},
    {nullptr, L"--camera", Arity::kOne, OptionKind::kOther,
     [](const OptionCall& call) { return Text<&CaptureOptions::camera>(call, L"a camera number or name"); }},
    {nullptr, L"--use-window", Arity::kOne, OptionKind::kOther,
     [](const OptionCall& call) { return Text<&CaptureOptions::useWindow>(call, L"a window title"); }},
    {nullptr, L"--use-class", Arity::kOne, OptionKind::kOther,
     [](const OptionCall& call) { return Text<&CaptureOptions::useClass>(call, L"a window class"); }},
    {nullptr, L"--use-program", Arity::kOne, OptionKind::kOther,
     [](const OptionCall& call) {
         return Text<&CaptureOptions::useProgram>(call, L"a program's file name, for example notes.exe", L"\\/:");
     }},
    {nullptr, L"--scale", Arity::kOne, OptionKind::kOther, Scale},
    {nullptr, L"--mirror", Arity::kOne, OptionKind::kOther, Mirror},
    {nullptr, L"--standby-image", Arity::kOne, OptionKind::kOther, StandbyImage},
    {nullptr, L"--monitors", Arity::kNone, OptionKind::kAction, Act<CaptureAction::kListMonitors>},
    {nullptr, L"--use-monitor", Arity::kOptional, OptionKind::kOther, UseMonitor},
    {nullptr, L"--use-region", Arity::kOne, OptionKind::kOther, UseRegion},
    {nullptr, L"--crop", Arity::kOne, OptionKind::kOther, Crop},
    {nullptr, L"--cursor", Arity::kOne, OptionKind::kOther, Cursor},
    {nullptr, L"--method", Arity::kOne, OptionKind::kOther, Method},
    {nullptr, L"--no-clock", Arity::kNone, OptionKind::kCapture,
     [](const OptionCall& call) {
         call.options->noClock = true;
         return true;
     }},
    {L"-d", L"--device", Arity::kOne, OptionKind::kCapture,
     [](const OptionCall& call) { return Text<&CaptureOptions::deviceName>(call, L"a device name"); }},
    {L"-s", L"--size", Arity::kOne, OptionKind::kCapture, Size},
    {L"-f", L"--format", Arity::kOne, OptionKind::kCapture, Format},
    {L"-r", L"--fps", Arity::kOne, OptionKind::kCapture, FrameRate},
    {L"-t", L"--seconds", Arity::kOne, OptionKind::kCapture, Seconds<&CaptureOptions::seconds>},
    {L"-n", L"--frames", Arity::kOne, OptionKind::kCapture, Frames},
    {nullptr, L"--timeout", Arity::kOne, OptionKind::kCapture, Seconds<&CaptureOptions::stallSeconds>},
    {L"-o", L"--output", Arity::kOne, OptionKind::kCapture,
     [](const OptionCall& call) { return Text<&CaptureOptions::outputDir>(call, L"a folder"); }},
    {nullptr, L"--prefix", Arity::kOne, OptionKind::kCapture,
     [](const OptionCall& call) {
         return Text<&CaptureOptions::filePrefix>(call, L"a file name prefix without path characters",
                                                  L"\\/:*?\"<>|");
     }},
    {nullptr, L"--save", Arity::kOne, OptionKind::kCapture, Save},
    {nullptr, L"--summary", Arity::kOne, OptionKind::kCapture,
     [](const OptionCall& call) { return Text<&CaptureOptions::summaryFile>(call, L"a file name"); }},
};

const OptionRow* FindOption(const std::wstring& name) {
    for (const OptionRow& row : kOptionRows) {
        if ((row.shortName != nullptr && name == row.shortName) || (row.longName != nullptr && name == row.longName)) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace

bool FrameSelection::SelectsWhileCapturing(uint32_t index) const {
    if (first && index == 0) {
        return true;
    }
    if (every != 0 && index % every == 0) {
        return true;
    }
    return std::binary_search(indexes.begin(), indexes.end(), index);
}

double CaptureOptions::EffectiveSeconds() const {
    if (seconds > 0.0) {
        return seconds;
    }
    return frames > 0 ? 0.0 : kDefaultCaptureSeconds;
}

bool ParseRectangle(const std::wstring& text, StoredRect* rect) {
    // The settings' own rule, on the text as it would be stored.
    if (text.empty() || text.size() >= static_cast<size_t>(kSettingsTextCapacity)) {
        return false;
    }
    char narrow[kSettingsTextCapacity] = {};
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\0' || text[i] > 0x7F) {
            return false;
        }
        narrow[i] = static_cast<char>(text[i]);
    }
    const StoredRect parsed = ParseStoredRect(narrow);
    if (!IsStorableRect(parsed)) {
        return false;
    }
    *rect = parsed;
    return true;
}

bool ParseFrameSelection(const std::wstring& text, FrameSelection* selection, std::wstring* error) {
    FrameSelection parsed;
    if (text == L"none") {
        *selection = parsed;
        return true;
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(L',', start);
        if (comma == std::wstring::npos) {
            comma = text.size();
        }
        const std::wstring item = text.substr(start, comma - start);
        uint32_t number = 0;
        if (item == L"first") {
            parsed.first = true;
        } else if (item == L"last") {
            parsed.last = true;
        } else if (item.rfind(L"every:", 0) == 0) {
            if (!ParseUnsigned(item.substr(6), &number) || number == 0) {
                *error = L"bad frame step in " + Quoted(item) + L" (expected every:N with N >= 1)";
                return false;
            }
            parsed.every = number;
        } else if (ParseUnsigned(item, &number)) {
            parsed.indexes.push_back(number);
        } else {
            *error = L"bad frame choice " + Quoted(item) +
                     L" (expected first, last, every:N, a frame index or none)";
            return false;
        }
        start = comma + 1;
    }
    std::sort(parsed.indexes.begin(), parsed.indexes.end());
    parsed.indexes.erase(std::unique(parsed.indexes.begin(), parsed.indexes.end()),
                         parsed.indexes.end());
    *selection = std::move(parsed);
    return true;
}

ParseStatus ParseCaptureOptions(const std::vector<std::wstring>& args, CaptureOptions* options,
                                std::wstring* error) {
    CaptureOptions parsed;
    parsed.save.first = true;
    parsed.save.last = true;
    int actions = 0;
    // Whether an option that shapes a capture was given: settings to store
    // alone do not start one.
    bool captureOptions = false;

    for (size_t i = 0; i < args.size(); ++i) {
        std::wstring name = args[i];
        std::wstring value;
        bool hasInlineValue = false;
        if (name.rfind(L"--", 0) == 0) {
            const size_t equals = name.find(L'=');
            if (equals != std::wstring::npos) {
                value = name.substr(equals + 1);
                name.resize(equals);
                hasInlineValue = true;
            }
        }

        const OptionRow* row = FindOption(name);
        if (row == nullptr) {
            *error = (!name.empty() && name[0] == L'-' ? L"unknown option " : L"unexpected argument ") + Quoted(name);
            return ParseStatus::kUsageError;
        }
        // The value: inline after '=' or the next argument.
        bool hasValue = hasInlineValue;
        if (row->arity == Arity::kNone) {
            if (hasInlineValue) {
                *error = L"option " + name + L" takes no value";
                return ParseStatus::kUsageError;
            }
        } else if (row->arity == Arity::kOptional) {
            if (!hasInlineValue && i + 1 < args.size() && (args[i + 1].empty() || args[i + 1][0] != L'-')) {
                value = args[++i];
                hasValue = true;
            }
        } else if (!hasInlineValue) {
            if (i + 1 >= args.size()) {
                *error = L"option " + name + L" needs a value";
                return ParseStatus::kUsageError;
            }
            value = args[++i];
        }
        if (row->kind == OptionKind::kShowHelp) {
            return ParseStatus::kHelp;
        }
        if (row->kind == OptionKind::kShowVersion) {
            return ParseStatus::kVersion;
        }
        // A second value only ever follows as an argument of its own.
        const std::wstring* second = row->arity == Arity::kTwo && !hasInlineValue && i + 1 < args.size()
                                         ? &args[i + 1]
                                         : nullptr;
        if (!row->handle(OptionCall{name, value, second, hasValue, &parsed, error})) {
            return ParseStatus::kUsageError;
        }
        if (second != nullptr) {
            ++i;
        }
        actions += row->kind == OptionKind::kAction ? 1 : 0;
        captureOptions = captureOptions || row->kind == OptionKind::kCapture;
    }

    if (actions > 1) {
        *error = L"--list, --caps, --properties, --windows, --monitors, --check and the camera actions exclude each other";
        return ParseStatus::kUsageError;
    }
    if ((parsed.ChoosesWindow() ? 1 : 0) + (parsed.useMonitor ? 1 : 0) + (parsed.useRegion ? 1 : 0) > 1) {
        *error = L"--use-window, --use-class and --use-program (a window), --use-monitor and --use-region choose "
                 L"what is shown: give one of the three";
        return ParseStatus::kUsageError;
    }
    if (actions == 0 && !captureOptions && parsed.StoresSettings()) {
        parsed.action = CaptureAction::kStoreSettings;
    }
    *options = std::move(parsed);
    return ParseStatus::kOk;
}

std::wstring CaptureUsageText() {
    std::wstring text = L"Usage: ";
    text += kProgramName;
    text += LR"( [options]

Captures frames from a DirectShow video input device (by default "QM Capture
Device"), saves chosen frames as PNG files and reports the frame rate and the
frame timing.

Actions (at most one; without one, qmcapture captures):
  -l, --list             list the video input devices and exit
  -c, --caps             list the device's formats (IAMStreamConfig): index,
                         format, size and frame rate range, one a line; exit
  -p, --properties       open the device's property pages and exit when closed
      --windows          list the windows the device can capture, with the
                         capture method each is read by, and exit
      --monitors         list the monitors (number, device name, position,
                         size, primary) and exit
      --cameras          list the cameras (number, name, class, window)
      --add-camera NAME  add a camera named NAME (1 to 63 characters, not
                         only digits) and print its number; up to eight
                         cameras in all
      --remove-camera N  remove camera N (2 to 8, or its name)
      --rename-camera N NAME
                         give camera N (2 to 8, or its name) a new name
                         The camera actions change the machine's camera
                         list and need administrator rights.
      --check            check the installation, stream for 2 s and print
                         a report to paste, one "name: value" a line;
                         changes no setting. With --camera, streams that
                         camera (exit status: below)

Device and format:
  -d, --device NAME      device friendly name (default "QM Capture Device")
  -s, --size WxH         output size, one the device offers (e.g. 1136x640);
                         default: the device's current size
  -f, --format FORMAT    sample format: rgb24, nv12, yuy2, i420 or rgb32 (in
                         any case); the device must offer it at the size.
                         Default: the device's current format when it offers
                         it at the size, else the first of these it offers
                         there (QM Capture Device: RGB24 unless its stored
                         OutputFormat says otherwise). YUV frames are saved
                         as PNG through a BT.601 limited-range conversion
  -r, --fps RATE         frame rate in frames per second (e.g. 60, 29.97),
                         within the device's range (QM Capture Device: 1 to
                         60); default: the device's current rate

Capture:
  -t, --seconds SECONDS  capture for this long (default 5 when --frames is
                         not given)
  -n, --frames COUNT     stop after COUNT frames (with --seconds: whichever
                         comes first)
      --timeout SECONDS  fail when no frame arrives for this long (default 10)
      --no-clock         run the graph without a reference clock
  -o, --output DIR       folder for the PNG files (default: current folder;
                         created when missing)
      --prefix NAME      PNG file name prefix (default "frame"): NAME-000042.png
      --save LIST        frames to save, comma-separated: first, last,
                         every:N, frame indexes from 0, or none
                         (default "first,last")
      --summary FILE     also write a key=value summary to FILE

Camera:
      --camera N|NAME    the camera (its number or name) whose window and
                         framing the options below store, and which is
                         captured (default: camera 1, "QM Capture Device")

What is shown, framing and standby picture, stored for the current user (a
running device takes them over within a second); given alone they are only
stored, with an action or capture options they are stored first:
      --use-window TITLE
                         capture the window with this title (the whole
                         title; without --use-class: the class and program
                         of the open window of that title)
      --use-class CLASS  capture a window of this class (alone: any title)
      --use-program NAME capture a window of this program, by its file
                         name (alone: any window of the program); with
                         the class, it finds the window again when its
                         title changes
                         (these three show a window again after a monitor
                         or a region, and keep a stored crop)
      --use-monitor [N|NAME]
                         show a whole monitor: number N of --monitors, or
                         its device name (\\.\DISPLAY2); without either,
                         the primary monitor, whichever it is then
      --use-region X,Y,W,H
                         show this rectangle of the screen (virtual-screen
                         pixels; the origin may be negative)
      --crop X,Y,W,H|none
                         show only this part of the window's client area
                         (client pixels); none shows all of it
      --cursor on|off|default
                         draw the mouse pointer or not; default: off for
                         a window, on for a monitor or a region
      --method auto|copy|print|graphics
                         how a window is read: auto (copy; a window whose
                         copy reads back black by graphics capture where
                         the system has it, else by print), copy (cheap,
                         black for GPU-drawn windows), print (the window
                         draws itself, on its own thread) or graphics
                         (Windows.Graphics.Capture, Windows 10 1903 on)
      --scale MODE       stretch (fill the frame, aspect not kept), fit
                         (whole window, black bars) or fill (crop the centre)
      --mirror on|off    mirror the picture left to right
      --standby-image PATH|none
                         show this PNG, JPEG or BMP picture (fitted, on
                         black) in the standby frame, under the standby
                         text; none shows plain black. A file that cannot
                         be read gives plain black and a diagnostic log line

  -h, --help             show this help and exit
  -V, --version          show the version and exit

Frame intervals are reported from the samples' timestamps and from the
arrival times at the sample grabber. Timestamps are contiguous when each
sample starts where the previous one ended.

Exit status: 0 success, 1 runtime failure (device not found, capture
failed, file not written, window not found, setting not stored), 2 usage
error. --check also ends with 3: the module is not registered for this
program's architecture, 4: it is registered but the device cannot be
created, 5: the device was created but sent no frames.
)";
    return text;
}

std::wstring CaptureVersionText() {
    return std::wstring(kProgramName) + L" " + kVersion + L"\n";
}

}  // namespace qmcapture
