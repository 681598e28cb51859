#include "capture/graph_clock.h"

void CGraphClock::Set(IReferenceClock* clock) {
    // The reference the lock replaces is let go of outside it.
    Microsoft::WRL::ComPtr<IReferenceClock> previous;
    CAutoLock lock(&m_lock);
    previous.Swap(m_clock);
    m_clock = clock;
}

bool CGraphClock::HasClock() const {
    CAutoLock lock(&m_lock);
    return static_cast<bool>(m_clock);
}

bool CGraphClock::Now(int64_t* time) {
    Microsoft::WRL::ComPtr<IReferenceClock> clock;
    {
        CAutoLock lock(&m_lock);
        clock = m_clock;
    }
    REFERENCE_TIME now = 0;
    if (!clock || FAILED(clock->GetTime(&now))) {
        return false;
    }
    *time = now;
    return true;
}
