// Error idiom and small owners for Win32 and COM resources.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <utility>

#include "framework/thread_checks.h"

// Failures that the error macros below return are reported first: in the
// checked configuration to the debugger output, in every build to the
// diagnostic log while it is on (framework/diagnostic_log.h), and to a
// count that tests read to find failures where they expect none.
namespace qm_failures {

void Report(const char* file, int line, const char* expression, HRESULT hr) noexcept;
// How many failures were reported in this process so far.
long Count() noexcept;

// A failure the code survives (LOG_IF_FAILED): reported like the others,
// and counted apart as well, since no caller sees it: a test that does not
// expect one fails when this count rises.
HRESULT Survived(const char* file, int line, const char* expression, HRESULT hr) noexcept;
long SurvivedCount() noexcept;

}  // namespace qm_failures

#define RETURN_IF_FAILED(expr)                                               \
    do {                                                                     \
        const HRESULT hrChecked_ = (expr);                                   \
        if (FAILED(hrChecked_)) {                                            \
            ::qm_failures::Report(__FILE__, __LINE__, #expr, hrChecked_);    \
            return hrChecked_;                                               \
        }                                                                    \
    } while (0)

// Returns hr when the condition holds; a failure code is reported.
#define RETURN_HR_IF(hr, condition)                                              \
    do {                                                                         \
        if (condition) {                                                         \
            const HRESULT hrReturned_ = (hr);                                    \
            if (FAILED(hrReturned_)) {                                           \
                ::qm_failures::Report(__FILE__, __LINE__, #condition, hrReturned_); \
            }                                                                    \
            return hrReturned_;                                                  \
        }                                                                        \
    } while (0)

#define RETURN_HR_IF_NULL(hr, pointer) RETURN_HR_IF(hr, (pointer) == nullptr)

// A failure the code goes on after (a registry write that could not be
// made, a watch that could not be re-armed): reported, so that it leaves
// a trace in the diagnostic log, and counted for the tests. Evaluates to
// the result.
#define LOG_IF_FAILED(expr) ::qm_failures::Survived(__FILE__, __LINE__, #expr, (expr))

// A result ignored on purpose, with the reason why (which the compiler
// checks is a string and then drops).
#define QM_IGNORE(expr, reason) (static_cast<void>(sizeof(reason)), static_cast<void>(expr))

// A Win32 error code as an HRESULT, the way COM reports it (0x8007xxxx).
// For status codes, where 0 means success.
inline HRESULT HResultFromWin32(DWORD error) {
    return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error);
}

// The failure of a call that has already reported one, from the thread's
// last error. A call that failed without setting an error code still
// failed: that reads as E_FAIL, never as success.
inline HRESULT HResultFromLastError() {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// One owner for one handle-like value. Traits give the null value and the
// function that frees it.
template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : m_value(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    Type get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::Null(); }

    Type release() noexcept {
        Type value = m_value;
        m_value = Traits::Null();
        return value;
    }
    void reset(Type value = Traits::Null()) noexcept {
        if (m_value != Traits::Null()) {
            Traits::Close(m_value);
        }
        m_value = value;
    }
    // For out parameters: frees what is held and hands out the slot.
    Type* put() noexcept {
        reset();
        return &m_value;
    }

private:
    Type m_value = Traits::Null();
};

struct HandleTraits {
    using Type = HANDLE;
    static Type Null() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};
using UniqueHandle = UniqueResource<HandleTraits>;

struct RegKeyTraits {
    using Type = HKEY;
    static Type Null() { return nullptr; }
    static void Close(Type h) { ::RegCloseKey(h); }
};
using UniqueRegKey = UniqueResource<RegKeyTraits>;

struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Null() { return nullptr; }
    static void Close(Type h) { ::DeleteObject(h); }
};
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;

struct MemoryDcTraits {
    using Type = HDC;
    static Type Null() { return nullptr; }
    static void Close(Type h) { ::DeleteDC(h); }
};
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;

