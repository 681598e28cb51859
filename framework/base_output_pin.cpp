#include "framework/base_output_pin.h"

#include <uuids.h>
#include <vfwmsgs.h>

CBaseOutputPin::CBaseOutputPin(LPCWSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                               LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_OUTPUT) {}

HRESULT CBaseOutputPin::Active() {
    RETURN_HR_IF(VFW_E_NO_ALLOCATOR, !m_pAllocator);
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    m_bRunTimeError = false;
    RETURN_HR_IF(VFW_E_NO_ALLOCATOR, !m_pAllocator);
    return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* peer) {
    RETURN_IF_FAILED(CBasePin::CheckConnect(peer));
    return peer->QueryInterface(IID_PPV_ARGS(m_pInputPin.ReleaseAndGetAddressOf()));
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator) {
        RETURN_IF_FAILED(m_pAllocator->Decommit());
        m_pAllocator.Reset();
    }
    m_pInputPin.Reset();
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin* /*peer*/) {
    return DecideAllocator(m_pInputPin.Get(), m_pAllocator.ReleaseAndGetAddressOf());
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* inputPin, IMemAllocator** allocator) {
    RETURN_HR_IF_NULL(E_POINTER, allocator);
    *allocator = nullptr;
    RETURN_HR_IF_NULL(E_POINTER, inputPin);

    ALLOCATOR_PROPERTIES request = {};
    // Only a wish list: a pin without requirements leaves the record zero.
    inputPin->GetAllocatorRequirements(&request);
    if (request.cbAlign == 0) {
        request.cbAlign = 1;
    }

    Microsoft::WRL::ComPtr<IMemAllocator> candidate;
    if (SUCCEEDED(inputPin->GetAllocator(&candidate)) &&
        SUCCEEDED(SizeAndAnnounceAllocator(inputPin, candidate.Get(), &request))) {
        *allocator = candidate.Detach();
        return S_OK;
    }
    candidate.Reset();

    // Our own memory allocator, asked with the record as the first
    // DecideBufferSize may have left it.
    RETURN_IF_FAILED(InitAllocator(&candidate));
    RETURN_IF_FAILED(SizeAndAnnounceAllocator(inputPin, candidate.Get(), &request));
    *allocator = candidate.Detach();
    return S_OK;
}

HRESULT CBaseOutputPin::SizeAndAnnounceAllocator(IMemInputPin* inputPin, IMemAllocator* allocator,
                                                 ALLOCATOR_PROPERTIES* request) {
    RETURN_IF_FAILED(DecideBufferSize(allocator, request));
    return inputPin->NotifyAllocator(allocator, FALSE);
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                          DWORD flags) {
    RETURN_HR_IF_NULL(E_POINTER, sample);
    *sample = nullptr;
    RETURN_HR_IF(E_NOINTERFACE, !m_pAllocator);
    return m_pAllocator->GetBuffer(sample, start, end, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
    RETURN_HR_IF_NULL(E_POINTER, sample);
    RETURN_HR_IF(VFW_E_NOT_CONNECTED, !m_pInputPin);
    return m_pInputPin->Receive(sample);
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** allocator) {
    RETURN_HR_IF_NULL(E_POINTER, allocator);
    *allocator = nullptr;
    return ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                              reinterpret_cast<void**>(allocator));
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    RETURN_HR_IF(VFW_E_NOT_CONNECTED, !m_Connected);
    return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    RETURN_HR_IF(VFW_E_NOT_CONNECTED, !m_Connected);
    return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    RETURN_HR_IF(VFW_E_NOT_CONNECTED, !m_Connected);
    return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    RETURN_HR_IF(VFW_E_NOT_CONNECTED, !m_Connected);
    return m_Connected->NewSegment(start, stop, rate);
}
