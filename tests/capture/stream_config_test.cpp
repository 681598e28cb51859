// The filter and its pin in-process: interface routing and lifetime, the
// stream configuration, pin property and page interfaces, the offered
// formats and the settings interface's checks.
#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>

#include "settings/capture_device_ids.h"
#include "settings/capture_device_settings.h"
#include "capture/zrv_capture.h"
#include "framework/media_type.h"
#include "tests/support/capture_graph.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/stored_settings.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

const SIZE kSizes[] = {{204, 360}, {272, 480}, {432, 768}, {568, 320}, {852, 480}, {1136, 640},
                       {720, 1280}, {1080, 1920}, {1280, 720}, {1920, 1080}};
constexpr int kSizeCount = static_cast<int>(sizeof(kSizes) / sizeof(kSizes[0]));

SIZE SizeOf(const AM_MEDIA_TYPE& mt) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    return {vih->bmiHeader.biWidth, vih->bmiHeader.biHeight};
}

REFERENCE_TIME FrameTimeOf(const AM_MEDIA_TYPE& mt) {
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame;
}

class StreamConfigTest : public testing::Test {
protected:
    void SetUp() override {
        m_sandbox = std::make_unique<RegistrySandbox>();
        ASSERT_TRUE(m_sandbox->ok());
    }
    void TearDown() override {
        m_config.Reset();
        m_pin.Reset();
        m_filter.Reset();
        m_sandbox.reset();
    }
    void Create() {
        HRESULT hr = S_OK;
        CUnknown* object = CZRV_Capture::CreateInstance(nullptr, &hr);
        ASSERT_NE(nullptr, object);
        ASSERT_EQ(S_OK, hr);
        ASSERT_EQ(S_OK, object->NonDelegatingQueryInterface(IID_PPV_ARGS(&m_filter)));
        ASSERT_EQ(S_OK, GetPin(m_filter.Get(), PINDIR_OUTPUT, &m_pin));
        ASSERT_EQ(S_OK, m_pin.As(&m_config));
    }
    CMediaType CurrentFormat() {
        AM_MEDIA_TYPE* mt = nullptr;
        EXPECT_EQ(S_OK, m_config->GetFormat(&mt));
        CMediaType copy(*mt);
        DeleteMediaType(mt);
        return copy;
    }

    std::unique_ptr<RegistrySandbox> m_sandbox;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPin> m_pin;
    ComPtr<IAMStreamConfig> m_config;
};

}  // namespace

TEST_F(StreamConfigTest, FilterForwardsPinInterfacesAndKeepsIdentities) {
    const LONG before = CBaseObject::ObjectsActive();
    Create();
    ComPtr<IAMStreamConfig> fromFilter;
    ASSERT_EQ(S_OK, m_filter.As(&fromFilter));
    EXPECT_EQ(m_config.Get(), fromFilter.Get());
    for (const IID& iid : {IID_IKsPropertySet, IID_ISpecifyPropertyPages, IID_ICaptureDeviceSettings}) {
        ComPtr<IUnknown> onFilter;
        ComPtr<IUnknown> onPin;
        EXPECT_EQ(S_OK, m_filter->QueryInterface(iid, &onFilter));
        EXPECT_EQ(S_OK, m_pin->QueryInterface(iid, &onPin));
        EXPECT_EQ(onPin.Get(), onFilter.Get());
    }
    // A forwarded interface answers for the pin, not for the filter.
    ComPtr<IUnknown> identity;
    ASSERT_EQ(S_OK, fromFilter.As(&identity));
    ComPtr<IUnknown> pinIdentity;
    ASSERT_EQ(S_OK, m_pin.As(&pinIdentity));
    ComPtr<IUnknown> filterIdentity;
    ASSERT_EQ(S_OK, m_filter.As(&filterIdentity));
    EXPECT_EQ(pinIdentity.Get(), identity.Get());
    EXPECT_NE(filterIdentity.Get(), identity.Get());
    ComPtr<IBaseFilter> notThere;
    EXPECT_EQ(E_NOINTERFACE, fromFilter.As(&notThere));
    EXPECT_EQ(E_POINTER, m_filter->QueryInterface(IID_IAMStreamConfig, nullptr));
    EXPECT_EQ(E_POINTER, m_pin->QueryInterface(IID_IAMStreamConfig, nullptr));

    // A pin interface keeps the whole object alive.
    identity.Reset();
    pinIdentity.Reset();
    filterIdentity.Reset();
    fromFilter.Reset();
    m_pin.Reset();
    m_filter.Reset();
    EXPECT_EQ(before + 2, CBaseObject::ObjectsActive());
    int size[2] = {};
    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, m_config.As(&settings));
    EXPECT_EQ(S_OK, settings->GetFrameSize(size));
    settings.Reset();
    m_config.Reset();
    EXPECT_EQ(before, CBaseObject::ObjectsActive());
}

