#include "framework/source_stream.h"

#include <evcode.h>
#include <vfwmsgs.h>

#include <strsafe.h>

#include <cassert>

#include "framework/source.h"

namespace {

// Room for any int in decimal, with sign and terminator.
constexpr size_t kPinIdChars = 12;
// How long the worker waits for a request before it asks the allocator
// again after a failed GetBuffer.
constexpr DWORD kBufferRetryMs = 10;

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
    // The filter and derived pins end the worker before this runs (see
    // EndWorker); here the derived pin's parts are already gone.
    QM_DCHECK(!ThreadExists());
    EndWorker();
    if (m_pFilter != nullptr) {
        QM_IGNORE(m_pFilter->RemovePin(this), "S_FALSE: the pin never joined the table");
    }
}

void CSourceStream::EndWorker() {
    if (!ThreadExists()) {
        return;
    }
    // Whatever it answers: the worker is ended next in any case, and a
    // decommit that fails still leaves a worker that gets buffers.
    if (m_pAllocator) {
        m_pAllocator->Decommit();
    }
    StopWorker();
}

void CSourceStream::StopWorker() {
    if (!ThreadExists()) {
        return;
    }
    // A streaming or idle worker answers the stop request and is idle
    // after it; one still waiting for its start-up command refuses it
    // (E_UNEXPECTED) and takes the exit request at once. The answers say
    // nothing more: Close waits until the worker has ended, which is all
    // that callers rely on.
    CallWorker(CMD_STOP);
    CallWorker(CMD_EXIT);
    Close();
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
    const HRESULT hrPause = static_cast<HRESULT>(CallWorker(CMD_PAUSE));
    if (FAILED(hrPause)) {
        // A worker that refused to stream still runs: it is ended here, as
        // after a failed start-up, so that nothing is left started.
        StopWorker();
        CBaseOutputPin::Inactive();
    }
    return hrPause;
}

HRESULT CSourceStream::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    // The decommit comes before the stop request: it releases a worker
    // that waits for a free buffer. Its failure does not keep the worker
    // alive: a filter that deactivated its pins, or is being destroyed,
    // must have no streaming thread left.
    const HRESULT hr = IsConnected() ? CBaseOutputPin::Inactive() : S_OK;
    StopWorker();
    return hr;
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* mt) {
    RETURN_HR_IF_NULL(E_POINTER, mt);
    CAutoLock lock(m_pFilter->pStateLock());
    CMediaType mine;
    // A pin that cannot say its format accepts nothing, and says why.
    RETURN_IF_FAILED(GetMediaType(&mine));
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
    // Created: nothing but CMD_INIT is understood yet, and CMD_EXIT, so
    // that a pin can end a worker whose start-up never came.
    for (;;) {
        const DWORD command = GetRequest();
        if (command == CMD_INIT) {
            break;
        }
        if (command == CMD_EXIT) {
            Reply(S_OK);
            return 0;
        }
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
                // its way, or has no buffer to give for now: wait for the
                // request, and try again after a while when none comes.
                ::WaitForSingleObject(GetRequestHandle(), kBufferRetryMs);
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
            QM_IGNORE(DeliverEndOfStream(), "the stream ends either way");
            if (hrFill == S_FALSE) {
                // The end of the stream, not an error.
                return S_OK;
            }
            QM_IGNORE(m_pFilter->NotifyEvent(EC_ERRORABORT, hrFill, 0), "outside a graph nobody is told");
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
