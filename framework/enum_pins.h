// CEnumPins: walks the pins of a filter. It asks the filter afresh on
// every step and notices a changed pin set by the filter's pin version
// (CBaseEnumerator).
#pragma once

#include <windows.h>
#include <strmif.h>

#include <vector>

#include "framework/base_enumerator.h"

class CBaseFilter;
class CBasePin;

class CEnumPins final : public CBaseEnumerator<CEnumPins, IEnumPins, IPin*, CBaseFilter, IBaseFilter> {
public:
    // Starts at the first pin, or copies `source` (position, version and
    // the pins it has handed out) for a clone. Holds a reference on the
    // filter. May throw std::bad_alloc while copying the source's cache.
    CEnumPins(CBaseFilter* filter, const CEnumPins* source);

    // Next: out of step with the filter, it starts over silently, but never
    // hands out a pin twice between resets.
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;

private:
    using Base = CBaseEnumerator<CEnumPins, IEnumPins, IPin*, CBaseFilter, IBaseFilter>;
    friend Base;

    ~CEnumPins() = default;

    static LONG VersionOf(CBaseFilter& filter);
    HRESULT CheckInStep() const { return S_OK; }
    HRESULT Fetch(ULONG count, IPin** pins, ULONG* fetched);
    void OnReset();

    LONG m_PinCount = 0;
    // Pins handed out since creation or the last Reset, not counted: the
    // filter, which we hold, owns them.
    std::vector<CBasePin*> m_PinCache;
};
