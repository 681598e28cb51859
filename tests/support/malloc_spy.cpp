#include "tests/support/malloc_spy.h"

namespace qmtest {

MallocSpy::MallocSpy() {
    m_registered = SUCCEEDED(::CoRegisterMallocSpy(this));
}

MallocSpy::~MallocSpy() {
    if (m_registered) {
        Disarm();
        ::CoRevokeMallocSpy();
    }
}

void MallocSpy::FailAllocation(long ordinal) {
    m_failAll = false;
    m_allocations = 0;
    m_failures = 0;
    m_failAt = ordinal;
}

void MallocSpy::FailAll() {
    m_allocations = 0;
    m_failures = 0;
    m_failAt = -1;
    m_failAll = true;
}

HRESULT STDMETHODCALLTYPE MallocSpy::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) {
        *ppv = static_cast<IMallocSpy*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

SIZE_T STDMETHODCALLTYPE MallocSpy::PreAlloc(SIZE_T request) {
    const long ordinal = m_allocations++;
    if (m_failAll || ordinal == m_failAt) {
        ++m_failures;
        return 0;
    }
    return request;
}

void* STDMETHODCALLTYPE MallocSpy::PostAlloc(void* actual) {
    if (actual != nullptr) {
        ++m_outstanding;
    }
    return actual;
}

void* STDMETHODCALLTYPE MallocSpy::PreFree(void* request, BOOL spyed) {
    if (spyed && request != nullptr) {
        --m_outstanding;
    }
    return request;
}

SIZE_T STDMETHODCALLTYPE MallocSpy::PreRealloc(void* request, SIZE_T cb, void** newRequest, BOOL) {
    *newRequest = request;
    return cb;
}

}  // namespace qmtest
