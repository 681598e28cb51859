#include "timing/frame_pacer.h"

#include "settings/frame_time.h"

void CFramePacer::Restart() {
    m_nextStart = 0;
    m_taken = false;
    m_gap = false;
}

REFERENCE_TIME CFramePacer::Due(REFERENCE_TIME streamNow, REFERENCE_TIME frameTime) {
    // Before the first sample there is no slot to be late for; a frame
    // time of 0 (frames as fast as they are taken) has no slots at all.
    if (m_taken && frameTime > 0 && streamNow - m_nextStart >= frameTime) {
        const REFERENCE_TIME missed = (streamNow - m_nextStart) / frameTime;
        m_nextStart += missed * frameTime;
        m_gap = true;
    }
    return m_nextStart;
}

CFramePacer::Slot CFramePacer::Take(REFERENCE_TIME frameTime) {
    const Slot slot = {m_nextStart, m_nextStart + frameTime, m_gap};
    m_nextStart = slot.end;
    m_taken = true;
    m_gap = false;
    return slot;
}
