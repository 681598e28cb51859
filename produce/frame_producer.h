// CFrameProducer: makes the frames of one stream of either camera, on the
// thread that streams them. The owner asks for each frame with one call,
// Next, into a sink of its own (IFrameSink): the producer waits until the
// frame is due (one pacing, CStreamPacing, with one catch-up rule), takes
// over stored settings that changed (on the registry's notification, and
// tells the sink of a new size or format), asks its frame source for a
// picture of what the settings name (IFrameSource: a window, a monitor or
// a region), draws it
// framed and scaled, or the standby frame, into the sink's target, and
// hands the sink the frame's times. It knows no camera API: the
// DirectShow pin's sink is a media sample, which it stamps with the times;
// qmcamera's is a slot of the frame ring. The owner owns the settings and
// the picture, and keeps the format.
//
// The standby picture's file is read as the stream starts and whenever the
// stored path differs from the one last asked for (checked once per frame:
// a comparison, no file access), by a loader thread: the frames show the
// plain standby frame until the picture is read, then the picture.
//
// Threads. Start, Stop, ReadAhead and Next belong to the streaming thread
// (checked: one thread from Start to Stop). Run, Pause, Forget,
// UseFrameTime and FrameTime come from any thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>

#include "picture/frame_picture.h"
#include "picture/frame_target.h"
#include "picture/standby_image_loader.h"
#include "produce/frame_sink.h"
#include "settings/capture_settings.h"
#include "settings/settings_watch.h"
#include "source/frame_source.h"
#include "source/capture_source.h"
#include "timing/stream_pacing.h"
#include "framework/thread_checks.h"

class CFrameProducer {
public:
    // What became of a frame Next was asked for.
    enum class FrameOutcome {
        // Drawn into the sink's target, which has its times.
        Drawn,
        // The target could not take the frame (no planes, or too small): it
        // was left alone, and the frame's slot passed. The first of a
        // stream leaves a line in the log and a survived failure.
        NotDrawn,
        // The wake event asked the stream to stop or pause: no frame.
        Woken,
    };

    // settings and picture: the owner's; they outlive the producer.
    // source: what the frames show (not owned; it must outlive the
    // producer); null for what the settings name (a window, a monitor or a
    // region), read by the producer's own CCaptureSource.
    CFrameProducer(CCaptureSettings& settings, CFramePicture& picture, IFrameSource* source = nullptr);
    CFrameProducer(const CFrameProducer&) = delete;
    CFrameProducer& operator=(const CFrameProducer&) = delete;

    // Streaming thread, as it starts: watches the settings, starts the
    // source and the pacing. Settings changed since the device was created
    // apply from the first frame: a stored size or format that changed is
    // returned through storedFormat for the owner to apply.
    [[nodiscard]] HRESULT Start(std::optional<StoredFormat>* storedFormat);
    // Streaming thread, as it ends.
    void Stop();
    // The thread that started and stopped the stream has ended (the pin's
    // stop, on the application's thread): waits for what the source's Stop
    // told to end, which has been ending meanwhile.
    void AfterStreamingThreadEnded() { m_source.WaitUntilEnded(); }

    // Streaming thread, after Start, while the filter's Pause still waits
    // for it: reads the source ahead, so that the first frames cost what
    // later ones do.
    void ReadAhead();
    // Streaming thread: the next frame, when it is due, into the sink.
    // wakeEvent (the worker's request, left set) ends the wait or a read.
    [[nodiscard]] FrameOutcome Next(IFrameSink& sink, HANDLE wakeEvent);

    // The frame time the stream runs at: the stored rate's, unless the
    // owner sets one of its own (a Media Foundation reader asks for its
    // rate; 0 gives the stored one again). Any thread.
    void UseFrameTime(int64_t frameTime) { m_frameTime = frameTime; }
    int64_t FrameTime() const;

    // Any thread: the stream runs from streamStart on clock (null: on the
    // performance counter), or pauses.
    void Run(int64_t streamStart, IStreamClock* clock) { m_pacing.Run(streamStart, clock); }
    void Pause() { m_pacing.Pause(); }
    // Any thread: the next frame looks for what to show again.
    void Forget() { m_source.Forget(); }
    // A seam for tests: how the standby picture's file is read. Before
    // Start.
    void InjectStandbyLoadForTesting(CStandbyImageLoader::LoadFunction load) { m_loader.InjectLoadForTesting(load); }

private:
    // Reloads the settings; the stored size and format when either changed.
    std::optional<StoredFormat> Reload();
    // Draws this frame's picture into the target (a target the picture
    // does not fit is left untouched: *drawn false). False when wakeEvent
    // asked to stop meanwhile: then there is no frame.
    bool Produce(const FrameTarget& target, HANDLE wakeEvent, bool* drawn);
    // Leaves a trace of a frame its target could not take, once per stream.
    void NoteUndrawn(const FrameTarget& target);
    // Asks the loader for the standby picture of `path` (empty: none); the
    // plain standby frame shows until it is read. A file that cannot be
    // used leaves the plain frame (and a line in the log).
    void RequestStandbyImage(const wchar_t* path);

    CCaptureSettings& m_settings;
    CFramePicture& m_picture;
    std::atomic<int64_t> m_frameTime{0};
    CSettingsWatch m_watch;
    // The source of the frames: the injected one, or the producer's own.
    CCaptureSource m_ownSource;
    IFrameSource& m_source;
    CStreamPacing m_pacing;
    CThreadChecker m_streamingThread;
    // Whether this stream has noted a frame its target could not take;
    // streaming thread.
    bool m_undrawnNoted = false;
    // The path the standby picture was last asked for; streaming thread.
    // A snapshot with another path (stored through the interface here, or
    // reloaded from the registry) reads the picture again.
    wchar_t m_standbyImagePath[kStandbyImageCapacity] = {};
    // Reads the standby picture's file on a thread of its own, which a
    // read that blocks may leave running after the producer has gone.
    CStandbyImageLoader m_loader;
};
