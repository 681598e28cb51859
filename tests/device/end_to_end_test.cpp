// The registered device the way capture applications use it: found by its
// friendly name, created from its moniker, configured through
// IAMStreamConfig, connected in real graphs, run and stopped.
#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "framework/com_util.h"
#include "tests/device/device_test_support.h"
#include "tests/support/graph_lookup.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

constexpr REFERENCE_TIME kDefaultFrameTime = 333333;
constexpr DWORD kSampleTimeoutMs = 10000;

const SIZE kSizes[] = {{204, 360}, {272, 480}, {432, 768}, {568, 320}, {852, 480}, {1136, 640},
                       {720, 1280}, {1080, 1920}, {1280, 720}, {1920, 1080}};
constexpr int kSizeCount = static_cast<int>(sizeof(kSizes) / sizeof(kSizes[0]));

std::wstring ClassKey() {
    wchar_t text[CHARS_IN_GUID];
    ::StringFromGUID2(CLSID_CaptureDevice, text, CHARS_IN_GUID);
    return std::wstring(L"CLSID\\") + text;
}

std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* value) {
    wchar_t data[1024] = {};
    DWORD bytes = sizeof(data) - sizeof(wchar_t);
    UniqueRegKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        ::RegQueryValueExW(key.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &bytes) !=
            ERROR_SUCCESS) {
        return L"<missing>";
    }
    return data;
}

// A filter's record in the mapper (its FilterData): the merit, and each
// pin's flags and media types.
struct MappedPin {
    DWORD flags = 0;
    std::vector<std::pair<GUID, GUID>> types;
};
struct MappedFilter {
    DWORD merit = 0;
    std::vector<MappedPin> pins;
};

// The FilterData value the mapper stores for a moniker.
HRESULT ReadFilterData(IMoniker* moniker, std::vector<BYTE>* data) {
    ComPtr<IPropertyBag> bag;
    RETURN_IF_FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)));
    VARIANT value;
    ::VariantInit(&value);
    RETURN_IF_FAILED(bag->Read(L"FilterData", &value, nullptr));
    HRESULT hr = E_UNEXPECTED;
    if (value.vt == (VT_ARRAY | VT_UI1) && value.parray != nullptr) {
        void* bytes = nullptr;
        hr = ::SafeArrayAccessData(value.parray, &bytes);
        if (SUCCEEDED(hr)) {
            const BYTE* first = static_cast<const BYTE*>(bytes);
            data->assign(first, first + value.parray->rgsabound[0].cElements);
            ::SafeArrayUnaccessData(value.parray);
        }
    }
    ::VariantClear(&value);
    return hr;
}

// Reads the binary REGFILTER2 layout of version 2: a header (version,
// merit, pin count, reserved), then per pin a record ("0pi3", flags,
// instances, type count, medium count, category offset) followed by its
// type records ("0ty3", reserved, major and minor type offsets); GUIDs
// are stored at their offsets from the start.
bool ParseFilterData(const std::vector<BYTE>& data, MappedFilter* filter) {
    size_t at = 0;
    const auto dword = [&](DWORD* value) {
        if (at + sizeof(DWORD) > data.size()) {
            return false;
        }
        std::memcpy(value, data.data() + at, sizeof(DWORD));
        at += sizeof(DWORD);
        return true;
    };
    const auto guidAt = [&](DWORD offset, GUID* guid) {
        if (offset == 0 || offset + sizeof(GUID) > data.size()) {
            return false;
        }
        std::memcpy(guid, data.data() + offset, sizeof(GUID));
        return true;
    };
    DWORD version = 0;
    DWORD pins = 0;
    DWORD reserved = 0;
    if (!dword(&version) || version != 2 || !dword(&filter->merit) || !dword(&pins) || !dword(&reserved)) {
        return false;
    }
    for (DWORD p = 0; p < pins; ++p) {
        MappedPin pin;
        DWORD signature = 0;
        DWORD instances = 0;
        DWORD types = 0;
        DWORD mediums = 0;
        DWORD category = 0;
        if (!dword(&signature) || !dword(&pin.flags) || !dword(&instances) || !dword(&types) ||
            !dword(&mediums) || !dword(&category)) {
            return false;
        }
        for (DWORD t = 0; t < types; ++t) {
            DWORD majorOffset = 0;
            DWORD minorOffset = 0;
            GUID major = GUID_NULL;
            GUID minor = GUID_NULL;
            if (!dword(&signature) || !dword(&reserved) || !dword(&majorOffset) || !dword(&minorOffset) ||
                !guidAt(majorOffset, &major) || !guidAt(minorOffset, &minor)) {
                return false;
            }
            pin.types.emplace_back(major, minor);
        }
        at += mediums * sizeof(DWORD);
        filter->pins.push_back(pin);
    }
    return true;
}

