// IFrameSource: what turns "the thing a camera shows" into a picture: it
// finds it, reads it, and says whether it is there. The frame producer
// asks its source for a picture for every frame and frames it; the window
// page's thumbnail asks the same kind of source through CFramePreview.
// CCaptureSource reads what the settings name: a window (found by class,
// title and program; read by copy, print or graphics capture, whole or
// cropped), a monitor or a region of the screen.
//
// Threads. Start, Stop, Read, LastPicture and DetachFromThread belong to
// the owner's thread: a stream's streaming thread, or the page's dialog
// thread. Forget and MatchRule come from any thread; WaitUntilEnded from
// any thread while no Start or Read runs.
#pragma once

#include <windows.h>

#include <cstddef>

#include "settings/capture_settings.h"
#include "window/window_search.h"

// A picture a source read: 32-bit top-down rows (the fourth byte unused).
struct SourcePicture {
    const BYTE* topRow = nullptr;
    ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
};

class IFrameSource {
public:
    enum class Outcome {
        // A new picture: LastPicture.
        Picture,
        // Nothing new: repeat the last picture (a minimised window, a read
        // still running or failed).
        KeepPrevious,
        // Nothing to show: the standby frame.
        Standby,
    };

    virtual ~IFrameSource() = default;

    // Owner's thread, as a stream (or a preview) starts: prepares what the
    // reads need (a capture thread).
    [[nodiscard]] virtual HRESULT Start() = 0;
    // Owner's thread, as it ends: returns at once, waiting for no read.
    virtual void Stop() = 0;
    // After Stop, once the owner's thread has ended: waits a bounded time
    // for what Stop told to end, so that a stop leaves nothing behind.
    virtual void WaitUntilEnded() = 0;
    // Owner's thread: reads what `settings` name, waiting at most
    // deadlineMs, or until wakeEvent (may be null) is signalled. Without
    // Start, reads on the calling thread.
    virtual Outcome Read(const CCaptureSettings::Values& settings, DWORD deadlineMs, HANDLE wakeEvent) = 0;
    // Owner's thread: the picture of the last read that gave Picture,
    // valid until a later read gives a new one or Stop (topRow null while
    // there is none).
    virtual SourcePicture LastPicture() const = 0;
    // Any thread: the next read looks for what to show again (what it is
    // to show changed, or the frames' size did).
    virtual void Forget() = 0;
    // Any thread: the rule by which the window shown was found (None while
    // there is none, or for a source that shows no window).
    virtual WindowMatchRule MatchRule() const = 0;
    // The next stream may read on another thread.
    virtual void DetachFromThread() = 0;
};
