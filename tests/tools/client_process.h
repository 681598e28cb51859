// Runs qmcapture.exe and the other tools (from beside the test program) as
// child processes with their output captured, and helpers for tests that
// need the device registered for a child process to see it, or the demo
// window to capture.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "framework/com_util.h"

namespace qmtest {

struct ClientRun {
    DWORD exitCode = 0;
    // Standard output and standard error, as the bytes the client wrote (UTF-8).
    std::string out;
    std::string err;
};

// The folder of the running test program, with a trailing backslash.
std::wstring TestProgramFolder();

// Starts qmcapture.exe with `args`, waits at most `timeoutMs` and collects
// its output. A client still running then is terminated and the result is
// HRESULT_FROM_WIN32(WAIT_TIMEOUT).
HRESULT RunCaptureClientProcess(const std::vector<std::wstring>& args, DWORD timeoutMs, ClientRun* run);

// The same for another program beside the test program.
HRESULT RunToolProcess(const wchar_t* programName, const std::vector<std::wstring>& args, DWORD timeoutMs,
                       ClientRun* run);

// Reads a key=value summary file written by the client.
HRESULT ReadSummaryFile(const std::wstring& path, std::map<std::string, std::string>* values);

// A scratch file name in the temporary folder, unique to this process.
std::wstring ScratchPath(const wchar_t* name);

// Registers QMCaptureDevice.ax from beside the test program through its
// DllRegisterServer, so that child processes find "QM Capture Device";
// unregisters it again on destruction when this object registered it.
class ScopedDeviceRegistration {
public:
    ScopedDeviceRegistration() = default;
    ~ScopedDeviceRegistration();
    ScopedDeviceRegistration(const ScopedDeviceRegistration&) = delete;
    ScopedDeviceRegistration& operator=(const ScopedDeviceRegistration&) = delete;

    // S_FALSE when the device was registered already (nothing is undone
    // later); a failure names the step through its HRESULT.
    HRESULT Register();

private:
    HMODULE m_module = nullptr;
    bool m_registeredHere = false;
};

// Takes the device's registration away while it lives, through the
// module's DllUnregisterServer (beside the test program), and registers it
// again on destruction when it was registered before.
class ScopedDeviceUnregistration {
public:
    ScopedDeviceUnregistration() = default;
    ~ScopedDeviceUnregistration();
    ScopedDeviceUnregistration(const ScopedDeviceUnregistration&) = delete;
    ScopedDeviceUnregistration& operator=(const ScopedDeviceUnregistration&) = delete;

    // S_FALSE when the device was not registered (nothing is undone
    // later); a failure names the step through its HRESULT.
    HRESULT Unregister();

private:
    HMODULE m_module = nullptr;
    bool m_unregisteredHere = false;
};

// The current user's settings of what is shown and how (WindowName,
// WindowClass, WindowProgram, ScaleMode, Mirror, OutputFormat,
// StandbyImage, SourceKind, SourceMonitor, SourceRegion, CropRect,
// ShowCursor, CaptureMethod) as they were when the object was made, put
// back when it goes: tests whose child processes store settings for the
// user use it.
class SavedUserSettings {
public:
    SavedUserSettings();
    ~SavedUserSettings();
    SavedUserSettings(const SavedUserSettings&) = delete;
    SavedUserSettings& operator=(const SavedUserSettings&) = delete;

private:
    struct Saved {
        const wchar_t* name;
        bool present = false;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    std::vector<Saved> m_saved;
};

// quillmere_demo.exe from beside the test program, running in a child
// process while the object lives; it is ended on destruction.
class ScopedDemoWindow {
public:
    ScopedDemoWindow() = default;
    ~ScopedDemoWindow();
    ScopedDemoWindow(const ScopedDemoWindow&) = delete;
    ScopedDemoWindow& operator=(const ScopedDemoWindow&) = delete;

    // Shows the window with this title and class and returns once its
    // first frame is painted; HRESULT_FROM_WIN32(WAIT_TIMEOUT) when that
    // takes longer than `timeoutMs`, E_FAIL when the program ended first.
    HRESULT Start(const std::wstring& title, const std::wstring& windowClass, DWORD timeoutMs);

private:
    UniqueHandle m_process;
    std::wstring m_readyFile;
};

}  // namespace qmtest
