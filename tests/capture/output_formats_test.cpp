// The six output formats: the types built for them, the size check, the
// offer order, the acceptance rule and the buffer negotiation.
#include <gtest/gtest.h>

#include <dshow.h>
#include <dvdmedia.h>

#include <cstring>
#include <string>
#include <vector>

#include "capture/output_formats.h"
#include "tests/support/capture_test_support.h"
#include "tests/support/malloc_spy.h"

using namespace output_formats;
using namespace qmtest;

namespace {

// The FOURCC family's subtype of I420, written out (the SDK declares it
// only among the codec headers).
const GUID kI420Subtype = {MAKEFOURCC('I', '4', '2', '0'), 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

const VIDEOINFOHEADER& Format(const CMediaType& mt) {
    return *reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

// The record and its format block, byte for byte.
std::vector<BYTE> Bytes(const AM_MEDIA_TYPE& mt) {
    const size_t formatBytes = mt.pbFormat != nullptr ? mt.cbFormat : 0;
    std::vector<BYTE> bytes(sizeof(mt) + formatBytes);
    std::memcpy(bytes.data(), &mt, sizeof(mt));
    if (formatBytes != 0) {
        std::memcpy(bytes.data() + sizeof(mt), mt.pbFormat, formatBytes);
    }
    return bytes;
}

// An allocator that grants a chosen buffer size or fails: what the memory
// allocator never does.
class FakeAllocator final : public IMemAllocator {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMemAllocator)) {
            *ppv = static_cast<IMemAllocator*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        requested = *request;
        if (FAILED(result)) {
            return result;
        }
        *actual = *request;
        actual->cbBuffer = grant;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Decommit() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }

    long grant = 0;
    HRESULT result = S_OK;
    ALLOCATOR_PROPERTIES requested = {};
};

}  // namespace

TEST(OutputFormatsTest, TableHoldsTheSixSizesThenTheFourHdSizes) {
    const FrameSize expected[] = {{204, 360},  {272, 480},  {432, 768},   {568, 320},  {852, 480},
                                  {1136, 640}, {720, 1280}, {1080, 1920}, {1280, 720}, {1920, 1080}};
    const DWORD images[] = {220320, 391680, 995328, 545280, 1226880, 2181120, 2764800, 6220800, 2764800, 6220800};
    ASSERT_EQ(10, kFrameSizeTableCount);
    for (int i = 0; i < kFrameSizeTableCount; ++i) {
        EXPECT_EQ(expected[i].width, FrameSizeTable[i].width);
        EXPECT_EQ(expected[i].height, FrameSizeTable[i].height);
        EXPECT_EQ(i < 3 || i == 6 || i == 7, FrameSizeTable[i].height > FrameSizeTable[i].width);
        CMediaType mt;
        ASSERT_EQ(S_OK, BuildMediaType(&mt, 333333, i));
        EXPECT_EQ(images[i], Format(mt).bmiHeader.biSizeImage);
    }
}

TEST(OutputFormatsTest, BuiltTypeIsUncompressedRgb24InAVideoInfoHeader) {
    CMediaType mt;
    ASSERT_EQ(S_OK, BuildMediaType(&mt, 666666, 4));
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, mt.majortype));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, mt.subtype));
    EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, mt.formattype));
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_FALSE(mt.bTemporalCompression);
    EXPECT_EQ(1226880u, mt.lSampleSize);
    ASSERT_EQ(88u, mt.cbFormat);
    const VIDEOINFOHEADER& vih = Format(mt);
    const RECT empty = {};
    EXPECT_EQ(0, std::memcmp(&empty, &vih.rcSource, sizeof(RECT)));
    EXPECT_EQ(0, std::memcmp(&empty, &vih.rcTarget, sizeof(RECT)));
    EXPECT_EQ(0u, vih.dwBitRate);
    EXPECT_EQ(0u, vih.dwBitErrorRate);
    EXPECT_EQ(666666, vih.AvgTimePerFrame);
    EXPECT_EQ(40u, vih.bmiHeader.biSize);
    EXPECT_EQ(852, vih.bmiHeader.biWidth);
    EXPECT_EQ(480, vih.bmiHeader.biHeight);
    EXPECT_EQ(1, vih.bmiHeader.biPlanes);
    EXPECT_EQ(24, vih.bmiHeader.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), vih.bmiHeader.biCompression);
    EXPECT_EQ(1226880u, vih.bmiHeader.biSizeImage);
    EXPECT_EQ(0, vih.bmiHeader.biXPelsPerMeter);
    EXPECT_EQ(0, vih.bmiHeader.biYPelsPerMeter);
    EXPECT_EQ(0u, vih.bmiHeader.biClrUsed);
    EXPECT_EQ(0u, vih.bmiHeader.biClrImportant);
}

