#include "tools/capture_client/capture_client.h"

#include <windows.h>
#include <dshow.h>
#include <olectl.h>
#include <wrl/client.h>

#include <algorithm>
#include <cmath>

#include "settings/capture_settings.h"
#include "settings/settings_store.h"
#include "settings/settings_values.h"
#include "framework/com_util.h"
#include "framework/diagnostic_log.h"
#include "framework/memory_dib.h"
#include "window/monitor_list.h"
#include "tools/capture_client/camera_commands.h"
#include "tools/capture_client/capture_graph.h"
#include "tools/capture_client/capture_summary.h"
#include "tools/capture_client/console_output.h"
#include "tools/capture_client/frame_grabber.h"
#include "tools/capture_client/frame_statistics.h"
#include "tools/capture_client/monitor_settings.h"
#include "tools/capture_client/png_file.h"
#include "tools/capture_client/self_check.h"
#include "tools/capture_client/source_description.h"
#include "tools/capture_client/stream_format.h"
#include "tools/capture_client/video_device.h"
#include "tools/capture_client/window_settings.h"
#include "tools/capture_client/yuv_frame.h"

using Microsoft::WRL::ComPtr;

namespace qmcapture {

namespace {

constexpr wchar_t kProgram[] = L"qmcapture";
// Copies of chosen frames held until the capture ends; a 32-bit process
// has far less address space to spare.
constexpr size_t kKeepBytesLimit = sizeof(void*) == 8 ? (size_t{1} << 30) : (size_t{256} << 20);
constexpr double kFallbackFrameRate = 60.0;
constexpr size_t kMaxReservedFrames = 1u << 20;

void PrintError(const std::wstring& message) { WriteStderr(std::wstring(kProgram) + L": " + message + L"\n"); }

// Where the device writes its diagnostic log, and whether it does.
std::wstring DiagnosticLogText() {
    wchar_t path[MAX_PATH * 2] = {};
    if (!diagnostic_log::FilePath(path, MAX_PATH * 2)) {
        return L"unknown (no local application data folder)";
    }
    char stored[kSettingsTextCapacity] = {};
    const bool on = ReadSetting("0", stored, kDiagnosticLogValue) && ParseSwitch(stored);
    return std::wstring(path) + (on ? L" (on)" : L" (off: DiagnosticLog is not 1)");
}

// Opens the device by name; a missing device is explained with the names
// that are there.
HRESULT OpenDevice(const std::wstring& name, IBaseFilter** filter, std::wstring* error) {
    const HRESULT hr = OpenVideoInputDevice(name, filter);
    if (hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND)) {
        std::vector<VideoDeviceInfo> devices;
        std::wstring present;
        if (SUCCEEDED(ListVideoInputDevices(&devices))) {
            for (const VideoDeviceInfo& device : devices) {
                present += (present.empty() ? L"" : L", ") + (L"\"" + device.friendlyName + L"\"");
            }
        }
        *error = L"video input device \"" + name + L"\" not found (" +
                 (present.empty() ? std::wstring(L"no video input devices are registered")
                                  : L"devices present: " + present) +
                 L")";
    } else if (FAILED(hr)) {
        *error = L"cannot open video input device \"" + name + L"\": " + DescribeHresult(hr);
    }
    return hr;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Where the folders that may need creating begin: after "\\server\share\"
// of a UNC path (neither part can be created), else at the start.
size_t FirstCreatableComponent(const std::wstring& path) {
    if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) {
        return 1;
    }
    size_t separators = 0;
    for (size_t i = 2; i < path.size(); ++i) {
        if (IsSeparator(path[i]) && ++separators == 2) {
            return i + 1;
        }
    }
    return path.size();
}

// Creates the folder and any missing parents.
HRESULT EnsureDirectory(const std::wstring& path) {
    for (size_t i = FirstCreatableComponent(path); i <= path.size(); ++i) {
        if (i < path.size() && !IsSeparator(path[i])) {
            continue;
        }
        const std::wstring prefix = path.substr(0, i);
        // Drive roots ("C:") and the root itself need no creating.
        if (prefix.empty() || (prefix.size() == 2 && prefix[1] == L':') || IsSeparator(prefix.back())) {
            continue;
        }
        if (!::CreateDirectoryW(prefix.c_str(), nullptr)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) {
                return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
            }
        }
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    return S_OK;
}

std::wstring FramePath(const CaptureOptions& options, uint32_t index) {
    std::wstring path = options.outputDir;
    // Follow the caller's choice of separator, so that a path given as
    // out/demo stays readable.
    const wchar_t separator =
        path.find(L'/') != std::wstring::npos && path.find(L'\\') == std::wstring::npos ? L'/' : L'\\';
    if (!path.empty() && !IsSeparator(path.back())) {
        path += separator;
    }
    return path + options.filePrefix + FormatText(L"-%06u.png", index);
}

int ListDevices() {
    std::vector<VideoDeviceInfo> devices;
    const HRESULT hr = ListVideoInputDevices(&devices);
    if (FAILED(hr)) {
        PrintError(L"cannot list the video input devices: " + DescribeHresult(hr));
        return kExitFailure;
    }
    WriteStdout(FormatDeviceList(devices));
    return kExitSuccess;
}

int ListWindows(const char* keyPath) {
    std::vector<ListedWindow> windows;
    const HRESULT hr = ListCaptureWindows(nullptr, &windows);
    if (FAILED(hr)) {
        PrintError(L"cannot list the windows: " + DescribeHresult(hr));
        return kExitFailure;
    }
    WriteStdout(FormatWindowList(windows, FindStoredWindow(keyPath),
                                 FindWindowMethods(windows, FindStoredMethod(keyPath))));
    return kExitSuccess;
}

int ListMonitorsOfSystem(const char* keyPath) {
    const CCaptureSettings stored(keyPath);
    const CCaptureSettings::Snapshot settings = stored.GetSnapshot();
    WriteStdout(FormatMonitorList(ListMonitors(),
                                  settings.sourceKind == SourceKind::Monitor ? settings.sourceMonitor : nullptr));
    return kExitSuccess;
}

int ListCapabilities(const CaptureOptions& options) {
    std::wstring error;
    ComPtr<IBaseFilter> device;
    if (FAILED(OpenDevice(options.deviceName, &device, &error))) {
        PrintError(error);
        return kExitFailure;
    }
    ComPtr<IPin> pin;
    ComPtr<IAMStreamConfig> config;
    HRESULT hr = FindCapturePin(device.Get(), &pin);
    if (SUCCEEDED(hr)) {
        hr = FindStreamConfig(device.Get(), pin.Get(), &config);
    }
    if (FAILED(hr)) {
        PrintError(L"\"" + options.deviceName + L"\" offers no IAMStreamConfig: " + DescribeHresult(hr));
        return kExitFailure;
    }
    std::vector<StreamCapability> capabilities;
    hr = ReadCapabilities(config.Get(), &capabilities);
    if (FAILED(hr)) {
        PrintError(L"cannot read the formats of \"" + options.deviceName + L"\": " + DescribeHresult(hr));
        return kExitFailure;
    }
    AM_MEDIA_TYPE* raw = nullptr;
    UniqueMediaType current;
    if (SUCCEEDED(config->GetFormat(&raw))) {
        current.reset(raw);
    }
    WriteStdout(FormatCapabilities(options.deviceName, capabilities, current.get()));
    return kExitSuccess;
}

int ShowProperties(const CaptureOptions& options) {
    std::wstring error;
    ComPtr<IBaseFilter> device;
    if (FAILED(OpenDevice(options.deviceName, &device, &error))) {
        PrintError(error);
        return kExitFailure;
    }
    ComPtr<ISpecifyPropertyPages> pages;
    if (FAILED(device.As(&pages))) {
        ComPtr<IPin> pin;
        if (FAILED(FindCapturePin(device.Get(), &pin)) || FAILED(pin.As(&pages))) {
            PrintError(L"\"" + options.deviceName + L"\" has no property pages");
            return kExitFailure;
        }
    }
    CAUUID ids = {};
    HRESULT hr = pages->GetPages(&ids);
    const CoTaskMemPtr<GUID> idsOwner(ids.pElems);
    if (FAILED(hr) || ids.cElems == 0) {
        PrintError(L"\"" + options.deviceName + L"\" has no property pages");
        return kExitFailure;
    }
    IUnknown* objects[] = {device.Get()};
    hr = ::OleCreatePropertyFrame(nullptr, 0, 0, options.deviceName.c_str(), 1, objects, ids.cElems, ids.pElems,
                                  ::GetUserDefaultLCID(), 0, nullptr);
    if (FAILED(hr)) {
        PrintError(L"cannot open the property pages of \"" + options.deviceName + L"\": " + DescribeHresult(hr));
        return kExitFailure;
    }
    return kExitSuccess;
}

std::wstring IntervalLine(const wchar_t* source, const IntervalStatistics& stats) {
    if (stats.count == 0) {
        return FormatText(L"frame interval from %ls: no intervals\n", source);
    }
    return FormatText(L"frame interval from %ls (ms): p50 %.3f  p90 %.3f  p99 %.3f  max %.3f  (%u intervals)\n",
                      source, stats.p50, stats.p90, stats.p99, stats.max, static_cast<unsigned>(stats.count));
}

std::wstring ContiguityLine(const FrameStatistics& stats) {
    if (stats.pairsChecked == 0) {
        return L"sample timestamps: not checked (fewer than two frames with start and end times)\n";
    }
    if (stats.Contiguous()) {
        return FormatText(L"sample timestamps: contiguous (each of %u samples starts where the previous one "
                          L"ended)\n",
                          static_cast<unsigned>(stats.pairsChecked));
    }
    return FormatText(L"sample timestamps: NOT contiguous: %u gaps, %u overlaps in %u pairs; first at frame "
                      L"%lld: start %lld, previous end %lld\n",
                      static_cast<unsigned>(stats.gaps), static_cast<unsigned>(stats.overlaps),
                      static_cast<unsigned>(stats.pairsChecked), static_cast<long long>(stats.firstBreakFrame),
                      static_cast<long long>(stats.firstBreakStart),
                      static_cast<long long>(stats.firstBreakPreviousEnd));
}

// The capture itself; fills the summary as it goes and returns the exit
// status, with `error` set on failure.
int Capture(const CaptureOptions& options, const char* keyPath, CaptureSummary* summary, std::wstring* error) {
    summary->Add(L"device", options.deviceName);
    summary->Add(L"requested_size",
                 options.width > 0 ? FormatText(L"%dx%d", options.width, options.height) : std::wstring(L"current"));
    summary->Add(L"requested_fps", options.frameRate > 0.0 ? FormatText(L"%.3f", options.frameRate)
                                                           : std::wstring(L"current"));
    summary->Add(L"requested_seconds", options.EffectiveSeconds(), 3);
    summary->Add(L"requested_frames", static_cast<long long>(options.frames));

    ComPtr<IBaseFilter> device;
    if (FAILED(OpenDevice(options.deviceName, &device, error))) {
        return kExitFailure;
    }
    ComPtr<IPin> capturePin;
    HRESULT hr = FindCapturePin(device.Get(), &capturePin);
    if (FAILED(hr)) {
        *error = L"\"" + options.deviceName + L"\" has no output pin: " + DescribeHresult(hr);
        return kExitFailure;
    }

    // Without a format asked for, the grabber takes what the device sends
    // when the client reads it, and RGB24 (through a converter the graph
    // finds) otherwise.
    GUID grabberSubtype = options.format ? SubtypeOfSampleFormat(*options.format) : MEDIASUBTYPE_RGB24;
    ComPtr<IAMStreamConfig> config;
    if (SUCCEEDED(FindStreamConfig(device.Get(), capturePin.Get(), &config))) {
        FormatRequest request;
        request.width = options.width;
        request.height = options.height;
        request.frameRate = options.frameRate;
        request.subtype = options.format ? grabberSubtype : GUID_NULL;
        UniqueMediaType chosen;
        std::wstring why;
        hr = ChooseStreamFormat(config.Get(), request, &chosen, &why);
        if (FAILED(hr)) {
            *error = L"cannot set the format of \"" + options.deviceName + L"\": " + why;
            return kExitFailure;
        }
        SampleFormat sent = SampleFormat::kRgb24;
        if (!options.format && SampleFormatOfSubtype(chosen->subtype, &sent)) {
            grabberSubtype = chosen->subtype;
        }
    } else if (options.width > 0 || options.frameRate > 0.0 || options.format) {
        *error = L"\"" + options.deviceName + L"\" offers no IAMStreamConfig to choose a size, format or frame rate with";
        return kExitFailure;
    }

    if (!options.save.Empty()) {
        hr = EnsureDirectory(options.outputDir);
        if (FAILED(hr)) {
            *error = L"cannot create the output folder \"" + options.outputDir + L"\": " + DescribeHresult(hr);
            return kExitFailure;
        }
    }

    CaptureGraph graph;
    std::wstring why;
    hr = graph.Build(device.Get(), capturePin.Get(), grabberSubtype, options.noClock, &why);
    if (FAILED(hr)) {
        *error = why.empty() ? L"cannot build the capture graph: " + DescribeHresult(hr) : why;
        return kExitFailure;
    }
    AM_MEDIA_TYPE connected = {};
    hr = graph.GetConnectedType(&connected);
    SampleLayout layout;
    VideoFormatView view;
    const bool usable = SUCCEEDED(hr) && GetVideoFormatView(connected, &view) &&
                        SampleLayoutFromHeader(*view.header, &layout);
    const std::wstring connectedText = SUCCEEDED(hr) ? DescribeFormat(connected) : std::wstring(L"unknown");
    const REFERENCE_TIME avgTimePerFrame = usable ? *view.avgTimePerFrame : 0;
    FreeMediaTypeContents(&connected);
    if (!usable) {
        *error = L"the device delivers " + connectedText + L", which is not RGB24, RGB32, NV12, YUY2 or I420";
        return kExitFailure;
    }
    WriteStdout(L"device: " + options.deviceName + L"\nformat: " + connectedText + L"\n");
    // What the camera's settings say it shows, as the device reads them.
    const CCaptureSettings stored(keyPath);
    const CCaptureSettings::Snapshot settings = stored.GetSnapshot();
    WriteStdout(L"shows: " + DescribeSource(settings) + L"\npointer: " + DescribePointer(settings) +
                L"\nmethod: " + DescribeMethod(settings) + L"\n");
    summary->AddSource(settings);
    const std::wstring log = DiagnosticLogText();
    WriteStdout(L"diagnostic log: " + log + L"\n");
    summary->Add(L"diagnostic_log", log);
    summary->Add(L"width", static_cast<long long>(layout.width));
    summary->Add(L"height", static_cast<long long>(layout.height));
    summary->Add(L"subtype", SampleFormatName(layout.format));
    summary->Add(L"avg_time_per_frame", static_cast<long long>(avgTimePerFrame));
    summary->Add(L"format_fps", FrameRateText(avgTimePerFrame));

    const double seconds = options.EffectiveSeconds();
    const double expectedRate = avgTimePerFrame > 0 ? 1e7 / static_cast<double>(avgTimePerFrame) : kFallbackFrameRate;
    // Room for the frames the capture should see, within reason: a large
    // --frames must not reserve gigabytes up front.
    size_t expectedFrames = std::min<size_t>(options.frames == 0 ? kMaxReservedFrames : options.frames,
                                             kMaxReservedFrames);
    if (seconds > 0.0) {
        const double estimate = std::min(seconds * expectedRate * 2.0 + 64.0, static_cast<double>(kMaxReservedFrames));
        expectedFrames = std::min(expectedFrames, static_cast<size_t>(estimate));
    }
    ComPtr<FrameGrabber> grabber;
    grabber.Attach(new FrameGrabber(SampleBytes(layout), options.save, options.frames, expectedFrames,
                                    kKeepBytesLimit));

    CaptureWaitResult waited;
    hr = graph.Capture(grabber.Get(), seconds, options.stallSeconds, &waited);
    const HRESULT stopped = graph.Stop();
    if (FAILED(hr)) {
        *error = L"cannot run the capture graph: " + DescribeHresult(hr);
        return kExitFailure;
    }
    if (FAILED(stopped)) {
        *error = L"cannot stop the capture graph: " + DescribeHresult(stopped);
        return kExitFailure;
    }

    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    const FrameStatistics stats = ComputeFrameStatistics(grabber->Timings(), frequency.QuadPart);

    std::wstring report = FormatText(L"captured: %u frames in %.3f s (stopped by: %ls)\n",
                                     static_cast<unsigned>(stats.frames), waited.elapsedSeconds,
                                     CaptureStopName(waited.stop));
    report += FormatText(L"delivered frame rate: %.2f fps (from arrival times)\n", stats.deliveredFps);
    if (stats.frames >= 3) {
        report += FormatText(L"from the second frame on: %.2f fps (first interval %.3f ms: the graph's start)\n",
                             stats.steadyFps, stats.firstArrivalIntervalMs);
    }
    report += FormatText(L"timestamp frame rate: %.2f fps (from sample start times)\n", stats.timestampFps);
    report += IntervalLine(L"sample times", stats.sampleIntervals);
    report += IntervalLine(L"arrival times", stats.arrivalIntervals);
    report += ContiguityLine(stats);
    if (stats.framesWithoutTime > 0) {
        report += FormatText(L"frames without a timestamp: %u\n", static_cast<unsigned>(stats.framesWithoutTime));
    }
    if (grabber->ShortFrames() > 0) {
        report += FormatText(L"frames shorter than the picture (not saved): %u\n", grabber->ShortFrames());
    }
    if (grabber->LostFrames() > 0) {
        report += FormatText(L"frames not recorded (out of memory): %u\n", grabber->LostFrames());
    }
    WriteStdout(report);

    summary->Add(L"frames", static_cast<long long>(stats.frames));
    summary->Add(L"elapsed_seconds", waited.elapsedSeconds, 3);
    summary->Add(L"stop_reason", CaptureStopName(waited.stop));
    summary->Add(L"delivered_fps", stats.deliveredFps, 3);
    summary->Add(L"steady_fps", stats.steadyFps, 3);
    summary->Add(L"first_arrival_interval_ms", stats.firstArrivalIntervalMs, 3);
    summary->Add(L"timestamp_fps", stats.timestampFps, 3);
    summary->AddIntervals(L"sample_interval", stats.sampleIntervals);
    summary->AddIntervals(L"arrival_interval", stats.arrivalIntervals);
    summary->Add(L"frames_without_time", static_cast<long long>(stats.framesWithoutTime));
    summary->Add(L"timestamp_pairs_checked", static_cast<long long>(stats.pairsChecked));
    summary->Add(L"timestamp_gaps", static_cast<long long>(stats.gaps));
    summary->Add(L"timestamp_overlaps", static_cast<long long>(stats.overlaps));
    summary->Add(L"timestamps_contiguous", stats.Contiguous() ? L"yes" : L"no");
    summary->Add(L"short_frames", static_cast<long long>(grabber->ShortFrames()));
    summary->Add(L"lost_frames", static_cast<long long>(grabber->LostFrames()));

    // Frames go to disk only now, so that encoding never slows the stream.
    std::vector<KeptFrame>& kept = grabber->KeptFrames();
    struct ToSave {
        uint32_t index;
        const BYTE* pixels;
    };
    std::vector<ToSave> toSave;
    for (const KeptFrame& frame : kept) {
        toSave.push_back({frame.index, frame.pixels.data()});
    }
    if (options.save.last && grabber->LatestIndex() >= 0) {
        const auto latest = static_cast<uint32_t>(grabber->LatestIndex());
        const bool already = std::any_of(toSave.begin(), toSave.end(),
                                         [latest](const ToSave& s) { return s.index == latest; });
        if (!already) {
            toSave.push_back({latest, grabber->LatestPixels().data()});
        }
    }
    // Every format becomes top-down BGR24 first, into one picture reused
    // for every frame: the PNG and the mean level show what a host of that
    // format sees.
    FrameLayout picture;
    picture.width = layout.width;
    picture.height = layout.height;
    picture.bitsPerPixel = 24;
    picture.bottomUp = false;
    picture.stride = static_cast<size_t>(DibStride(layout.width, picture.bitsPerPixel));
    std::vector<BYTE> bgr(toSave.empty() ? 0 : picture.ImageSize());
    bool saveFailed = false;
    long long savedCount = 0;
    for (const ToSave& frame : toSave) {
        const std::wstring path = FramePath(options, frame.index);
        hr = ConvertToBgr24(layout, frame.pixels, SampleBytes(layout), bgr.data(), picture.stride, bgr.size());
        if (SUCCEEDED(hr)) {
            hr = SaveFrameAsPng(path, picture, bgr.data());
        }
        if (FAILED(hr)) {
            PrintError(L"cannot write " + path + L": " + DescribeHresult(hr));
            saveFailed = true;
            continue;
        }
        const double level = MeanLevel(picture, bgr.data());
        WriteStdout(FormatText(L"saved: %ls (frame %u, mean level %.1f)\n", path.c_str(), frame.index, level));
        const std::wstring key = FormatText(L"saved.%lld.", savedCount++);
        summary->Add(key + L"frame", static_cast<long long>(frame.index));
        summary->Add(key + L"file", path);
        summary->Add(key + L"mean_level", level, 1);
    }
    summary->Add(L"saved_count", savedCount);
    if (grabber->FramesNotKept() > 0) {
        PrintError(FormatText(L"%u chosen frames were not saved: the copies would exceed %u MiB",
                              grabber->FramesNotKept(), static_cast<unsigned>(kKeepBytesLimit >> 20)));
    }
    summary->Add(L"frames_not_saved", static_cast<long long>(grabber->FramesNotKept()));

    if (waited.stop == CaptureStop::kGraphError) {
        *error = FormatText(L"the graph stopped with event 0x%lX: ", waited.eventCode) +
                 DescribeHresult(waited.eventResult);
        return kExitFailure;
    }
    if (waited.stop == CaptureStop::kStalled) {
        *error = FormatText(L"no frame arrived for %.1f s", options.stallSeconds);
        return kExitFailure;
    }
    if (stats.frames == 0) {
        *error = L"no frames were delivered";
        return kExitFailure;
    }
    if (grabber->LostFrames() > 0) {
        *error = FormatText(L"%u frames were not recorded: out of memory", grabber->LostFrames());
        return kExitFailure;
    }
    if (saveFailed || grabber->FramesNotKept() > 0) {
        *error = L"not every chosen frame was saved";
        return kExitFailure;
    }
    return kExitSuccess;
}

int RunCapture(const CaptureOptions& options, const char* keyPath) {
    CaptureSummary summary;
    std::wstring error;
    int status = Capture(options, keyPath, &summary, &error);
    if (status != kExitSuccess) {
        PrintError(error);
    }
    summary.Add(L"result", status == kExitSuccess ? L"ok" : L"failed");
    if (!error.empty()) {
        summary.Add(L"error", error);
    }
    if (!options.summaryFile.empty()) {
        const HRESULT hr = summary.Save(options.summaryFile);
        if (FAILED(hr)) {
            PrintError(L"cannot write the summary " + options.summaryFile + L": " + DescribeHresult(hr));
            status = kExitFailure;
        }
    }
    return status;
}

}  // namespace

