#include "source/window_source.h"

#include "framework/diagnostic_log.h"

IFrameSource::Outcome CWindowSource::Read(const CCaptureSettings::Values& settings, DWORD deadlineMs,
                                          HANDLE wakeEvent) {
    const HWND window = m_tracker.WindowForFrame(settings.Identity());
    if (window != m_loggedWindow) {
        NoteWindow(window);
    }
    switch (m_capture.Read(window, settings.captureMethod, deadlineMs, wakeEvent)) {
    case CWindowCapture::Outcome::Picture:
        break;
    case CWindowCapture::Outcome::KeepPrevious:
        return Outcome::KeepPrevious;
    case CWindowCapture::Outcome::Standby:
        return Outcome::Standby;
    }
    return Outcome::Picture;
}

SourcePicture CWindowSource::LastPicture() const {
    // The capture keeps the picture until a later read brings another (or
    // drops it, with a read left behind or a stop).
    const CWindowCapture::Picture& read = m_capture.LastPicture();
    return {read.topRow, read.stride, read.width, read.height};
}

void CWindowSource::NoteWindow(HWND window) {
    if (window == nullptr) {
        diagnostic_log::Write("window lost");
    } else {
        char className[64] = {};
        ::GetClassNameA(window, className, sizeof(className));
        diagnostic_log::Write("window found: %p, class \"%s\", by rule %d", static_cast<void*>(window), className,
                              static_cast<int>(m_tracker.CurrentRule()));
    }
    m_loggedWindow = window;
}
