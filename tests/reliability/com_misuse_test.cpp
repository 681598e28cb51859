// COM misuse: null pointers to every method of the device that takes one,
// calls made in the wrong state, aggregation requests for an interface
// other than IUnknown, and unbalanced server locks.
#include <gtest/gtest.h>

#include <dshow.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <atomic>
#include <cfloat>
#include <climits>
#include <cstring>
#include <limits>
#include <string>

#include "settings/capture_device_ids.h"
#include "settings/capture_device_settings.h"
#include "framework/com_util.h"
#include "module/module.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

// Every interface the filter answers, its own and the pin's forwarded ones.
const IID* const kFilterInterfaces[] = {&IID_IUnknown,         &IID_IBaseFilter,      &IID_IMediaFilter,
                                        &IID_IPersist,         &IID_IAMovieSetup,     &IID_IAMStreamConfig,
                                        &IID_IKsPropertySet,   &IID_ISpecifyPropertyPages,
                                        &IID_ICaptureDeviceSettings, &IID_IPin};
const IID* const kPinInterfaces[] = {&IID_IUnknown,       &IID_IPin,           &IID_IQualityControl,
                                     &IID_IAMStreamConfig, &IID_IKsPropertySet, &IID_ISpecifyPropertyPages,
                                     &IID_ICaptureDeviceSettings, &IID_IBaseFilter};

class ComMisuseTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_sandbox.ok());
        ASSERT_EQ(S_OK, CreateCaptureFilter(&m_filter));
        ASSERT_EQ(S_OK, GetPin(m_filter.Get(), PINDIR_OUTPUT, &m_pin));
    }

    RegistrySandbox m_sandbox;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPin> m_pin;
};

// The outer object of an aggregate: IUnknown only.
class OuterUnknown : public FakeComObject<IUnknown> {};

HRESULT GetFactory(REFCLSID clsid, IClassFactory** factory) {
    return GetClassObjectFromTable(g_Templates, g_cTemplates, clsid, IID_IClassFactory,
                                   reinterpret_cast<void**>(factory));
}

// What became of a graph: whether it was destroyed, and whether while its
// Reconnect still ran.
struct GraphFate {
    std::atomic<bool> inReconnect{false};
    std::atomic<bool> destroyed{false};
    std::atomic<bool> destroyedInReconnect{false};
};

// A graph that its application lets go of while the pin's SetFormat asks
// it to reconnect: Reconnect drops the application's reference, as
// another thread of the host may at that moment.
class GraphLetGoDuringReconnect : public RecordingGraph {
public:
    explicit GraphLetGoDuringReconnect(GraphFate* fate) : m_fate(fate) {}
    ~GraphLetGoDuringReconnect() override {
        m_fate->destroyedInReconnect = m_fate->inReconnect.load();
        m_fate->destroyed = true;
    }
    HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override {
        // Only locals after the release: it may destroy this object.
        GraphFate* fate = m_fate;
        fate->inReconnect = true;
        Release();
        fate->inReconnect = false;
        return S_OK;
    }

private:
    GraphFate* const m_fate;
};

}  // namespace

TEST_F(ComMisuseTest, AGraphLetGoDuringTheReconnectOfSetFormatLivesUntilTheCallReturns) {
    GraphFate fate;
    // The application's one reference.
    auto* graph = new GraphLetGoDuringReconnect(&fate);
    ASSERT_EQ(S_OK, m_filter->JoinFilterGraph(graph, L"Capture"));
    auto peer = MakeFake<FakeInputPin>();
    ASSERT_EQ(S_OK, m_pin->Connect(peer.Get(), nullptr));
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_filter.As(&config));
    AM_MEDIA_TYPE* other = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config->GetStreamCaps(3, &other, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(S_OK, config->SetFormat(other));
    DeleteMediaType(other);
    EXPECT_TRUE(fate.destroyed.load()) << "the graph was never asked to reconnect, or is still referenced";
    EXPECT_FALSE(fate.destroyedInReconnect.load()) << "the graph was destroyed while its Reconnect ran";
    // Gone without leaving, as a destroyed graph would not: leave for it.
    EXPECT_EQ(S_OK, m_filter->JoinFilterGraph(nullptr, nullptr));
    EXPECT_EQ(S_OK, m_pin->Disconnect());
    peer->Disconnect();
}

