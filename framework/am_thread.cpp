#include "framework/am_thread.h"

#include <objbase.h>

namespace {

// The worker joins the multithreaded apartment, without DDE: the module
// imports ole32 anyway (for task memory and its enumerators), so COM is
// always at hand. A thread that cannot join (out of memory) runs without
// COM, and the sample loop does not need it.
HRESULT InitializeWorkerCom() {
    return ::CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
}

}  // namespace

CAMThread::CAMThread(HRESULT* phr)
    : m_EventSend(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_EventComplete(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if ((!m_EventSend || !m_EventComplete) && phr != nullptr && SUCCEEDED(*phr)) {
        *phr = E_OUTOFMEMORY;
    }
}

CAMThread::~CAMThread() {
    Close();
}

BOOL CAMThread::Create() {
    CAutoLock lock(&m_AccessLock);
    HANDLE existing = m_hThread.load();
    if (existing != nullptr) {
        if (::WaitForSingleObject(existing, 0) != WAIT_OBJECT_0) {
            return FALSE;
        }
        // The worker ended by itself (its start-up failed): nobody will
        // wait for it any more.
        m_hThread = nullptr;
        ::CloseHandle(existing);
    }
    if (!m_EventSend || !m_EventComplete) {
        return FALSE;
    }
    HANDLE thread = ::CreateThread(nullptr, 0, &CAMThread::InitialThreadProc, this, 0, nullptr);
    if (thread == nullptr) {
        return FALSE;
    }
    m_hThread = thread;
    return TRUE;
}

DWORD CAMThread::CallWorker(DWORD command) {
    CAutoLock lock(&m_AccessLock);
    HANDLE thread = m_hThread.load();
    if (thread == nullptr) {
        return static_cast<DWORD>(E_FAIL);
    }
    m_dwParam = command;
    ::SetEvent(m_EventSend.get());
    // The thread handle is watched too: a worker that has ended never
    // replies. A reply comes before the worker can end, and the wait
    // reports the lower index first when both are set.
    const HANDLE waits[] = {m_EventComplete.get(), thread};
    if (::WaitForMultipleObjects(ARRAYSIZE(waits), waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        ::ResetEvent(m_EventSend.get());
        return static_cast<DWORD>(E_FAIL);
    }
    return m_dwReturnVal;
}

DWORD CAMThread::GetRequest() {
    ::WaitForSingleObject(m_EventSend.get(), INFINITE);
    return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* command) {
    if (::WaitForSingleObject(m_EventSend.get(), 0) != WAIT_OBJECT_0) {
        return FALSE;
    }
    if (command != nullptr) {
        *command = m_dwParam;
    }
    return TRUE;
}

void CAMThread::Reply(DWORD value) {
    m_dwReturnVal = value;
    // Reset before the requester wakes, so that the next request cannot
    // be mistaken for this one.
    ::ResetEvent(m_EventSend.get());
    ::SetEvent(m_EventComplete.get());
}

void CAMThread::Close() {
    // Under the access lock, so that no requester waits on the handle
    // while it is closed. The worker never takes this lock.
    CAutoLock lock(&m_AccessLock);
    HANDLE thread = m_hThread.exchange(nullptr);
    if (thread != nullptr) {
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
    }
}

DWORD WINAPI CAMThread::InitialThreadProc(LPVOID parameter) {
    auto* self = static_cast<CAMThread*>(parameter);
    const HRESULT hrCom = InitializeWorkerCom();
    const DWORD result = self->ThreadProc();
    if (SUCCEEDED(hrCom)) {
        ::CoUninitialize();
    }
    return result;
}
