// The IMFMediaEventGenerator calls of an object that owns an event queue
// and a shutdown flag under one lock (the media source, its stream): each
// checks its pointers, refuses after Shutdown with MF_E_SHUTDOWN and
// forwards to the queue. GetEvent may block until an event comes, so it
// waits outside the lock.
#pragma once

#include <windows.h>
#include <mfidl.h>
#include <mfobjects.h>
#include <wrl/client.h>

#include "framework/com_util.h"

class CMediaEventGenerator {
public:
    CMediaEventGenerator(CCritSec& lock, const bool& shutdown, const Microsoft::WRL::ComPtr<IMFMediaEventQueue>& queue)
        : m_lock(lock), m_shutdown(shutdown), m_queue(queue) {}
    CMediaEventGenerator(const CMediaEventGenerator&) = delete;
    CMediaEventGenerator& operator=(const CMediaEventGenerator&) = delete;

    [[nodiscard]] HRESULT GetEvent(DWORD flags, IMFMediaEvent** event) const;
    [[nodiscard]] HRESULT BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) const;
    [[nodiscard]] HRESULT EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) const;
    [[nodiscard]] HRESULT QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                     const PROPVARIANT* value) const;

private:
    CCritSec& m_lock;
    const bool& m_shutdown;
    const Microsoft::WRL::ComPtr<IMFMediaEventQueue>& m_queue;
};
