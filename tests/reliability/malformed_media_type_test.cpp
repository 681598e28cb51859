// Malformed media types offered to every entry point that takes one:
// IAMStreamConfig::SetFormat, the pin's CheckMediaType, IPin::QueryAccept,
// IPin::ReceiveConnection and IPin::Connect. Each must get a clear result
// and leave the device as it was.
#include <gtest/gtest.h>

#include <dshow.h>
#include <dvdmedia.h>
#include <wrl/client.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "settings/capture_device_settings.h"
#include "capture/output_formats.h"
#include "framework/com_util.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;

using namespace output_formats;
using namespace qmtest;

namespace {

constexpr REFERENCE_TIME kFrameTime = 333333;

// A media type whose format block belongs to the test, not to task
// memory: the callee reads it, nothing frees it.
struct RawType {
    AM_MEDIA_TYPE mt = {};
    std::vector<BYTE> block;
    std::string name;
};

// A well-formed type of one of the device's sizes as a starting point.
RawType ValidType(int index) {
    RawType raw;
    CMediaType built;
    EXPECT_EQ(S_OK, BuildMediaType(&built, kFrameTime, index));
    raw.block.assign(built.pbFormat, built.pbFormat + built.cbFormat);
    raw.mt = built;
    raw.mt.pUnk = nullptr;
    raw.mt.pbFormat = raw.block.data();
    return raw;
}

VIDEOINFOHEADER& Header(RawType& raw) {
    return *reinterpret_cast<VIDEOINFOHEADER*>(raw.block.data());
}

using Mutation = std::function<void(RawType&)>;

RawType Malformed(const char* name, const Mutation& mutate) {
    RawType raw = ValidType(0);
    raw.name = name;
    mutate(raw);
    return raw;
}

void SetSize(RawType& raw, LONG width, LONG height) {
    Header(raw).bmiHeader.biWidth = width;
    Header(raw).bmiHeader.biHeight = height;
}

// Every malformed type the entry points must refuse. They differ from the
// device's 204x360 type in the format block or its GUIDs, so none of them
// is the current type.
std::vector<RawType> MalformedTypes() {
    std::vector<RawType> types;
    types.push_back(Malformed("null format block", [](RawType& r) { r.mt.pbFormat = nullptr; }));
    types.push_back(Malformed("null block, no length", [](RawType& r) {
        r.mt.pbFormat = nullptr;
        r.mt.cbFormat = 0;
    }));
    types.push_back(Malformed("block without a length", [](RawType& r) { r.mt.cbFormat = 0; }));
    types.push_back(Malformed("block of one byte less", [](RawType& r) {
        r.block.resize(sizeof(VIDEOINFOHEADER) - 1);
        r.mt.pbFormat = r.block.data();
        r.mt.cbFormat = static_cast<ULONG>(r.block.size());
    }));
    types.push_back(Malformed("bitmap header only", [](RawType& r) {
        r.block.resize(sizeof(BITMAPINFOHEADER));
        r.mt.pbFormat = r.block.data();
        r.mt.cbFormat = static_cast<ULONG>(r.block.size());
    }));
    types.push_back(Malformed("length shorter than the block", [](RawType& r) { r.mt.cbFormat = 40; }));
    types.push_back(Malformed("one-byte length", [](RawType& r) { r.mt.cbFormat = 1; }));
    types.push_back(Malformed("FORMAT_VideoInfo2", [](RawType& r) { r.mt.formattype = FORMAT_VideoInfo2; }));
    types.push_back(Malformed("FORMAT_WaveFormatEx", [](RawType& r) { r.mt.formattype = FORMAT_WaveFormatEx; }));
    types.push_back(Malformed("FORMAT_None", [](RawType& r) { r.mt.formattype = FORMAT_None; }));
    types.push_back(Malformed("MEDIATYPE_Audio", [](RawType& r) { r.mt.majortype = MEDIATYPE_Audio; }));
    types.push_back(Malformed("MEDIASUBTYPE_RGB32 name", [](RawType& r) { r.mt.subtype = MEDIASUBTYPE_RGB32; }));
    types.push_back(Malformed("zero width", [](RawType& r) { SetSize(r, 0, 360); }));
    types.push_back(Malformed("zero height", [](RawType& r) { SetSize(r, 204, 0); }));
    types.push_back(Malformed("zero size", [](RawType& r) { SetSize(r, 0, 0); }));
    types.push_back(Malformed("negative width", [](RawType& r) { SetSize(r, -204, 360); }));
    types.push_back(Malformed("top-down height", [](RawType& r) { SetSize(r, 204, -360); }));
    types.push_back(Malformed("top-down landscape", [](RawType& r) { SetSize(r, 1136, -640); }));
    types.push_back(Malformed("most negative size", [](RawType& r) { SetSize(r, INT_MIN, INT_MIN); }));
    types.push_back(Malformed("huge size", [](RawType& r) { SetSize(r, 100000, 100000); }));
    types.push_back(Malformed("largest size", [](RawType& r) { SetSize(r, INT_MAX, INT_MAX); }));
    types.push_back(Malformed("size not in the table", [](RawType& r) { SetSize(r, 320, 240); }));
    types.push_back(Malformed("portrait turned", [](RawType& r) { SetSize(r, 360, 204); }));
    types.push_back(Malformed("32 bits", [](RawType& r) { Header(r).bmiHeader.biBitCount = 32; }));
    types.push_back(Malformed("16 bits", [](RawType& r) { Header(r).bmiHeader.biBitCount = 16; }));
    types.push_back(Malformed("8 bits", [](RawType& r) { Header(r).bmiHeader.biBitCount = 8; }));
    types.push_back(Malformed("0 bits", [](RawType& r) { Header(r).bmiHeader.biBitCount = 0; }));
    types.push_back(Malformed("BI_BITFIELDS", [](RawType& r) { Header(r).bmiHeader.biCompression = BI_BITFIELDS; }));
    types.push_back(Malformed("BI_JPEG", [](RawType& r) { Header(r).bmiHeader.biCompression = BI_JPEG; }));
    // A packed 4:2:2 format the device does not make (it makes YUY2).
    types.push_back(Malformed("UYVY", [](RawType& r) {
        Header(r).bmiHeader.biCompression = MAKEFOURCC('U', 'Y', 'V', 'Y');
        Header(r).bmiHeader.biBitCount = 16;
        r.mt.subtype = MEDIASUBTYPE_UYVY;
    }));
    // YUY2 with the bit count of RGB24.
    types.push_back(Malformed("YUY2 of 24 bits", [](RawType& r) {
        Header(r).bmiHeader.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
        r.mt.subtype = MEDIASUBTYPE_YUY2;
    }));
    types.push_back(Malformed("MJPG", [](RawType& r) {
        Header(r).bmiHeader.biCompression = MAKEFOURCC('M', 'J', 'P', 'G');
    }));
    return types;
}

// The device's state as far as a type change could touch it.
struct DeviceState {
    CMediaType format;
    double rate = 0;
    int size[2] = {};
};

DeviceState Capture(IBaseFilter* filter) {
    DeviceState state;
    ComPtr<IAMStreamConfig> config;
    ComPtr<ICaptureDeviceSettings> settings;
    EXPECT_EQ(S_OK, filter->QueryInterface(IID_PPV_ARGS(&config)));
    EXPECT_EQ(S_OK, filter->QueryInterface(IID_PPV_ARGS(&settings)));
    AM_MEDIA_TYPE* format = nullptr;
    EXPECT_EQ(S_OK, config->GetFormat(&format));
    if (format != nullptr) {
        state.format = *format;
        DeleteMediaType(format);
    }
    settings->GetFrameRate(&state.rate);
    settings->GetFrameSize(state.size);
    return state;
}

void ExpectUnchanged(const DeviceState& before, IBaseFilter* filter) {
    const DeviceState after = Capture(filter);
    EXPECT_TRUE(before.format == after.format) << "the current format changed";
    EXPECT_EQ(before.rate, after.rate);
    EXPECT_EQ(before.size[0], after.size[0]);
    EXPECT_EQ(before.size[1], after.size[1]);
}

class MalformedMediaTypeTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sandbox.ok());
        ASSERT_EQ(S_OK, CreateCaptureFilter(&m_filter));
        ASSERT_EQ(S_OK, GetPin(m_filter.Get(), PINDIR_OUTPUT, &m_pin));
        ASSERT_EQ(S_OK, m_filter.As(&m_config));
        m_before = Capture(m_filter.Get());
    }
    void ExpectUnconnected() {
        ComPtr<IPin> peer;
        EXPECT_EQ(VFW_E_NOT_CONNECTED, m_pin->ConnectedTo(&peer));
        EXPECT_EQ(nullptr, peer.Get());
    }

    RegistrySandbox m_sandbox;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPin> m_pin;
    ComPtr<IAMStreamConfig> m_config;
    DeviceState m_before;
};

}  // namespace