TEST(OutputFormatsTest, RebuildingReusesAnEightyEightByteBlock) {
    CMediaType mt;
    ASSERT_EQ(S_OK, BuildMediaType(&mt, 333333, 0));
    const BYTE* block = mt.pbFormat;
    MallocSpy spy;
    ASSERT_TRUE(spy.registered());
    spy.FailAll();
    ASSERT_EQ(S_OK, BuildMediaType(&mt, 333333, 5));
    EXPECT_EQ(block, mt.pbFormat);
    EXPECT_EQ(1136, Format(mt).bmiHeader.biWidth);
}

TEST(OutputFormatsTest, BadIndexOrFailedAllocationLeavesTheTargetUntouched) {
    CMediaType mt;
    ASSERT_EQ(S_OK, BuildMediaType(&mt, 333333, 2));
    std::vector<BYTE> before = Bytes(mt);
    EXPECT_EQ(E_INVALIDARG, BuildMediaType(&mt, 333333, -1));
    EXPECT_EQ(E_INVALIDARG, BuildMediaType(&mt, 333333, 10));
    EXPECT_EQ(before, Bytes(mt));
    EXPECT_EQ(E_POINTER, BuildMediaType(nullptr, 333333, 0));

    // A target without a format block needs a new one.
    CMediaType empty;
    before = Bytes(empty);
    MallocSpy spy;
    ASSERT_TRUE(spy.registered());
    spy.FailAll();
    EXPECT_EQ(E_OUTOFMEMORY, BuildMediaType(&empty, 333333, 1));
    spy.Disarm();
    EXPECT_EQ(before, Bytes(empty));
}

TEST(OutputFormatsTest, SupportedFormatsAreTheOfferedFormatsAtTheTableSizes) {
    for (int i = 0; i < kFrameSizeTableCount; ++i) {
        CMediaType mt;
        ASSERT_EQ(S_OK, BuildMediaType(&mt, 0, i));
        EXPECT_TRUE(IsSupportedFormat(&Format(mt)));
    }
    CMediaType mt;
    ASSERT_EQ(S_OK, BuildMediaType(&mt, 0, 0));
    VIDEOINFOHEADER vih = Format(mt);
    vih.bmiHeader.biWidth = 320;
    vih.bmiHeader.biHeight = 568;
    EXPECT_FALSE(IsSupportedFormat(&vih));
    vih = Format(mt);
    vih.bmiHeader.biBitCount = 16;
    EXPECT_FALSE(IsSupportedFormat(&vih));
    vih = Format(mt);
    vih.bmiHeader.biHeight = -360;
    EXPECT_FALSE(IsSupportedFormat(&vih));
    vih = Format(mt);
    vih.bmiHeader.biCompression = BI_BITFIELDS;
    EXPECT_FALSE(IsSupportedFormat(&vih));
    // Nothing else is examined.
    vih = Format(mt);
    vih.AvgTimePerFrame = -1;
    vih.bmiHeader.biSizeImage = 1;
    EXPECT_TRUE(IsSupportedFormat(&vih));
    EXPECT_FALSE(IsSupportedFormat(nullptr));
}

TEST(OutputFormatsTest, BitmapSizeAndSubtype) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = 203;
    header.biHeight = -100;
    header.biBitCount = 24;
    EXPECT_EQ(61200u, GetBitmapSize(&header));
    header.biBitCount = 1;
    header.biWidth = 33;
    header.biHeight = 2;
    EXPECT_EQ(16u, GetBitmapSize(&header));

    struct Case {
        WORD bits;
        GUID subtype;
    };
    for (const Case& c : {Case{1, MEDIASUBTYPE_RGB1}, Case{4, MEDIASUBTYPE_RGB4}, Case{8, MEDIASUBTYPE_RGB8},
                          Case{16, MEDIASUBTYPE_RGB555}, Case{24, MEDIASUBTYPE_RGB24},
                          Case{32, MEDIASUBTYPE_RGB32}, Case{12, GUID_NULL}}) {
        header.biBitCount = c.bits;
        header.biCompression = BI_RGB;
        EXPECT_TRUE(IsEqualGUID(c.subtype, GetBitmapSubtype(&header))) << c.bits;
    }
    struct WithMasks {
        BITMAPINFOHEADER header;
        DWORD masks[3];
    } bitfields = {header, {0xF800, 0x07E0, 0x001F}};
    bitfields.header.biBitCount = 16;
    bitfields.header.biCompression = BI_BITFIELDS;
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB565, GetBitmapSubtype(&bitfields.header)));
    bitfields.masks[0] = 0x7C00;
    bitfields.masks[1] = 0x03E0;
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB555, GetBitmapSubtype(&bitfields.header)));
    bitfields.masks[0] = 0xF000;
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, GetBitmapSubtype(&bitfields.header)));
    header.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
    header.biBitCount = 16;
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_YUY2, GetBitmapSubtype(&header)));
    header.biCompression = MAKEFOURCC('U', 'Y', 'V', 'Y');
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, GetBitmapSubtype(&header)));
}

