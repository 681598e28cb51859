// Helpers shared by the tests of the settings, the pictures and the pin:
// real media samples from the platform's memory allocator, registry
// access to the settings key (tests/support/stored_settings.h), and
// clocks that drive the pacing without real waits.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <wrl/client.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "settings/capture_settings.h"
#include "timing/frame_pacer.h"
#include "timing/pacing_clock.h"
#include "framework/com_util.h"
#include "framework/memory_dib.h"
#include "tests/support/stored_settings.h"

namespace qmtest {

// A committed CLSID_MemoryAllocator with buffers of a given size.
class SampleAllocator {
public:
    HRESULT Init(long bufferSize, long buffers = 1, long align = 1) {
        RETURN_IF_FAILED(::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_PPV_ARGS(&m_allocator)));
        ALLOCATOR_PROPERTIES request = {buffers, bufferSize, align, 0};
        ALLOCATOR_PROPERTIES actual = {};
        RETURN_IF_FAILED(m_allocator->SetProperties(&request, &actual));
        RETURN_HR_IF(E_FAIL, actual.cbBuffer != bufferSize);
        return m_allocator->Commit();
    }
    HRESULT GetSample(IMediaSample** sample) { return m_allocator->GetBuffer(sample, nullptr, nullptr, 0); }
    IMemAllocator* get() const { return m_allocator.Get(); }
    ~SampleAllocator() {
        if (m_allocator) {
            m_allocator->Decommit();
        }
    }

private:
    Microsoft::WRL::ComPtr<IMemAllocator> m_allocator;
};

inline BYTE* SampleBytes(IMediaSample* sample) {
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    return buffer;
}

// A pixel of a bottom-up RGB24 picture, addressed with y = 0 at the top.
inline COLORREF PixelOf(const BYTE* picture, int width, int height, int x, int y) {
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    const BYTE* p = picture + static_cast<size_t>(height - 1 - y) * stride + static_cast<size_t>(x) * 3;
    return RGB(p[2], p[1], p[0]);
}

// Every read finds the frame late by far: FillBuffer never waits.
class AlwaysLateClock final : public IPacingClock {
public:
    REFERENCE_TIME Now() override { return m_now += 1000000000; }

private:
    REFERENCE_TIME m_now = 0;
};

// Advances by a fixed step on every read and counts the reads.
class SteppingClock final : public IPacingClock {
public:
    explicit SteppingClock(REFERENCE_TIME step) : m_step(step) {}
    REFERENCE_TIME Now() override {
        ++m_reads;
        return m_now += m_step;
    }
    int reads() const { return m_reads; }
    void ResetReads() { m_reads = 0; }

private:
    REFERENCE_TIME m_step;
    REFERENCE_TIME m_now = 0;
    int m_reads = 0;
};

}  // namespace qmtest