TEST_F(StreamConfigTest, CapabilitiesDescribeEachEntryAndTheFrameTimeInUse) {
    Create();
    int count = 0;
    int size = 0;
    EXPECT_EQ(E_POINTER, m_config->GetNumberOfCapabilities(nullptr, &size));
    EXPECT_EQ(E_POINTER, m_config->GetNumberOfCapabilities(&count, nullptr));
    ASSERT_EQ(S_OK, m_config->GetNumberOfCapabilities(&count, &size));
    // Every size in RGB24 first, then in NV12, YUY2, I420 and RGB32.
    EXPECT_EQ(kSizeCount * 5, count);
    EXPECT_EQ(128, size);

    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, m_config.As(&settings));
    ASSERT_EQ(S_OK, settings->SetFrameRate(15.0));
    VIDEO_STREAM_CONFIG_CAPS caps{};
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_EQ(E_INVALIDARG, m_config->GetStreamCaps(-1, &mt, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(E_INVALIDARG, m_config->GetStreamCaps(count, &mt, reinterpret_cast<BYTE*>(&caps)));
    const GUID i420 = {MAKEFOURCC('I', '4', '2', '0'), 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    const GUID laterSubtypes[] = {MEDIASUBTYPE_NV12, MEDIASUBTYPE_YUY2, i420, MEDIASUBTYPE_RGB32};
    for (int i = kSizeCount; i < count; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(S_OK, m_config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)));
        EXPECT_TRUE(IsEqualGUID(laterSubtypes[i / kSizeCount - 1], mt->subtype));
        EXPECT_EQ(kSizes[i % kSizeCount].cx, SizeOf(*mt).cx);
        EXPECT_EQ(kSizes[i % kSizeCount].cx, caps.InputSize.cx);
        DeleteMediaType(mt);
    }
    EXPECT_EQ(E_POINTER, m_config->GetStreamCaps(0, nullptr, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(E_POINTER, m_config->GetStreamCaps(0, &mt, nullptr));
    for (int i = 0; i < kSizeCount; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(S_OK, m_config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)));
        EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, mt->majortype));
        EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, mt->subtype));
        EXPECT_EQ(kSizes[i].cx, SizeOf(*mt).cx);
        EXPECT_EQ(kSizes[i].cy, SizeOf(*mt).cy);
        EXPECT_EQ(static_cast<ULONG>(kSizes[i].cx * kSizes[i].cy * 3), mt->lSampleSize);
        // Unlike the types the pin offers, the capabilities' types do not
        // promise samples of one fixed size.
        EXPECT_FALSE(mt->bFixedSizeSamples);
        EXPECT_FALSE(mt->bTemporalCompression);
        EXPECT_EQ(666666, FrameTimeOf(*mt));
        DeleteMediaType(mt);
        EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, caps.guid));
        for (const SIZE& s : {caps.InputSize, caps.MinOutputSize, caps.MaxOutputSize, caps.MinCroppingSize,
                              caps.MaxCroppingSize}) {
            EXPECT_EQ(kSizes[i].cx, s.cx);
            EXPECT_EQ(kSizes[i].cy, s.cy);
        }
        EXPECT_EQ(166666, caps.MinFrameInterval);
        EXPECT_EQ(10000000, caps.MaxFrameInterval);
        EXPECT_EQ(kSizes[i].cx * kSizes[i].cy * 24, caps.MinBitsPerSecond);
        // The largest sizes at 60 fps pass 2^31 bit/s and are reported as
        // the largest LONG rather than wrapping to a negative rate.
        const LONGLONG maxBits = static_cast<LONGLONG>(kSizes[i].cx) * kSizes[i].cy * 24 * 60;
        EXPECT_EQ(static_cast<LONG>(std::min<LONGLONG>(maxBits, LONG_MAX)), caps.MaxBitsPerSecond);
        EXPECT_GT(caps.MaxBitsPerSecond, 0);
    }
}

