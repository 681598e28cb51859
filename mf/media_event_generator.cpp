#include "mf/media_event_generator.h"

#include <mferror.h>

HRESULT CMediaEventGenerator::GetEvent(DWORD flags, IMFMediaEvent** event) const {
    RETURN_HR_IF_NULL(E_POINTER, event);
    *event = nullptr;
    Microsoft::WRL::ComPtr<IMFMediaEventQueue> queue;
    {
        CAutoLock lock(&m_lock);
        RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
        queue = m_queue;
    }
    // May block until an event comes: outside the lock.
    return queue->GetEvent(flags, event);
}

HRESULT CMediaEventGenerator::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) const {
    RETURN_HR_IF_NULL(E_POINTER, callback);
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    return m_queue->BeginGetEvent(callback, state);
}

HRESULT CMediaEventGenerator::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) const {
    RETURN_HR_IF(E_POINTER, result == nullptr || event == nullptr);
    *event = nullptr;
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    return m_queue->EndGetEvent(result, event);
}

HRESULT CMediaEventGenerator::QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                         const PROPVARIANT* value) const {
    CAutoLock lock(&m_lock);
    RETURN_HR_IF(MF_E_SHUTDOWN, m_shutdown);
    return m_queue->QueueEventParamVar(type, extendedType, status, value);
}
