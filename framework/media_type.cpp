#include "framework/media_type.h"

#include <cstring>

namespace {

bool FormatBlocksEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    if (a.cbFormat != b.cbFormat) {
        return false;
    }
    if (a.cbFormat == 0) {
        return true;
    }
    return a.pbFormat != nullptr && b.pbFormat != nullptr &&
           std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

}  // namespace

void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0) {
        ::CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk != nullptr) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
    if (target == nullptr || source == nullptr) {
        return E_POINTER;
    }
    // The target is overwritten, not freed: callers pass a record that owns
    // nothing.
    *target = *source;
    if (source->cbFormat != 0) {
        target->pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(source->cbFormat));
        if (target->pbFormat == nullptr) {
            target->cbFormat = 0;
            target->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        if (source->pbFormat != nullptr) {
            std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
        } else {
            std::memset(target->pbFormat, 0, source->cbFormat);
        }
    }
    if (target->pUnk != nullptr) {
        target->pUnk->AddRef();
    }
    return S_OK;
}

AM_MEDIA_TYPE* WINAPI CreateMediaType(const AM_MEDIA_TYPE* source) {
    if (source == nullptr) {
        return nullptr;
    }
    auto* mt = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (mt == nullptr) {
        return nullptr;
    }
    if (FAILED(CopyMediaType(mt, source))) {
        ::CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

void WINAPI DeleteMediaType(AM_MEDIA_TYPE* mt) {
    if (mt == nullptr) {
        return;
    }
    FreeMediaType(*mt);
    ::CoTaskMemFree(mt);
}

CMediaType::CMediaType() {
    InitMediaType();
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& source, HRESULT* phr) {
    const HRESULT hr = CopyMediaType(this, &source);
    if (FAILED(hr) && phr != nullptr) {
        *phr = hr;
    }
}

CMediaType::CMediaType(const CMediaType& source) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(source)) {}

CMediaType::~CMediaType() {
    FreeMediaType(*this);
}

// An assignment cannot report that memory ran out: the target then has
// the source's GUIDs but no format block, which no pin accepts. Callers
// that must know use Set.
CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& source) {
    QM_IGNORE(Set(*From(&source)), "see above");
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& source) {
    QM_IGNORE(Set(source), "see above");
    return *this;
}

HRESULT CMediaType::Set(const CMediaType& source) {
    if (&source == this) {
        return S_OK;
    }
    FreeMediaType(*this);
    return CopyMediaType(this, &source);
}

bool CMediaType::operator==(const CMediaType& other) const {
    return IsEqualGUID(majortype, other.majortype) && IsEqualGUID(subtype, other.subtype) &&
           IsEqualGUID(formattype, other.formattype) && FormatBlocksEqual(*this, other);
}

bool CMediaType::IsPartiallySpecified() const {
    return IsEqualGUID(majortype, GUID_NULL) || IsEqualGUID(formattype, GUID_NULL);
}

bool CMediaType::MatchesPartial(const CMediaType* partial) const {
    if (partial == nullptr) {
        return true;
    }
    if (!IsEqualGUID(partial->majortype, GUID_NULL) && !IsEqualGUID(partial->majortype, majortype)) {
        return false;
    }
    if (!IsEqualGUID(partial->subtype, GUID_NULL) && !IsEqualGUID(partial->subtype, subtype)) {
        return false;
    }
    if (!IsEqualGUID(partial->formattype, GUID_NULL)) {
        if (!IsEqualGUID(partial->formattype, formattype)) {
            return false;
        }
        return FormatBlocksEqual(*this, *partial);
    }
    return true;
}

void CMediaType::InitMediaType() {
    std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
    bFixedSizeSamples = TRUE;
    lSampleSize = 1;
}

void CMediaType::SetSampleSize(ULONG size) {
    if (size == 0) {
        bFixedSizeSamples = FALSE;
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (length == cbFormat) {
        return pbFormat;
    }
    if (length == 0) {
        // A zero-length block is no block: a record owns one only while
        // cbFormat is non-zero.
        ::CoTaskMemFree(pbFormat);
        cbFormat = 0;
        pbFormat = nullptr;
        return nullptr;
    }
    auto* block = static_cast<BYTE*>(::CoTaskMemAlloc(length));
    if (block == nullptr) {
        // A smaller request can still be served from the old block.
        return length <= cbFormat ? pbFormat : nullptr;
    }
    if (cbFormat != 0) {
        ::CoTaskMemFree(pbFormat);
    }
    cbFormat = length;
    pbFormat = block;
    return block;
}
