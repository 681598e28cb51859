#include "picture/standby_image_loader.h"

#include <cwchar>
#include <new>
#include <utility>

#include "framework/diagnostic_log.h"

struct CStandbyImageLoader::Shared {
    explicit Shared(LoadFunction loadFunction) : load(loadFunction) {}

    // Shared by the loader and its thread; the last one to let go deletes
    // it (the thread's may come after the loader has gone).
    void AddRef() { references.fetch_add(1); }
    void Release() {
        if (references.fetch_sub(1) == 1) {
            delete this;
        }
    }

    // The thread's loop: reads each request until `quit`.
    void Serve();

    std::atomic<long> references{1};
    const LoadFunction load;
    // Auto-reset: a request (or the end) is waiting.
    UniqueHandle wake{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    // The module stays loaded while the thread runs its code.
    HMODULE module = nullptr;

    // Guards what follows; never held across a read.
    CCritSec lock;
    // The latest request: its number and path.
    unsigned requested = 0;
    wchar_t path[kStandbyImageCapacity] = {};
    // The loader has gone (or goes): no more reads, and no result is kept.
    bool quit = false;
    // The result of request readNumber, waiting to be taken.
    unsigned readNumber = 0;
    bool ready = false;
    CStandbyImage result;
    // Set whenever a result waits, so that the owner's check per frame is
    // a plain load while nothing has come.
    std::atomic<bool> hasResult{false};
    // Tells the read in progress that its result is no longer wanted: set
    // by every newer request, Cancel and the loader's end, cleared by the
    // thread as it starts a read (both under the lock).
    std::atomic<bool> cancel{false};
};

namespace {

DWORD WINAPI LoaderThreadProc(LPVOID parameter) {
    // The thread's own reference, taken for it by EnsureThread.
    auto* shared = static_cast<CStandbyImageLoader::Shared*>(parameter);
    const HMODULE module = shared->module;
    shared->Serve();
    // The last reference may be this one: the state goes with the thread.
    shared->Release();
    if (module != nullptr) {
        ::FreeLibraryAndExitThread(module, 0);
    }
    return 0;
}

}  // namespace

void CStandbyImageLoader::Shared::Serve() {
    // A path of the request being read, copied out of the lock.
    wchar_t readPath[kStandbyImageCapacity] = {};
    for (;;) {
        ::WaitForSingleObject(wake.get(), INFINITE);
        unsigned number = 0;
        {
            CAutoLock hold(&lock);
            if (quit) {
                return;
            }
            if (path[0] == L'\0' || ready || readNumber == requested) {
                continue;
            }
            number = requested;
            std::wmemcpy(readPath, path, kStandbyImageCapacity);
            cancel = false;
        }
        CStandbyImage image;
        QM_IGNORE(load(readPath, cancel, &image), "a file that cannot be used gives the plain standby frame");
        CAutoLock hold(&lock);
        if (quit) {
            // The loader has gone meanwhile: the picture goes with the
            // thread.
            return;
        }
        if (number == requested) {
            readNumber = number;
            result = std::move(image);
            ready = true;
            hasResult.store(true, std::memory_order_release);
        }
        // A newer request came meanwhile: its event is set, and the loop
        // reads it next.
    }
}

CStandbyImageLoader::~CStandbyImageLoader() {
    if (m_shared == nullptr) {
        return;
    }
    if (m_thread) {
        {
            CAutoLock lock(&m_shared->lock);
            m_shared->quit = true;
            // The read in progress, if any, ends early.
            ++m_shared->requested;
        }
        m_shared->cancel = true;
        QM_IGNORE(::SetEvent(m_shared->wake.get()), "a valid event sets");
        // An idle thread ends at once, a cancelled decode soon; a read that
        // blocks is left to end by itself, with its own reference.
        if (::WaitForSingleObject(m_thread.get(), kThreadExitWaitMs) != WAIT_OBJECT_0) {
            diagnostic_log::Write("standby image read still running as its loader ends: left to end by itself");
        }
    }
    m_shared->Release();
}

bool CStandbyImageLoader::EnsureShared() {
    if (m_shared == nullptr) {
        m_shared = new (std::nothrow) Shared(m_load);
    }
    return m_shared != nullptr;
}

bool CStandbyImageLoader::EnsureThread() {
    if (m_thread) {
        return true;
    }
    if (!m_shared->wake) {
        return false;
    }
    HMODULE module = nullptr;
    QM_IGNORE(::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&LoaderThreadProc)), &module),
              "without a module reference the thread still runs; only a host that unloads us mid-read would mind");
    m_shared->module = module;
    // The thread's reference.
    m_shared->AddRef();
    m_thread.reset(::CreateThread(nullptr, 0, &LoaderThreadProc, m_shared, 0, nullptr));
    if (!m_thread) {
        m_shared->Release();
        if (module != nullptr) {
            ::FreeLibrary(module);
        }
        return false;
    }
    return true;
}

void CStandbyImageLoader::Request(const wchar_t* path) {
    if (path == nullptr) {
        path = L"";
    }
    if (!EnsureShared()) {
        diagnostic_log::Write("standby image not read: no memory for its loader");
        return;
    }
    Shared& shared = *m_shared;
    const size_t length = wcsnlen(path, kStandbyImageCapacity - 1);
    if (length == 0 || !EnsureThread()) {
        // Nothing to read, or no thread to read it on: the result now.
        CStandbyImage image;
        if (length != 0) {
            diagnostic_log::Write("standby image read on the streaming thread: no loader thread");
            const std::atomic<bool> never{false};
            QM_IGNORE(shared.load(path, never, &image), "a file that cannot be used gives the plain standby frame");
        }
        CAutoLock lock(&shared.lock);
        ++shared.requested;
        shared.cancel = true;
        shared.path[0] = L'\0';
        shared.readNumber = shared.requested;
        shared.result = std::move(image);
        shared.ready = true;
        shared.hasResult = true;
        return;
    }
    {
        CAutoLock lock(&shared.lock);
        ++shared.requested;
        // A read of an earlier request gives up.
        shared.cancel = true;
        std::wmemcpy(shared.path, path, length);
        shared.path[length] = L'\0';
        shared.ready = false;
        shared.hasResult = false;
        shared.result.Clear();
    }
    QM_IGNORE(::SetEvent(shared.wake.get()), "a valid event sets");
}

void CStandbyImageLoader::Cancel() {
    if (m_shared == nullptr) {
        return;
    }
    Shared& shared = *m_shared;
    CAutoLock lock(&shared.lock);
    ++shared.requested;
    shared.cancel = true;
    shared.path[0] = L'\0';
    shared.ready = false;
    shared.hasResult = false;
    shared.result.Clear();
}

bool CStandbyImageLoader::TakeLoaded(CStandbyImage* image) {
    if (m_shared == nullptr || !m_shared->hasResult.load(std::memory_order_acquire)) {
        return false;
    }
    Shared& shared = *m_shared;
    CAutoLock lock(&shared.lock);
    if (!shared.ready || shared.readNumber != shared.requested) {
        return false;
    }
    *image = std::move(shared.result);
    shared.ready = false;
    shared.hasResult = false;
    return true;
}
