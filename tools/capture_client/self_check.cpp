#include "tools/capture_client/self_check.h"

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "framework/com_util.h"
#include "framework/diagnostic_log.h"
#include "ring/frame_ring.h"
#include "settings/camera_list.h"
#include "settings/capture_settings.h"
#include "settings/settings_store.h"
#include "settings/settings_values.h"
#include "tools/camera_app/single_instance.h"
#include "tools/capture_client/camera_commands.h"
#include "tools/capture_client/capture_client.h"
#include "tools/capture_client/capture_graph.h"
#include "tools/capture_client/console_output.h"
#include "tools/capture_client/frame_grabber.h"
#include "tools/capture_client/frame_statistics.h"
#include "tools/capture_client/source_description.h"
#include "tools/capture_client/stream_format.h"
#include "tools/capture_client/video_device.h"
#include "tools/capture_client/window_settings.h"
#include "tools/capture_client/yuv_frame.h"
#include "window/graphics_capture_reader.h"
#include "window/monitor_list.h"
#include "window/window_capture.h"
#include "window/window_search.h"

using Microsoft::WRL::ComPtr;

namespace qmcapture {

namespace {

constexpr wchar_t kClientProgram[] = L"qmcapture.exe";
constexpr wchar_t kX86[] = L"x86";
constexpr wchar_t kX64[] = L"x64";
// The other client's listing is a few lines; more than this is not read.
constexpr size_t kMaxChildOutputBytes = 64 * 1024;
// How often a running child is looked at for output and for its end.
constexpr DWORD kChildPollMs = 20;
// How long a child that was ended is given to go.
constexpr DWORD kChildEndMs = 5000;
constexpr double kFallbackFrameRate = 60.0;

struct LibraryTraits {
    using Type = HMODULE;
    static Type Null() { return nullptr; }
    static void Close(Type module) { ::FreeLibrary(module); }
};
using UniqueLibrary = UniqueResource<LibraryTraits>;

const wchar_t* ProgramArchitecture() { return sizeof(void*) == 8 ? kX64 : kX86; }

bool SystemIs64Bit() {
    SYSTEM_INFO native = {};
    ::GetNativeSystemInfo(&native);
    return native.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
}

std::wstring SystemArchitecture() {
    SYSTEM_INFO native = {};
    ::GetNativeSystemInfo(&native);
    switch (native.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
        return kX64;
    case PROCESSOR_ARCHITECTURE_INTEL:
        return kX86;
    case PROCESSOR_ARCHITECTURE_ARM64:
        return L"ARM64";
    default:
        break;
    }
    return FormatText(L"unknown (%u)", static_cast<unsigned>(native.wProcessorArchitecture));
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring HandleText(HWND window) {
    return FormatText(L"0x%08llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ProgramPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            return std::wstring(path.data(), length);
        }
        path.resize(path.size() * 2);
    }
}

// A text value of the system's version key (64-bit view); empty when absent.
std::wstring VersionValue(HKEY key, const wchar_t* name) {
    wchar_t text[256] = {};
    DWORD bytes = sizeof(text) - sizeof(wchar_t);
    if (::RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text, &bytes) != ERROR_SUCCESS) {
        return {};
    }
    return text;
}

// "10.0.22631.2861 (Windows 11 Pro, 23H2)": the kernel's own numbers (the
// version functions of kernel32 answer what the program's manifest allows)
// and the names the system's version key gives.
std::wstring WindowsVersion() {
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto getVersion = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(ntdll != nullptr ? ::GetProcAddress(ntdll, "RtlGetVersion") : nullptr));
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (getVersion == nullptr || getVersion(&version) != 0) {
        return L"unknown (RtlGetVersion is not available)";
    }
    std::wstring text = FormatText(L"%lu.%lu.%lu", version.dwMajorVersion, version.dwMinorVersion,
                                   version.dwBuildNumber);
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) == ERROR_SUCCESS) {
        DWORD revision = 0;
        DWORD bytes = sizeof(revision);
        if (::RegGetValueW(key.get(), nullptr, L"UBR", RRF_RT_REG_DWORD, nullptr, &revision, &bytes) ==
            ERROR_SUCCESS) {
            text += FormatText(L".%lu", revision);
        }
        std::wstring names = VersionValue(key.get(), L"ProductName");
        const std::wstring release = VersionValue(key.get(), L"DisplayVersion");
        if (!release.empty()) {
            names += (names.empty() ? L"" : L", ") + release;
        }
        if (!names.empty()) {
            text += L" (" + names + L")";
        }
    }
    return text;
}