// Samples one frameTime long from 0, each starting where the one before
// ended, or later after a stall (a gap of whole frame times whose first
// sample is a discontinuity); every one a sync point of the connected size.
void ExpectOrderedSamples(const std::vector<RecordedSample>& samples, REFERENCE_TIME frameTime, long size) {
    ASSERT_FALSE(samples.empty());
    REFERENCE_TIME expectedStart = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        const RecordedSample& s = samples[i];
        EXPECT_EQ(S_OK, s.timeResult) << "sample " << i;
        EXPECT_GE(s.start, expectedStart) << "sample " << i;
        EXPECT_EQ(0, (s.start - expectedStart) % frameTime) << "sample " << i;
        EXPECT_EQ(s.start != expectedStart, s.discontinuity) << "sample " << i;
        EXPECT_EQ(frameTime, s.end - s.start) << "sample " << i;
        EXPECT_TRUE(s.syncPoint) << "sample " << i;
        EXPECT_EQ(size, s.size) << "sample " << i;
        expectedStart = s.end;
    }
}

// Creates the device from its moniker, connects it (through the capture
// graph builder or pin to pin), checks the connected size, runs until
// `samples` arrived and checks them.
void StreamOnce(DeviceTest* test, HRESULT (DeviceTest::*create)(IBaseFilter**), bool throughBuilder, SIZE size,
                REFERENCE_TIME frameTime, size_t samples) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, (test->*create)(&filter));
    CaptureGraph graph;
    ASSERT_EQ(S_OK, graph.Build(filter.Get(), throughBuilder));
    CMediaType connected;
    ASSERT_EQ(S_OK, graph.ConnectedType(&connected));
    EXPECT_EQ(size.cx, FrameSizeOf(connected).cx);
    EXPECT_EQ(size.cy, FrameSizeOf(connected).cy);
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    EXPECT_TRUE(graph.recorder.WaitForSamples(samples, kSampleTimeoutMs));
    EXPECT_EQ(S_OK, graph.Stop());
    ExpectOrderedSamples(graph.recorder.samples(), frameTime, size.cx * size.cy * 3);
}

}  // namespace

TEST_F(DeviceTest, RegisteredDeviceIsListedWithItsClassKeys) {
    const std::vector<std::wstring> names = ListVideoInputDevices();
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), std::wstring(kCaptureDeviceName)));
    EXPECT_EQ(kCaptureDeviceName, ReadString(HKEY_CLASSES_ROOT, ClassKey(), nullptr));
    EXPECT_EQ(RegisteredModule::ModulePath(), ReadString(HKEY_CLASSES_ROOT, ClassKey() + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"Both", ReadString(HKEY_CLASSES_ROOT, ClassKey() + L"\\InprocServer32", L"ThreadingModel"));

    // The video category's entry: merit MERIT_DO_NOT_USE, so that graphs
    // never pick the device on their own, and one output pin of video.
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(S_OK, FindVideoInputDevice(kCaptureDeviceName, &moniker));
    std::vector<BYTE> data;
    ASSERT_EQ(S_OK, ReadFilterData(moniker.Get(), &data));
    MappedFilter mapped;
    ASSERT_TRUE(ParseFilterData(data, &mapped)) << data.size() << " bytes";
    EXPECT_EQ(static_cast<DWORD>(MERIT_DO_NOT_USE), mapped.merit);
    ASSERT_EQ(1u, mapped.pins.size());
    const MappedPin& pin = mapped.pins[0];
    // Output; not rendered, not optional (zero), not many.
    EXPECT_EQ(static_cast<DWORD>(REG_PINFLAG_B_OUTPUT), pin.flags);
    ASSERT_EQ(1u, pin.types.size());
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, pin.types[0].first));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, pin.types[0].second));
}

