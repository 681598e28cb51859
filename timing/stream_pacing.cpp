#include "timing/stream_pacing.h"

namespace {

// While paused the wait ends on Run, a request or, as a safeguard, this.
constexpr REFERENCE_TIME kPausedRecheck = 10000000;

}  // namespace

CStreamPacing::CStreamPacing(IPacingClock* counter)
    : m_counter(counter != nullptr ? *counter : m_performanceCounter),
      m_changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

HRESULT CStreamPacing::Start() {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    {
        CAutoLock lock(&m_graphLock);
        m_graphRunning = false;
        m_graphClock.Reset();
        m_changesSeen = m_graphChanges;
    }
    m_running = false;
    m_clock.Reset();
    m_pausedAt = 0;
    m_stamped = false;
    m_pacer.Restart();
    // Without the timer the wait falls back to whole milliseconds.
    LOG_IF_FAILED(m_timer.Start());
    return m_changed ? S_OK : E_OUTOFMEMORY;
}

void CStreamPacing::Stop() {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    m_streamingThread.Detach();
    m_timer.Stop();
    m_clock.Reset();
    CAutoLock lock(&m_graphLock);
    m_graphClock.Reset();
}

void CStreamPacing::Run(REFERENCE_TIME streamStart, IReferenceClock* clock) {
    CAutoLock lock(&m_graphLock);
    m_graphRunning = true;
    m_graphStart = streamStart;
    m_graphClock = clock;
    ++m_graphChanges;
    ::SetEvent(m_changed.get());
}

void CStreamPacing::Pause() {
    CAutoLock lock(&m_graphLock);
    m_graphRunning = false;
    ++m_graphChanges;
    ::SetEvent(m_changed.get());
}

void CStreamPacing::FollowGraph() {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    bool running = false;
    REFERENCE_TIME start = 0;
    Microsoft::WRL::ComPtr<IReferenceClock> clock;
    {
        CAutoLock lock(&m_graphLock);
        if (m_graphChanges == m_changesSeen) {
            return;
        }
        m_changesSeen = m_graphChanges;
        running = m_graphRunning;
        start = m_graphStart;
        clock = m_graphClock;
    }
    if (m_running && !running) {
        m_pausedAt = StreamNow();
    }
    m_running = running;
    if (running) {
        m_start = start;
        m_clock = std::move(clock);
        // Without a clock the stream time goes on from where it stood.
        m_counterAnchor = m_counter.Now() - m_pausedAt;
    }
}

REFERENCE_TIME CStreamPacing::StreamNow() {
    if (m_clock) {
        REFERENCE_TIME now = 0;
        if (SUCCEEDED(m_clock->GetTime(&now))) {
            return now - m_start;
        }
    }
    return m_counter.Now() - m_counterAnchor;
}

bool CStreamPacing::WaitUntilDue(HANDLE wakeEvent, REFERENCE_TIME frameTime) {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    const HANDLE events[] = {wakeEvent, m_changed.get()};
    for (;;) {
        FollowGraph();
        REFERENCE_TIME remaining = kPausedRecheck;
        if (!m_running) {
            // Paused: one frame at once, then none until the graph runs.
            if (!m_pacer.HasTaken()) {
                return true;
            }
        } else {
            const REFERENCE_TIME now = StreamNow();
            remaining = m_pacer.Due(now, frameTime) - now;
            if (remaining <= 0) {
                return true;
            }
        }
        if (m_timer.Wait(remaining, events, 2) == 0) {
            return false;
        }
        // The time ran out (the clock is read again: it may run at another
        // rate than the timer) or the graph's state changed.
    }
}

CStreamPacing::SampleTimes CStreamPacing::Take(REFERENCE_TIME frameTime) {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    // A frame that took longer to make than its slot lasts (a window too
    // large to read at the rate) takes the slot it is finished in, so that
    // its time stays within a frame time of the clock.
    if (m_running && m_pacer.HasTaken()) {
        m_pacer.Due(StreamNow(), frameTime);
    }
    const CFramePacer::Slot slot = m_pacer.Take(frameTime);
    REFERENCE_TIME offset = GetStreamOffset();
    if (m_stamped && slot.start + offset < m_lastEnd) {
        // Lowered while streaming: as far down as the last end allows.
        offset = m_lastEnd - slot.start;
    }
    const bool discontinuity = slot.discontinuity || (m_stamped && offset != m_appliedOffset);
    m_stamped = true;
    m_appliedOffset = offset;
    m_lastEnd = slot.end + offset;
    return {slot.start + offset, slot.end + offset, discontinuity};
}

void CStreamPacing::Stamp(IMediaSample* sample, REFERENCE_TIME frameTime) {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    SampleTimes times = Take(frameTime);
    // A sample of the standard allocator accepts all three; a failure of
    // another one leaves the sample as it was, which the graph tolerates.
    QM_IGNORE(sample->SetTime(&times.start, &times.end), "see above");
    QM_IGNORE(sample->SetSyncPoint(TRUE), "see above");
    QM_IGNORE(sample->SetDiscontinuity(times.discontinuity ? TRUE : FALSE), "see above");
}

HRESULT CStreamPacing::SetStreamOffset(REFERENCE_TIME offset) {
    CAutoLock lock(&m_graphLock);
    const REFERENCE_TIME largest = m_maxStreamOffset > 0 ? m_maxStreamOffset : kDefaultMaxStreamOffset;
    RETURN_HR_IF(E_INVALIDARG, offset < 0 || offset > largest);
    m_streamOffset = offset;
    return S_OK;
}

REFERENCE_TIME CStreamPacing::GetStreamOffset() const {
    CAutoLock lock(&m_graphLock);
    return m_streamOffset;
}

HRESULT CStreamPacing::SetMaxStreamOffset(REFERENCE_TIME maxOffset) {
    RETURN_HR_IF(E_INVALIDARG, maxOffset < 0 || maxOffset > kStreamOffsetCeiling);
    CAutoLock lock(&m_graphLock);
    m_maxStreamOffset = maxOffset;
    // The offset in use comes down to the new largest one, as a lowered
    // offset does (see Stamp), rather than staying above it.
    const REFERENCE_TIME largest = maxOffset > 0 ? maxOffset : kDefaultMaxStreamOffset;
    if (m_streamOffset > largest) {
        m_streamOffset = largest;
    }
    return S_OK;
}

REFERENCE_TIME CStreamPacing::GetMaxStreamOffset() const {
    CAutoLock lock(&m_graphLock);
    return m_maxStreamOffset;
}
