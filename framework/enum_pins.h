// CEnumPins: walks the pins of a filter. It asks the filter afresh on
// every step and notices a changed pin set by the filter's pin version.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <atomic>
#include <vector>

class CBaseFilter;
class CBasePin;

class CEnumPins final : public IEnumPins {
public:
    // Starts at the first pin, or copies `source` (position, version and
    // the pins it has handed out) for a clone. Holds a reference on the
    // filter. May throw std::bad_alloc while copying the source's cache.
    CEnumPins(CBaseFilter* filter, const CEnumPins* source);
    CEnumPins(const CEnumPins&) = delete;
    CEnumPins& operator=(const CEnumPins&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // Out of step with the filter, it starts over silently, but never
    // hands out a pin twice between resets.
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** enumerator) override;

private:
    ~CEnumPins();
    bool AreWeOutOfSync() const;

    LONG m_Position = 0;
    LONG m_PinCount = 0;
    CBaseFilter* const m_pFilter;
    LONG m_Version = 0;
    std::atomic<LONG> m_cRef{1};
    // Pins handed out since creation or the last Reset, not counted: the
    // filter, which we hold, owns them.
    std::vector<CBasePin*> m_PinCache;
};