TEST_F(ComMisuseTest, QueryInterfaceWithANullOutPointer) {
    for (const IID* iid : kFilterInterfaces) {
        EXPECT_EQ(E_POINTER, m_filter->QueryInterface(*iid, nullptr));
    }
    for (const IID* iid : kPinInterfaces) {
        EXPECT_EQ(E_POINTER, m_pin->QueryInterface(*iid, nullptr));
    }
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_filter.As(&config));
    EXPECT_EQ(E_POINTER, config->QueryInterface(IID_IPin, nullptr));
}

TEST_F(ComMisuseTest, FilterMethodsWithNullPointers) {
    EXPECT_EQ(E_POINTER, m_filter->GetClassID(nullptr));
    EXPECT_EQ(E_POINTER, m_filter->GetState(0, nullptr));
    EXPECT_EQ(E_POINTER, m_filter->GetSyncSource(nullptr));
    EXPECT_EQ(E_POINTER, m_filter->EnumPins(nullptr));
    ComPtr<IPin> found;
    EXPECT_EQ(E_POINTER, m_filter->FindPin(nullptr, &found));
    EXPECT_EQ(nullptr, found.Get());
    EXPECT_EQ(E_POINTER, m_filter->FindPin(L"1", nullptr));
    EXPECT_EQ(E_POINTER, m_filter->QueryFilterInfo(nullptr));
    EXPECT_EQ(E_POINTER, m_filter->QueryVendorInfo(nullptr));
    // A null graph and name mean "leave the graph"; a null clock "no clock".
    EXPECT_EQ(S_OK, m_filter->JoinFilterGraph(nullptr, nullptr));
    EXPECT_EQ(S_OK, m_filter->SetSyncSource(nullptr));

    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, m_filter->EnumPins(&pins));
    EXPECT_EQ(E_POINTER, pins->Next(1, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, pins->Clone(nullptr));
    EXPECT_EQ(E_POINTER, pins->QueryInterface(IID_IEnumPins, nullptr));
    IPin* two[2] = {};
    EXPECT_EQ(E_INVALIDARG, pins->Next(2, two, nullptr));
    EXPECT_EQ(nullptr, two[0]);
}

TEST_F(ComMisuseTest, PinMethodsWithNullPointers) {
    EXPECT_EQ(E_POINTER, m_pin->Connect(nullptr, nullptr));
    AM_MEDIA_TYPE empty = {};
    EXPECT_EQ(E_POINTER, m_pin->ReceiveConnection(nullptr, &empty));
    auto peer = MakeFake<FakeInputPin>();
    EXPECT_EQ(E_POINTER, m_pin->ReceiveConnection(peer.Get(), nullptr));
    EXPECT_EQ(E_POINTER, m_pin->ConnectedTo(nullptr));
    EXPECT_EQ(E_POINTER, m_pin->ConnectionMediaType(nullptr));
    EXPECT_EQ(E_POINTER, m_pin->QueryPinInfo(nullptr));
    EXPECT_EQ(E_POINTER, m_pin->QueryDirection(nullptr));
    EXPECT_EQ(E_POINTER, m_pin->QueryId(nullptr));
    EXPECT_EQ(E_POINTER, m_pin->QueryAccept(nullptr));
    EXPECT_EQ(E_POINTER, m_pin->EnumMediaTypes(nullptr));
    EXPECT_EQ(E_POINTER, m_pin->QueryInternalConnections(nullptr, nullptr));

    ComPtr<IQualityControl> quality;
    ASSERT_EQ(S_OK, m_pin.As(&quality));
    Quality q = {};
    EXPECT_EQ(E_NOTIMPL, quality->Notify(nullptr, q));
    EXPECT_EQ(S_OK, quality->SetSink(nullptr));

    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, m_pin->EnumMediaTypes(&types));
    EXPECT_EQ(E_POINTER, types->Next(1, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, types->Clone(nullptr));
    EXPECT_EQ(E_POINTER, types->QueryInterface(IID_IEnumMediaTypes, nullptr));
    AM_MEDIA_TYPE* two[2] = {};
    EXPECT_EQ(E_INVALIDARG, types->Next(2, two, nullptr));
    EXPECT_EQ(nullptr, two[0]);
    EXPECT_EQ(1, peer->RefCount()) << "the peer was kept";
}

