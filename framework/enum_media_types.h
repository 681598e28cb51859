// CEnumMediaTypes: walks the preferred media types of a pin. It asks the
// pin afresh on every step and notices a changed type list by the pin's
// media type version (CBaseEnumerator); out of step, it refuses every step
// but Skip(0) until Reset.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "framework/base_enumerator.h"

class CBasePin;

class CEnumMediaTypes final
    : public CBaseEnumerator<CEnumMediaTypes, IEnumMediaTypes, AM_MEDIA_TYPE*, CBasePin, IPin> {
public:
    // Starts at the first type, or at `source`'s position and version for
    // a clone. Holds a reference on the pin (and so on its filter).
    CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source);

    // Next: each record handed out lives in task memory and belongs to the
    // caller, who frees it with DeleteMediaType.
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;

private:
    using Base = CBaseEnumerator<CEnumMediaTypes, IEnumMediaTypes, AM_MEDIA_TYPE*, CBasePin, IPin>;
    friend Base;

    ~CEnumMediaTypes() = default;

    static LONG VersionOf(CBasePin& pin);
    HRESULT CheckInStep() const;
    HRESULT Fetch(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched);
    void OnReset() {}
};
