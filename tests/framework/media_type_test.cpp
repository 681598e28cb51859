// The media type record: ownership, comparison, partial matching and the
// behaviour under exhausted task memory.
#include <gtest/gtest.h>

#include <dshow.h>
#include <dvdmedia.h>

#include <cstring>

#include "framework/media_type.h"
#include "tests/support/malloc_spy.h"

using namespace qmtest;

namespace {

// Counts its references so that a test can see what a record holds.
class RefCounter : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    ULONG refs = 1;
};

CMediaType MakeVideoType(LONG width, LONG height) {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_RGB24);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    std::memset(vih, 0, sizeof(*vih));
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    vih->bmiHeader.biBitCount = 24;
    vih->bmiHeader.biPlanes = 1;
    mt.SetSampleSize(static_cast<ULONG>(width * height * 3));
    return mt;
}

}  // namespace

TEST(MediaTypeTest, EmptyStateIsFixedSizeOfOne) {
    CMediaType mt;
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, mt.majortype));
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_EQ(1u, mt.lSampleSize);
    EXPECT_EQ(0u, mt.cbFormat);
    EXPECT_EQ(nullptr, mt.pbFormat);
    EXPECT_TRUE(mt.IsPartiallySpecified());
}

TEST(MediaTypeTest, EqualityIgnoresSampleFieldsButNotTheFormatBlock) {
    CMediaType a = MakeVideoType(204, 360);
    EXPECT_TRUE(a == a);
    CMediaType b(a);
    EXPECT_NE(a.pbFormat, b.pbFormat);
    EXPECT_TRUE(a == b);
    RefCounter unk;
    b.bFixedSizeSamples = FALSE;
    b.bTemporalCompression = TRUE;
    b.lSampleSize = 7;
    b.pUnk = &unk;
    EXPECT_TRUE(a == b);
    b.pUnk = nullptr;
    reinterpret_cast<VIDEOINFOHEADER*>(b.pbFormat)->AvgTimePerFrame = 1;
    EXPECT_TRUE(a != b);
    CMediaType c = MakeVideoType(272, 480);
    EXPECT_FALSE(a == c);
    // Equal GUIDs and lengths but one block missing: not equal.
    AM_MEDIA_TYPE bare = a;
    bare.pbFormat = nullptr;
    EXPECT_FALSE(a == *CMediaType::From(&bare));
    EXPECT_FALSE(*CMediaType::From(&bare) == a);
}

TEST(MediaTypeTest, PartialSpecificationAndMatching) {
    CMediaType full = MakeVideoType(204, 360);
    EXPECT_FALSE(full.IsPartiallySpecified());
    CMediaType noSubtype = full;
    noSubtype.subtype = GUID_NULL;
    EXPECT_FALSE(noSubtype.IsPartiallySpecified());

    CMediaType any;
    EXPECT_TRUE(full.MatchesPartial(&any));
    CMediaType video;
    video.SetType(&MEDIATYPE_Video);
    EXPECT_TRUE(video.IsPartiallySpecified());
    EXPECT_TRUE(full.MatchesPartial(&video));
    CMediaType audio;
    audio.SetType(&MEDIATYPE_Audio);
    EXPECT_FALSE(full.MatchesPartial(&audio));
    CMediaType rgb32;
    rgb32.SetSubtype(&MEDIASUBTYPE_RGB32);
    EXPECT_FALSE(full.MatchesPartial(&rgb32));

    // A partial type that names the format type must match the block too.
    CMediaType formatOnly;
    formatOnly.SetFormatType(&FORMAT_VideoInfo);
    EXPECT_FALSE(full.MatchesPartial(&formatOnly));
    CMediaType sameBlock = full;
    sameBlock.majortype = GUID_NULL;
    sameBlock.subtype = GUID_NULL;
    EXPECT_TRUE(full.MatchesPartial(&sameBlock));
    reinterpret_cast<VIDEOINFOHEADER*>(sameBlock.pbFormat)->bmiHeader.biWidth = 1;
    EXPECT_FALSE(full.MatchesPartial(&sameBlock));
}

TEST(MediaTypeTest, SetFromItselfKeepsTheBlock) {
    CMediaType mt = MakeVideoType(204, 360);
    BYTE* block = mt.pbFormat;
    EXPECT_EQ(S_OK, mt.Set(mt));
    EXPECT_EQ(block, mt.pbFormat);
    mt = mt;
    EXPECT_EQ(block, mt.pbFormat);
    EXPECT_EQ(204, reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth);
}

