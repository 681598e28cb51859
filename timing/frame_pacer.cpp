#include "timing/frame_pacer.h"

#include "settings/frame_time.h"

CPerformanceCounterClock::CPerformanceCounterClock() {
    LARGE_INTEGER frequency = {};
    if (::QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0) {
        m_frequency = frequency.QuadPart;
    }
}

REFERENCE_TIME CPerformanceCounterClock::Now() {
    LARGE_INTEGER counter = {};
    ::QueryPerformanceCounter(&counter);
    // Whole seconds and the remainder apart: counter * 10^7 would overflow
    // after some days of uptime at a 10 MHz counter.
    const LONGLONG seconds = counter.QuadPart / m_frequency;
    const LONGLONG remainder = counter.QuadPart % m_frequency;
    return seconds * kUnitsPerSecond + remainder * kUnitsPerSecond / m_frequency;
}

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
