#include "capture/pacing_timer.h"

#include <mmsystem.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

constexpr UINT kTimerPeriodMs = 1;
constexpr REFERENCE_TIME kUnitsPerMs = 10000;

}  // namespace

HRESULT CPacingTimer::Start() {
    if (m_timer) {
        return S_OK;
    }
    // Systems before Windows 10 1803 refuse the flag.
    m_timer.reset(::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS));
    m_highResolution = static_cast<bool>(m_timer);
    if (!m_timer) {
        m_timer.reset(::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
        if (!m_timer) {
            return HResultFromWin32(::GetLastError());
        }
        m_periodRequested = ::timeBeginPeriod(kTimerPeriodMs) == TIMERR_NOERROR;
    }
    return S_OK;
}

void CPacingTimer::Stop() {
    if (m_periodRequested) {
        ::timeEndPeriod(kTimerPeriodMs);
        m_periodRequested = false;
    }
    m_timer.reset();
    m_highResolution = false;
}

bool CPacingTimer::Wait(REFERENCE_TIME duration, HANDLE wakeEvent) {
    if (duration <= 0) {
        return wakeEvent != nullptr && ::WaitForSingleObject(wakeEvent, 0) == WAIT_OBJECT_0;
    }
    if (m_timer) {
        LARGE_INTEGER due = {};
        // Negative: relative to now.
        due.QuadPart = -duration;
        if (::SetWaitableTimer(m_timer.get(), &due, 0, nullptr, nullptr, FALSE)) {
            // The event first: when both are signalled, the request wins.
            const HANDLE handles[2] = {wakeEvent, m_timer.get()};
            if (wakeEvent == nullptr) {
                ::WaitForSingleObject(m_timer.get(), INFINITE);
                return false;
            }
            const DWORD result = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
            if (result == WAIT_OBJECT_0) {
                ::CancelWaitableTimer(m_timer.get());
                return true;
            }
            if (result == WAIT_OBJECT_0 + 1) {
                return false;
            }
            // A bad wake handle: still wait out the frame, never spin.
            ::WaitForSingleObject(m_timer.get(), INFINITE);
            return false;
        }
    }
    const DWORD ms = static_cast<DWORD>((duration + kUnitsPerMs - 1) / kUnitsPerMs);
    if (wakeEvent != nullptr) {
        const DWORD result = ::WaitForSingleObject(wakeEvent, ms);
        if (result == WAIT_OBJECT_0) {
            return true;
        }
        if (result == WAIT_TIMEOUT) {
            return false;
        }
    }
    ::Sleep(ms);
    return false;
}