TEST_F(DeviceTest, CreatedFromMonikerWithOnePinNamedRgbOut) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateFromMoniker(&filter));
    CLSID clsid{};
    ASSERT_EQ(S_OK, filter->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_CaptureDevice, clsid));
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, filter->EnumPins(&pins));
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, pins->Next(1, &pin, nullptr));
    PIN_INFO info{};
    ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
    EXPECT_STREQ(L"RGB Out", info.achName);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    if (info.pFilter != nullptr) {
        info.pFilter->Release();
    }
    ComPtr<IPin> second;
    EXPECT_EQ(S_FALSE, pins->Next(1, &second, nullptr));

    // The plain COM route works as well.
    ComPtr<IBaseFilter> direct;
    EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_CaptureDevice, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&direct)));
}

TEST_F(DeviceTest, StreamsThroughCaptureGraphBuilderAndDirectConnection) {
    for (const bool throughBuilder : {true, false}) {
        SCOPED_TRACE(throughBuilder ? "RenderStream" : "direct connection");
        StreamOnce(this, &DeviceTest::CreateFromMoniker, throughBuilder, {204, 360}, kDefaultFrameTime, 8);
    }
}

TEST_F(DeviceTest, EverySampleOfAPauseToStopSpanIsDeliveredByOneThread) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateFromMoniker(&filter));
    CaptureGraph graph;
    ASSERT_EQ(S_OK, graph.Build(filter.Get(), false));
    for (int span = 0; span < 2; ++span) {
        SCOPED_TRACE(span);
        graph.recorder.Clear();
        // Paused first (one frame arrives), then running, then stopped.
        ASSERT_TRUE(SUCCEEDED(graph.control->Pause()));
        EXPECT_TRUE(graph.recorder.WaitForSamples(1, kSampleTimeoutMs));
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        EXPECT_TRUE(graph.recorder.WaitForSamples(6, kSampleTimeoutMs));
        ASSERT_EQ(S_OK, graph.Stop());
        const std::vector<RecordedSample> samples = graph.recorder.samples();
        ASSERT_GE(samples.size(), 6u);
        for (const RecordedSample& sample : samples) {
            EXPECT_EQ(samples.front().thread, sample.thread);
        }
        EXPECT_NE(::GetCurrentThreadId(), samples.front().thread);
    }
}

TEST_F(DeviceTest, ClientChoosesEachSizeAndRateThroughStreamConfig) {
    constexpr REFERENCE_TIME kFifteenFps = 666666;
    for (int i = 0; i < kSizeCount; ++i) {
        SCOPED_TRACE(i);
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(S_OK, CreateFromMoniker(&filter));
        ComPtr<IAMStreamConfig> config;
        ASSERT_EQ(S_OK, filter.As(&config));
        int count = 0;
        int capsSize = 0;
        ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &capsSize));
        ASSERT_EQ(kSizeCount * 5, count) << "RGB24, then NV12, YUY2, I420 and RGB32";
        ASSERT_EQ(static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)), capsSize);
        AM_MEDIA_TYPE* mt = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps{};
        ASSERT_EQ(S_OK, config->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)));
        // Each capability describes its own size.
        EXPECT_EQ(kSizes[i].cx, caps.InputSize.cx);
        EXPECT_EQ(kSizes[i].cy, caps.InputSize.cy);
        EXPECT_EQ(kSizes[i].cx, caps.MaxOutputSize.cx);
        EXPECT_EQ(kSizes[i].cy, caps.MinOutputSize.cy);
        EXPECT_EQ(166666, caps.MinFrameInterval);
        EXPECT_EQ(10000000, caps.MaxFrameInterval);
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
        EXPECT_EQ(kDefaultFrameTime, vih->AvgTimePerFrame);
        vih->AvgTimePerFrame = kFifteenFps;
        ASSERT_EQ(S_OK, config->SetFormat(mt));
        DeleteMediaType(mt);

        CaptureGraph graph;
        ASSERT_EQ(S_OK, graph.Build(filter.Get(), false));
        CMediaType connected;
        ASSERT_EQ(S_OK, graph.ConnectedType(&connected));
        EXPECT_EQ(kSizes[i].cx, FrameSizeOf(connected).cx);
        EXPECT_EQ(kSizes[i].cy, FrameSizeOf(connected).cy);
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        EXPECT_TRUE(graph.recorder.WaitForSamples(3, kSampleTimeoutMs));
        EXPECT_EQ(S_OK, graph.Stop());
        ExpectOrderedSamples(graph.recorder.samples(), kFifteenFps, kSizes[i].cx * kSizes[i].cy * 3);
    }
}