TEST(MediaTypeTest, AllocFormatBufferReusesOrReplaces) {
    CMediaType mt = MakeVideoType(204, 360);
    BYTE* block = mt.pbFormat;
    EXPECT_EQ(block, mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    EXPECT_EQ(204, reinterpret_cast<VIDEOINFOHEADER*>(block)->bmiHeader.biWidth);
    BYTE* bigger = mt.AllocFormatBuffer(200);
    ASSERT_NE(nullptr, bigger);
    EXPECT_EQ(200u, mt.cbFormat);
    EXPECT_EQ(bigger, mt.pbFormat);
    EXPECT_EQ(nullptr, mt.AllocFormatBuffer(0));
    EXPECT_EQ(0u, mt.cbFormat);
    EXPECT_EQ(nullptr, mt.pbFormat);
}

TEST(MediaTypeTest, SetSampleSizeZeroClearsFixedSizeOnly) {
    CMediaType mt;
    mt.SetSampleSize(100);
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_EQ(100u, mt.lSampleSize);
    mt.SetSampleSize(0);
    EXPECT_FALSE(mt.bFixedSizeSamples);
    EXPECT_EQ(100u, mt.lSampleSize);
}

TEST(MediaTypeTest, CopiesCountPUnkAndFreeReleasesIt) {
    RefCounter unk;
    CMediaType source = MakeVideoType(204, 360);
    source.pUnk = &unk;
    unk.AddRef();  // the source's own reference
    {
        CMediaType copy(source);
        EXPECT_EQ(3u, unk.refs);
        AM_MEDIA_TYPE* created = CreateMediaType(&source);
        ASSERT_NE(nullptr, created);
        EXPECT_EQ(4u, unk.refs);
        DeleteMediaType(created);
        EXPECT_EQ(3u, unk.refs);
    }
    EXPECT_EQ(2u, unk.refs);
    FreeMediaType(source);
    EXPECT_EQ(1u, unk.refs);
    EXPECT_EQ(nullptr, source.pUnk);
    DeleteMediaType(nullptr);
}

TEST(MediaTypeTest, CopyWithoutFormatCarriesPointerValue) {
    AM_MEDIA_TYPE source{};
    source.majortype = MEDIATYPE_Video;
    BYTE marker = 0;
    source.pbFormat = &marker;  // not owned: cbFormat is 0
    AM_MEDIA_TYPE target{};
    {
        MallocSpy spy;
        ASSERT_TRUE(spy.registered());
        ASSERT_EQ(S_OK, CopyMediaType(&target, &source));
        EXPECT_EQ(0, spy.allocations());
    }
    EXPECT_EQ(&marker, target.pbFormat);
    FreeMediaType(target);
    EXPECT_EQ(E_POINTER, CopyMediaType(nullptr, &source));
    EXPECT_EQ(E_POINTER, CopyMediaType(&target, nullptr));
    EXPECT_EQ(nullptr, CreateMediaType(nullptr));
}

TEST(MediaTypeTest, ExhaustedTaskMemoryLeavesRecordsOwningNothing) {
    RefCounter unk;
    CMediaType source = MakeVideoType(204, 360);
    source.pUnk = &unk;
    unk.AddRef();
    MallocSpy spy;
    ASSERT_TRUE(spy.registered());
    const long outstanding = spy.outstanding();

    spy.FailAll();
    AM_MEDIA_TYPE target{};
    EXPECT_EQ(E_OUTOFMEMORY, CopyMediaType(&target, &source));
    EXPECT_EQ(0u, target.cbFormat);
    EXPECT_EQ(nullptr, target.pbFormat);
    EXPECT_EQ(nullptr, target.pUnk);
    EXPECT_EQ(2u, unk.refs);

    // CreateMediaType fails at the record and at the block.
    EXPECT_EQ(nullptr, CreateMediaType(&source));
    spy.FailAllocation(1);
    EXPECT_EQ(nullptr, CreateMediaType(&source));
    EXPECT_EQ(2, spy.allocations());
    EXPECT_EQ(2u, unk.refs);

    spy.FailAll();
    HRESULT hr = S_OK;
    CMediaType copy(source, &hr);
    EXPECT_EQ(E_OUTOFMEMORY, hr);
    EXPECT_EQ(0u, copy.cbFormat);
    CMediaType assigned;
    EXPECT_EQ(E_OUTOFMEMORY, assigned.Set(source));
    assigned = source;  // failure dropped silently
    EXPECT_EQ(0u, assigned.cbFormat);
    EXPECT_EQ(nullptr, assigned.pUnk);

    // A larger block cannot be had; a smaller one reuses the old block.
    BYTE* block = source.pbFormat;
    EXPECT_EQ(nullptr, source.AllocFormatBuffer(source.cbFormat + 1));
    EXPECT_EQ(block, source.AllocFormatBuffer(10));
    EXPECT_EQ(sizeof(VIDEOINFOHEADER), source.cbFormat);
    spy.Disarm();
    EXPECT_EQ(outstanding, spy.outstanding());
    EXPECT_EQ(2u, unk.refs);
    FreeMediaType(source);
}