TEST_F(ComMisuseTest, ConfigurationInterfacesWithNullPointers) {
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_filter.As(&config));
    int count = 0;
    int size = 0;
    EXPECT_EQ(E_POINTER, config->SetFormat(nullptr));
    EXPECT_EQ(E_POINTER, config->GetFormat(nullptr));
    EXPECT_EQ(E_POINTER, config->GetNumberOfCapabilities(nullptr, &size));
    EXPECT_EQ(E_POINTER, config->GetNumberOfCapabilities(&count, nullptr));
    VIDEO_STREAM_CONFIG_CAPS caps;
    AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(E_POINTER, config->GetStreamCaps(0, nullptr, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(E_POINTER, config->GetStreamCaps(0, &type, nullptr));
    // 50 capabilities: every size in RGB24, NV12, YUY2, I420 and RGB32.
    for (int index : {-1, 50, INT_MIN, INT_MAX}) {
        EXPECT_EQ(E_INVALIDARG, config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps)));
    }

    ComPtr<IKsPropertySet> properties;
    ASSERT_EQ(S_OK, m_filter.As(&properties));
    EXPECT_EQ(E_POINTER, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(E_NOTIMPL, properties->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0));
    // A null support pointer is a plain "is it there" question.
    EXPECT_EQ(S_OK, properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr));
    GUID category = GUID_NULL;
    DWORD returned = 0;
    EXPECT_EQ(E_UNEXPECTED,
              properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 15, &returned));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, category)) << "a too small buffer was written";

    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(S_OK, m_filter.As(&pages));
    EXPECT_EQ(E_POINTER, pages->GetPages(nullptr));

    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, m_filter.As(&settings));
    EXPECT_EQ(E_POINTER, settings->GetFrameSize(nullptr));
    EXPECT_EQ(E_POINTER, settings->SetFrameSize(nullptr));
    EXPECT_EQ(E_POINTER, settings->GetFrameRate(nullptr));
    EXPECT_EQ(E_POINTER, settings->GetTitleText(nullptr));
    EXPECT_EQ(E_POINTER, settings->SetTitleText(nullptr));
}

TEST_F(ComMisuseTest, SettingsOutOfRangeKeepTheDeviceSound) {
    ComPtr<ICaptureDeviceSettings> settings;
    ASSERT_EQ(S_OK, m_filter.As(&settings));
    for (int index : {-1, 10, INT_MIN, INT_MAX}) {
        EXPECT_TRUE(FAILED(settings->SetSelectPixel(index))) << index;
    }
    int size[2] = {};
    settings->GetFrameSize(size);
    EXPECT_EQ(204, size[0]);
    EXPECT_EQ(360, size[1]);

    const double rates[] = {std::numeric_limits<double>::quiet_NaN(), 0.0, -5.0, -DBL_MAX,
                            std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                            DBL_MIN, DBL_MAX, 1e-300, 1e300};
    for (double rate : rates) {
        EXPECT_EQ(S_OK, settings->SetFrameRate(rate)) << rate;
        double now = 0;
        settings->GetFrameRate(&now);
        EXPECT_GE(now, 1.0) << "after " << rate;
        EXPECT_LE(now, 60.0) << "after " << rate;
    }

    const std::string longText(1000, 'x');
    EXPECT_EQ(S_OK, settings->SetTitleText(longText.c_str()));
    char title[1024];
    std::memset(title, 0x5A, sizeof(title));
    ASSERT_EQ(S_OK, settings->GetTitleText(title));
    EXPECT_EQ(63u, std::strlen(title));

    // Sizes that are no picture at all are refused; the device keeps its.
    const int badSizes[][2] = {{0, 0}, {-1, -1}, {INT_MAX, INT_MAX}, {INT_MIN, 1}, {100000, 100000}};
    for (const auto& bad : badSizes) {
        settings->SetFrameSize(bad);
        settings->GetFrameSize(size);
        EXPECT_GT(size[0], 0);
        EXPECT_GT(size[1], 0);
        EXPECT_LE(size[0], 8192);
        EXPECT_LE(size[1], 8192);
    }
}