TEST_F(MalformedMediaTypeTest, SetFormatRefusesEachAndChangesNothing) {
    EXPECT_EQ(E_POINTER, m_config->SetFormat(nullptr));
    for (RawType& raw : MalformedTypes()) {
        SCOPED_TRACE(raw.name);
        EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, m_config->SetFormat(&raw.mt));
        ExpectUnchanged(m_before, m_filter.Get());
    }
}

TEST_F(MalformedMediaTypeTest, CheckMediaTypeAndQueryAcceptRefuseEach) {
    CBasePin* pin = BasePinOf(m_pin.Get());
    EXPECT_EQ(E_POINTER, pin->CheckMediaType(nullptr));
    EXPECT_EQ(E_POINTER, m_pin->QueryAccept(nullptr));
    for (RawType& raw : MalformedTypes()) {
        SCOPED_TRACE(raw.name);
        const HRESULT check = pin->CheckMediaType(CMediaType::From(&raw.mt));
        EXPECT_TRUE(FAILED(check)) << std::hex << check;
        EXPECT_EQ(S_FALSE, m_pin->QueryAccept(&raw.mt));
        ExpectUnchanged(m_before, m_filter.Get());
    }
    // The current type itself is still accepted.
    EXPECT_EQ(S_OK, m_pin->QueryAccept(&m_before.format));
}

