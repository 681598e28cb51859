#include "timing/frame_pacer.h"

#include "settings/frame_time.h"

void CFramePacer::Restart() {
    m_nextStart = 0;
    m_taken = false;
    m_gap = false;
}

int64_t CFramePacer::Due(int64_t streamNow, int64_t frameTime) {
    // Before the first sample there is no slot to be late for; a frame
    // time of 0 (frames as fast as they are taken) has no slots at all.
    if (m_taken && frameTime > 0 && streamNow - m_nextStart >= frameTime) {
        const int64_t missed = (streamNow - m_nextStart) / frameTime;
        m_nextStart += missed * frameTime;
        m_gap = true;
    }
    return m_nextStart;
}

CFramePacer::Slot CFramePacer::Take(int64_t frameTime) {
    const Slot slot = {m_nextStart, m_nextStart + frameTime, m_gap};
    m_nextStart = slot.end;
    m_taken = true;
    m_gap = false;
    return slot;
}
