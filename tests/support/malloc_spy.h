// Makes COM task-memory allocations fail on demand, through the platform's
// own CoRegisterMallocSpy hook.
#pragma once

#include <objbase.h>

#include <atomic>

namespace qmtest {

class MallocSpy final : public IMallocSpy {
public:
    // Registers the spy for the lifetime of this object.
    MallocSpy();
    ~MallocSpy();
    MallocSpy(const MallocSpy&) = delete;
    MallocSpy& operator=(const MallocSpy&) = delete;

    bool registered() const { return m_registered; }

    // Counting starts anew: allocation number `ordinal` (0-based) from now
    // fails; -1 lets all succeed.
    void FailAllocation(long ordinal);
    // Every allocation from now on fails.
    void FailAll();
    void Disarm() { FailAllocation(-1); }
    // Allocations seen since the last arm or disarm.
    long allocations() const { return m_allocations.load(); }
    // Allocations that were made to fail since the last arm or disarm.
    long failures() const { return m_failures.load(); }
    // Blocks allocated through the spy and not yet freed, since registration.
    long outstanding() const { return m_outstanding.load(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override;
    void* STDMETHODCALLTYPE PostAlloc(void* actual) override;
    void* STDMETHODCALLTYPE PreFree(void* request, BOOL spyed) override;
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T cb, void** newRequest, BOOL spyed) override;
    void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return actual; }
    void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

private:
    bool m_registered = false;
    std::atomic<long> m_failAt{-1};
    std::atomic<bool> m_failAll{false};
    std::atomic<long> m_allocations{0};
    std::atomic<long> m_failures{0};
    std::atomic<long> m_outstanding{0};
};

}  // namespace qmtest