std::wstring DescribeHresult(HRESULT hr) {
    std::wstring text = FormatText(L"0x%08lX", static_cast<unsigned long>(hr));
    wchar_t* message = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (length != 0 && message != nullptr) {
        std::wstring detail(message, length);
        while (!detail.empty() && (detail.back() == L'\n' || detail.back() == L'\r' || detail.back() == L' ' ||
                                   detail.back() == L'.')) {
            detail.pop_back();
        }
        if (!detail.empty()) {
            text += L": " + detail;
        }
    }
    ::LocalFree(message);
    return text;
}

int RunCaptureClient(const CaptureOptions& given, const std::wstring& commandLine) {
    if (given.action == CaptureAction::kCheck && given.StoresSettings()) {
        PrintError(L"--check changes no settings: give the options that store them in a run of their own");
        return kExitUsage;
    }
    switch (given.action) {
    case CaptureAction::kListCameras:
    case CaptureAction::kAddCamera:
    case CaptureAction::kRemoveCamera:
    case CaptureAction::kRenameCamera:
        return RunCameraCommand(given, commandLine);
    case CaptureAction::kCapture:
    case CaptureAction::kListDevices:
    case CaptureAction::kListCapabilities:
    case CaptureAction::kShowProperties:
    case CaptureAction::kListWindows:
    case CaptureAction::kListMonitors:
    case CaptureAction::kStoreSettings:
    case CaptureAction::kCheck:
        break;
    }
    // --camera: its settings are stored, and it is the device.
    ChosenCamera camera;
    std::wstring cameraError;
    if (!ResolveCamera(given, &camera, &cameraError)) {
        PrintError(cameraError);
        return kExitFailure;
    }
    CaptureOptions options = given;
    options.deviceName = camera.name;
    if (options.StoresSettings()) {
        std::wstring report;
        std::wstring error;
        if (StoreWindowSettings(options, &report, &error, camera.settings.text) != kExitSuccess) {
            PrintError(error);
            return kExitFailure;
        }
        WriteStdout(report);
    }
    switch (options.action) {
    case CaptureAction::kStoreSettings:
        return kExitSuccess;
    case CaptureAction::kListWindows:
        return ListWindows(camera.settings.text);
    case CaptureAction::kListMonitors:
        return ListMonitorsOfSystem(camera.settings.text);
    case CaptureAction::kListDevices:
        return ListDevices();
    case CaptureAction::kListCapabilities:
        return ListCapabilities(options);
    case CaptureAction::kShowProperties:
        return ShowProperties(options);
    case CaptureAction::kCapture:
        return RunCapture(options, camera.settings.text);
    case CaptureAction::kCheck:
        return RunSelfCheck(options.deviceName);
    case CaptureAction::kListCameras:
    case CaptureAction::kAddCamera:
    case CaptureAction::kRemoveCamera:
    case CaptureAction::kRenameCamera:
        break;
    }
    return kExitFailure;
}

int CaptureClientMain(const std::vector<std::wstring>& args) {
    CaptureOptions options;
    std::wstring error;
    switch (ParseCaptureOptions(args, &options, &error)) {
    case ParseStatus::kHelp:
        WriteStdout(CaptureUsageText());
        return kExitSuccess;
    case ParseStatus::kVersion:
        WriteStdout(CaptureVersionText());
        return kExitSuccess;
    case ParseStatus::kUsageError:
        PrintError(error);
        WriteStderr(std::wstring(L"Try '") + kProgram + L" --help' for more information.\n");
        return kExitUsage;
    case ParseStatus::kOk:
        break;
    }

    // Property frames and the graph's own windows want a single-threaded
    // apartment; the wait loop pumps its messages.
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        PrintError(L"cannot initialise COM: " + DescribeHresult(hr));
        return kExitFailure;
    }
    // The arguments again, quoted, for a run with administrator rights.
    std::wstring commandLine;
    for (const std::wstring& arg : args) {
        commandLine += (commandLine.empty() ? L"" : L" ") + QuoteArgument(arg);
    }
    const int status = RunCaptureClient(options, commandLine);
    ::CoUninitialize();
    return status;
}

}  // namespace qmcapture
