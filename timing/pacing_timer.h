// Waits for the pacing of frames: a waitable timer that ends the wait at
// a precise moment, or earlier when a wake event is signalled.
#pragma once

#include <windows.h>
#include <cstdint>

#include "framework/com_util.h"

class CPacingTimer {
public:
    CPacingTimer() = default;
    ~CPacingTimer() { Stop(); }
    CPacingTimer(const CPacingTimer&) = delete;
    CPacingTimer& operator=(const CPacingTimer&) = delete;

    // Creates the timer: a high-resolution one where the system has them,
    // otherwise a plain one plus a 1 ms system timer resolution, requested
    // until Stop (the coarse default, 15.6 ms on Windows, would make the
    // frame times jitter by as much).
    [[nodiscard]] HRESULT Start();
    void Stop();
    bool IsStarted() const { return static_cast<bool>(m_timer); }
    bool IsHighResolution() const { return m_highResolution; }

    // Waits for duration (100-ns units) or until one of the events is
    // signalled, whichever comes first; the index of the event that ended
    // the wait (the first of several), or -1 when the time ran out. A
    // manual-reset event stays set; an auto-reset one is consumed. Up to
    // kMaxEvents events; null entries are skipped. Without Start, waits in
    // whole milliseconds.
    static constexpr int kMaxEvents = 4;
    int Wait(int64_t duration, const HANDLE* events, int count);
    // The same with one event (may be null): true when it ended the wait.
    bool Wait(int64_t duration, HANDLE wakeEvent) { return Wait(duration, &wakeEvent, 1) == 0; }

private:
    UniqueHandle m_timer;
    bool m_highResolution = false;
    bool m_periodRequested = false;
};
