// A small source filter of the tests' own on the framework: one or more
// pins with one fixed RGB24 format, contiguous sample times, optional
// pacing on the worker's request event, and knobs and counters that let a
// test script the worker's hooks and see what the filter did to its pins.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "framework/source.h"
#include "framework/source_stream.h"
#include "tests/support/message_pump.h"

using Microsoft::WRL::ComPtr;

namespace qmtest {

// {8D7B5D0E-1F0C-4E4B-9A57-3C2F61D0A101}
inline constexpr CLSID CLSID_TestSource = {
    0x8d7b5d0e, 0x1f0c, 0x4e4b, {0x9a, 0x57, 0x3c, 0x2f, 0x61, 0xd0, 0xa1, 0x01}};

constexpr LONG kTestWidth = 64;
constexpr LONG kTestHeight = 48;
constexpr ULONG kTestImageSize = kTestWidth * kTestHeight * 3;
// 1 ms per frame: fast enough that a second of stream time passes quickly
// when no clock paces the renderer.
constexpr REFERENCE_TIME kTestFrameTime = 10000;

// A complete VIDEOINFOHEADER RGB24 type of the given size.
CMediaType MakeRgbType(LONG width, LONG height, const GUID& subtype = MEDIASUBTYPE_RGB24, WORD bitCount = 24);
// The test pin's one format (kTestWidth x kTestHeight RGB24).
CMediaType TestFormat();

class TestSource;

// What outlives a test source: whether it was destroyed, how many of its
// workers ended while their pin was still whole (the pin's own
// OnThreadDestroy ran), whether a pin's own parts started to go, and how
// many fills ran on after that.
struct SourceLifetime {
    std::atomic<bool> destroyed{false};
    std::atomic<LONG> workersEnded{0};
    std::atomic<bool> streamDestroyed{false};
    std::atomic<LONG> fillsInDestroyedStream{0};
};

class TestStream : public CSourceStream {
public:
    TestStream(HRESULT* phr, TestSource* filter, LPCWSTR name);
    // Ends the worker first, as every pin must (its members go next).
    ~TestStream() override;

    using CSourceStream::GetMediaType;
    HRESULT GetMediaType(CMediaType* mt) override;
    HRESULT GetMediaType(int position, CMediaType* mt) override;
    HRESULT CheckMediaType(const CMediaType* mt) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT Run(REFERENCE_TIME start) override;

    // The output pin's own parts, without the source pin's worker.
    HRESULT BaseActive() { return CBaseOutputPin::Active(); }
    HRESULT BaseInactive() { return CBaseOutputPin::Inactive(); }
    IMemAllocator* Allocator() const { return m_pAllocator.Get(); }
    void BumpTypeVersion() { ++m_TypeVersion; }

    // Knobs, set before the worker starts unless atomic.
    std::atomic<HRESULT> onThreadCreateResult{S_OK};
    // FillBuffer returns S_OK for this many samples, then fillEndResult;
    // -1 never ends.
    std::atomic<LONG> samplesBeforeEnd{-1};
    std::atomic<HRESULT> fillEndResult{S_FALSE};
    // Per-frame wait on the request event, in ms; 0 does not wait.
    std::atomic<DWORD> paceMs{0};
    // A wait that a request ends makes FillBuffer give kNoSample.
    std::atomic<bool> noSampleWhenInterrupted{false};
    // Inactive still deactivates, then reports this when it is a failure.
    std::atomic<HRESULT> inactiveReport{S_OK};
    // A failure here makes the worker answer its first CMD_PAUSE with it,
    // and then idle until it is told to exit.
    std::atomic<HRESULT> pauseRefusal{S_OK};
    // While set, each fill waits for this event, deaf to requests (a fill
    // blocked in a slow read).
    std::atomic<HANDLE> fillGate{nullptr};
    // A failure here is the one-argument GetMediaType's answer.
    std::atomic<HRESULT> formatResult{S_OK};

    // What happened.
    std::atomic<LONG> filled{0};
    std::atomic<LONG> fillCalls{0};
    std::atomic<LONG> threadCreates{0};
    std::atomic<LONG> threadDestroys{0};
    std::atomic<bool> pacing{false};
    std::atomic<bool> paceEndedByRequest{false};
    std::atomic<bool> inGatedFill{false};
    // The worker's apartment, as OnThreadCreate found it (-1: unknown).
    std::atomic<int> workerApartment{-1};
    // "A" for Active, "I" for Inactive, "R<t>" for Run, in call order.
    std::vector<std::string> calls;
    std::vector<CMediaType> checkedTypes;
    std::vector<int> typePositions;
    std::vector<ALLOCATOR_PROPERTIES> bufferRequests;
    // Called after the one-argument GetMediaType; a test may alter it.
    std::function<void(CMediaType*)> adjustFormat;

protected:
    DWORD ThreadProc() override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadCreate() override;
    HRESULT OnThreadDestroy() override;

private:
    LONGLONG m_frameNumber = 0;
    SourceLifetime* const m_lifetime;
};

class TestSource : public CSource {
public:
    // Builds the filter with `pins` pins; a failure is stored in `phr`.
    TestSource(HRESULT* phr, int pins, SourceLifetime* record);
    ~TestSource() override;

    // A new filter with its first reference, or the construction failure.
    static HRESULT Create(ComPtr<TestSource>* filter, int pins = 1, SourceLifetime* lifetime = nullptr);

    HRESULT STDMETHODCALLTYPE Pause() override;

    TestStream* Stream(int n) { return static_cast<TestStream*>(GetStream(n)); }
    IPin* Pin(int n) { return static_cast<IPin*>(Stream(n)); }
    FILTER_STATE State() const { return m_State; }
    REFERENCE_TIME StartOffset() const { return m_tStart; }
    void BumpPinVersion() { ++m_PinVersion; }
    CCritSec* PinTableLock() { return &m_PinTableLock; }
    LONG RefCount() const { return m_cRef.load(); }

    std::atomic<LONG> pauseCalls{0};
    SourceLifetime* const lifetime;
};

}  // namespace qmtest
