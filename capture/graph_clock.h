// CGraphClock: the DirectShow graph's reference clock as the stream clock
// the pacing follows. The pin keeps one for its life and hands the graph's
// clock to it at each Run (the graph may choose another clock between
// runs, or none); the streaming thread reads the time through it.
//
// Threads. Set from the filter's state changes (any thread), read by the
// streaming thread; a leaf lock guards the clock, which is never called
// under it.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include "timing/pacing_clock.h"
#include "framework/com_util.h"

class CGraphClock final : public IStreamClock {
public:
    // The graph's clock from now on; null for none.
    void Set(IReferenceClock* clock);
    // Whether a clock is set.
    bool HasClock() const;
    // The clock's time; false without a clock or when it fails.
    bool Now(int64_t* time) override;

private:
    mutable CCritSec m_lock;
    Microsoft::WRL::ComPtr<IReferenceClock> m_clock;
};
