// CCaptureSource: what a camera's settings name, as a frame source: a
// window (found by the class, title and program the settings name,
// CWindowTracker, followed while it exists, and read whole or cropped), a
// monitor (by its device name, else the primary) or a region of the
// screen; read by CWindowCapture on a capture thread of its own, with the
// pointer drawn in where the settings ask for it. Each change of what the
// frames show (a window found or lost, a monitor, a region) leaves one
// line in the diagnostic log.
//
// A monitor's rectangle is looked up for every frame, so that a change of
// resolution or DPI is followed from the next frame; a monitor that is not
// there gives the primary, and no monitor at all the standby frame.
#pragma once

#include <windows.h>

#include "source/frame_source.h"
#include "window/monitor_list.h"
#include "window/window_capture.h"
#include "window/window_tracker.h"

class CCaptureSource final : public IFrameSource {
public:
    // reader and listMonitors: seams for tests (null: the platform's copy,
    // print and screen, and the system's monitors).
    explicit CCaptureSource(IWindowReader* reader = nullptr, ListMonitorsFunction listMonitors = nullptr)
        : m_capture(reader), m_listMonitors(listMonitors != nullptr ? listMonitors : &ListSystemMonitors) {}

    HRESULT Start() override { return m_capture.Start(); }
    void Stop() override { m_capture.Stop(); }
    void WaitUntilEnded() override { m_capture.WaitUntilEnded(); }
    Outcome Read(const CCaptureSettings::Values& settings, DWORD deadlineMs, HANDLE wakeEvent) override;
    SourcePicture LastPicture() const override;
    void Forget() override { m_tracker.Forget(); }
    WindowMatchRule MatchRule() const override { return m_tracker.CurrentRule(); }
    void DetachFromThread() override { m_tracker.DetachFromThread(); }

    // The capture, for its seams (tests).
    CWindowCapture& CaptureForTesting() { return m_capture; }

private:
    // Fills the request's screen area and monitors for a monitor or a
    // region; false when there is nothing to show.
    bool AimAtScreen(const CCaptureSettings::Values& settings, CaptureRequest* request);
    // Logs what the frames now show, when it changed.
    void NoteWindow(HWND window);
    void NoteScreen(SourceKind kind, const RECT& area, const wchar_t* deviceName);

    CWindowTracker m_tracker;
    CWindowCapture m_capture;
    const ListMonitorsFunction m_listMonitors;
    // What the log last named; owner's thread.
    SourceKind m_loggedKind = SourceKind::Window;
    HWND m_loggedWindow = nullptr;
    RECT m_loggedArea = {0, 0, 0, 0};
};
