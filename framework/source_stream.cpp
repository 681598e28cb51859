#include "framework/source_stream.h"

#include <evcode.h>
#include <vfwmsgs.h>

#include <strsafe.h>

#include "framework/source.h"

namespace {

// Room for any int in decimal, with sign and terminator.
constexpr size_t kPinIdChars = 12;

CCritSec* StateLockOf(CSource* filter) {
    return filter != nullptr ? filter->pStateLock() : nullptr;
}

}  // namespace

CSourceStream::CSourceStream(LPCWSTR objectName, HRESULT* phr, CSource* filter, LPCWSTR pinName)
    : CAMThread(nullptr),
      CBaseOutputPin(objectName, filter, StateLockOf(filter), phr, pinName),
      m_pFilter(filter) {
    const HRESULT hr = filter != nullptr ? filter->AddPin(this) : E_POINTER;
    // A failure reported earlier by the caller's construction stays.
    if (phr != nullptr && (FAILED(hr) || SUCCEEDED(*phr))) {
        *phr = hr;
    }
}

CSourceStream::~CSourceStream() {
    if (ThreadExists()) {
        // The owner released the pin without stopping it (CBaseFilter stops
        // itself before its destruction, so this is a pin destroyed some
        // other way). End the worker rather than wait for ever on it.
        if (m_pAllocator) {
            m_pAllocator->Decommit();
        }
        if (static_cast<HRESULT>(CallWorker(CMD_STOP)) == E_UNEXPECTED) {
            // Still waiting for its start-up command.
            CallWorker(CMD_INIT);
        }
        CallWorker(CMD_EXIT);
        Close();
    }
    if (m_pFilter != nullptr) {
        m_pFilter->RemovePin(this);
    }
}

HRESULT CSourceStream::Active() {
    CAutoLock lock(m_pFilter->pStateLock());
    // S_FALSE: already streaming since the filter left Stopped.
    RETURN_HR_IF(S_FALSE, m_pFilter->IsActive());
    if (!IsConnected()) {
        return S_OK;
    }
    RETURN_IF_FAILED(CBaseOutputPin::Active());
    if (!Create()) {
        CBaseOutputPin::Inactive();
        return E_FAIL;
    }
    const HRESULT hr = static_cast<HRESULT>(CallWorker(CMD_INIT));
    if (FAILED(hr)) {
        // The worker has ended after its failed start-up. Its handle is
        // closed and the allocator given back, so that a later Pause can
        // start afresh; the filter stays Stopped and sends no Inactive.
        Close();
        CBaseOutputPin::Inactive();
        return hr;
    }
    return static_cast<HRESULT>(CallWorker(CMD_PAUSE));
}

HRESULT CSourceStream::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (!IsConnected()) {
        return S_OK;
    }
    // The decommit comes before the stop request: it releases a worker
    // that waits for a free buffer.
    RETURN_IF_FAILED(CBaseOutputPin::Inactive());
    if (ThreadExists()) {
        RETURN_IF_FAILED(static_cast<HRESULT>(CallWorker(CMD_STOP)));
        RETURN_IF_FAILED(static_cast<HRESULT>(CallWorker(CMD_EXIT)));
        Close();
    }
    return S_OK;
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* mt) {
    RETURN_HR_IF_NULL(E_POINTER, mt);
    CAutoLock lock(m_pFilter->pStateLock());
    CMediaType mine;
    GetMediaType(&mine);
    return mine == *mt ? S_OK : E_FAIL;
}

HRESULT CSourceStream::GetMediaType(int position, CMediaType* mt) {
    RETURN_HR_IF_NULL(E_POINTER, mt);
    CAutoLock lock(m_pFilter->pStateLock());
    RETURN_HR_IF(E_INVALIDARG, position < 0);
    RETURN_HR_IF(VFW_S_NO_MORE_ITEMS, position > 0);
    return GetMediaType(mt);
}

HRESULT CSourceStream::GetMediaType(CMediaType* /*mt*/) {
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CSourceStream::QueryId(LPWSTR* id) {
    RETURN_HR_IF_NULL(E_POINTER, id);
    *id = nullptr;
    const int position = m_pFilter != nullptr ? m_pFilter->FindPinNumber(static_cast<IPin*>(this)) : -1;
    RETURN_HR_IF(VFW_E_NOT_FOUND, position < 0);
    CoTaskMemPtr<WCHAR> text(static_cast<WCHAR*>(::CoTaskMemAlloc(kPinIdChars * sizeof(WCHAR))));
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, text.get());
    if (FAILED(::StringCchPrintfW(text.get(), kPinIdChars, L"%d", position + 1))) {
        text.get()[0] = L'\0';
    }
    *id = text.release();
    return S_OK;
}

DWORD CSourceStream::ThreadProc() {
    // Created: nothing but CMD_INIT is understood yet.
    while (GetRequest() != CMD_INIT) {
        Reply(static_cast<DWORD>(E_UNEXPECTED));
    }
    const HRESULT hrCreate = OnThreadCreate();
    if (FAILED(hrCreate)) {
        OnThreadDestroy();
        Reply(static_cast<DWORD>(hrCreate));
        return 1;
    }
    Reply(S_OK);

    // Idle: wait for commands; streaming happens inside the sample loop.
    for (bool exiting = false; !exiting;) {
        switch (GetRequest()) {
        case CMD_PAUSE:
        case CMD_RUN:
            Reply(S_OK);
            DoBufferProcessingLoop();
            break;
        case CMD_STOP:
            Reply(S_OK);
            break;
        case CMD_EXIT:
            Reply(S_OK);
            exiting = true;
            break;
        default:
            Reply(static_cast<DWORD>(E_NOTIMPL));
            break;
        }
    }
    return FAILED(OnThreadDestroy()) ? 1 : 0;
}

HRESULT CSourceStream::OnThreadCreate() {
    return S_OK;
}

HRESULT CSourceStream::OnThreadDestroy() {
    return S_OK;
}

HRESULT CSourceStream::OnThreadStartPlay() {
    return S_OK;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    for (;;) {
        DWORD command = 0;
        while (!CheckRequest(&command)) {
            Microsoft::WRL::ComPtr<IMediaSample> sample;
            if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) {
                // The allocator is decommitted while a stop request is on
                // its way; look for it again shortly.
                ::Sleep(1);
                continue;
            }
            const HRESULT hrFill = FillBuffer(sample.Get());
            if (hrFill == kNoSample) {
                continue;
            }
            if (hrFill == S_OK) {
                const HRESULT hrDeliver = Deliver(sample.Get());
                // S_FALSE from downstream means "send no more": stop
                // quietly, without end of stream or event.
                if (hrDeliver != S_OK) {
                    return S_OK;
                }
                continue;
            }
            sample.Reset();
            DeliverEndOfStream();
            if (hrFill == S_FALSE) {
                // The end of the stream, not an error.
                return S_OK;
            }
            m_pFilter->NotifyEvent(EC_ERRORABORT, hrFill, 0);
            return hrFill;
        }
        // The command stays pending unless answered here.
        switch (command) {
        case CMD_PAUSE:
        case CMD_RUN:
            Reply(S_OK);
            break;
        case CMD_STOP:
            // The command loop answers it.
            return S_FALSE;
        default:
            Reply(static_cast<DWORD>(E_UNEXPECTED));
            break;
        }
    }
}
