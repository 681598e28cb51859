// CEnumMediaTypes: walks the preferred media types of a pin. It asks the
// pin afresh on every step and notices a changed type list by the pin's
// media type version.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <atomic>

class CBasePin;

class CEnumMediaTypes final : public IEnumMediaTypes {
public:
    // Starts at the first type, or at `source`'s position and version for
    // a clone. Holds a reference on the pin (and so on its filter).
    CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source);
    CEnumMediaTypes(const CEnumMediaTypes&) = delete;
    CEnumMediaTypes& operator=(const CEnumMediaTypes&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // Each record handed out lives in task memory and belongs to the
    // caller, who frees it with DeleteMediaType.
    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** enumerator) override;

private:
    ~CEnumMediaTypes();
    bool AreWeOutOfSync() const;

    LONG m_Position = 0;
    CBasePin* const m_pPin;
    LONG m_Version = 0;
    std::atomic<LONG> m_cRef{1};
};
