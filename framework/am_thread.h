// CAMThread: a worker thread with a one-slot request/reply channel. A
// requester posts a command and blocks until the worker answers it.
#pragma once

#include <windows.h>

#include <atomic>

#include "framework/com_util.h"

class CAMThread {
public:
    // A failure to create the events is stored in `phr` when given and it
    // still holds a success.
    explicit CAMThread(HRESULT* phr = nullptr);
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    // The body the worker runs; its result is the thread's exit code.
    virtual DWORD ThreadProc() = 0;
    // Waits for a worker that still exists.
    virtual ~CAMThread();

    // Starts the worker. FALSE when one is already running or the thread
    // cannot be created. A recorded worker that has ended by itself is
    // closed first, so that a new one can start.
    [[nodiscard]] BOOL Create();

    // Requester side: posts `command` and waits for the reply. Requests
    // are serialised by m_AccessLock, which is held until the reply comes;
    // take it after the filter's state lock, never before. E_FAIL when no
    // worker exists or the worker ends without replying.
    DWORD CallWorker(DWORD command);

    // Worker side: waits for a request and returns its command, leaving
    // the request pending until Reply.
    DWORD GetRequest();
    // Worker side: TRUE, with the command stored through `command` when
    // not null, if a request is pending; it stays pending.
    BOOL CheckRequest(DWORD* command);
    // Worker side: answers the pending request.
    void Reply(DWORD value);

    BOOL ThreadExists() const { return m_hThread.load() != nullptr; }
    // Waits for the worker to end and closes its handle. Only one caller
    // gets the handle to wait on.
    void Close();

    static DWORD WINAPI InitialThreadProc(LPVOID parameter);

protected:
    // The request event, for a worker that waits on something of its own
    // (a frame timer, say) and must wake at once when a command arrives:
    // wait on this handle together with the other one. It is manual-reset
    // and set exactly while a request is pending, so waiting on it does
    // not consume the request; never reset it, and leave answering to the
    // command loop (return to it promptly once the handle is signalled).
    HANDLE GetRequestHandle() const { return m_EventSend.get(); }

    // Set while a request is pending; manual-reset so that CheckRequest
    // can look at it without consuming it.
    UniqueHandle m_EventSend;
    // Set when the reply is ready; auto-reset.
    UniqueHandle m_EventComplete;
    // Written by the requester before m_EventSend is set, and by the
    // worker before m_EventComplete is set; the events order the accesses.
    DWORD m_dwParam = 0;
    DWORD m_dwReturnVal = 0;
    std::atomic<HANDLE> m_hThread{nullptr};
    // Serialises requesters, thread creation and Close.
    CCritSec m_AccessLock;
};
