#include "picture/standby_image_loader.h"

#include <cwchar>
#include <utility>

#include "framework/diagnostic_log.h"

CStandbyImageLoader::~CStandbyImageLoader() {
    if (!m_thread) {
        return;
    }
    {
        CAutoLock lock(&m_lock);
        m_quit = true;
        // The read in progress, if any, ends early.
        ++m_requested;
    }
    m_cancel = true;
    QM_IGNORE(::SetEvent(m_wake.get()), "a valid event sets");
    ::WaitForSingleObject(m_thread.get(), INFINITE);
}

bool CStandbyImageLoader::EnsureThread() {
    if (m_thread) {
        return true;
    }
    if (!m_wake) {
        m_wake.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!m_wake) {
            return false;
        }
    }
    m_thread.reset(::CreateThread(nullptr, 0, &ThreadProc, this, 0, nullptr));
    return static_cast<bool>(m_thread);
}

void CStandbyImageLoader::Request(const wchar_t* path) {
    if (path == nullptr) {
        path = L"";
    }
    const size_t length = wcsnlen(path, kStandbyImageCapacity - 1);
    if (length == 0 || !EnsureThread()) {
        // Nothing to read, or no thread to read it on: the result now.
        CStandbyImage image;
        if (length != 0) {
            diagnostic_log::Write("standby image read on the streaming thread: no loader thread");
            const std::atomic<bool> never{false};
            QM_IGNORE(m_load(path, never, &image), "a file that cannot be used gives the plain standby frame");
        }
        CAutoLock lock(&m_lock);
        ++m_requested;
        m_cancel = true;
        m_path[0] = L'\0';
        m_readNumber = m_requested;
        m_result = std::move(image);
        m_ready = true;
        m_hasResult = true;
        return;
    }
    {
        CAutoLock lock(&m_lock);
        ++m_requested;
        // A read of an earlier request gives up.
        m_cancel = true;
        std::wmemcpy(m_path, path, length);
        m_path[length] = L'\0';
        m_ready = false;
        m_hasResult = false;
        m_result.Clear();
    }
    QM_IGNORE(::SetEvent(m_wake.get()), "a valid event sets");
}

void CStandbyImageLoader::Cancel() {
    CAutoLock lock(&m_lock);
    ++m_requested;
    m_cancel = true;
    m_path[0] = L'\0';
    m_ready = false;
    m_hasResult = false;
    m_result.Clear();
}

bool CStandbyImageLoader::TakeLoaded(CStandbyImage* image) {
    if (!m_hasResult.load(std::memory_order_acquire)) {
        return false;
    }
    CAutoLock lock(&m_lock);
    if (!m_ready || m_readNumber != m_requested) {
        return false;
    }
    *image = std::move(m_result);
    m_ready = false;
    m_hasResult = false;
    return true;
}

DWORD WINAPI CStandbyImageLoader::ThreadProc(LPVOID parameter) {
    static_cast<CStandbyImageLoader*>(parameter)->Serve();
    return 0;
}

void CStandbyImageLoader::Serve() {
    // A path of the request being read, copied out of the lock.
    wchar_t path[kStandbyImageCapacity] = {};
    for (;;) {
        ::WaitForSingleObject(m_wake.get(), INFINITE);
        unsigned number = 0;
        {
            CAutoLock lock(&m_lock);
            if (m_quit) {
                return;
            }
            if (m_path[0] == L'\0' || m_ready || m_readNumber == m_requested) {
                continue;
            }
            number = m_requested;
            std::wmemcpy(path, m_path, kStandbyImageCapacity);
            m_cancel = false;
        }
        CStandbyImage image;
        QM_IGNORE(m_load(path, m_cancel, &image), "a file that cannot be used gives the plain standby frame");
        CAutoLock lock(&m_lock);
        if (number == m_requested) {
            m_readNumber = number;
            m_result = std::move(image);
            m_ready = true;
            m_hasResult.store(true, std::memory_order_release);
        }
        // A newer request came meanwhile: its event is set, and the loop
        // reads it next.
    }
}
