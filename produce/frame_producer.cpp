#include "produce/frame_producer.h"

#include <cwchar>
#include <utility>

#include "picture/standby_image.h"
#include "framework/diagnostic_log.h"

namespace {

// How long each of the reads that prepare a stream may take. The first
// read into each of the capture's two new buffers costs several frame
// times under some drivers (Wine's, for a window of another process: 40 to
// 60 ms); given only a frame time, the first frame would go out black and
// the next would miss its time.
constexpr DWORD kPrimingReadMs = 500;

}  // namespace

CFrameProducer::CFrameProducer(CCaptureSettings& settings, CFramePicture& picture)
    : m_settings(settings), m_picture(picture) {}

HRESULT CFrameProducer::Start(std::optional<StoredFormat>* storedFormat) {
    RETURN_HR_IF_NULL(E_POINTER, storedFormat);
    QM_DCHECK_ON_THREAD(m_streamingThread);
    // Without a watch the stream still runs, with the settings it has.
    // Without a watch the settings apply from the next start.
    LOG_IF_FAILED(m_watch.Start(m_settings.Key().Path()));
    *storedFormat = Reload();
    // Read afresh at every start: the file may have changed meanwhile.
    RequestStandbyImage(m_settings.GetSnapshot().standbyImage);
    RETURN_IF_FAILED(m_capture.Start());
    RETURN_IF_FAILED(m_pacing.Start());
    diagnostic_log::Write("stream started");
    return S_OK;
}

void CFrameProducer::ReadAhead() {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    // Nothing can ask the thread to stop before it has started.
    Prime(nullptr);
}

void CFrameProducer::Stop() {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    // A read still running is dropped, not waited for.
    m_loader.Cancel();
    // The capture thread first: it ends while the rest stops.
    m_capture.Stop();
    m_pacing.Stop();
    m_watch.Stop();
    diagnostic_log::Write("stream stopped");
    // The next stream may run on another thread.
    m_tracker.DetachFromThread();
    m_picture.DetachFromStreamingThread();
    m_streamingThread.Detach();
}

bool CFrameProducer::WaitUntilDue(HANDLE wakeEvent) {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    return m_pacing.WaitUntilDue(wakeEvent, FrameTime());
}

REFERENCE_TIME CFrameProducer::FrameTime() const {
    const REFERENCE_TIME own = m_frameTime;
    return own > 0 ? own : m_settings.GetFrameTime();
}

void CFrameProducer::Prime(HANDLE wakeEvent) {
    // Before the graph can run (the filter's Pause waits for the streaming
    // thread's start): the window is read into both of the capture's
    // buffers, so that the first frames' reads are the usual ones. Done
    // after Pause returned instead, the slow first reads ran on the
    // graph's clock, which a graph that runs at once starts a few
    // milliseconds later: the first frame came late, and the next one
    // after its slot, leaving a gap in the sample times. The pictures stay
    // with the capture; a window that does not answer holds this (and so
    // the filter's Pause) up by kPrimingReadMs once, and then the frames
    // repeat what there is, as they do for any window that hangs.
    const CCaptureSettings::Snapshot settings = m_settings.GetSnapshot();
    const HWND window = m_tracker.WindowForFrame(settings.Identity());
    for (int read = 0; read < 2; ++read) {
        if (m_capture.Read(window, settings.captureMethod, kPrimingReadMs, wakeEvent) !=
            CWindowCapture::Outcome::Picture) {
            return;
        }
    }
}

std::optional<CFrameProducer::StoredFormat> CFrameProducer::TakeStoredChanges() {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    if (!m_watch.Changed()) {
        return std::nullopt;
    }
    return Reload();
}

void CFrameProducer::RequestStandbyImage(const wchar_t* path) {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    m_picture.SetStandbyImage(CStandbyImage());
    m_loader.Request(path);
    // Remembered even when the file fails: it is read again when the path
    // changes or the next stream starts, not with every frame.
    const size_t length = wcsnlen(path, kStandbyImageCapacity - 1);
    std::wmemcpy(m_standbyImagePath, path, length);
    m_standbyImagePath[length] = L'\0';
}

