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

        // Fetches the option's value: inline after '=' or the next argument.
        auto takeValue = [&](std::wstring* out) {
            if (hasInlineValue) {
                *out = value;
                return true;
            }
            if (i + 1 >= args.size()) {
                *error = L"option " + name + L" needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto noValue = [&]() {
            if (hasInlineValue) {
                *error = L"option " + name + L" takes no value";
                return false;
            }
            return true;
        };
        auto badValue = [&](const std::wstring& text, const wchar_t* expected) {
            *error = L"bad value " + Quoted(text) + L" for " + name + L" (expected " + expected + L")";
            return ParseStatus::kUsageError;
        };

        std::wstring text;
        if (name == L"-h" || name == L"--help" || name == L"/?") {
            if (!noValue()) return ParseStatus::kUsageError;
            return ParseStatus::kHelp;
        } else if (name == L"-V" || name == L"--version") {
            if (!noValue()) return ParseStatus::kUsageError;
            return ParseStatus::kVersion;
        } else if (name == L"-l" || name == L"--list") {
            if (!noValue()) return ParseStatus::kUsageError;
            parsed.action = CaptureAction::kListDevices;
            ++actions;
        } else if (name == L"-c" || name == L"--caps") {
            if (!noValue()) return ParseStatus::kUsageError;
            parsed.action = CaptureAction::kListCapabilities;
            ++actions;
        } else if (name == L"-p" || name == L"--properties") {
            if (!noValue()) return ParseStatus::kUsageError;
            parsed.action = CaptureAction::kShowProperties;
            ++actions;
        } else if (name == L"--windows") {
            if (!noValue()) return ParseStatus::kUsageError;
            parsed.action = CaptureAction::kListWindows;
            ++actions;
        } else if (name == L"--cameras") {
            if (!noValue()) return ParseStatus::kUsageError;
            parsed.action = CaptureAction::kListCameras;
            ++actions;
        } else if (name == L"--add-camera") {
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty()) return badValue(text, L"a camera name");
            parsed.action = CaptureAction::kAddCamera;
            parsed.cameraArgument = text;
            ++actions;
        } else if (name == L"--remove-camera") {
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty()) return badValue(text, L"a camera number or name");
            parsed.action = CaptureAction::kRemoveCamera;
            parsed.cameraArgument = text;
            ++actions;
        } else if (name == L"--rename-camera") {
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty()) return badValue(text, L"a camera number or name");
            if (hasInlineValue || i + 1 >= args.size() || args[i + 1].empty()) {
                *error = L"option " + name + L" needs a camera and a new name (--rename-camera 2 \"Slides\")";
                return ParseStatus::kUsageError;
            }
            parsed.action = CaptureAction::kRenameCamera;
            parsed.cameraArgument = text;
            parsed.cameraNewName = args[++i];
            ++actions;
        } else if (name == kElevatedRunSwitch) {
            if (!noValue()) return ParseStatus::kUsageError;
            parsed.elevatedRun = true;
        } else if (name == L"--camera") {
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty()) return badValue(text, L"a camera number or name");
            parsed.camera = text;
        } else if (name == L"--use-window") {
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty()) return badValue(text, L"a window title");
            parsed.useWindow = text;
        } else if (name == L"--use-class") {
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty()) return badValue(text, L"a window class");
            parsed.useClass = text;
        } else if (name == L"--use-program") {
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty() || text.find_first_of(L"\\/:") != std::wstring::npos) {
                return badValue(text, L"a program's file name, for example notes.exe");
            }
            parsed.useProgram = text;
        } else if (name == L"--scale") {
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text == L"stretch") {
                parsed.scale = ScaleMode::Stretch;
            } else if (text == L"fit") {
                parsed.scale = ScaleMode::Fit;
            } else if (text == L"fill") {
                parsed.scale = ScaleMode::Fill;
            } else {
                return badValue(text, L"stretch, fit or fill");
            }
        } else if (name == L"--mirror") {
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text != L"on" && text != L"off") {
                return badValue(text, L"on or off");
            }
            parsed.mirror = text == L"on";
        } else if (name == L"--standby-image") {
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty() || text.size() >= kStandbyImageCapacity) {
                return badValue(text, L"the path of a PNG, JPEG or BMP file of at most 259 characters, or none");
            }
            parsed.standbyImage = text == L"none" ? std::wstring() : text;
        } else if (name == L"--no-clock") {
            captureOptions = true;
            if (!noValue()) return ParseStatus::kUsageError;
            parsed.noClock = true;
        } else if (name == L"-d" || name == L"--device") {
            captureOptions = true;
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty()) return badValue(text, L"a device name");
            parsed.deviceName = text;
        } else if (name == L"-s" || name == L"--size") {
            captureOptions = true;
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (!ParseSize(text, &parsed.width, &parsed.height)) {
                return badValue(text, L"WIDTHxHEIGHT, for example 1136x640");
            }
        } else if (name == L"-f" || name == L"--format") {
            captureOptions = true;
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            SampleFormat format = SampleFormat::kRgb24;
            if (!ParseSampleFormat(text, &format)) {
                return badValue(text, L"rgb24, nv12, yuy2, i420 or rgb32");
            }
            parsed.format = format;
        } else if (name == L"-r" || name == L"--fps") {
            captureOptions = true;
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            double rate = 0.0;
            if (!ParseDouble(text, &rate) || rate <= 0.0 || rate > kMaxFrameRate) {
                return badValue(text, L"a frame rate above 0 and at most 1000");
            }
            parsed.frameRate = rate;
        } else if (name == L"-t" || name == L"--seconds") {
            captureOptions = true;
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            double seconds = 0.0;
            if (!ParseDouble(text, &seconds) || seconds <= 0.0 || seconds > kMaxCaptureSeconds) {
                return badValue(text, L"a number of seconds above 0 and at most 86400");
            }
            parsed.seconds = seconds;
        } else if (name == L"-n" || name == L"--frames") {
            captureOptions = true;
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            uint32_t frames = 0;
            if (!ParseUnsigned(text, &frames) || frames == 0) {
                return badValue(text, L"a whole number of frames, at least 1");
            }
            parsed.frames = frames;
        } else if (name == L"--timeout") {
            captureOptions = true;
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            double seconds = 0.0;
            if (!ParseDouble(text, &seconds) || seconds <= 0.0 || seconds > kMaxCaptureSeconds) {
                return badValue(text, L"a number of seconds above 0 and at most 86400");
            }
            parsed.stallSeconds = seconds;
        } else if (name == L"-o" || name == L"--output") {
            captureOptions = true;
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty()) return badValue(text, L"a folder");
            parsed.outputDir = text;
        } else if (name == L"--prefix") {
            captureOptions = true;
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty() || text.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos) {
                return badValue(text, L"a file name prefix without path characters");
            }
            parsed.filePrefix = text;
        } else if (name == L"--save") {
            captureOptions = true;
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            std::wstring why;
            if (!ParseFrameSelection(text, &parsed.save, &why)) {
                *error = L"bad value for " + name + L": " + why;
                return ParseStatus::kUsageError;
            }
        } else if (name == L"--summary") {
            captureOptions = true;
            if (!takeValue(&text)) return ParseStatus::kUsageError;
            if (text.empty()) return badValue(text, L"a file name");
            parsed.summaryFile = text;
        } else if (!name.empty() && name[0] == L'-') {
            *error = L"unknown option " + Quoted(name);
            return ParseStatus::kUsageError;
        } else {
            *error = L"unexpected argument " + Quoted(name);
            return ParseStatus::kUsageError;
        }
    }

    if (actions > 1) {
        *error = L"--list, --caps, --properties, --windows and the camera actions exclude each other";
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
      --windows          list the windows the device can capture and exit
      --cameras          list the cameras (number, name, class, window)
      --add-camera NAME  add a camera named NAME (1 to 63 characters, not
                         only digits) and print its number; up to eight
                         cameras in all
      --remove-camera N  remove camera N (2 to 8, or its name)
      --rename-camera N NAME
                         give camera N (2 to 8, or its name) a new name
                         The camera actions change the machine's camera
                         list and need administrator rights.

Device and format:
  -d, --device NAME      device friendly name (default "QM Capture Device")
  -s, --size WxH         output size, one the device offers (e.g. 1136x640);
                         default: the device's current size
  -f, --format FORMAT    sample format: rgb24, nv12, yuy2, i420 or rgb32 (in
                         any case); the device must offer it at the size.
                         Default: the device's current format when it offers
                         it at the size, else the first it offers there (QM
                         Capture Device: RGB24 unless its stored OutputFormat
                         says otherwise). YUV frames are saved as PNG through
                         a BT.601 limited-range conversion
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

Window, framing and standby picture, stored for the current user (a running device takes
them over within a second); given alone they are only stored, with an action
or capture options they are stored first:
      --use-window TITLE
                         capture the window with this title (the whole
                         title; without --use-class: the class and program
                         of the open window of that title)
      --use-class CLASS  capture a window of this class (alone: any title)
      --use-program NAME capture a window of this program, by its file
                         name (alone: any window of the program); with
                         the class, it finds the window again when its
                         title changes
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
error.
)";
    return text;
}

std::wstring CaptureVersionText() {
    return std::wstring(kProgramName) + L" " + kVersion + L"\n";
}

}  // namespace qmcapture