TEST_F(ComMisuseTest, CallsInTheWrongState) {
    // Stream notifications never flow into an output pin.
    EXPECT_EQ(E_UNEXPECTED, m_pin->EndOfStream());
    EXPECT_EQ(E_UNEXPECTED, m_pin->BeginFlush());
    EXPECT_EQ(E_UNEXPECTED, m_pin->EndFlush());
    EXPECT_EQ(S_FALSE, m_pin->Disconnect());

    auto peer = MakeFake<FakeInputPin>();
    // Connect and ReceiveConnection while paused or running.
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running ? "running" : "paused");
        ASSERT_EQ(S_OK, running ? m_filter->Run(0) : m_filter->Pause());
        EXPECT_EQ(VFW_E_NOT_STOPPED, m_pin->Connect(peer.Get(), nullptr));
        CMediaType type;
        ComPtr<IAMStreamConfig> config;
        ASSERT_EQ(S_OK, m_filter.As(&config));
        AM_MEDIA_TYPE* current = nullptr;
        ASSERT_EQ(S_OK, config->GetFormat(&current));
        EXPECT_EQ(VFW_E_NOT_STOPPED, m_pin->ReceiveConnection(peer.Get(), current));
        DeleteMediaType(current);
        ComPtr<IPin> connected;
        EXPECT_EQ(VFW_E_NOT_CONNECTED, m_pin->ConnectedTo(&connected));
        ASSERT_EQ(S_OK, m_filter->Stop());
    }
    EXPECT_TRUE(peer->ReceivedTypes().empty());

    // Disconnect while paused or running leaves the stream alone.
    ASSERT_EQ(S_OK, m_pin->Connect(peer.Get(), nullptr));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, m_pin->Connect(peer.Get(), nullptr));
    for (const bool running : {false, true}) {
        SCOPED_TRACE(running ? "running" : "paused");
        Watchdog watchdog("a state change", 60000);
        ASSERT_EQ(S_OK, running ? m_filter->Run(0) : m_filter->Pause());
        // A second request for the same state is harmless.
        EXPECT_EQ(S_OK, running ? m_filter->Run(0) : m_filter->Pause());
        const LONG before = peer->Samples();
        EXPECT_EQ(VFW_E_NOT_STOPPED, m_pin->Disconnect());
        // Paused, a live source sends its one frame and then waits to run.
        if (!running) {
            ASSERT_EQ(S_OK, m_filter->Run(0));
        }
        EXPECT_TRUE(WaitUntil([&] { return peer->Samples() >= before + 2; }, 20000))
            << "streaming stopped after a refused Disconnect";
        ComPtr<IPin> connected;
        EXPECT_EQ(S_OK, m_pin->ConnectedTo(&connected));
        ASSERT_EQ(S_OK, m_filter->Stop());
        EXPECT_EQ(S_OK, m_filter->Stop());
    }
    EXPECT_EQ(S_OK, m_pin->Disconnect());
    EXPECT_EQ(1, peer->RefCount());
}

TEST(ComMisuse, ClassFactoryAndModuleEntryWithNullPointers) {
    EXPECT_EQ(E_POINTER, GetClassObjectFromTable(g_Templates, g_cTemplates, CLSID_CaptureDevice,
                                                 IID_IClassFactory, nullptr));
    for (const CLSID* clsid : {&CLSID_CaptureDevice, &CLSID_CaptureDeviceProp, &CLSID_CaptureWindowProp}) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, GetFactory(*clsid, &factory));
        EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
        EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IClassFactory, nullptr));
    }
}