// Wine's version when the program runs under Wine; empty on Windows.
std::wstring WineVersion() {
    using WineGetVersionFunction = const char*(CDECL*)();
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto getVersion = reinterpret_cast<WineGetVersionFunction>(
        reinterpret_cast<void*>(ntdll != nullptr ? ::GetProcAddress(ntdll, "wine_get_version") : nullptr));
    const char* version = getVersion != nullptr ? getVersion() : nullptr;
    return version != nullptr ? FromUtf8(version) : std::wstring();
}

// A system library, from the system folder only.
UniqueLibrary LoadSystemLibrary(const wchar_t* name, DWORD* error) {
    UniqueLibrary library(::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!library && ::GetLastError() == ERROR_INVALID_PARAMETER) {
        // Windows 7 without the update that knows the search flags.
        library.reset(::LoadLibraryW(name));
    }
    *error = library ? ERROR_SUCCESS : ::GetLastError();
    return library;
}

// What one run of another program printed and how it ended.
struct ChildRun {
    bool timedOut = false;
    DWORD exitCode = 0;
    std::string output;
};

// Moves what the pipe holds now into `output`, without waiting for more.
void DrainPipe(HANDLE pipe, std::string* output) {
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) {
            return;
        }
        DWORD read = 0;
        const DWORD wanted = std::min<DWORD>(available, sizeof(buffer));
        if (!::ReadFile(pipe, buffer, wanted, &read, nullptr) || read == 0) {
            return;
        }
        if (output->size() < kMaxChildOutputBytes) {
            output->append(buffer, std::min<size_t>(read, kMaxChildOutputBytes - output->size()));
        }
    }
}

// Runs `program` with `arguments`, reading its standard output, and ends
// it when it runs longer than `timeoutMs`.
HRESULT RunBounded(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs, ChildRun* run) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    RETURN_HR_IF(HResultFromLastError(), !::CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    const UniqueHandle outRead(readEnd);
    UniqueHandle outWrite(writeEnd);
    ::SetHandleInformation(outRead.get(), HANDLE_FLAG_INHERIT, 0);
    UniqueHandle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     OPEN_EXISTING, 0, nullptr));
    if (input.get() == INVALID_HANDLE_VALUE) {
        input.release();
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = outWrite.get();
    startup.hStdError = outWrite.get();
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = QuoteArgument(program) + L" " + arguments;
    RETURN_HR_IF(HResultFromLastError(),
                 !::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                   nullptr, nullptr, &startup, &process));
    const UniqueHandle processHandle(process.hProcess);
    const UniqueHandle threadHandle(process.hThread);
    // Only the child's copy of the write end may stay, so that the pipe
    // ends with it.
    outWrite.reset();

    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        DrainPipe(outRead.get(), &run->output);
        if (::WaitForSingleObject(processHandle.get(), kChildPollMs) == WAIT_OBJECT_0) {
            DrainPipe(outRead.get(), &run->output);
            break;
        }
        if (::GetTickCount64() >= deadline) {
            ::TerminateProcess(processHandle.get(), ERROR_TIMEOUT);
            ::WaitForSingleObject(processHandle.get(), kChildEndMs);
            run->timedOut = true;
            return S_OK;
        }
    }
    RETURN_HR_IF(HResultFromLastError(), !::GetExitCodeProcess(processHandle.get(), &run->exitCode));
    return S_OK;
}

