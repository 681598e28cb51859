// CSelfCheck: what `qmcapture --check` finds out and prints, for a user to
// paste into a report: the system and its architectures; for each
// architecture whether the module is registered (and where) and whether
// that architecture's client lists the device; a short test stream through
// the device; each camera's source and the window it finds now; Media
// Foundation, the Windows 11 virtual camera, qmcamera, graphics capture and
// the diagnostic log. One fact a line, "name: value".
//
// The check only reads: it stores no setting and creates no key (it reads
// the settings as the device does, through CCaptureSettings, which never
// writes on its own), and it asks for no format, so the device streams
// what its settings say.
//
// Nothing waits without a bound: the test stream runs on a thread of its
// own, which is given kStreamSeconds plus kStreamStartStopMs; the other
// architecture's client is given kOtherClientTimeoutMs and ended when over;
// a window is read by CWindowCapture with a deadline for each read. A
// stream thread that does not come back is left behind
// (LeftThreadBehind), and the program then ends without waiting for it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace qmcapture {

// The exit status of --check besides kExitSuccess (the device streams):
// the module is not registered for the program's architecture; it is
// registered but the device cannot be created (or is not listed); the
// device was created but sent no frames (or hung while starting or
// stopping).
inline constexpr int kExitCheckNotRegistered = 3;
inline constexpr int kExitCheckNotCreated = 4;
inline constexpr int kExitCheckNoFrames = 5;

class CSelfCheck {
public:
    static constexpr double kStreamSeconds = 2.0;
    // For the graph to start and to stop, beyond the stream's length.
    static constexpr DWORD kStreamStartStopMs = 15000;
    static constexpr DWORD kOtherClientTimeoutMs = 15000;
    // How long one read of a camera's window may take, and how many reads
    // are made: enough for auto to leave a copy that reads back black.
    static constexpr DWORD kWindowReadMs = 250;
    static constexpr int kWindowReads = 4;

    // Where each line goes as soon as it is found (a long step then shows
    // what came before it); null keeps the lines in Report() only.
    using LineSink = void (*)(const std::wstring& line);

    // deviceName: the device streamed (a camera's friendly name).
    CSelfCheck(std::wstring deviceName, LineSink sink);
    ~CSelfCheck();
    CSelfCheck(const CSelfCheck&) = delete;
    CSelfCheck& operator=(const CSelfCheck&) = delete;

    // Every step, on the calling thread, which must be a single-threaded
    // apartment. Returns the exit status.
    int Run();

    // The lines so far, each ending in a newline.
    const std::wstring& Report() const { return m_report; }
    // Whether the stream thread did not come back within its bound.
    bool LeftThreadBehind() const { return m_leftThreadBehind; }

    struct StreamRun;

private:
    void Line(const std::wstring& name, const std::wstring& value);
    void CheckSystem();
    // Registration of each architecture's module, and whether its client
    // lists the device. Returns whether the program's own is registered.
    bool CheckArchitectures();
    // The test stream; returns the exit status it comes to.
    int CheckStream();
    void CheckCameras();
    void CheckMediaFoundation();
    void CheckQmcamera();
    void CheckGraphicsCapture();
    void CheckDiagnosticLog();
    // Whether the other architecture's client lists the device, or why
    // that was not checked.
    std::wstring AskOtherClient(const wchar_t* architecture, const std::wstring& otherModule);

    const std::wstring m_deviceName;
    const LineSink m_sink;
    std::wstring m_report;
    bool m_leftThreadBehind = false;
};

// --check: runs the check, printing its lines, and returns the exit
// status. A stream thread left behind ends the process with it.
int RunSelfCheck(const std::wstring& deviceName);

}  // namespace qmcapture
