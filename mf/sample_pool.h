// A few media samples of one size, each with a memory buffer, handed out
// again once their client has let go of them, so that a stream does not
// allocate a frame's memory for every frame.
//
// Whether a client still holds a sample is read from the reference counts
// of the sample and of its buffer: the pool holds one reference to each,
// the sample one more to its buffer. A sample whose counts are exactly
// those is free. (Media Foundation's own samples and memory buffers report
// their true count from Release.) When every pooled sample is still out, a
// new sample is made for that frame alone, outside the pool.
//
// Used on one thread: the stream's delivery thread.
#pragma once

#include <windows.h>
#include <mfobjects.h>
#include <wrl/client.h>

#include <cstdint>

#include "framework/thread_checks.h"

class CSamplePool {
public:
    static constexpr int kPoolSize = 4;

    CSamplePool() = default;
    CSamplePool(const CSamplePool&) = delete;
    CSamplePool& operator=(const CSamplePool&) = delete;

    // Makes kPoolSize samples with buffers of `bytes` each, dropping those
    // of an earlier size. E_INVALIDARG for 0; the platform's errors
    // (E_OUTOFMEMORY) leave the pool empty.
    [[nodiscard]] HRESULT Reset(uint32_t bytes);

    // A sample with a buffer of the pool's size whose current length is
    // that size, its time, duration, attributes and token cleared; `data`
    // receives the buffer's memory, valid until the sample is delivered
    // (the buffer stays locked until then: call Unlock). E_UNEXPECTED
    // before Reset.
    [[nodiscard]] HRESULT Acquire(IMFSample** sample, BYTE** data);
    // Unlocks the buffer of the sample last acquired.
    void Unlock();

    // How many samples were made outside the pool since Reset (for tests).
    uint32_t OverflowCountForTesting() const { return m_overflow; }
    uint32_t Bytes() const { return m_bytes; }

private:
    struct Entry {
        Microsoft::WRL::ComPtr<IMFSample> sample;
        Microsoft::WRL::ComPtr<IMFMediaBuffer> buffer;
    };
    [[nodiscard]] static HRESULT MakeEntry(uint32_t bytes, Entry* entry);
    static bool IsFree(const Entry& entry);

    CThreadChecker m_thread;
    Entry m_entries[kPoolSize];
    Entry m_overflowEntry;
    Microsoft::WRL::ComPtr<IMFMediaBuffer> m_locked;
    uint32_t m_bytes = 0;
    uint32_t m_overflow = 0;
    int m_next = 0;
};
