// CBaseOutputPin: the transport side of an output pin. It finds the
// downstream pin's IMemInputPin while connecting, decides the allocator
// and its buffer sizes, commits and decommits it as the filter starts and
// stops, and delivers samples and stream notifications downstream.
#pragma once

#include "framework/base_pin.h"

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(LPCWSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName);

    // Commits the decided allocator (VFW_E_NO_ALLOCATOR without one).
    HRESULT Active() override;
    // Decommits it, which also releases a worker waiting for a buffer.
    HRESULT Inactive() override;
    // Refuses a peer of the same direction and requires its IMemInputPin.
    HRESULT CheckConnect(IPin* peer) override;
    // Decommits and releases the allocator and the downstream interface;
    // a failed decommit is returned with nothing released.
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* peer) override;

    // The downstream pin's allocator first, else a memory allocator of our
    // own; either is sized by DecideBufferSize and announced downstream.
    [[nodiscard]] virtual HRESULT DecideAllocator(IMemInputPin* inputPin, IMemAllocator** allocator);
    // Sets the buffer properties on the allocator; `request` holds what
    // the downstream pin asked for.
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;

    // The delivery calls run on the streaming thread without a lock. The
    // allocator and the downstream interfaces they use change only while
    // the filter is stopped, when no worker runs.
    [[nodiscard]] virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                      DWORD flags);
    // The caller keeps its reference on the sample.
    [[nodiscard]] virtual HRESULT Deliver(IMediaSample* sample);
    [[nodiscard]] virtual HRESULT InitAllocator(IMemAllocator** allocator);
    [[nodiscard]] virtual HRESULT DeliverEndOfStream();
    [[nodiscard]] virtual HRESULT DeliverBeginFlush();
    [[nodiscard]] virtual HRESULT DeliverEndFlush();
    [[nodiscard]] virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

protected:
    // The connection's allocator; committed while the filter is active.
    Microsoft::WRL::ComPtr<IMemAllocator> m_pAllocator;
    // The downstream pin's transport interface, from CheckConnect on.
    Microsoft::WRL::ComPtr<IMemInputPin> m_pInputPin;

private:
    // Sizes an allocator with DecideBufferSize and announces it to the
    // downstream pin; the first failure of the two is returned.
    [[nodiscard]] HRESULT SizeAndAnnounceAllocator(IMemInputPin* inputPin, IMemAllocator* allocator,
                                     ALLOCATOR_PROPERTIES* request);
};
