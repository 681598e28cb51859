#include "timing/stream_pacing.h"

#include "framework/time_units.h"

namespace {

// While paused the wait ends on Run, a request or, as a safeguard, this.
constexpr int64_t kPausedRecheck = kUnitsPerSecond;

}  // namespace

CStreamPacing::CStreamPacing(IPacingClock* counter)
    : m_counter(counter != nullptr ? *counter : m_performanceCounter),
      m_changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

HRESULT CStreamPacing::Start() {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    {
        CAutoLock lock(&m_stateLock);
        m_stateRunning = false;
        m_stateClock = nullptr;
        m_changesSeen = m_stateChanges;
    }
    m_running = false;
    m_clock = nullptr;
    m_pausedAt = 0;
    m_pacer.Restart();
    // Without the timer the wait falls back to whole milliseconds.
    LOG_IF_FAILED(m_timer.Start());
    return m_changed ? S_OK : E_OUTOFMEMORY;
}

void CStreamPacing::Stop() {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    m_streamingThread.Detach();
    m_timer.Stop();
    m_clock = nullptr;
    CAutoLock lock(&m_stateLock);
    m_stateClock = nullptr;
}

void CStreamPacing::Run(int64_t streamStart, IStreamClock* clock) {
    CAutoLock lock(&m_stateLock);
    m_stateRunning = true;
    m_stateStart = streamStart;
    m_stateClock = clock;
    ++m_stateChanges;
    ::SetEvent(m_changed.get());
}

void CStreamPacing::Pause() {
    CAutoLock lock(&m_stateLock);
    m_stateRunning = false;
    ++m_stateChanges;
    ::SetEvent(m_changed.get());
}

void CStreamPacing::FollowState() {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    bool running = false;
    int64_t start = 0;
    IStreamClock* clock = nullptr;
    {
        CAutoLock lock(&m_stateLock);
        if (m_stateChanges == m_changesSeen) {
            return;
        }
        m_changesSeen = m_stateChanges;
        running = m_stateRunning;
        start = m_stateStart;
        clock = m_stateClock;
    }
    if (m_running && !running) {
        m_pausedAt = StreamNow();
    }
    m_running = running;
    if (running) {
        m_start = start;
        m_clock = clock;
        // Without a clock the stream time goes on from where it stood.
        m_counterAnchor = m_counter.Now() - m_pausedAt;
    }
}

int64_t CStreamPacing::StreamNow() {
    int64_t now = 0;
    if (m_clock != nullptr && m_clock->Now(&now)) {
        return now - m_start;
    }
    return m_counter.Now() - m_counterAnchor;
}

bool CStreamPacing::WaitUntilDue(HANDLE wakeEvent, int64_t frameTime) {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    const HANDLE events[] = {wakeEvent, m_changed.get()};
    for (;;) {
        FollowState();
        int64_t remaining = kPausedRecheck;
        if (!m_running) {
            // Paused: one frame at once, then none until the stream runs.
            if (!m_pacer.HasTaken()) {
                return true;
            }
        } else {
            const int64_t now = StreamNow();
            remaining = m_pacer.Due(now, frameTime) - now;
            if (remaining <= 0) {
                return true;
            }
        }
        if (m_timer.Wait(remaining, events, 2) == 0) {
            return false;
        }
        // The time ran out (the clock is read again: it may run at another
        // rate than the timer) or the state changed.
    }
}

FrameTimes CStreamPacing::Take(int64_t frameTime) {
    QM_DCHECK_ON_THREAD(m_streamingThread);
    // A frame that took longer to make than its slot lasts (a window too
    // large to read at the rate) takes the slot it is finished in, so that
    // its time stays within a frame time of the clock.
    if (m_running && m_pacer.HasTaken()) {
        m_pacer.Due(StreamNow(), frameTime);
    }
    const CFramePacer::Slot slot = m_pacer.Take(frameTime);
    return {slot.start, slot.end, slot.discontinuity};
}
