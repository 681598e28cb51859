#include "source/capture_source.h"

#include "framework/diagnostic_log.h"

IFrameSource::Outcome CCaptureSource::Read(const CCaptureSettings::Values& settings, DWORD deadlineMs,
                                           HANDLE wakeEvent) {
    CaptureRequest request;
    request.method = settings.captureMethod;
    request.pointer = ShowsCursor(settings.showCursor, settings.sourceKind);
    if (settings.sourceKind == SourceKind::Window) {
        request.window = m_tracker.WindowForFrame(settings.Identity());
        request.crop = settings.cropRect;
        if (m_loggedKind != SourceKind::Window || request.window != m_loggedWindow) {
            NoteWindow(request.window);
        }
    } else if (!AimAtScreen(settings, &request)) {
        // Nothing to show: a request without window or area.
        request = CaptureRequest();
    }
    switch (m_capture.Read(request, deadlineMs, wakeEvent)) {
    case CWindowCapture::Outcome::Picture:
        return Outcome::Picture;
    case CWindowCapture::Outcome::KeepPrevious:
        return Outcome::KeepPrevious;
    case CWindowCapture::Outcome::Standby:
        break;
    }
    return Outcome::Standby;
}

bool CCaptureSource::AimAtScreen(const CCaptureSettings::Values& settings, CaptureRequest* request) {
    MonitorInfo monitors[CaptureRequest::kMostMonitors];
    int count = m_listMonitors(monitors, CaptureRequest::kMostMonitors);
    count = count < CaptureRequest::kMostMonitors ? count : CaptureRequest::kMostMonitors;
    for (int i = 0; i < count; ++i) {
        request->monitors[i] = monitors[i].rect;
    }
    request->monitorCount = count;
    if (settings.sourceKind == SourceKind::Monitor) {
        const MonitorInfo* chosen = ChooseMonitor(monitors, count, settings.sourceMonitor);
        if (chosen == nullptr) {
            NoteScreen(SourceKind::Monitor, {0, 0, 0, 0}, L"");
            return false;
        }
        request->screenArea = chosen->rect;
        NoteScreen(SourceKind::Monitor, chosen->rect, chosen->deviceName);
        return true;
    }
    const StoredRect& region = settings.sourceRegion;
    const RECT area = {region.x, region.y, region.x + region.width, region.y + region.height};
    NoteScreen(SourceKind::Region, region.Empty() ? RECT{0, 0, 0, 0} : area, L"");
    if (region.Empty()) {
        return false;
    }
    request->screenArea = area;
    return true;
}

SourcePicture CCaptureSource::LastPicture() const {
    // The capture keeps the picture until a later read brings another (or
    // drops it, with a read left behind or a stop).
    const CWindowCapture::Picture& read = m_capture.LastPicture();
    return {read.topRow, read.stride, read.width, read.height};
}

void CCaptureSource::NoteWindow(HWND window) {
    if (window == nullptr) {
        diagnostic_log::Write("window lost");
    } else {
        char className[64] = {};
        ::GetClassNameA(window, className, sizeof(className));
        diagnostic_log::Write("window found: %p, class \"%s\", by rule %d", static_cast<void*>(window), className,
                              static_cast<int>(m_tracker.CurrentRule()));
    }
    m_loggedKind = SourceKind::Window;
    m_loggedWindow = window;
}

void CCaptureSource::NoteScreen(SourceKind kind, const RECT& area, const wchar_t* deviceName) {
    if (kind == m_loggedKind && ::EqualRect(&area, &m_loggedArea) != FALSE) {
        return;
    }
    if (::IsRectEmpty(&area)) {
        diagnostic_log::Write(kind == SourceKind::Monitor ? "no monitor to show" : "no region stored");
    } else {
        diagnostic_log::Write("%s %ls: %ld,%ld %ldx%ld", kind == SourceKind::Monitor ? "monitor" : "region", deviceName,
                              area.left, area.top, area.right - area.left, area.bottom - area.top);
    }
    m_loggedKind = kind;
    m_loggedWindow = nullptr;
    m_loggedArea = area;
}
