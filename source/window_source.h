// CWindowSource: a window as a frame source: found by the class, title and
// program the settings name (CWindowTracker), followed while it exists,
// and read by copy or print (CWindowCapture) on a capture thread of its
// own. Each window the frames come to show, or its loss, leaves one line
// in the diagnostic log.
#pragma once

#include <windows.h>

#include "source/frame_source.h"
#include "window/window_capture.h"
#include "window/window_tracker.h"

class CWindowSource final : public IFrameSource {
public:
    // reader: a seam for tests (null: the platform's copy and print).
    explicit CWindowSource(IWindowReader* reader = nullptr) : m_capture(reader) {}

    HRESULT Start() override { return m_capture.Start(); }
    void Stop() override { m_capture.Stop(); }
    void WaitUntilEnded() override { m_capture.WaitUntilEnded(); }
    Outcome Read(const CCaptureSettings::Values& settings, DWORD deadlineMs, HANDLE wakeEvent) override;
    SourcePicture LastPicture() const override;
    void Forget() override { m_tracker.Forget(); }
    WindowMatchRule MatchRule() const override { return m_tracker.CurrentRule(); }
    void DetachFromThread() override { m_tracker.DetachFromThread(); }

private:
    // Logs the window the frames now show (null: none).
    void NoteWindow(HWND window);

    CWindowTracker m_tracker;
    CWindowCapture m_capture;
    // The window the log last named; owner's thread.
    HWND m_loggedWindow = nullptr;
};
