#include "tools/capture_client/camera_commands.h"

#include <windows.h>
#include <strmif.h>

#include <cwchar>

#include "settings/capture_device_ids.h"
#include "settings/capture_settings.h"
#include "framework/com_util.h"
#include "tools/capture_client/capture_client.h"
#include "tools/capture_client/console_output.h"
#include "tools/capture_client/elevation.h"
#include "tools/capture_client/source_description.h"

namespace qmcapture {

namespace {

// Where the command's messages go: standard error and output, or the
// caller's strings.
struct Messages {
    std::wstring* output;
    std::wstring* error;
    void Error(const std::wstring& message) const {
        if (error != nullptr) {
            *error += message + L"\n";
        } else {
            WriteStderr(L"qmcapture: " + message + L"\n");
        }
    }
    void Output(const std::wstring& text) const {
        if (output != nullptr) {
            *output += text;
        } else {
            WriteStdout(text);
        }
    }
};

std::wstring ClassIdText(const GUID& clsid) {
    wchar_t text[CHARS_IN_GUID] = {};
    return ::StringFromGUID2(clsid, text, CHARS_IN_GUID) != 0 ? text : L"?";
}

// Why a change of the list failed, in words.
std::wstring DescribeListError(HRESULT hr, const std::wstring& argument) {
    if (hr == E_INVALIDARG) {
        return L"\"" + argument +
               L"\" is not a camera name (1 to 63 characters, not only digits, no control or text-direction "
               L"characters)";
    }
    if (hr == HRESULT_FROM_WIN32(ERROR_TIMEOUT)) {
        return L"another program kept the camera list locked for a change that did not end; nothing changed";
    }
    if (hr == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)) {
        return L"a camera named \"" + argument + L"\" exists already";
    }
    if (hr == HRESULT_FROM_WIN32(ERROR_TOO_MANY_NAMES)) {
        return FormatText(L"there are %d cameras already, the most one module serves", kMaxCameras);
    }
    if (hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND)) {
        return L"no camera " + argument + L" (qmcapture --cameras lists them)";
    }
    return FormatText(L"the camera list could not be changed (0x%08lX)", static_cast<unsigned long>(hr));
}

bool IsAccessDenied(HRESULT hr) {
    return hr == E_ACCESSDENIED || hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
}

// regsvr32 of the architecture whose registry view is asked for.
std::wstring Regsvr32For(REGSAM view) {
    wchar_t windows[MAX_PATH] = {};
    if (::GetSystemWindowsDirectoryW(windows, MAX_PATH) == 0) {
        return {};
    }
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    const bool native64 = sizeof(void*) == 8 || wow64;
    const wchar_t* folder = L"System32";
    if (view == KEY_WOW64_32KEY && native64) {
        folder = sizeof(void*) == 8 ? L"SysWOW64" : L"System32";
    } else if (view == KEY_WOW64_64KEY && sizeof(void*) == 4) {
        // A 32-bit process reaches the 64-bit system folder through its alias.
        folder = L"Sysnative";
    }
    return std::wstring(windows) + L"\\" + folder + L"\\regsvr32.exe";
}

// Registers the module of each architecture again, so that the video input
// category of both follows the list.
void RegisterModulesAgain(const Messages& messages) {
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    const bool has64 = sizeof(void*) == 8 || wow64;
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        if (view == KEY_WOW64_64KEY && !has64) {
            continue;
        }
        const std::wstring module = RegisteredModule(view);
        const wchar_t* label = view == KEY_WOW64_64KEY && has64 ? L"64-bit" : L"32-bit";
        if (module.empty()) {
            continue;
        }
        const std::wstring regsvr32 = Regsvr32For(view);
        std::wstring commandLine = L"\"" + regsvr32 + L"\" /s \"" + module + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(regsvr32.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                              nullptr, &startup, &process)) {
            messages.Error(std::wstring(L"the ") + label + L" module could not be registered again; run regsvr32 \"" +
                       module + L"\"");
            continue;
        }
        const UniqueHandle processHandle(process.hProcess);
        const UniqueHandle threadHandle(process.hThread);
        ::WaitForSingleObject(processHandle.get(), 60000);
        DWORD status = 1;
        ::GetExitCodeProcess(processHandle.get(), &status);
        if (status != 0) {
            messages.Error(std::wstring(L"registering the ") + label + L" module again failed (regsvr32 exit code " +
                       std::to_wstring(status) + L")");
        }
    }
}

}  // namespace

std::wstring RegisteredModule(REGSAM view) {
    const std::wstring key = L"Software\\Classes\\CLSID\\" + ClassIdText(CLSID_CaptureDevice) + L"\\InprocServer32";
    UniqueRegKey opened;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, opened.put()) != ERROR_SUCCESS) {
        return {};
    }
    wchar_t path[MAX_PATH * 2] = {};
    DWORD bytes = sizeof(path) - sizeof(wchar_t);
    if (::RegGetValueW(opened.get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, path, &bytes) != ERROR_SUCCESS) {
        return {};
    }
    return path;
}