// Whether a --list output names the device: a line "  N  NAME".
bool ListingNames(const std::wstring& listing, const std::wstring& deviceName) {
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = listing.size();
        }
        std::wstring line = listing.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == L'\r' || line.back() == L' ')) {
            line.pop_back();
        }
        size_t at = line.find_first_not_of(L' ');
        const size_t digits = at == std::wstring::npos ? at : line.find_first_not_of(L"0123456789", at);
        if (digits == std::wstring::npos || digits == at) {
            continue;
        }
        at = line.find_first_not_of(L' ', digits);
        if (at != std::wstring::npos && at > digits &&
            ::CompareStringOrdinal(line.c_str() + at, -1, deviceName.c_str(), -1, TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

std::wstring RectText(const RECT& rect) {
    return FormatText(L"%ldx%ld at %ld,%ld", static_cast<long>(rect.right - rect.left),
                      static_cast<long>(rect.bottom - rect.top), static_cast<long>(rect.left),
                      static_cast<long>(rect.top));
}

// What a camera's settings say it shows.
std::wstring DescribeSource(const CCaptureSettings::Values& values, const std::vector<MonitorInfo>& monitors) {
    std::wstring text;
    switch (values.sourceKind) {
    case SourceKind::Monitor: {
        const MonitorInfo* chosen =
            ChooseMonitor(monitors.data(), static_cast<int>(monitors.size()), values.sourceMonitor);
        text = L"monitor";
        if (values.sourceMonitor[0] != L'\0') {
            text += L" " + Quoted(values.sourceMonitor);
        }
        if (chosen == nullptr) {
            text += L", no monitor found (the standby frame)";
        } else if (values.sourceMonitor[0] == L'\0') {
            text += L", the primary " + Quoted(chosen->deviceName) + L" " + RectText(chosen->rect);
        } else if (::CompareStringOrdinal(chosen->deviceName, -1, values.sourceMonitor, -1, TRUE) == CSTR_EQUAL) {
            text += L" " + RectText(chosen->rect);
        } else {
            text += L" is not there: the primary " + Quoted(chosen->deviceName) + L" " + RectText(chosen->rect) +
                    L" is shown";
        }
        break;
    }
    case SourceKind::Region: {
        const StoredRect& region = values.sourceRegion;
        if (region.Empty()) {
            text = L"region, none stored (the standby frame)";
            break;
        }
        const RECT area = {region.x, region.y, region.x + region.width, region.y + region.height};
        bool onMonitor = false;
        for (const MonitorInfo& monitor : monitors) {
            RECT common;
            onMonitor = onMonitor || ::IntersectRect(&common, &area, &monitor.rect) != FALSE;
        }
        text = L"region " + RectangleText(region) +
               (onMonitor ? L"" : L" (on no monitor: it reads black)");
        break;
    }
    case SourceKind::Window:
        text = L"window, class " + Quoted(values.windowClass) + L", " +
               (values.windowName[0] == L'\0' ? std::wstring(L"any title") : L"title " + Quoted(values.windowName)) +
               L", " +
               (values.windowProgram[0] == L'\0' ? std::wstring(L"any program")
                                                 : L"program " + Quoted(values.windowProgram)) +
               L"; " +
               (values.cropRect.Empty() ? std::wstring(L"the whole client area")
                                        : L"crop " + RectangleText(values.cropRect));
        break;
    }
    text += ShowsCursor(values.showCursor, values.sourceKind) ? L"; pointer on" : L"; pointer off";
    return text;
}

std::wstring AvailabilityText(GraphicsCaptureAvailability availability) {
    return FromUtf8(DescribeGraphicsCaptureAvailability(availability));
}

// Reads the window a few times as the device would, and says by which
// method it reads it and what the reads gave.
std::wstring DescribeMethod(HWND window, const CCaptureSettings::Values& values) {
    CWindowCapture capture;
    // On a capture thread of its own, so that a hung window costs a read's
    // deadline and not the check.
    const HRESULT started = capture.Start();
    if (FAILED(started)) {
        return std::wstring(CaptureMethodName(values.captureMethod)) + L", not read: " + DescribeHresult(started);
    }
    CaptureRequest request;
    request.window = window;
    request.method = values.captureMethod;
    request.crop = values.cropRect;
    CWindowCapture::Outcome outcome = CWindowCapture::Outcome::KeepPrevious;
    bool pictureRead = false;
    for (int read = 0; read < CSelfCheck::kWindowReads; ++read) {
        outcome = capture.Read(request, CSelfCheck::kWindowReadMs, nullptr);
        pictureRead = pictureRead || outcome == CWindowCapture::Outcome::Picture;
    }
    const CaptureMethod autoMethod = capture.AutoMethodInUse();
    const GraphicsCaptureAvailability graphics = capture.GraphicsAvailabilityFound();
    capture.Stop();
    capture.WaitUntilEnded();

    std::wstring text = CaptureMethodName(values.captureMethod);
    if (values.captureMethod == CaptureMethod::Auto) {
        text += std::wstring(L", by ") + CaptureMethodName(autoMethod) + L" now";
    } else if (values.captureMethod == CaptureMethod::Graphics &&
               graphics != GraphicsCaptureAvailability::Available &&
               graphics != GraphicsCaptureAvailability::Unknown) {
        text += L", not available (" + AvailabilityText(graphics) + L"): read as auto, by " +
                CaptureMethodName(autoMethod) + L" now";
    }
    if (outcome == CWindowCapture::Outcome::Standby) {
        text += L" (nothing to show: the window is minimised, empty or cropped away)";
    } else if (pictureRead) {
        text += L" (a picture was read)";
    } else {
        text += FormatText(L" (no picture in %d reads of %lu ms each)", CSelfCheck::kWindowReads,
                           static_cast<unsigned long>(CSelfCheck::kWindowReadMs));
    }
    return text;
}

std::wstring WindowText(const WindowMatch& match) {
    std::vector<wchar_t> title(static_cast<size_t>(std::max(0, ::GetWindowTextLengthW(match.window))) + 1);
    // The system's copy of another process's title: no message is sent.
    ::GetWindowTextW(match.window, title.data(), static_cast<int>(title.size()));
    wchar_t program[MAX_PATH] = {};
    const bool knowsProgram = ProgramOfWindow(match.window, program, MAX_PATH);
    std::wstring text = HandleText(match.window) + L" " + Quoted(title.data());
    if (knowsProgram) {
        text += std::wstring(L" (") + program + L")";
    }
    text += std::wstring(L", found by ") + WindowMatchRuleName(match.rule);
    if (!match.visible) {
        text += L", hidden (the standby frame until it is shown)";
    }
    return text;
}

}  // namespace

// What the stream thread finds. The thread writes it and then sets
// `finished`; the check reads it only after that, or never (a thread that
// does not come back keeps its own reference).
struct CSelfCheck::StreamRun {
    // Whether the device was created: a hang before it is a device that
    // cannot be created, after it one that sends no frames.
    std::atomic<bool> created{false};
    UniqueHandle finished{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

    int status = kExitSuccess;
    std::wstring error;
    SampleLayout layout;
    REFERENCE_TIME avgTimePerFrame = 0;
    // The graph ran and stopped: the figures below are the stream's.
    bool ran = false;
    FrameStatistics stats;
    CaptureWaitResult waited;
};

namespace {

// Opens the device, builds the client's capture graph on the device's
// current format (no format is set: that would store it) and streams.
void Stream(const std::wstring& deviceName, CSelfCheck::StreamRun* run) {
    ComPtr<IBaseFilter> device;
    HRESULT hr = OpenVideoInputDevice(deviceName, &device);
    if (FAILED(hr)) {
        run->status = kExitCheckNotCreated;
        run->error = hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
                         ? Quoted(deviceName) + L" is not among the video input devices"
                         : Quoted(deviceName) + L" cannot be created: " + DescribeHresult(hr);
        return;
    }
    run->created.store(true);
    run->status = kExitCheckNoFrames;
    ComPtr<IPin> pin;
    hr = FindCapturePin(device.Get(), &pin);
    if (FAILED(hr)) {
        run->error = L"the device has no output pin: " + DescribeHresult(hr);
        return;
    }
    // The grabber takes the device's current format when the client reads
    // it, else RGB24 through a converter the graph finds.
    GUID subtype = MEDIASUBTYPE_RGB24;
    ComPtr<IAMStreamConfig> config;
    if (SUCCEEDED(FindStreamConfig(device.Get(), pin.Get(), &config))) {
        AM_MEDIA_TYPE* raw = nullptr;
        if (SUCCEEDED(config->GetFormat(&raw)) && raw != nullptr) {
            const UniqueMediaType current(raw);
            SampleFormat format = SampleFormat::kRgb24;
            if (SampleFormatOfSubtype(current->subtype, &format)) {
                subtype = current->subtype;
            }
        }
    }

    ComPtr<FrameGrabber> grabber;
    CaptureGraph graph;
    std::wstring why;
    hr = graph.Build(device.Get(), pin.Get(), subtype, false, &why);
    if (FAILED(hr)) {
        run->error = why.empty() ? L"the capture graph cannot be built: " + DescribeHresult(hr) : why;
        return;
    }
    AM_MEDIA_TYPE connected = {};
    hr = graph.GetConnectedType(&connected);
    VideoFormatView view;
    const bool usable =
        SUCCEEDED(hr) && GetVideoFormatView(connected, &view) && SampleLayoutFromHeader(*view.header, &run->layout);
    const std::wstring connectedText = SUCCEEDED(hr) ? DescribeFormat(connected) : std::wstring(L"unknown");
    run->avgTimePerFrame = usable ? *view.avgTimePerFrame : 0;
    FreeMediaTypeContents(&connected);
    if (!usable) {
        run->error = L"the device delivers " + connectedText + L", which the client does not read";
        return;
    }

    const double rate = run->avgTimePerFrame > 0 ? 1e7 / static_cast<double>(run->avgTimePerFrame)
                                                 : kFallbackFrameRate;
    const auto expectedFrames = static_cast<size_t>(CSelfCheck::kStreamSeconds * rate * 2.0 + 64.0);
    grabber.Attach(new FrameGrabber(SampleBytes(run->layout), FrameSelection{}, 0, expectedFrames, 0));
    hr = graph.Capture(grabber.Get(), CSelfCheck::kStreamSeconds, CSelfCheck::kStreamSeconds, &run->waited);
    const HRESULT stopped = graph.Stop();
    if (FAILED(hr)) {
        run->error = L"the capture graph cannot run: " + DescribeHresult(hr);
        return;
    }
    if (FAILED(stopped)) {
        run->error = L"the capture graph cannot stop: " + DescribeHresult(stopped);
        return;
    }
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    run->stats = ComputeFrameStatistics(grabber->Timings(), frequency.QuadPart);
    run->ran = true;
    if (run->waited.stop == CaptureStop::kGraphError) {
        run->error = FormatText(L"the graph stopped with event 0x%lX: ", run->waited.eventCode) +
                     DescribeHresult(run->waited.eventResult);
        return;
    }
    if (run->stats.frames == 0) {
        run->error = L"no frames arrived";
        return;
    }
    run->status = kExitSuccess;
}

}  // namespace

CSelfCheck::CSelfCheck(std::wstring deviceName, LineSink sink) : m_deviceName(std::move(deviceName)), m_sink(sink) {}

CSelfCheck::~CSelfCheck() = default;

void CSelfCheck::Line(const std::wstring& name, const std::wstring& value) {
    const std::wstring line = name + L": " + value + L"\n";
    m_report += line;
    if (m_sink != nullptr) {
        m_sink(line);
    }
}

int CSelfCheck::Run() {
    CheckSystem();
    const bool registered = CheckArchitectures();
    int status = kExitCheckNotRegistered;
    if (registered) {
        status = CheckStream();
    } else {
        Line(L"stream", std::wstring(L"not run: the ") + ProgramArchitecture() + L" module is not registered");
    }
    CheckCameras();
    CheckMediaFoundation();
    CheckQmcamera();
    CheckGraphicsCapture();
    CheckDiagnosticLog();
    switch (status) {
    case kExitSuccess:
        Line(L"result", L"ok: the device streams (exit status 0)");
        break;
    case kExitCheckNotRegistered:
        Line(L"result", FormatText(L"the %ls module is not registered (exit status %d)", ProgramArchitecture(),
                                   kExitCheckNotRegistered));
        break;
    case kExitCheckNotCreated:
        Line(L"result",
             FormatText(L"the device is registered but cannot be created (exit status %d)", kExitCheckNotCreated));
        break;
    default:
        Line(L"result", FormatText(L"the device was created but sent no frames (exit status %d)", kExitCheckNoFrames));
        break;
    }
    return status;
}

void CSelfCheck::CheckSystem() {
    Line(L"qmcapture", CaptureVersionText().substr(0, CaptureVersionText().find(L'\n')) + L", " + ProgramPath());
    Line(L"windows", WindowsVersion());
    const std::wstring wine = WineVersion();
    if (!wine.empty()) {
        Line(L"wine", wine);
    }
    Line(L"program architecture", ProgramArchitecture());
    Line(L"system architecture", SystemArchitecture());
}

bool CSelfCheck::CheckArchitectures() {
    const bool system64 = SystemIs64Bit();
    bool ownRegistered = false;
    for (const wchar_t* architecture : {kX86, kX64}) {
        const std::wstring name = architecture;
        if (name == kX64 && !system64) {
            Line(name + L" module", L"not applicable (32-bit Windows)");
            Line(name + L" device listed", L"not applicable (32-bit Windows)");
            continue;
        }
        const std::wstring module = RegisteredModule(name == kX64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
        Line(name + L" module", module.empty() ? std::wstring(L"not registered")
                                               : L"registered, " + module +
                                                     (FileExists(module) ? L" (file present)" : L" (file missing)"));
        const bool own = name == ProgramArchitecture();
        if (!own) {
            Line(name + L" device listed", AskOtherClient(architecture, module));
            continue;
        }
        ownRegistered = !module.empty();
        std::vector<VideoDeviceInfo> devices;
        const HRESULT hr = ListVideoInputDevices(&devices);
        const bool listed = std::any_of(devices.begin(), devices.end(), [this](const VideoDeviceInfo& device) {
            return ::CompareStringOrdinal(device.friendlyName.c_str(), -1, m_deviceName.c_str(), -1, TRUE) ==
                   CSTR_EQUAL;
        });
        if (FAILED(hr)) {
            Line(name + L" device listed", L"not checked: the video input devices cannot be listed: " +
                                               DescribeHresult(hr));
        } else {
            Line(name + L" device listed",
                 listed ? L"yes, " + Quoted(m_deviceName) + L" (by this program)"
                        : FormatText(L"no: this program lists %u video input devices, none named ",
                                     static_cast<unsigned>(devices.size())) +
                              Quoted(m_deviceName));
        }
    }
    return ownRegistered;
}

std::wstring CSelfCheck::AskOtherClient(const wchar_t* architecture, const std::wstring& otherModule) {
    // Beside that architecture's module, else in the folder of its name
    // beside this program's folder: the installer and the zip both put
    // x86\ and x64\ side by side.
    std::vector<std::wstring> candidates;
    if (!otherModule.empty()) {
        candidates.push_back(FolderOf(otherModule) + L"\\" + kClientProgram);
    }
    const std::wstring sibling = FolderOf(FolderOf(ProgramPath())) + L"\\" + architecture;
    candidates.push_back(sibling + L"\\" + kClientProgram);
    const auto found = std::find_if(candidates.begin(), candidates.end(), FileExists);
    if (found == candidates.end()) {
        return std::wstring(L"not checked: no ") + architecture + L" " + kClientProgram +
               (otherModule.empty() ? std::wstring() : std::wstring(L" beside the ") + architecture + L" module or") +
               L" in " + sibling;
    }
    const std::wstring& client = *found;
    ChildRun run;
    const HRESULT hr = RunBounded(client, L"--list", kOtherClientTimeoutMs, &run);
    if (FAILED(hr)) {
        return L"not checked: " + client + L" cannot be started: " + DescribeHresult(hr);
    }
    if (run.timedOut) {
        return FormatText(L"not checked: %ls --list did not end within %lu s and was ended", client.c_str(),
                          static_cast<unsigned long>(kOtherClientTimeoutMs / 1000));
    }
    if (run.exitCode != static_cast<DWORD>(kExitSuccess)) {
        return FormatText(L"not checked: %ls --list failed (exit status %lu)", client.c_str(),
                          static_cast<unsigned long>(run.exitCode));
    }
    return ListingNames(FromUtf8(run.output), m_deviceName)
               ? L"yes, " + Quoted(m_deviceName) + L" (by " + client + L")"
               : L"no: " + client + L" --list does not name " + Quoted(m_deviceName);
}

int CSelfCheck::CheckStream() {
    Line(L"stream device", m_deviceName);
    auto run = std::make_shared<StreamRun>();
    if (!run->finished) {
        Line(L"stream", L"not run: " + DescribeHresult(HResultFromLastError()));
        return kExitCheckNoFrames;
    }
    const std::wstring deviceName = m_deviceName;
    std::thread thread([run, deviceName] {
        // The graph's own windows and the wait's message pump want a
        // single-threaded apartment of the thread's own.
        const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (FAILED(com)) {
            run->status = kExitCheckNotCreated;
            run->error = L"COM cannot be initialised: " + DescribeHresult(com);
        } else {
            Stream(deviceName, run.get());
            ::CoUninitialize();
        }
        ::SetEvent(run->finished.get());
    });
    const auto boundMs = static_cast<DWORD>(kStreamSeconds * 1000.0) + kStreamStartStopMs;
    // This thread is a single-threaded apartment: its messages are pumped
    // while it waits, so that no program that sends to every window waits
    // for it.
    HANDLE finished = run->finished.get();
    DWORD signalled = 0;
    if (::CoWaitForMultipleHandles(0, boundMs, 1, &finished, &signalled) != S_OK) {
        // It keeps its own reference to what it writes.
        thread.detach();
        m_leftThreadBehind = true;
        const bool created = run->created.load();
        Line(L"stream", FormatText(L"failed: no answer within %lu s %ls", static_cast<unsigned long>(boundMs / 1000),
                                   created ? L"(the graph hangs while starting or stopping)"
                                           : L"(creating the device hangs)"));
        return created ? kExitCheckNoFrames : kExitCheckNotCreated;
    }
    thread.join();

    if (run->layout.width > 0) {
        Line(L"stream format", FormatText(L"%ls, %ls fps", SampleFormatName(run->layout.format),
                                          FrameRateText(run->avgTimePerFrame).c_str()));
        Line(L"stream size", FormatText(L"%dx%d", run->layout.width, run->layout.height));
    }
    if (run->ran) {
        const FrameStatistics& stats = run->stats;
        Line(L"stream frames", FormatText(L"%u in %.2f s (stopped by: %ls)", static_cast<unsigned>(stats.frames),
                                          run->waited.elapsedSeconds, CaptureStopName(run->waited.stop)));
        if (stats.frames > 0) {
            Line(L"stream rate", FormatText(L"%.2f fps delivered, %.2f fps by the timestamps", stats.deliveredFps,
                                            stats.timestampFps));
            std::wstring timestamps;
            if (stats.pairsChecked == 0) {
                timestamps = L"not checked (fewer than two frames with start and end times)";
            } else if (stats.Contiguous()) {
                timestamps = FormatText(L"contiguous (%u pairs)", static_cast<unsigned>(stats.pairsChecked));
            } else {
                timestamps = FormatText(L"not contiguous (%u gaps, %u overlaps in %u pairs)",
                                        static_cast<unsigned>(stats.gaps), static_cast<unsigned>(stats.overlaps),
                                        static_cast<unsigned>(stats.pairsChecked));
            }
            Line(L"stream timestamps", timestamps);
        }
    }
    Line(L"stream", run->error.empty() ? std::wstring(L"ok") : L"failed: " + run->error);
    return run->status;
}

void CSelfCheck::CheckCameras() {
    const std::vector<MonitorInfo> monitors = ListMonitors();
    for (int camera = kFirstCamera; camera <= kMaxCameras; ++camera) {
        wchar_t name[kCameraNameCapacity] = {};
        if (CCameraList::GetName(camera, name, kCameraNameCapacity) != S_OK) {
            continue;
        }
        const std::wstring key = FormatText(L"camera %d", camera);
        Line(key, name);
        // Read as the device reads them; nothing is written.
        const CCaptureSettings settings(SettingsPathOfCamera(camera).text);
        const auto values = std::make_unique<CCaptureSettings::Values>(settings.GetSnapshot());
        Line(key + L" source", DescribeSource(*values, monitors));
        if (values->sourceKind != SourceKind::Window) {
            Line(key + L" window", values->sourceKind == SourceKind::Monitor
                                       ? L"none looked for (the camera shows a monitor)"
                                       : L"none looked for (the camera shows a region of the screen)");
            Line(key + L" method", L"copy from the screen");
            continue;
        }
        const WindowMatch match = FindCaptureWindow(values->Identity());
        if (match.window == nullptr) {
            Line(key + L" window", L"none: no open window matches (the standby frame)");
            continue;
        }
        Line(key + L" window", WindowText(match));
        Line(key + L" method", DescribeMethod(match.window, *values));
    }
}

void CSelfCheck::CheckMediaFoundation() {
    DWORD error = ERROR_SUCCESS;
    const UniqueLibrary platform = LoadSystemLibrary(L"mfplat.dll", &error);
    Line(L"media foundation", platform ? std::wstring(L"present (mfplat.dll loads)")
                                       : FormatText(L"absent (mfplat.dll does not load: error %lu)", error));
    const UniqueLibrary sensorGroup = LoadSystemLibrary(L"mfsensorgroup.dll", &error);
    std::wstring virtualCamera;
    if (!sensorGroup) {
        virtualCamera = FormatText(L"not available (mfsensorgroup.dll does not load: error %lu)", error);
    } else if (::GetProcAddress(sensorGroup.get(), "MFCreateVirtualCamera") == nullptr) {
        virtualCamera = L"not available (mfsensorgroup.dll has no MFCreateVirtualCamera)";
    } else {
        virtualCamera = L"available (mfsensorgroup.dll has MFCreateVirtualCamera)";
    }
    Line(L"windows 11 virtual camera", virtualCamera);
}

void CSelfCheck::CheckQmcamera() {
    frame_ring::OwnerSid user = {};
    HRESULT hr = frame_ring::ProcessUserSid(&user);
    if (SUCCEEDED(hr)) {
        hr = qmcamera::CSingleInstance::IsRunning(frame_ring::kGlobalPrefix, user);
    }
    if (hr == S_OK) {
        Line(L"qmcamera", L"running");
    } else if (hr == S_FALSE) {
        Line(L"qmcamera", L"not running");
    } else {
        Line(L"qmcamera", L"unknown: " + DescribeHresult(hr));
    }
}

void CSelfCheck::CheckGraphicsCapture() {
    HRESULT error = S_OK;
    const GraphicsCaptureAvailability availability = CGraphicsCaptureReader::Probe(&error);
    Line(L"graphics capture",
         availability == GraphicsCaptureAvailability::Available
             ? std::wstring(L"available")
             : L"not available: " + AvailabilityText(availability) +
                   FormatText(L" (0x%08lX)", static_cast<unsigned long>(error)));
}

void CSelfCheck::CheckDiagnosticLog() {
    char stored[kSettingsTextCapacity] = {};
    const bool on = ReadSetting("0", stored, kDiagnosticLogValue) && ParseSwitch(stored);
    Line(L"diagnostic log", on ? L"on" : L"off (DiagnosticLog is not 1)");
    wchar_t path[MAX_PATH * 2] = {};
    if (!diagnostic_log::FilePath(path, MAX_PATH * 2)) {
        Line(L"diagnostic log file", L"unknown (no local application data folder)");
        return;
    }
    WIN32_FILE_ATTRIBUTE_DATA file = {};
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &file)) {
        Line(L"diagnostic log file", std::wstring(path) + L" (not written yet)");
        return;
    }
    const unsigned long long bytes = (static_cast<unsigned long long>(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
    Line(L"diagnostic log file", std::wstring(path) + FormatText(L" (%llu bytes)", bytes));
}

int RunSelfCheck(const std::wstring& deviceName) {
    CSelfCheck check(deviceName, [](const std::wstring& line) { WriteStdout(line); });
    const int status = check.Run();
    if (check.LeftThreadBehind()) {
        // The stream thread hangs inside the device or the graph; leaving
        // normally would wait for it, or run the modules' detach under it.
        ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
    }
    return status;
}

}  // namespace qmcapture
