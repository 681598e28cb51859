#include "capture/frame_pacer.h"

namespace {

constexpr LONGLONG kUnitsPerSecond = 10000000;

}  // namespace

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

REFERENCE_TIME CFramePacer::TimeUntilDue() {
    const REFERENCE_TIME now = m_clock.Now();
    if (!m_scheduled) {
        m_scheduled = true;
        m_due = now;
    }
    return m_due - now;
}

void CFramePacer::Advance(REFERENCE_TIME frameTime) {
    const REFERENCE_TIME now = m_clock.Now();
    if (!m_scheduled || now - m_due > frameTime) {
        m_scheduled = true;
        m_due = now;
    }
    m_due += frameTime;
}