bool ResolveCamera(const CaptureOptions& options, ChosenCamera* camera, std::wstring* error) {
    *camera = ChosenCamera{};
    if (!options.camera) {
        camera->settings = SettingsPathOfCamera(kFirstCamera);
        camera->name = options.deviceName;
        return true;
    }
    const int number = CCameraList::Find(options.camera->c_str());
    wchar_t name[kCameraNameCapacity] = {};
    if (number == 0 || CCameraList::GetName(number, name, kCameraNameCapacity) != S_OK) {
        *error = L"no camera \"" + *options.camera + L"\" (qmcapture --cameras lists them)";
        return false;
    }
    camera->number = number;
    camera->settings = SettingsPathOfCamera(number);
    camera->name = name;
    return true;
}

std::wstring QuoteArgument(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    // Before the closing quote, too.
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::wstring FormatCameraList() {
    std::wstring text = L"camera  name                              class                                   shows\n";
    for (int camera = kFirstCamera; camera <= kMaxCameras; ++camera) {
        wchar_t name[kCameraNameCapacity] = {};
        if (CCameraList::GetName(camera, name, kCameraNameCapacity) != S_OK) {
            continue;
        }
        const CCaptureSettings settings(SettingsPathOfCamera(camera).text);
        const CCaptureSettings::Snapshot snapshot = settings.GetSnapshot();
        // What it shows, then the pointer and the method, on a line of
        // their own so that the long source stays readable.
        text += FormatText(L"%-7d %-33ls %-39ls ", camera, name, ClassIdText(*CameraClassId(camera)).c_str()) +
                DescribeSource(snapshot) + L"\n" + std::wstring(8, L' ') + L"pointer " + DescribePointer(snapshot) +
                L"; method " + DescribeMethod(snapshot) + L"\n";
    }
    return text;
}

int RunCameraCommand(const CaptureOptions& options, const std::wstring& commandLine, std::wstring* output,
                     std::wstring* error) {
    return RunCameraCommand(options, commandLine, SystemElevation(), output, error);
}

int RunCameraCommand(const CaptureOptions& options, const std::wstring& commandLine, const Elevation& elevation,
                     std::wstring* output, std::wstring* error) {
    const Messages messages{output, error};
    if (options.action == CaptureAction::kListCameras) {
        messages.Output(FormatCameraList());
        return kExitSuccess;
    }
    int camera = 0;
    HRESULT hr = S_OK;
    std::wstring report;
    if (options.action == CaptureAction::kAddCamera) {
        hr = CCameraList::Add(options.cameraArgument.c_str(), &camera);
        report = FormatText(L"%d\n", camera);
    } else {
        camera = CCameraList::Find(options.cameraArgument.c_str());
        if (camera == 0) {
            messages.Error(DescribeListError(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), options.cameraArgument));
            return kExitFailure;
        }
        if (camera == kFirstCamera) {
            messages.Error(L"camera 1, \"QM Capture Device\", is always there under its own name");
            return kExitFailure;
        }
        if (options.action == CaptureAction::kRemoveCamera) {
            hr = CCameraList::Remove(camera);
            report = FormatText(L"camera %d removed\n", camera);
        } else {
            hr = CCameraList::Rename(camera, options.cameraNewName.c_str());
            report = FormatText(L"camera %d renamed\n", camera);
        }
    }
    return ConcludeCameraChange(hr, options, commandLine, report, elevation, output, error);
}

int ConcludeCameraChange(HRESULT hr, const CaptureOptions& options, const std::wstring& commandLine,
                         const std::wstring& report, const Elevation& elevation, std::wstring* output,
                         std::wstring* error) {
    const Messages messages{output, error};
    if (IsAccessDenied(hr)) {
        // Asked for once, by a run that lacks the rights: a run that has
        // them, or that was started to have them (elevation may give the
        // same token again), would only ask again, and again.
        const unsigned long code = static_cast<unsigned long>(hr);
        if (elevation.IsProcessElevated()) {
            messages.Error(FormatText(
                L"the camera list could not be changed even with administrator rights: access denied (0x%08lX)",
                code));
            return kExitFailure;
        }
        if (options.elevatedRun) {
            messages.Error(FormatText(L"the camera list could not be changed: access denied (0x%08lX); this run was "
                                      L"started to have administrator rights and has none",
                                      code));
            return kExitFailure;
        }
        std::wstring failure;
        const std::wstring marked =
            commandLine.empty() ? std::wstring(kElevatedRunSwitch) : commandLine + L" " + kElevatedRunSwitch;
        const int status = elevation.RunElevated(marked, &failure);
        if (!failure.empty()) {
            messages.Error(failure);
        } else if (status != kExitSuccess) {
            messages.Error(FormatText(
                L"the run with administrator rights did not change the camera list (exit status %d)", status));
        }
        return status;
    }
    if (FAILED(hr)) {
        const std::wstring& argument =
            options.action == CaptureAction::kRenameCamera && hr != HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
                ? options.cameraNewName
                : options.cameraArgument;
        messages.Error(DescribeListError(hr, argument));
        return kExitFailure;
    }
    RegisterModulesAgain(messages);
    messages.Output(report);
    return kExitSuccess;
}

}  // namespace qmcapture
