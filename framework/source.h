// CSource: the base of source filters. It owns its output pins and the
// state lock that serves as the filter lock and as the lock of each pin.
#pragma once

#include <memory>

#include "framework/base_filter.h"

class CSourceStream;

class CSource : public CBaseFilter {
public:
    CSource(LPCWSTR objectName, IUnknown* outer, CLSID clsid);
    // Ends the pins' workers, then destroys the pins, last first.
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    // The pin at index n as its CSourceStream, not AddRef'd, or null. For
    // a derived filter that routes requests to its pins.
    CSourceStream* GetStream(int n);

    // Called by the pin's constructor and destructor.
    [[nodiscard]] HRESULT AddPin(CSourceStream* pin);
    // S_FALSE when the pin is not in the table.
    [[nodiscard]] HRESULT RemovePin(CSourceStream* pin);
    // Index of the pin whose IPin is `pin`, or -1.
    int FindPinNumber(IPin* pin);

    CCritSec* pStateLock() { return &m_cStateLock; }

protected:
    // The pin table. It changes only while pins are constructed and
    // destroyed. Every access holds m_PinTableLock, a leaf lock under
    // which nothing else is called, so that the table is never read while
    // it is replaced. No reader waits for the state lock: Stop holds it
    // while it waits for the streaming threads, and queries that reach a
    // pin through the filter must not wait for them. AddPin also holds
    // the state lock.
    int m_iPins = 0;
    std::unique_ptr<CSourceStream*[]> m_paStreams;
    CCritSec m_PinTableLock;
    // The filter lock, the state lock and each pin's lock. Re-entrant:
    // Pause holds it while a pin's Active takes it again.
    CCritSec m_cStateLock;
};