struct WindowTraits {
    using Type = HWND;
    static Type Null() { return nullptr; }
    static void Close(Type h) { ::DestroyWindow(h); }
};
using UniqueWindow = UniqueResource<WindowTraits>;

// A window DC from GetDC, released with ReleaseDC on the same window.
class WindowDc {
public:
    explicit WindowDc(HWND window) : m_window(window), m_dc(::GetDC(window)) {}
    ~WindowDc() {
        if (m_dc != nullptr) {
            ::ReleaseDC(m_window, m_dc);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// Selects a GDI object into a DC for one scope and puts the old one back.
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(::SelectObject(dc, object)) {}
    ~ScopedSelectObject() {
        if (m_previous != nullptr && m_previous != HGDI_ERROR) {
            ::SelectObject(m_dc, m_previous);
        }
    }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// COM task memory, freed with CoTaskMemFree.
template <typename T>
class CoTaskMemPtr {
public:
    CoTaskMemPtr() noexcept = default;
    explicit CoTaskMemPtr(T* p) noexcept : m_p(p) {}
    ~CoTaskMemPtr() { ::CoTaskMemFree(m_p); }
    CoTaskMemPtr(const CoTaskMemPtr&) = delete;
    CoTaskMemPtr& operator=(const CoTaskMemPtr&) = delete;

    T* get() const noexcept { return m_p; }
    T* release() noexcept { return std::exchange(m_p, nullptr); }
    T** put() noexcept {
        ::CoTaskMemFree(m_p);
        m_p = nullptr;
        return &m_p;
    }

private:
    T* m_p = nullptr;
};

// A critical section that is also the lock type every class here uses.
// Re-entrant. In the checked configuration it keeps its owner's thread id
// itself, for QM_DCHECK_HELD (CRITICAL_SECTION's own fields are not a
// documented contract).
class CCritSec {
public:
    CCritSec() { ::InitializeCriticalSection(&m_cs); }
    ~CCritSec() { ::DeleteCriticalSection(&m_cs); }
    CCritSec(const CCritSec&) = delete;
    CCritSec& operator=(const CCritSec&) = delete;

    void Lock() {
        ::EnterCriticalSection(&m_cs);
#if QM_DCHECK_IS_ON
        if (m_depth++ == 0) {
            m_owner.store(::GetCurrentThreadId());
        }
#endif
    }
    void Unlock() {
#if QM_DCHECK_IS_ON
        QM_DCHECK(m_depth > 0 && m_owner.load() == ::GetCurrentThreadId());
        if (--m_depth == 0) {
            m_owner.store(0);
        }
#endif
        ::LeaveCriticalSection(&m_cs);
    }
    // Waits on a condition variable, letting go of the lock meanwhile (it is
    // held again on return, by the calling thread once). The caller holds
    // the lock exactly once. False when the time ran out.
    bool WaitFor(CONDITION_VARIABLE* condition, DWORD milliseconds) {
#if QM_DCHECK_IS_ON
        QM_DCHECK(m_depth == 1 && m_owner.load() == ::GetCurrentThreadId());
        m_depth = 0;
        m_owner.store(0);
#endif
        const bool woken = ::SleepConditionVariableCS(condition, &m_cs, milliseconds) != FALSE;
#if QM_DCHECK_IS_ON
        m_depth = 1;
        m_owner.store(::GetCurrentThreadId());
#endif
        return woken;
    }
    // Whether the calling thread holds the lock; for QM_DCHECK_HELD, which
    // calls it only in the checked configuration.
    bool IsHeldByCurrentThread() const {
#if QM_DCHECK_IS_ON
        return m_owner.load() == ::GetCurrentThreadId();
#else
        return true;
#endif
    }

private:
    CRITICAL_SECTION m_cs;
#if QM_DCHECK_IS_ON
    // The holder's thread id, 0 while free; the depth counts re-entries and
    // changes only under the lock.
    std::atomic<DWORD> m_owner{0};
    int m_depth = 0;
#endif
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : m_lock(lock) { m_lock->Lock(); }
    ~CAutoLock() { m_lock->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* m_lock;
};