TEST_F(MalformedMediaTypeTest, ReceiveConnectionRefusesEachAndStaysUnconnected) {
    auto connector = MakeFake<FakeInputPin>();
    auto sameDirection = MakeFake<FakePeerPin>(PINDIR_OUTPUT);
    RawType valid = ValidType(0);
    EXPECT_EQ(E_POINTER, m_pin->ReceiveConnection(nullptr, &valid.mt));
    EXPECT_EQ(E_POINTER, m_pin->ReceiveConnection(connector.Get(), nullptr));
    // An output pin takes no connection from another output pin.
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, m_pin->ReceiveConnection(sameDirection.Get(), &valid.mt));
    ExpectUnconnected();
    for (RawType& raw : MalformedTypes()) {
        SCOPED_TRACE(raw.name);
        EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, m_pin->ReceiveConnection(connector.Get(), &raw.mt));
        ExpectUnconnected();
        ExpectUnchanged(m_before, m_filter.Get());
    }
    EXPECT_EQ(1, connector->RefCount()) << "a refused connector is still referenced";
}

TEST_F(MalformedMediaTypeTest, ConnectRefusesEachFullySpecifiedOne) {
    auto peer = MakeFake<FakeInputPin>();
    for (RawType& raw : MalformedTypes()) {
        SCOPED_TRACE(raw.name);
        const bool partial = CMediaType::From(&raw.mt)->IsPartiallySpecified();
        ASSERT_FALSE(partial) << "each malformed type names a major type and a format type";
        EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, m_pin->Connect(peer.Get(), &raw.mt));
        ExpectUnconnected();
        ExpectUnchanged(m_before, m_filter.Get());
    }
    EXPECT_TRUE(peer->ReceivedTypes().empty()) << "a refused type reached the peer";
    EXPECT_EQ(1, peer->RefCount());
}

TEST_F(MalformedMediaTypeTest, ConnectWithMalformedPartialTypesConnectsOnlyWithTheDeviceType) {
    auto peer = MakeFake<FakeInputPin>();
    // Partial types whose format part is malformed match no offered type.
    for (RawType& raw : MalformedTypes()) {
        // Without its major type, a type malformed only there is sound.
        if (!IsEqualGUID(raw.mt.formattype, FORMAT_VideoInfo) || !IsEqualGUID(raw.mt.majortype, MEDIATYPE_Video)) {
            continue;
        }
        raw.mt.majortype = GUID_NULL;
        SCOPED_TRACE(raw.name + " with no major type");
        EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, m_pin->Connect(peer.Get(), &raw.mt));
        ExpectUnconnected();
        ExpectUnchanged(m_before, m_filter.Get());
    }
    EXPECT_TRUE(peer->ReceivedTypes().empty());

    // A partial type that names only a format type other than VideoInfo
    // matches nothing either; naming only the major type matches the
    // device's own type, which is the one connected.
    RawType other = ValidType(0);
    other.mt.majortype = GUID_NULL;
    other.mt.formattype = FORMAT_VideoInfo2;
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, m_pin->Connect(peer.Get(), &other.mt));
    AM_MEDIA_TYPE video = {};
    video.majortype = MEDIATYPE_Video;
    ASSERT_EQ(S_OK, m_pin->Connect(peer.Get(), &video));
    CMediaType connected;
    ASSERT_EQ(S_OK, m_pin->ConnectionMediaType(&connected));
    EXPECT_TRUE(connected == m_before.format);
    EXPECT_EQ(S_OK, m_pin->Disconnect());
}

TEST_F(MalformedMediaTypeTest, MalformedTypesWhileConnectedLeaveTheConnectionAlone) {
    auto peer = MakeFake<FakeInputPin>();
    ASSERT_EQ(S_OK, m_pin->Connect(peer.Get(), nullptr));
    CMediaType connected;
    ASSERT_EQ(S_OK, m_pin->ConnectionMediaType(&connected));
    auto other = MakeFake<FakeInputPin>();
    for (RawType& raw : MalformedTypes()) {
        SCOPED_TRACE(raw.name);
        EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, m_config->SetFormat(&raw.mt));
        EXPECT_EQ(S_FALSE, m_pin->QueryAccept(&raw.mt));
        EXPECT_EQ(VFW_E_ALREADY_CONNECTED, m_pin->Connect(other.Get(), &raw.mt));
        EXPECT_EQ(VFW_E_ALREADY_CONNECTED, m_pin->ReceiveConnection(other.Get(), &raw.mt));
        CMediaType still;
        ASSERT_EQ(S_OK, m_pin->ConnectionMediaType(&still));
        EXPECT_TRUE(still == connected);
        ExpectUnchanged(m_before, m_filter.Get());
    }
    EXPECT_EQ(S_OK, m_pin->Disconnect());
}
