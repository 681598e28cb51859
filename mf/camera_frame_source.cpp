#include "mf/camera_frame_source.h"

#include <wrl/client.h>

#include <cstring>
#include <new>

#include "picture/frame_picture.h"
#include "picture/frame_converter.h"
#include "picture/frame_target.h"
#include "framework/com_util.h"
#include "framework/diagnostic_log.h"

using Microsoft::WRL::ComPtr;

void CCameraFrameSource::SetRing(const frame_ring::RingAccess& ring) {
    m_ring = ring;
    m_hasRing = true;
}

void CCameraFrameSource::OpenRing() {
    if (m_ringOpen || !m_hasRing) {
        return;
    }
    m_ringTriedAt = ::GetTickCount();
    const HRESULT hr = m_reader.Create(m_ring);
    if (FAILED(hr)) {
        // A passing state (no reader place while those of readers that went
        // away age out, a header still being filled in) or a lasting one:
        // either way the heartbeat tries again.
        if (!m_ringFailed || hr != m_ringFailure) {
            diagnostic_log::Write("media source %d: the frame ring cannot be created (0x%08lX); trying again",
                                  m_ring.camera, static_cast<unsigned long>(hr));
        }
        m_ringFailed = true;
        m_ringFailure = hr;
        return;
    }
    if (m_ringFailed) {
        diagnostic_log::Write("media source %d: the frame ring is created now", m_ring.camera);
    }
    m_ringFailed = false;
    m_ringOpen = true;
    if (m_begun) {
        WriteRequest();
    }
}

void CCameraFrameSource::WriteRequest() {
    const frame_ring::FrameRequest request = {m_format.width, m_format.height, m_format.format, m_format.frameTime};
    const HRESULT hr = m_reader.SetRequest(request);
    if (FAILED(hr)) {
        diagnostic_log::Write("media source %d: the request cannot be written (0x%08lX)", m_ring.camera,
                              static_cast<unsigned long>(hr));
    }
}

HRESULT CCameraFrameSource::Begin(const camera_media_types::StreamFormat& format) {
    QM_DCHECK_ON_THREAD(m_thread);
    RETURN_HR_IF(E_INVALIDARG,
                 format.imageBytes == 0 ||
                     format.imageBytes != LayoutOf(format.format, format.width, format.height).imageBytes);
    m_begun = false;
    if (format.imageBytes != m_bufferBytes) {
        m_frame.reset(new (std::nothrow) BYTE[format.imageBytes]);
        m_standby.reset(new (std::nothrow) BYTE[format.imageBytes]);
        if (!m_frame || !m_standby) {
            m_frame.reset();
            m_standby.reset();
            m_bufferBytes = 0;
            return E_OUTOFMEMORY;
        }
        m_bufferBytes = format.imageBytes;
    }
    m_format = format;
    m_haveFrame = false;
    RETURN_IF_FAILED(m_pool.Reset(format.imageBytes));
    RETURN_IF_FAILED(RenderStandby());

    m_begun = true;
    if (m_ringOpen) {
        WriteRequest();
    } else {
        // A stream start is worth an attempt of its own.
        OpenRing();
    }
    return S_OK;
}

void CCameraFrameSource::End() {
    QM_DCHECK_ON_THREAD(m_thread);
    m_begun = false;
    m_haveFrame = false;
    if (m_ringOpen) {
        QM_IGNORE(m_reader.ClearRequest(), "a ring that fails its checks has no writer to tell");
    }
}

void CCameraFrameSource::Heartbeat() {
    QM_DCHECK_ON_THREAD(m_thread);
    if (m_ringOpen) {
        QM_IGNORE(m_reader.Heartbeat(), "a reader place that cannot be taken again is tried at the next beat");
        return;
    }
    // GetTickCount wraps after 49.7 days: the difference still counts.
    if (!m_ringFailed || ::GetTickCount() - m_ringTriedAt >= kRingRetryMs) {
        OpenRing();
    }
}

HRESULT CCameraFrameSource::RenderStandby() {
    // The DirectShow device's own standby frame, drawn once per format
    // straight into the stream's buffer (top-down, as Media Foundation
    // wants frames); black in the stream's format when it cannot be drawn.
    const FrameTarget target = TargetOf(m_format.format, m_format.width, m_format.height, m_standby.get(), false);
    CFramePicture picture;
    if (SUCCEEDED(picture.Resize(m_format.width, m_format.height)) && picture.RenderStandby(kStandbyText, target)) {
        return S_OK;
    }
    LOG_IF_FAILED(CFrameConverter().FillBlack(target));
    return S_OK;
}

HRESULT CCameraFrameSource::NextSample(IMFSample** sample) {
    QM_DCHECK_ON_THREAD(m_thread);
    RETURN_HR_IF_NULL(E_POINTER, sample);
    *sample = nullptr;
    RETURN_HR_IF(E_UNEXPECTED, !m_begun);

    bool writerAlive = false;
    if (m_ringOpen) {
        frame_ring::FrameInfo info = {};
        const HRESULT copied = m_reader.CopyLatest(m_frame.get(), m_bufferBytes, &info);
        if (copied == S_OK) {
            // A frame of another reader's request (the writer serves the
            // newest) is not one of this stream's.
            m_haveFrame = info.width == m_format.width && info.height == m_format.height &&
                          info.format == m_format.format;
        } else if (FAILED(copied)) {
            m_haveFrame = false;
        }
        writerAlive = m_reader.IsWriterAlive();
    }

    ComPtr<IMFSample> next;
    BYTE* data = nullptr;
    RETURN_IF_FAILED(m_pool.Acquire(&next, &data));
    const bool writerFrame = writerAlive && m_haveFrame;
    std::memcpy(data, writerFrame ? m_frame.get() : m_standby.get(), m_format.imageBytes);
    m_pool.Unlock();
    *sample = next.Detach();
    return S_OK;
}