TEST_F(StreamConfigTest, SetFormatKeepsOrClampsTheFrameTimeAndStoresIt) {
    Create();
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    ASSERT_EQ(S_OK, m_config->GetStreamCaps(4, &mt, reinterpret_cast<BYTE*>(&caps)));
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
    const struct {
        REFERENCE_TIME given;
        REFERENCE_TIME used;
    } cases[] = {{0, 333333}, {-5, 333333}, {20000000, 10000000}, {1, 166666}, {666666, 666666}, {0, 666666}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        vih->AvgTimePerFrame = c.given;
        ASSERT_EQ(S_OK, m_config->SetFormat(mt));
        const CMediaType current = CurrentFormat();
        EXPECT_EQ(852, SizeOf(current).cx);
        EXPECT_EQ(c.used, FrameTimeOf(current));
        double rate = 0;
        ComPtr<ICaptureDeviceSettings> settings;
        ASSERT_EQ(S_OK, m_config.As(&settings));
        ASSERT_EQ(S_OK, settings->GetFrameRate(&rate));
        EXPECT_EQ(static_cast<double>(10000000 / c.used), rate);
    }
    DeleteMediaType(mt);
}

TEST_F(StreamConfigTest, SetFormatRefusesMalformedTypesAndChangesNothing) {
    Create();
    const CMediaType before = CurrentFormat();
    EXPECT_EQ(E_POINTER, m_config->SetFormat(nullptr));

    auto attempt = [&](const char* what, const std::function<void(CMediaType&)>& spoil) {
        SCOPED_TRACE(what);
        CMediaType type = before;
        spoil(type);
        EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, m_config->SetFormat(&type));
        EXPECT_TRUE(CurrentFormat() == before);
    };
    auto header = [](CMediaType& t) -> BITMAPINFOHEADER& {
        return reinterpret_cast<VIDEOINFOHEADER*>(t.pbFormat)->bmiHeader;
    };
    attempt("other format type", [](CMediaType& t) { t.formattype = FORMAT_WaveFormatEx; });
    attempt("short block", [](CMediaType& t) { t.cbFormat = sizeof(VIDEOINFOHEADER) - 1; });
    attempt("no block", [](CMediaType& t) {
        ::CoTaskMemFree(t.pbFormat);
        t.pbFormat = nullptr;
        t.cbFormat = 0;
    });
    attempt("320x240", [&](CMediaType& t) { header(t).biWidth = 320, header(t).biHeight = 240; });
    attempt("32-bit", [&](CMediaType& t) { header(t).biBitCount = 32; });
    attempt("top-down", [&](CMediaType& t) { header(t).biHeight = -header(t).biHeight; });
    attempt("compressed", [&](CMediaType& t) { header(t).biCompression = MAKEFOURCC('Y', 'U', 'Y', '2'); });
    attempt("audio", [](CMediaType& t) { t.majortype = MEDIATYPE_Audio; });
    attempt("RGB32 subtype", [](CMediaType& t) { t.subtype = MEDIASUBTYPE_RGB32; });
    attempt("zero width", [&](CMediaType& t) { header(t).biWidth = 0; });
    attempt("huge", [&](CMediaType& t) { header(t).biWidth = 0x7fffffff, header(t).biHeight = 0x7fffffff; });
}

TEST_F(StreamConfigTest, PinCategoryPagesAndPropertySetChecks) {
    Create();
    ComPtr<IKsPropertySet> properties;
    ASSERT_EQ(S_OK, m_pin.As(&properties));
    GUID category = GUID_NULL;
    DWORD returned = 0;
    EXPECT_EQ(E_POINTER, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 16, nullptr));
    EXPECT_EQ(S_OK, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(16u, returned);
    returned = 0;
    EXPECT_EQ(E_UNEXPECTED,
              properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 15, &returned));
    EXPECT_EQ(16u, returned);
    EXPECT_EQ(S_OK, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16, nullptr));
    EXPECT_TRUE(IsEqualGUID(PIN_CATEGORY_CAPTURE, category));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, properties->Get(AMPROPSETID_Pin, 1, nullptr, 0, &category, 16, &returned));
    EXPECT_EQ(E_PROP_SET_UNSUPPORTED, properties->Get(GUID_NULL, 0, nullptr, 0, &category, 16, &returned));
    DWORD support = 0;
    EXPECT_EQ(S_OK, properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support));
    EXPECT_EQ(static_cast<DWORD>(KSPROPERTY_SUPPORT_GET), support);
    EXPECT_EQ(S_OK, properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, properties->QuerySupported(AMPROPSETID_Pin, 7, &support));
    EXPECT_EQ(E_NOTIMPL, properties->Set(AMPROPSETID_Pin, 0, nullptr, 0, &category, 16));

    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(S_OK, m_filter.As(&pages));
    EXPECT_EQ(E_POINTER, pages->GetPages(nullptr));
    CAUUID ids{};
    ASSERT_EQ(S_OK, pages->GetPages(&ids));
    ASSERT_EQ(2u, ids.cElems);
    EXPECT_TRUE(IsEqualCLSID(CLSID_CaptureDeviceProp, ids.pElems[0]));
    EXPECT_TRUE(IsEqualCLSID(CLSID_CaptureWindowProp, ids.pElems[1]));
    ::CoTaskMemFree(ids.pElems);
}

