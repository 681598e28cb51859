#include "produce/frame_preview.h"

#include "framework/com_util.h"

void CFramePreview::Stop() {
    m_source.Stop();
    m_source.Forget();
    m_source.DetachFromThread();
}

CFramePreview::Outcome CFramePreview::Draw(const CCaptureSettings::Values& choice, DWORD deadlineMs,
                                           const FrameTarget& target) {
    if (m_picture.Width() != target.width || m_picture.Height() != target.height) {
        // Without a canvas of the target's size nothing is drawn: the
        // thumbnail keeps what it shows.
        LOG_IF_FAILED(m_picture.Resize(target.width, target.height));
    }
    switch (m_source.Read(choice, deadlineMs, nullptr)) {
    case IFrameSource::Outcome::Picture: {
        const SourcePicture picture = m_source.LastPicture();
        return m_picture.RenderWindow(picture.topRow, picture.stride, picture.width, picture.height,
                                      choice.scaleMode, choice.mirror, target)
                   ? Outcome::Drawn
                   : Outcome::Unchanged;
    }
    case IFrameSource::Outcome::Standby:
        return Outcome::NoPicture;
    case IFrameSource::Outcome::KeepPrevious:
        break;
    }
    return Outcome::Unchanged;
}
