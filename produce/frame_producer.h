// CFrameProducer: makes the frames of one stream of either camera, on the
// thread that streams them: it waits until the next frame is due (one
// pacing, CStreamPacing, with one catch-up rule), takes over stored
// settings that changed (on the registry's notification), finds and reads
// the window, and has the picture drawn into the frame target it is
// given. It knows no media type: the DirectShow pin (CZRV_Stream) hands it
// its samples as targets and stamps them with the pacing's times; the
// Media Foundation camera's writer (qmcamera) hands it slots of the frame
// ring. The owner owns the settings and the picture, and keeps the format:
// a stored size change comes back to it as a value it applies itself.
//
// The standby picture's file is read as the stream starts and whenever the
// stored path differs from the one last asked for (checked once per frame:
// a comparison, no file access), by a loader thread: the frames show the
// plain standby frame until the picture is read, then the picture.
//
// Threads. Start, Stop, WaitUntilDue, TakeStoredChanges, Produce and
// TakeTimes belong to the streaming thread (checked: one thread from Start
// to Stop). Run, Pause, ForgetWindow, UseFrameTime and the stream offset
// come from any thread.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <atomic>
#include <optional>

#include "picture/frame_picture.h"
#include "picture/frame_target.h"
#include "picture/standby_image_loader.h"
#include "settings/capture_settings.h"
#include "settings/settings_watch.h"
#include "timing/stream_pacing.h"
#include "window/window_capture.h"
#include "window/window_tracker.h"
#include "framework/thread_checks.h"

class CFrameProducer {
public:
    // settings and picture: the pin's; they outlive the producer.
    CFrameProducer(CCaptureSettings& settings, CFramePicture& picture);
    CFrameProducer(const CFrameProducer&) = delete;
    CFrameProducer& operator=(const CFrameProducer&) = delete;

    // The stored size and output format, handed back to the owner when
    // either changed in the registry: the owner keeps the format. Each is
    // set only when that value itself changed, so that a new size keeps
    // the format in use (an application's choice) and a new format the
    // size.
    struct StoredFormat {
        std::optional<int> sizeIndex;
        std::optional<int> outputFormat;
    };

    // Streaming thread, as it starts: watches the settings, starts the
    // capture thread and the pacing. Settings changed since the device was
    // created apply from the first frame: the stored size and format, when
    // either changed, are returned through storedFormat for the pin to
    // apply.
    [[nodiscard]] HRESULT Start(std::optional<StoredFormat>* storedFormat);
    // Streaming thread, as it ends.
    void Stop();
    // The thread that started and stopped the stream has ended (the pin's
    // stop, on the application's thread): waits for the capture thread
    // that Stop told to end, which has been ending meanwhile.
    void AfterStreamingThreadEnded() { m_capture.WaitUntilEnded(); }

    // Streaming thread, after Start, while the filter's Pause still waits
    // for it: reads the window ahead (Prime), so that the first frames
    // cost what later ones do.
    void ReadAhead();
    // Streaming thread: waits until the next frame is due; false when
    // wakeEvent (the worker's request, left set) ended the wait.
    [[nodiscard]] bool WaitUntilDue(HANDLE wakeEvent);
    // Streaming thread: takes over what changed in the registry since the
    // last call; a new stored size or format is returned for the pin.
    [[nodiscard]] std::optional<StoredFormat> TakeStoredChanges();
    // Streaming thread: draws this frame's picture into the target (a
    // target the picture does not fit is left untouched: *drawn false).
    // False when wakeEvent asked to stop meanwhile: then no frame is to be
    // delivered. The owner then takes the frame's times (TakeTimes, or the
    // pacing's Stamp).
    [[nodiscard]] bool Produce(const FrameTarget& target, HANDLE wakeEvent, bool* drawn = nullptr);
    // Streaming thread: the times of the frame just made.
    CStreamPacing::SampleTimes TakeTimes() { return m_pacing.Take(FrameTime()); }

