#include "mf/sample_pool.h"

#include <mfapi.h>

#include "framework/com_util.h"
#include "mf/media_foundation.h"

using Microsoft::WRL::ComPtr;

HRESULT CSamplePool::MakeEntry(uint32_t bytes, Entry* entry) {
    ComPtr<IMFSample> sample;
    ComPtr<IMFMediaBuffer> buffer;
    RETURN_IF_FAILED(media_foundation::CreateSample(&sample));
    RETURN_IF_FAILED(media_foundation::CreateMemoryBuffer(bytes, &buffer));
    RETURN_IF_FAILED(sample->AddBuffer(buffer.Get()));
    entry->sample = std::move(sample);
    entry->buffer = std::move(buffer);
    return S_OK;
}

bool CSamplePool::IsFree(const Entry& entry) {
    if (!entry.sample || !entry.buffer) {
        return false;
    }
    entry.sample->AddRef();
    const ULONG sampleCount = entry.sample->Release();
    entry.buffer->AddRef();
    const ULONG bufferCount = entry.buffer->Release();
    return sampleCount == 1 && bufferCount == 2;
}

HRESULT CSamplePool::Reset(uint32_t bytes) {
    QM_DCHECK_ON_THREAD(m_thread);
    RETURN_HR_IF(E_INVALIDARG, bytes == 0);
    Unlock();
    for (Entry& entry : m_entries) {
        entry = Entry{};
    }
    m_overflowEntry = Entry{};
    m_bytes = 0;
    m_overflow = 0;
    m_next = 0;
    for (Entry& entry : m_entries) {
        const HRESULT hr = MakeEntry(bytes, &entry);
        if (FAILED(hr)) {
            for (Entry& made : m_entries) {
                made = Entry{};
            }
            return hr;
        }
    }
    m_bytes = bytes;
    return S_OK;
}

HRESULT CSamplePool::Acquire(IMFSample** sample, BYTE** data) {
    QM_DCHECK_ON_THREAD(m_thread);
    RETURN_HR_IF(E_POINTER, sample == nullptr || data == nullptr);
    *sample = nullptr;
    *data = nullptr;
    RETURN_HR_IF(E_UNEXPECTED, m_bytes == 0);
    Unlock();

    Entry* chosen = nullptr;
    for (int i = 0; i < kPoolSize && chosen == nullptr; ++i) {
        Entry& entry = m_entries[(m_next + i) % kPoolSize];
        if (IsFree(entry)) {
            chosen = &entry;
            m_next = (m_next + i + 1) % kPoolSize;
        }
    }
    if (chosen == nullptr) {
        // Every pooled sample is still with the client: one of its own for
        // this frame.
        RETURN_IF_FAILED(MakeEntry(m_bytes, &m_overflowEntry));
        ++m_overflow;
        chosen = &m_overflowEntry;
    }

    IMFSample* picked = chosen->sample.Get();
    // What the previous client set on the sample does not travel on.
    RETURN_IF_FAILED(picked->DeleteAllItems());
    RETURN_IF_FAILED(picked->SetSampleFlags(0));
    RETURN_IF_FAILED(chosen->buffer->SetCurrentLength(m_bytes));
    BYTE* memory = nullptr;
    DWORD maxLength = 0;
    RETURN_IF_FAILED(chosen->buffer->Lock(&memory, &maxLength, nullptr));
    if (maxLength < m_bytes) {
        QM_IGNORE(chosen->buffer->Unlock(), "the buffer is dropped");
        return E_UNEXPECTED;
    }
    m_locked = chosen->buffer;
    *data = memory;
    picked->AddRef();
    *sample = picked;
    if (chosen == &m_overflowEntry) {
        // Kept only until the next call: the client holds it from here.
        m_overflowEntry.sample.Reset();
        m_overflowEntry.buffer.Reset();
    }
    return S_OK;
}

void CSamplePool::Unlock() {
    QM_DCHECK_ON_THREAD(m_thread);
    if (m_locked) {
        QM_IGNORE(m_locked->Unlock(), "a memory buffer's unlock fails only when it was not locked");
        m_locked.Reset();
    }
}