TEST_F(StreamConfigTest, StoredSizeComesFirstAmongTheOfferedTypes) {
    ASSERT_TRUE(StoreText("SelectPixel", "4"));
    Create();
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, m_pin->EnumMediaTypes(&types));
    // The RGB24 types come first, as before the pin offered other
    // formats; every size in the four others follows them.
    AM_MEDIA_TYPE* offered[kSizeCount] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_OK, types->Next(kSizeCount, offered, &fetched));
    ASSERT_EQ(static_cast<ULONG>(kSizeCount), fetched);
    AM_MEDIA_TYPE* rest[kSizeCount * 4 + 1] = {};
    ULONG more = 0;
    EXPECT_EQ(S_FALSE, types->Next(kSizeCount * 4 + 1, rest, &more));
    EXPECT_EQ(static_cast<ULONG>(kSizeCount * 4), more);
    for (ULONG i = 0; i < more; ++i) {
        EXPECT_FALSE(IsEqualGUID(MEDIASUBTYPE_RGB24, rest[i]->subtype));
        DeleteMediaType(rest[i]);
    }
    const SIZE expected[kSizeCount] = {{852, 480}, {272, 480}, {432, 768}, {568, 320},  {852, 480},
                                       {1136, 640}, {720, 1280}, {1080, 1920}, {1280, 720}, {1920, 1080}};
    for (ULONG i = 0; i < fetched; ++i) {
        EXPECT_EQ(expected[i].cx, SizeOf(*offered[i]).cx);
        EXPECT_EQ(expected[i].cy, SizeOf(*offered[i]).cy);
        // Only the current type is accepted.
        EXPECT_EQ(i == 0 || i == 4 ? S_OK : S_FALSE, m_pin->QueryAccept(offered[i]));
        DeleteMediaType(offered[i]);
    }
    LPWSTR id = nullptr;
    ASSERT_EQ(S_OK, m_pin->QueryId(&id));
    EXPECT_STREQ(L"1", id);
    ComPtr<IPin> found;
    EXPECT_EQ(S_OK, m_filter->FindPin(id, &found));
    EXPECT_EQ(m_pin.Get(), found.Get());
    ::CoTaskMemFree(id);
}

TEST_F(StreamConfigTest, SettingsSettersCheckTheirArguments) {
    Create();
    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, m_filter.As(&settings));
    EXPECT_EQ(E_POINTER, settings->GetFrameSize(nullptr));
    EXPECT_EQ(E_POINTER, settings->SetFrameSize(nullptr));
    EXPECT_EQ(E_POINTER, settings->GetFrameRate(nullptr));
    EXPECT_EQ(E_POINTER, settings->GetTitleText(nullptr));
    EXPECT_EQ(E_POINTER, settings->SetTitleText(nullptr));
    const int bad[][2] = {{0, 100}, {100, -1}, {100000, 100}};
    for (const auto& size : bad) {
        EXPECT_EQ(E_INVALIDARG, settings->SetFrameSize(size));
    }
    EXPECT_EQ(E_INVALIDARG, settings->SetSelectPixel(-1));
    EXPECT_EQ(E_INVALIDARG, settings->SetSelectPixel(kSizeCount));
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_CURRENT_USER, L"Software\\QMCapture"));

    // A size outside the table: the type's image size follows.
    const int odd[2] = {101, 50};
    ASSERT_EQ(S_OK, settings->SetFrameSize(odd));
    int size[2] = {};
    ASSERT_EQ(S_OK, settings->GetFrameSize(size));
    EXPECT_EQ(101, size[0]);
    EXPECT_EQ(50, size[1]);
    const CMediaType current = CurrentFormat();
    EXPECT_EQ(static_cast<ULONG>(304 * 50), current.lSampleSize);
    EXPECT_EQ(0, RegistrySandbox::CountEntries(HKEY_CURRENT_USER, L"Software\\QMCapture"));

    ASSERT_EQ(S_OK, settings->SetSelectPixel(5));
    ASSERT_EQ(S_OK, settings->GetFrameSize(size));
    EXPECT_EQ(1136, size[0]);
    EXPECT_EQ(640, size[1]);
}