    // The frame time the stream runs at: the stored rate's, unless the
    // owner sets one of its own (a Media Foundation reader asks for its
    // rate; 0 gives the stored one again). Any thread.
    void UseFrameTime(REFERENCE_TIME frameTime) { m_frameTime = frameTime; }
    REFERENCE_TIME FrameTime() const;

    // The window page's thumbnail: what a frame would show of a window,
    // made by the same steps (the tracker finds the window, the capture
    // reads it, the picture frames and scales it) into a target of the
    // picture's size, with the page's choices instead of the stored ones.
    // Not while the producer streams: the thread that starts the preview
    // owns it until StopPreview.
    struct PreviewChoice {
        WindowIdentity identity;
        CaptureMethod method;
        ScaleMode mode;
        bool mirror;
        DWORD deadlineMs;
    };
    enum class PreviewOutcome {
        // The target shows the window.
        Drawn,
        // No window: the target is left as it was (the page shows black).
        NoWindow,
        // The window has not answered yet: the target is left as it was.
        Unchanged,
    };
    [[nodiscard]] HRESULT StartPreview() { return m_capture.Start(); }
    void StopPreview();
    PreviewOutcome DrawPreview(const PreviewChoice& choice, const FrameTarget& target);
    // The rule by which the window of the last frame or preview was found.
    WindowMatchRule CurrentRule() const { return m_tracker.CurrentRule(); }

    // Any thread: the graph runs from streamStart on clock (null: none),
    // or pauses.
    void Run(REFERENCE_TIME streamStart, IReferenceClock* clock) { m_pacing.Run(streamStart, clock); }
    void Pause() { m_pacing.Pause(); }
    // Any thread: the next frame searches for the window again.
    void ForgetWindow() { m_tracker.Forget(); }
    // Any thread: the pacing's, which is the stream's timing.
    CStreamPacing& Pacing() { return m_pacing; }
    // A seam for tests: how the standby picture's file is read. Before
    // Start.
    void InjectStandbyLoadForTesting(CStandbyImageLoader::LoadFunction load) { m_loader.InjectLoadForTesting(load); }

private:
    // Reloads the settings; the stored size and format when either changed.
    std::optional<StoredFormat> Reload();
    // Reads the window into both of the capture's buffers before the first
    // frame is due.
    void Prime(HANDLE wakeEvent);
    // Reads the window and, when a new picture came, draws it into the
    // target (*drawn says whether it could); the read's outcome.
    CWindowCapture::Outcome ReadAndDraw(HWND window, CaptureMethod method, DWORD deadlineMs, HANDLE wakeEvent,
                                        ScaleMode mode, bool mirror, const FrameTarget& target, bool* drawn);
    // Logs the window the frames now show (null: none).
    void NoteWindow(HWND window);
    // Asks the loader for the standby picture of `path` (empty: none); the
    // plain standby frame shows until it is read. A file that cannot be
    // used leaves the plain frame (and a line in the log).
    void RequestStandbyImage(const wchar_t* path);

    CCaptureSettings& m_settings;
    CFramePicture& m_picture;
    std::atomic<REFERENCE_TIME> m_frameTime{0};
    CSettingsWatch m_watch;
    CWindowTracker m_tracker;
    CWindowCapture m_capture;
    CStreamPacing m_pacing;
    CThreadChecker m_streamingThread;
    // The window the log last named; streaming thread.
    HWND m_loggedWindow = nullptr;
    // The path the standby picture was last asked for; streaming thread.
    // A snapshot with another path (stored through the interface here, or
    // reloaded from the registry) reads the picture again.
    wchar_t m_standbyImagePath[kStandbyImageCapacity] = {};
    // Reads the standby picture's file on a thread of its own, which a
    // read that blocks may leave running after the producer has gone.
    CStandbyImageLoader m_loader;
};