TEST_F(DeviceTest, SettingsOnFilterAndPinActOnRunningGraph) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateFromMoniker(&filter));
    CaptureGraph graph;
    ASSERT_EQ(S_OK, graph.Build(filter.Get(), true));
    ComPtr<ICaptureDeviceSettings> onFilter;
    ASSERT_EQ(S_OK, filter.As(&onFilter));
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, GetPin(filter.Get(), PINDIR_OUTPUT, &pin));
    ComPtr<ICaptureDeviceSettings> onPin;
    ASSERT_EQ(S_OK, pin.As(&onPin));

    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.recorder.WaitForSamples(2, kSampleTimeoutMs));
    ASSERT_EQ(S_OK, onFilter->SetFrameRate(20.0));
    graph.recorder.Clear();
    ASSERT_TRUE(graph.recorder.WaitForSamples(3, kSampleTimeoutMs));
    const auto samples = graph.recorder.samples();
    EXPECT_EQ(500000, samples.back().end - samples.back().start);
    double rate = 0;
    ASSERT_EQ(S_OK, onPin->GetFrameRate(&rate));
    EXPECT_EQ(20.0, rate);

    ASSERT_EQ(S_OK, onPin->SetTitleText("live"));
    char text[64] = {};
    ASSERT_EQ(S_OK, onFilter->GetTitleText(text));
    EXPECT_STREQ("live", text);

    // A size change keeps the running connection live at its own size.
    ASSERT_EQ(S_OK, onPin->SetSelectPixel(3));
    int size[2] = {};
    ASSERT_EQ(S_OK, onFilter->GetFrameSize(size));
    EXPECT_EQ(568, size[0]);
    EXPECT_EQ(320, size[1]);
    graph.recorder.Clear();
    ASSERT_TRUE(graph.recorder.WaitForSamples(3, kSampleTimeoutMs));
    CMediaType connected;
    ASSERT_EQ(S_OK, graph.ConnectedType(&connected));
    for (const RecordedSample& s : graph.recorder.samples()) {
        EXPECT_EQ(static_cast<long>(connected.lSampleSize), s.size);
    }
    EXPECT_EQ(S_OK, graph.Stop());

    // The settings reached the registry at once.
    EXPECT_EQ("500000", StoredText("FrameTime"));
    EXPECT_EQ("3", StoredText("SelectPixel"));
}

TEST_F(DeviceTest, StoredSettingsShapeANewDevice) {
    ASSERT_TRUE(StoreText("SelectPixel", "4"));
    ASSERT_TRUE(StoreText("FrameTime", "666666"));
    StreamOnce(this, &DeviceTest::CreateFromMoniker, true, {852, 480}, 666666, 2);
}

TEST(DeviceRegistrationTest, UnregisteringRemovesDeviceAndClassKeys) {
    ASSERT_EQ(0u, RegisteredModule::RunRegsvr32(false));
    ASSERT_EQ(0u, RegisteredModule::RunRegsvr32(true));
    const std::vector<std::wstring> names = ListVideoInputDevices();
    EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), std::wstring(kCaptureDeviceName)));
    EXPECT_EQ(L"<missing>", ReadString(HKEY_CLASSES_ROOT, ClassKey(), nullptr));
    // A second uninstall finds nothing to remove and still succeeds.
    EXPECT_EQ(0u, RegisteredModule::RunRegsvr32(true));
}