TEST(OutputFormatsTest, OfferOrderStartsWithTheCurrentType) {
    const FrameSize fromZero[] = {{204, 360},  {272, 480},  {432, 768},   {568, 320},  {852, 480},
                                  {1136, 640}, {720, 1280}, {1080, 1920}, {1280, 720}, {1920, 1080}};
    const FrameSize fromFour[] = {{852, 480},  {272, 480},  {432, 768},   {568, 320},  {852, 480},
                                  {1136, 640}, {720, 1280}, {1080, 1920}, {1280, 720}, {1920, 1080}};
    for (const auto& [index, expected] : {std::make_pair(0, fromZero), std::make_pair(4, fromFour)}) {
        CMediaType current;
        ASSERT_EQ(S_OK, BuildMediaType(&current, 333333, index));
        for (int position = 0; position < kFrameSizeTableCount; ++position) {
            CMediaType offered;
            ASSERT_EQ(S_OK, GetMediaType(position, &offered, current, 400000));
            EXPECT_EQ(expected[position].width, Format(offered).bmiHeader.biWidth);
            EXPECT_EQ(expected[position].height, Format(offered).bmiHeader.biHeight);
            // The current type as it is; the others with the current frame time.
            EXPECT_EQ(position == 0 ? 333333 : 400000, Format(offered).AvgTimePerFrame);
        }
        // Then every size again in each other format, in the order of
        // kOfferedFormats, and nothing after the last.
        for (int position = kFrameSizeTableCount; position < kOfferCount; ++position) {
            CMediaType offered;
            ASSERT_EQ(S_OK, GetMediaType(position, &offered, current, 400000));
            EXPECT_EQ(FrameSizeTable[position % kFrameSizeTableCount].width, Format(offered).bmiHeader.biWidth);
            EXPECT_EQ(kOfferedFormats[position / kFrameSizeTableCount], PixelFormatOfType(offered));
        }
        CMediaType offered;
        EXPECT_EQ(VFW_S_NO_MORE_ITEMS, GetMediaType(kOfferCount, &offered, current, 333333));
        EXPECT_EQ(E_INVALIDARG, GetMediaType(-1, &offered, current, 333333));
        EXPECT_EQ(E_POINTER, GetMediaType(2, nullptr, current, 333333));
    }
}

TEST(OutputFormatsTest, OnlyTheCurrentTypeIsAccepted) {
    CMediaType current;
    ASSERT_EQ(S_OK, BuildMediaType(&current, 333333, 0));
    CMediaType same(current);
    EXPECT_EQ(S_OK, CheckMediaType(&same, current));
    CMediaType other;
    ASSERT_EQ(S_OK, GetMediaType(1, &other, current, 333333));
    EXPECT_EQ(E_FAIL, CheckMediaType(&other, current));
    CMediaType slower(current);
    reinterpret_cast<VIDEOINFOHEADER*>(slower.pbFormat)->AvgTimePerFrame = 333334;
    EXPECT_EQ(E_FAIL, CheckMediaType(&slower, current));
    CMediaType target(current);
    reinterpret_cast<VIDEOINFOHEADER*>(target.pbFormat)->rcTarget.right = 204;
    EXPECT_EQ(E_FAIL, CheckMediaType(&target, current));
    CMediaType noFormat;
    noFormat.SetType(&MEDIATYPE_Video);
    EXPECT_EQ(E_FAIL, CheckMediaType(&noFormat, current));
    EXPECT_EQ(E_POINTER, CheckMediaType(nullptr, current));
}

