#include "timing/pacing_timer.h"

#include <mmsystem.h>

#include "framework/time_units.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

constexpr UINT kTimerPeriodMs = 1;

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
            return HResultFromLastError();
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

int CPacingTimer::Wait(int64_t duration, const HANDLE* events, int count) {
    // The events that exist, and where each came from.
    HANDLE handles[kMaxEvents + 1];
    int origin[kMaxEvents + 1];
    DWORD used = 0;
    for (int i = 0; events != nullptr && i < count && i < kMaxEvents; ++i) {
        if (events[i] != nullptr) {
            handles[used] = events[i];
            origin[used] = i;
            ++used;
        }
    }
    const auto signalled = [&](DWORD result) {
        return result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + used ? origin[result - WAIT_OBJECT_0] : -1;
    };
    if (duration <= 0) {
        return used == 0 ? -1 : signalled(::WaitForMultipleObjects(used, handles, FALSE, 0));
    }
    if (m_timer) {
        LARGE_INTEGER due = {};
        // Negative: relative to now.
        due.QuadPart = -duration;
        if (::SetWaitableTimer(m_timer.get(), &due, 0, nullptr, nullptr, FALSE)) {
            // The events first: when an event and the timer are both
            // signalled, the event wins.
            handles[used] = m_timer.get();
            const DWORD result = ::WaitForMultipleObjects(used + 1, handles, FALSE, INFINITE);
            if (result == WAIT_OBJECT_0 + used) {
                return -1;
            }
            const int index = signalled(result);
            if (index >= 0) {
                ::CancelWaitableTimer(m_timer.get());
                return index;
            }
            // A bad handle: still wait out the time, never spin.
            ::WaitForSingleObject(m_timer.get(), INFINITE);
            return -1;
        }
    }
    const DWORD ms = static_cast<DWORD>((duration + kUnitsPerMillisecond - 1) / kUnitsPerMillisecond);
    if (used > 0) {
        const DWORD result = ::WaitForMultipleObjects(used, handles, FALSE, ms);
        if (result == WAIT_TIMEOUT) {
            return -1;
        }
        const int index = signalled(result);
        if (index >= 0) {
            return index;
        }
    }
    ::Sleep(ms);
    return -1;
}
