// The media type record: CMediaType owns what an AM_MEDIA_TYPE points at
// (a task-memory format block, one counted pUnk), and the free functions
// handle bare records passed across COM interfaces.
#pragma once

#include <windows.h>
#include <strmif.h>

#include "framework/com_util.h"

void WINAPI FreeMediaType(AM_MEDIA_TYPE& mt);
HRESULT WINAPI CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
AM_MEDIA_TYPE* WINAPI CreateMediaType(const AM_MEDIA_TYPE* source);
void WINAPI DeleteMediaType(AM_MEDIA_TYPE* mt);

// A record in task memory with what it owns, as COM methods hand them out
// (IAMStreamConfig::GetFormat, IEnumMediaTypes::Next): one owner, freed
// with DeleteMediaType.
struct MediaTypeTraits {
    using Type = AM_MEDIA_TYPE*;
    static Type Null() { return nullptr; }
    static void Close(Type mt) { DeleteMediaType(mt); }
};
using UniqueMediaType = UniqueResource<MediaTypeTraits>;

// Same layout as AM_MEDIA_TYPE (no data, no virtual functions), so a bare
// record from a caller may be used where a CMediaType is expected.
class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    CMediaType(const AM_MEDIA_TYPE& source, HRESULT* phr = nullptr);
    CMediaType(const CMediaType& source);
    ~CMediaType();

    CMediaType& operator=(const AM_MEDIA_TYPE& source);
    CMediaType& operator=(const CMediaType& source);
    [[nodiscard]] HRESULT Set(const CMediaType& source);
    // Exchanges what two records own, so that a type built aside replaces
    // another without a copy that could fail half-way.
    void Swap(CMediaType& other) noexcept {
        AM_MEDIA_TYPE& mine = *this;
        AM_MEDIA_TYPE& theirs = other;
        const AM_MEDIA_TYPE held = mine;
        mine = theirs;
        theirs = held;
    }

    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }

    bool IsPartiallySpecified() const;
    bool MatchesPartial(const CMediaType* partial) const;

    // Resets to the empty state without freeing (for records owning nothing).
    void InitMediaType();

    void SetType(const GUID* type) { majortype = *type; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    void SetFormatType(const GUID* type) { formattype = *type; }
    void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }
    void SetSampleSize(ULONG size);

    BYTE* AllocFormatBuffer(ULONG length);

    // Treats a caller's bare record as a CMediaType, which the layout allows.
    static const CMediaType* From(const AM_MEDIA_TYPE* mt) {
        return static_cast<const CMediaType*>(mt);
    }
};

static_assert(sizeof(CMediaType) == sizeof(AM_MEDIA_TYPE), "CMediaType must add no data");