TEST(OutputFormatsTest, BufferNegotiationWithTheMemoryAllocator) {
    CMediaType current;
    ASSERT_EQ(S_OK, BuildMediaType(&current, 333333, 4));
    Microsoft::WRL::ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_PPV_ARGS(&allocator)));
    // Two buffers at least, so that a downstream filter holding its last
    // sample never stalls the stream; more when the downstream asks.
    ALLOCATOR_PROPERTIES request = {0, 100, 16, 0};
    ASSERT_EQ(S_OK, DecideBufferSize(allocator.Get(), &request, current));
    EXPECT_EQ(2, request.cBuffers);
    request = {100, 100, 16, 0};
    ASSERT_EQ(S_OK, DecideBufferSize(allocator.Get(), &request, current));
    EXPECT_EQ(8, request.cBuffers);
    request = {4, 100, 16, 0};
    ASSERT_EQ(S_OK, DecideBufferSize(allocator.Get(), &request, current));
    EXPECT_EQ(4, request.cBuffers);
    EXPECT_EQ(1226880, request.cbBuffer);
    EXPECT_EQ(4, request.cbAlign);
    EXPECT_EQ(0, request.cbPrefix);
    ALLOCATOR_PROPERTIES actual = {};
    ASSERT_EQ(S_OK, allocator->GetProperties(&actual));
    EXPECT_EQ(4, actual.cBuffers);
    EXPECT_EQ(1226880, actual.cbBuffer);
}

TEST(OutputFormatsTest, AtTheHdSizesTheSamplesHoldNoMoreThanFourFullHdFrames) {
    Microsoft::WRL::ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_PPV_ARGS(&allocator)));
    // index: the most buffers a downstream pin asking for many gets.
    for (const auto& [index, most] : {std::make_pair(5, 8L), std::make_pair(8, 8L), std::make_pair(9, 4L),
                                      std::make_pair(7, 4L)}) {
        CMediaType current;
        ASSERT_EQ(S_OK, BuildMediaType(&current, 166666, index));
        ALLOCATOR_PROPERTIES request = {100, 100, 16, 0};
        ASSERT_EQ(S_OK, DecideBufferSize(allocator.Get(), &request, current)) << index;
        EXPECT_EQ(most, request.cBuffers) << index;
        EXPECT_LE(static_cast<long long>(request.cBuffers) * request.cbBuffer, 25LL * 1000 * 1000) << index;
        request = {0, 100, 16, 0};
        ASSERT_EQ(S_OK, DecideBufferSize(allocator.Get(), &request, current)) << index;
        EXPECT_EQ(2, request.cBuffers) << index;
    }
}

TEST(OutputFormatsTest, BufferNegotiationAcceptsMoreAndRefusesLess) {
    CMediaType current;
    ASSERT_EQ(S_OK, BuildMediaType(&current, 333333, 4));
    FakeAllocator allocator;
    ALLOCATOR_PROPERTIES request = {2, 0, 1, 8};
    allocator.grant = 1228800;
    EXPECT_EQ(S_OK, DecideBufferSize(&allocator, &request, current));
    EXPECT_EQ(8, allocator.requested.cbPrefix);
    EXPECT_EQ(1226880, allocator.requested.cbBuffer);
    allocator.grant = 1226879;
    EXPECT_EQ(E_FAIL, DecideBufferSize(&allocator, &request, current));
    allocator.result = VFW_E_ALREADY_COMMITTED;
    EXPECT_EQ(VFW_E_ALREADY_COMMITTED, DecideBufferSize(&allocator, &request, current));
    EXPECT_EQ(E_POINTER, DecideBufferSize(nullptr, &request, current));
    EXPECT_EQ(E_POINTER, DecideBufferSize(&allocator, nullptr, current));
}

