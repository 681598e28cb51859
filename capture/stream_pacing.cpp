#include "capture/stream_pacing.h"

CStreamPacing::CStreamPacing(IPacingClock* clock)
    : m_clock(clock != nullptr ? *clock : m_counterClock), m_pacer(m_clock) {}

HRESULT CStreamPacing::Start() {
    NextSampleStart = 0;
    m_pacer.Restart();
    m_timer.Start();
    return S_OK;
}

void CStreamPacing::Stop() {
    m_timer.Stop();
}

void CStreamPacing::WaitUntilDue(HANDLE wakeEvent) {
    for (;;) {
        const REFERENCE_TIME remaining = m_pacer.TimeUntilDue();
        if (remaining <= 0) {
            return;
        }
        // A pending request (stop, pause) needs the worker now; the frame
        // goes out early, which a stopping graph discards anyway.
        if (m_timer.Wait(remaining, wakeEvent)) {
            return;
        }
    }
}

void CStreamPacing::Stamp(IMediaSample* sample, REFERENCE_TIME frameTime) {
    m_pacer.Advance(frameTime);
    REFERENCE_TIME start = NextSampleStart;
    NextSampleStart = start + frameTime;
    REFERENCE_TIME end = NextSampleStart;
    sample->SetTime(&start, &end);
    sample->SetSyncPoint(TRUE);
}