TEST(ComMisuse, AggregationWithAnInterfaceOtherThanIUnknownCreatesNothing) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    auto outer = MakeFake<OuterUnknown>();
    const IID* const refused[] = {&IID_IBaseFilter, &IID_IPin, &IID_IAMStreamConfig, &IID_IPropertyPage,
                                  &IID_IClassFactory, &GUID_NULL};
    for (const CLSID* clsid : {&CLSID_CaptureDevice, &CLSID_CaptureDeviceProp, &CLSID_CaptureWindowProp}) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, GetFactory(*clsid, &factory));
        const LONG objects = CBaseObject::ObjectsActive();
        for (const IID* iid : refused) {
            void* object = reinterpret_cast<void*>(1);
            EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(outer.Get(), *iid, &object));
            EXPECT_EQ(nullptr, object);
            EXPECT_EQ(objects, CBaseObject::ObjectsActive()) << "an object was left behind";
        }
        // IUnknown is the one request an aggregate may make: the inner
        // object's own unknown, whose parts answer to the outer object.
        ComPtr<IUnknown> inner;
        ASSERT_EQ(S_OK, factory->CreateInstance(outer.Get(), IID_IUnknown, reinterpret_cast<void**>(inner.GetAddressOf())));
        const IID& part = IsEqualCLSID(*clsid, CLSID_CaptureDevice) ? IID_IBaseFilter : IID_IPropertyPage;
        IUnknown* partPointer = nullptr;
        ASSERT_EQ(S_OK, inner->QueryInterface(part, reinterpret_cast<void**>(&partPointer)));
        const LONG outerRefs = outer->RefCount();
        partPointer->AddRef();
        EXPECT_EQ(outerRefs + 1, outer->RefCount()) << "the part does not count on the outer object";
        partPointer->Release();
        partPointer->Release();
        inner.Reset();
        EXPECT_EQ(objects, CBaseObject::ObjectsActive());
    }
    EXPECT_EQ(1, outer->RefCount());
}

TEST(ComMisuse, UnbalancedLockServerNeverCrashesAndSettlesUnlocked) {
    ASSERT_EQ(S_OK, CanUnloadModule()) << "an earlier test left an object alive";
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, GetFactory(CLSID_CaptureDevice, &factory));
    EXPECT_EQ(S_FALSE, CanUnloadModule()) << "a live factory keeps the module";
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_EQ(S_FALSE, CanUnloadModule()) << "a held lock keeps the module";
    ASSERT_EQ(S_OK, GetFactory(CLSID_CaptureDevice, &factory));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    // Unlocks nobody asked for: the count goes below zero, which counts as
    // unlocked.
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_EQ(S_OK, CanUnloadModule());
    // Rebalanced for the rest of the program.
    ASSERT_EQ(S_OK, GetFactory(CLSID_CaptureDevice, &factory));
    factory->LockServer(TRUE);
    factory->LockServer(TRUE);
    factory.Reset();
    EXPECT_EQ(0, CClassFactory::LockCount());
    EXPECT_EQ(S_OK, CanUnloadModule());
}

TEST(ComMisuse, PropertyPageWithNullPointersAndInTheWrongState) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.ok());
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, GetFactory(CLSID_CaptureDeviceProp, &factory));
    ComPtr<IPropertyPage> page;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&page)));

    EXPECT_EQ(E_POINTER, page->GetPageInfo(nullptr));
    EXPECT_EQ(E_POINTER, page->SetObjects(1, nullptr));
    IUnknown* none[1] = {nullptr};
    EXPECT_EQ(E_POINTER, page->SetObjects(1, none));
    RECT rect = {0, 0, 100, 100};
    EXPECT_EQ(E_POINTER, page->Activate(nullptr, nullptr, FALSE));
    EXPECT_EQ(E_POINTER, page->Move(nullptr));
    const HRESULT accelerator = page->TranslateAccelerator(nullptr);
    EXPECT_TRUE(accelerator == E_NOTIMPL || accelerator == E_POINTER);

    // Nothing attached yet.
    EXPECT_EQ(E_UNEXPECTED, page->SetPageSite(nullptr));
    EXPECT_EQ(E_UNEXPECTED, page->Activate(nullptr, &rect, FALSE));
    EXPECT_EQ(E_UNEXPECTED, page->Apply());
    EXPECT_EQ(E_UNEXPECTED, page->Deactivate());
    EXPECT_EQ(E_UNEXPECTED, page->Show(SW_SHOW));
    EXPECT_EQ(E_UNEXPECTED, page->Move(&rect));

    // An object but no site: Apply has nobody to report to.
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
    IUnknown* objects[2] = {filter.Get(), filter.Get()};
    EXPECT_EQ(E_UNEXPECTED, page->SetObjects(2, objects));
    ASSERT_EQ(S_OK, page->SetObjects(1, objects));
    EXPECT_EQ(E_UNEXPECTED, page->Apply());
    EXPECT_EQ(S_OK, page->SetObjects(0, nullptr));
    page.Reset();
    factory.Reset();
    filter.Reset();
    EXPECT_EQ(S_OK, CanUnloadModule());
}