TEST(OutputFormatsTest, ApplyFrameSizeRecomputesSizesAndRefusesNonsense) {
    CMediaType mt;
    ASSERT_EQ(S_OK, BuildMediaType(&mt, 333333, 0));
    ASSERT_EQ(S_OK, ApplyFrameSize(&mt, 640, 480));
    EXPECT_EQ(640, Format(mt).bmiHeader.biWidth);
    EXPECT_EQ(480, Format(mt).bmiHeader.biHeight);
    EXPECT_EQ(921600u, Format(mt).bmiHeader.biSizeImage);
    EXPECT_EQ(921600u, mt.lSampleSize);
    // Rows of 203 pixels are padded from 609 to 612 bytes.
    ASSERT_EQ(S_OK, ApplyFrameSize(&mt, 203, 100));
    EXPECT_EQ(61200u, Format(mt).bmiHeader.biSizeImage);
    EXPECT_EQ(61200u, mt.lSampleSize);

    const std::vector<BYTE> before = Bytes(mt);
    for (const auto& [w, h] : {std::make_pair(0, 100), std::make_pair(100, 0), std::make_pair(-204, 360),
                               std::make_pair(204, -360), std::make_pair(kMaxFrameDimension + 1, 100),
                               std::make_pair(100, 1 << 30)}) {
        EXPECT_EQ(E_INVALIDARG, ApplyFrameSize(&mt, w, h)) << w << "x" << h;
    }
    EXPECT_EQ(before, Bytes(mt));
    CMediaType noFormat;
    EXPECT_EQ(E_INVALIDARG, ApplyFrameSize(&noFormat, 204, 360));
    EXPECT_EQ(E_POINTER, ApplyFrameSize(nullptr, 204, 360));
}

TEST(OutputFormatsTest, EachFormatIsDescribedAsDirectShowHostsExpectIt) {
    struct Expected {
        PixelFormat format;
        GUID subtype;
        DWORD compression;
        WORD bits;
        // Bytes of a 1280x720 frame.
        DWORD imageSize;
    };
    const Expected formats[] = {
        {PixelFormat::Rgb24, MEDIASUBTYPE_RGB24, BI_RGB, 24, 1280 * 720 * 3},
        {PixelFormat::Nv12, MEDIASUBTYPE_NV12, MAKEFOURCC('N', 'V', '1', '2'), 12, 1280 * 720 * 3 / 2},
        {PixelFormat::Yuy2, MEDIASUBTYPE_YUY2, MAKEFOURCC('Y', 'U', 'Y', '2'), 16, 1280 * 720 * 2},
        {PixelFormat::I420, kI420Subtype, MAKEFOURCC('I', '4', '2', '0'), 12, 1280 * 720 * 3 / 2},
        {PixelFormat::Rgb32, MEDIASUBTYPE_RGB32, BI_RGB, 32, 1280 * 720 * 4},
    };
    ASSERT_EQ(kOutputFormatCount, static_cast<int>(std::size(formats)));
    for (int place = 0; place < kOutputFormatCount; ++place) {
        const Expected& e = formats[place];
        SCOPED_TRACE(NameOf(e.format));
        EXPECT_EQ(e.format, OfferedFormat(place)) << "the stored value's order";
        EXPECT_EQ(place, OutputFormatOf(e.format));
        CMediaType mt;
        ASSERT_EQ(S_OK, BuildMediaType(&mt, 333333, 8, e.format));  // 1280x720
        const BITMAPINFOHEADER& header = Format(mt).bmiHeader;
        EXPECT_TRUE(IsEqualGUID(e.subtype, mt.subtype));
        EXPECT_EQ(e.compression, header.biCompression);
        EXPECT_EQ(e.bits, header.biBitCount);
        EXPECT_EQ(720, header.biHeight) << "RGB bottom-up; YUV top-down with a positive height";
        EXPECT_EQ(e.imageSize, header.biSizeImage);
        EXPECT_EQ(e.imageSize, mt.lSampleSize);
        EXPECT_EQ(e.format, PixelFormatOfType(mt));
        VIDEO_STREAM_CONFIG_CAPS caps;
        FillStreamCaps(&caps, FrameSizeTable[8], e.format);
        EXPECT_EQ(1280 * 720 * e.bits, caps.MinBitsPerSecond);
    }
    EXPECT_EQ(PixelFormat::Rgb24, OfferedFormat(-1));
    EXPECT_EQ(PixelFormat::Rgb24, OfferedFormat(kOutputFormatCount));
    // A header and a subtype that disagree describe no format.
    CMediaType mt;
    ASSERT_EQ(S_OK, BuildMediaType(&mt, 333333, 8, PixelFormat::Nv12));
    mt.subtype = MEDIASUBTYPE_YUY2;
    EXPECT_FALSE(PixelFormatOfType(mt).has_value());
}

