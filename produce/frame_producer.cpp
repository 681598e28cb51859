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

CFrameProducer::CFrameProducer(CCaptureSettings& settings, CFramePicture& picture, IFrameSource* source)
    : m_settings(settings), m_picture(picture), m_source(source != nullptr ? *source : m_ownSource) {}

HRESULT CFrameProducer::Start(std::optional<StoredFormat>* storedFormat) {
    RETURN_HR_IF_NULL(E_POINTER, storedFormat);
    QM_DCHECK_ON_THREAD(m_streamingThread);
    // Without a watch the stream still runs, with the settings it has.
    // Without a watch the settings apply from the next start.
    LOG_IF_FAILED(m_watch.Start(m_settings.Key().Path()));
    *storedFormat = Reload();
    // Read afresh at every start: the file may have changed meanwhile.
    RequestStandbyImage(m_settings.GetSnapshot().standbyImage);
    RETURN_IF_FAILED(m_source.Start());
    RETURN_IF_FAILED(m_pacing.Start());
    m_undrawnNoted = false;
    diagnostic_log::Write("stream started");
    return S_OK;
}

void CFrameProducer::ReadAhead() {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    // Before the graph can run (the filter's Pause waits for the streaming
    // thread's start): the source is read twice (a window into both of the
    // capture's buffers), so that the first frames' reads are the usual
    // ones. Done after Pause returned instead, the slow first reads ran on
    // the graph's clock, which a graph that runs at once starts a few
    // milliseconds later: the first frame came late, and the next one
    // after its slot, leaving a gap in the sample times. The pictures stay
    // with the source; a window that does not answer holds this (and so
    // the filter's Pause) up by kPrimingReadMs once, and then the frames
    // repeat what there is, as they do for any window that hangs. Nothing
    // can ask the thread to stop before it has started.
    const CCaptureSettings::Snapshot settings = m_settings.GetSnapshot();
    for (int read = 0; read < 2; ++read) {
        if (m_source.Read(settings, kPrimingReadMs, nullptr) != IFrameSource::Outcome::Picture) {
            return;
        }
    }
}

void CFrameProducer::Stop() {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    // A read still running is dropped, not waited for.
    m_loader.Cancel();
    // The source first: its capture thread ends while the rest stops.
    m_source.Stop();
    m_pacing.Stop();
    m_watch.Stop();
    diagnostic_log::Write("stream stopped");
    // The next stream may run on another thread.
    m_source.DetachFromThread();
    m_picture.DetachFromStreamingThread();
    m_streamingThread.Detach();
}

CFrameProducer::FrameOutcome CFrameProducer::Next(IFrameSink& sink, HANDLE wakeEvent) {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    // The wait comes first and the source is read after it, so that the
    // picture is as fresh as the read when the frame leaves.
    const int64_t frameTime = FrameTime();
    if (!m_pacing.WaitUntilDue(wakeEvent, frameTime)) {
        return FrameOutcome::Woken;
    }
    if (m_watch.Changed()) {
        if (const std::optional<StoredFormat> stored = Reload()) {
            sink.StoredFormatChanged(*stored);
        }
    }
    bool drawn = false;
    const FrameTarget target = sink.Target();
    if (!Produce(target, wakeEvent, &drawn)) {
        return FrameOutcome::Woken;
    }
    // Every frame made takes its slot's times, whether or not it was drawn.
    const FrameTimes times = m_pacing.Take(FrameTime());
    if (!drawn) {
        NoteUndrawn(target);
        return FrameOutcome::NotDrawn;
    }
    sink.FrameDrawn(times);
    return FrameOutcome::Drawn;
}

void CFrameProducer::NoteUndrawn(const FrameTarget& target) {
    if (m_undrawnNoted) {
        return;
    }
    // Once per stream: a line in the log and the survived-failure count.
    m_undrawnNoted = true;
    diagnostic_log::Write("a %s target of %dx%d%s cannot take the frame: none is delivered", NameOf(target.format),
                          target.width, target.height, IsUsable(target) ? "" : " without room for it");
    QM_IGNORE(LOG_IF_FAILED(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)), "the stream goes on with the next frame");
}

int64_t CFrameProducer::FrameTime() const {
    const int64_t own = m_frameTime;
    return own > 0 ? own : m_settings.GetFrameTime();
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

std::optional<StoredFormat> CFrameProducer::Reload() {
    const unsigned changes = m_settings.Reload();
    if (changes != CCaptureSettings::kNoChange) {
        diagnostic_log::Write("settings reloaded (changes 0x%02X)", changes);
    }
    if ((changes & CCaptureSettings::kWindowChanged) != 0) {
        m_source.Forget();
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
    const CCaptureSettings::Snapshot settings = m_settings.GetSnapshot();
    bool made = false;
    if (std::wcscmp(settings.standbyImage, m_standbyImagePath) != 0) {
        RequestStandbyImage(settings.standbyImage);
    }
    CStandbyImage loaded;
    if (m_loader.TakeLoaded(&loaded)) {
        m_picture.SetStandbyImage(std::move(loaded));
    }
    // A source that does not answer may hold up its frame by one frame
    // time at most; later frames repeat the last picture until it answers.
    // The frame time of the snapshot, unless the owner set its own: no
    // second look at the settings for it.
    const int64_t own = m_frameTime;
    const DWORD deadlineMs = MillisecondsOf(own > 0 ? own : settings.frameTime);
    switch (m_source.Read(settings, deadlineMs, wakeEvent)) {
    case IFrameSource::Outcome::Picture: {
        const SourcePicture picture = m_source.LastPicture();
        made = m_picture.RenderWindow(picture.topRow, picture.stride, picture.width, picture.height,
                                      settings.scaleMode, settings.mirror, target);
        break;
    }
    case IFrameSource::Outcome::Standby:
        made = m_picture.RenderStandby(settings.titleText, target);
        break;
    case IFrameSource::Outcome::KeepPrevious:
        // A stop or pause asked for while the source was being read ends
        // the read early: the frame is dropped rather than sent now with
        // the previous frame's picture. (The request stays pending until
        // the command loop answers it, so looking does not consume it.)
        if (wakeEvent != nullptr && ::WaitForSingleObject(wakeEvent, 0) == WAIT_OBJECT_0) {
            return false;
        }
        {
            // The last picture stays with the source until a new one comes,
            // whatever read is still running.
            const SourcePicture kept = m_source.LastPicture();
            made = m_picture.RenderPrevious(kept.topRow, kept.stride, kept.width, kept.height, settings.scaleMode,
                                            settings.mirror, target);
        }
        break;
    }
    *drawn = made;
    return true;
}