void CFrameProducer::NoteWindow(HWND window) {
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

std::optional<CFrameProducer::StoredFormat> CFrameProducer::Reload() {
    const unsigned changes = m_settings.Reload();
    if (changes != CCaptureSettings::kNoChange) {
        diagnostic_log::Write("settings reloaded (changes 0x%02X)", changes);
    }
    if ((changes & CCaptureSettings::kWindowChanged) != 0) {
        m_tracker.Forget();
    }
    if ((changes & (CCaptureSettings::kSelectPixelChanged | CCaptureSettings::kOutputFormatChanged)) == 0) {
        return std::nullopt;
    }
    StoredFormat stored;
    if ((changes & CCaptureSettings::kSelectPixelChanged) != 0) {
        stored.sizeIndex = m_settings.GetSelectPixel();
    }
    if ((changes & CCaptureSettings::kOutputFormatChanged) != 0) {
        stored.outputFormat = m_settings.GetOutputFormat();
    }
    return stored;
}

bool CFrameProducer::Produce(const FrameTarget& target, HANDLE wakeEvent, bool* drawn) {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    const CCaptureSettings::Snapshot settings = m_settings.GetSnapshot();
    bool made = false;
    if (std::wcscmp(settings.standbyImage, m_standbyImagePath) != 0) {
        RequestStandbyImage(settings.standbyImage);
    }
    CStandbyImage loaded;
    if (m_loader.TakeLoaded(&loaded)) {
        m_picture.SetStandbyImage(std::move(loaded));
    }
    const HWND window = m_tracker.WindowForFrame(settings.Identity());
    if (window != m_loggedWindow) {
        NoteWindow(window);
    }
    // A window that does not answer may hold up its frame by one frame
    // time at most; later frames repeat the last picture until it answers.
    // The frame time of the snapshot, unless the owner set its own: no
    // second look at the settings for it.
    const REFERENCE_TIME own = m_frameTime;
    const DWORD deadlineMs = MillisecondsOf(own > 0 ? own : settings.frameTime);
    switch (ReadAndDraw(window, settings.captureMethod, deadlineMs, wakeEvent, settings.scaleMode, settings.mirror,
                        target, &made)) {
    case CWindowCapture::Outcome::Picture:
        break;
    case CWindowCapture::Outcome::Standby:
        made = m_picture.RenderStandby(settings.titleText, target);
        break;
    case CWindowCapture::Outcome::KeepPrevious:
        // A stop or pause asked for while the window was being read ends
        // the read early: the frame is dropped rather than sent now with
        // the previous frame's picture. (The request stays pending until
        // the command loop answers it, so looking does not consume it.)
        if (::WaitForSingleObject(wakeEvent, 0) == WAIT_OBJECT_0) {
            return false;
        }
        {
            // The window's last picture stays with the capture until a new
            // one comes, whatever read is still running.
            const CWindowCapture::Picture& kept = m_capture.LastPicture();
            made = m_picture.RenderPrevious(kept.topRow, kept.stride, kept.width, kept.height, settings.scaleMode,
                                            settings.mirror, target);
        }
        break;
    }
    if (drawn != nullptr) {
        *drawn = made;
    }
    return true;
}

CWindowCapture::Outcome CFrameProducer::ReadAndDraw(HWND window, CaptureMethod method, DWORD deadlineMs,
                                                    HANDLE wakeEvent, ScaleMode mode, bool mirror,
                                                    const FrameTarget& target, bool* drawn) {
    const CWindowCapture::Outcome outcome = m_capture.Read(window, method, deadlineMs, wakeEvent);
    if (outcome == CWindowCapture::Outcome::Picture) {
        const CWindowCapture::Picture& picture = m_capture.LastPicture();
        *drawn = m_picture.RenderWindow(picture.topRow, picture.stride, picture.width, picture.height, mode, mirror,
                                        target);
    }
    return outcome;
}

CFrameProducer::PreviewOutcome CFrameProducer::DrawPreview(const PreviewChoice& choice, const FrameTarget& target) {
    const HWND window = m_tracker.WindowForFrame(choice.identity);
    bool drawn = false;
    switch (ReadAndDraw(window, choice.method, choice.deadlineMs, nullptr, choice.mode, choice.mirror, target,
                        &drawn)) {
    case CWindowCapture::Outcome::Picture:
        return drawn ? PreviewOutcome::Drawn : PreviewOutcome::Unchanged;
    case CWindowCapture::Outcome::Standby:
        return PreviewOutcome::NoWindow;
    case CWindowCapture::Outcome::KeepPrevious:
        break;
    }
    return PreviewOutcome::Unchanged;
}

void CFrameProducer::StopPreview() {
    m_capture.Stop();
    m_tracker.Forget();
}