TEST(OutputFormatsTest, StreamConfigTakesEveryFormatAndRefusesTheRest) {
    // A host that writes only the header (GUID_NULL subtype) gets the
    // header's format; one that names a subtype must name the header's.
    for (const PixelFormat format : kOfferedFormats) {
        SCOPED_TRACE(NameOf(format));
        CMediaType asked;
        ASSERT_EQ(S_OK, BuildMediaType(&asked, 333333, 9, format));  // 1920x1080
        reinterpret_cast<VIDEOINFOHEADER*>(asked.pbFormat)->bmiHeader.biSizeImage = 7;
        asked.subtype = GUID_NULL;
        CMediaType taken;
        ASSERT_EQ(S_OK, TypeFromStreamConfig(asked, &taken));
        EXPECT_EQ(format, PixelFormatOfType(taken));
        EXPECT_EQ(LayoutOf(format, 1920, 1080).imageBytes, Format(taken).bmiHeader.biSizeImage);
    }
    CMediaType nv12;
    ASSERT_EQ(S_OK, BuildMediaType(&nv12, 333333, 9, PixelFormat::Nv12));
    CMediaType untouched;
    nv12.subtype = MEDIASUBTYPE_RGB24;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, TypeFromStreamConfig(nv12, &untouched));
    nv12.subtype = MEDIASUBTYPE_NV12;
    reinterpret_cast<VIDEOINFOHEADER*>(nv12.pbFormat)->bmiHeader.biBitCount = 16;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, TypeFromStreamConfig(nv12, &untouched)) << "NV12 has 12 bits a pixel";
    // VIDEOINFOHEADER2 is not one of the pin's format types: refused.
    CMediaType second;
    ASSERT_EQ(S_OK, BuildMediaType(&second, 333333, 9, PixelFormat::Nv12));
    second.formattype = FORMAT_VideoInfo2;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, TypeFromStreamConfig(second, &untouched));
    EXPECT_EQ(nullptr, untouched.pbFormat) << "nothing is written on refusal";
    // Sizes the YUV formats cannot take (odd) are refused by ApplyFrameSize.
    CMediaType yuy2;
    ASSERT_EQ(S_OK, BuildMediaType(&yuy2, 333333, 0, PixelFormat::Yuy2));
    const std::vector<BYTE> before = Bytes(yuy2);
    EXPECT_EQ(E_INVALIDARG, ApplyFrameSize(&yuy2, 641, 480));
    EXPECT_EQ(before, Bytes(yuy2));
    EXPECT_EQ(S_OK, ApplyFrameSize(&yuy2, 640, 480));
    EXPECT_EQ(640u * 480u * 2u, Format(yuy2).bmiHeader.biSizeImage);
}

TEST(OutputFormatsTest, StreamConfigTakesNoRectangleTheFramesDoNotFill) {
    // The device fills the whole buffer: a type that claims part of it is
    // refused, and one that names the whole frame is kept with empty
    // rectangles, as the device's own types have them.
    struct Case {
        RECT source;
        RECT target;
        HRESULT expected;
    };
    const RECT none = {0, 0, 0, 0};
    const RECT whole = {0, 0, 1920, 1080};
    const RECT quarter = {0, 0, 960, 540};
    const RECT offset = {8, 8, 1928, 1088};
    const Case cases[] = {
        {none, none, S_OK},
        {whole, whole, S_OK},
        {whole, none, S_OK},
        {quarter, quarter, VFW_E_INVALIDMEDIATYPE},
        {none, quarter, VFW_E_INVALIDMEDIATYPE},
        {quarter, none, VFW_E_INVALIDMEDIATYPE},
        {offset, offset, VFW_E_INVALIDMEDIATYPE},
    };
    for (const PixelFormat format : kOfferedFormats) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(NameOf(format)) + " source " + std::to_string(c.source.right) + " target " +
                         std::to_string(c.target.right));
            CMediaType asked;
            ASSERT_EQ(S_OK, BuildMediaType(&asked, 333333, 9, format));  // 1920x1080
            reinterpret_cast<VIDEOINFOHEADER*>(asked.pbFormat)->rcSource = c.source;
            reinterpret_cast<VIDEOINFOHEADER*>(asked.pbFormat)->rcTarget = c.target;
            CMediaType taken;
            EXPECT_EQ(c.expected, TypeFromStreamConfig(asked, &taken));
            if (c.expected == S_OK) {
                EXPECT_TRUE(::IsRectEmpty(&Format(taken).rcSource));
                EXPECT_TRUE(::IsRectEmpty(&Format(taken).rcTarget));
                CMediaType built;
                ASSERT_EQ(S_OK, BuildMediaType(&built, 333333, 9, format));
                EXPECT_EQ(S_OK, output_formats::CheckMediaType(&taken, built)) << "the device's own type";
            } else {
                EXPECT_EQ(nullptr, taken.pbFormat) << "nothing is written on refusal";
            }
        }
    }
}
