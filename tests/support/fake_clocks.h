// Reference clocks for tests that drive a filter's pacing: one whose time
// the test sets, and one that runs on the performance counter, so that its
// times compare with counter times painted into a window.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <atomic>

#include "timing/frame_pacer.h"
#include "timing/pacing_clock.h"
#include "tests/support/fake_com_object.h"

namespace qmtest {

// The time-keeping part of IReferenceClock; no advise calls.
template <typename Derived>
class TimeOnlyReferenceClock : public FakeComObject<IReferenceClock> {
public:
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) override {
        if (time == nullptr) {
            return E_POINTER;
        }
        *time = static_cast<Derived*>(this)->Now();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return E_NOTIMPL; }
};

// Stands still but where the test sets it.
class ManualReferenceClock final : public TimeOnlyReferenceClock<ManualReferenceClock> {
public:
    REFERENCE_TIME Now() const { return now.load(); }
    std::atomic<REFERENCE_TIME> now{0};
};

// The performance counter, in 100-ns units.
class CounterReferenceClock final : public TimeOnlyReferenceClock<CounterReferenceClock> {
public:
    REFERENCE_TIME Now() { return m_counter.Now(); }

private:
    CPerformanceCounterClock m_counter;
};

}  // namespace qmtest
