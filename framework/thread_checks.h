// Checks of the code's own claims about threads and locks, compiled in
// only in the checked configuration (QM_CHECKED), which every test
// program, tool test and benchmark is built in. The module users get has
// none of it: there each check compiles to nothing and its condition is
// never evaluated.
//
// QM_DCHECK(condition): a claim that must hold. A failed check writes one
// line, "QM_DCHECK failed: file(line): condition", to stderr and to the
// debugger output, then aborts the process.
//
// QM_DCHECK_HELD(lock): the calling thread holds a CCritSec.
//
// CThreadChecker + QM_DCHECK_ON_THREAD(checker): the calling thread is the
// one the checker is bound to. A checker binds to the first thread that
// asks; Detach() lets it bind anew, for an object handed from one thread
// to another (a streaming thread that ends and a later one that starts).
#pragma once

#include <windows.h>

#include <atomic>

#if defined(QM_CHECKED) && QM_CHECKED
#define QM_DCHECK_IS_ON 1
#else
#define QM_DCHECK_IS_ON 0
#endif

namespace qm_checks {

#if QM_DCHECK_IS_ON
// Reports a failed check and aborts.
[[noreturn]] void DcheckFailed(const char* file, int line, const char* condition);
#endif

}  // namespace qm_checks

#if QM_DCHECK_IS_ON
#define QM_DCHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::qm_checks::DcheckFailed(__FILE__, __LINE__, #condition))
#else
// Not evaluated, but still compiled, so that a check cannot rot unseen.
#define QM_DCHECK(condition) static_cast<void>(sizeof(!(condition)))
#endif

#define QM_DCHECK_HELD(lock) QM_DCHECK((lock).IsHeldByCurrentThread())
#define QM_DCHECK_ON_THREAD(checker) QM_DCHECK((checker).CalledOnValidThread())

// The thread an object belongs to. Empty in the shipped module.
class CThreadChecker {
public:
    CThreadChecker() = default;
    CThreadChecker(const CThreadChecker&) = delete;
    CThreadChecker& operator=(const CThreadChecker&) = delete;

    // True on the bound thread; binds an unbound checker to the caller.
    bool CalledOnValidThread() const {
#if QM_DCHECK_IS_ON
        const DWORD self = ::GetCurrentThreadId();
        DWORD bound = 0;
        // Thread ids are never 0, so 0 stands for "not bound".
        if (m_thread.compare_exchange_strong(bound, self)) {
            return true;
        }
        return bound == self;
#else
        return true;
#endif
    }

    // Unbinds: the next thread that asks becomes the owner.
    void Detach() {
#if QM_DCHECK_IS_ON
        m_thread.store(0);
#endif
    }

private:
#if QM_DCHECK_IS_ON
    mutable std::atomic<DWORD> m_thread{0};
#endif
};
