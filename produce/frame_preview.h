// CFramePreview: the window page's thumbnail: what a frame would show with
// the page's choices instead of the stored ones, made by the same steps as
// a frame (a frame source finds and reads it, the picture frames and
// scales it), into a target of any size.
//
// Threads. Everything on the thread that starts the preview (the page's
// dialog thread) until Stop; Forget and CurrentRule from any thread.
#pragma once

#include <windows.h>

#include "picture/frame_picture.h"
#include "picture/frame_target.h"
#include "settings/capture_settings.h"
#include "source/frame_source.h"
#include "source/capture_source.h"

class CFramePreview {
public:
    enum class Outcome {
        // The target shows the picture.
        Drawn,
        // Nothing to show: the target is left as it was (the page shows
        // black).
        NoPicture,
        // Nothing new yet (a window that has not answered): the target is
        // left as it was.
        Unchanged,
    };

    // source: what the preview shows (not owned, must outlive it); null for
    // what the choices name, read by a capture source of its own.
    explicit CFramePreview(IFrameSource* source = nullptr)
        : m_source(source != nullptr ? *source : m_ownSource) {}
    CFramePreview(const CFramePreview&) = delete;
    CFramePreview& operator=(const CFramePreview&) = delete;

    // Starts the source's reads on a thread of their own; without it they
    // run on the calling thread.
    [[nodiscard]] HRESULT Start() { return m_source.Start(); }
    // A read still waiting for a hung window is left to end by itself.
    void Stop();
    // Draws what `choice` names, framed as it says, into the target; reads
    // wait at most deadlineMs.
    Outcome Draw(const CCaptureSettings::Values& choice, DWORD deadlineMs, const FrameTarget& target);
    // The next preview looks for what to show again (the choices changed).
    void Forget() { m_source.Forget(); }
    // The rule by which the window shown was found.
    WindowMatchRule CurrentRule() const { return m_source.MatchRule(); }

private:
    CCaptureSource m_ownSource;
    IFrameSource& m_source;
    CFramePicture m_picture;
};
