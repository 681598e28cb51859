// The output pin: connection answers, the negotiation order (the peer's
// types first, a partial type, a fully specified type), the allocator
// decision with its fallback, and delivery.
#include <gtest/gtest.h>

#include <dshow.h>

#include <cstring>
#include <thread>
#include <vector>

#include "tests/framework/test_graph.h"
#include "tests/support/fake_pins.h"

using namespace qmtest;

namespace {

CMediaType AudioType() {
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Audio);
    mt.SetSubtype(&MEDIASUBTYPE_PCM);
    mt.SetFormatType(&FORMAT_WaveFormatEx);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    *wfx = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    return mt;
}

CMediaType Rgb32Type() {
    return MakeRgbType(80, 60, MEDIASUBTYPE_RGB32, 32);
}

bool SameTypes(const std::vector<CMediaType>& actual, const std::vector<CMediaType>& expected) {
    if (actual.size() != expected.size()) {
        return false;
    }
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] != expected[i]) {
            return false;
        }
    }
    return true;
}

class PinTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TestSource::Create(&source));
        stream = source->Stream(0);
        out = source->Pin(0);
        peer = MakeFake<FakeInputPin>();
    }
    void TearDown() override {
        source->Stop();
        Unhook(out);
    }

    ComPtr<TestSource> source;
    TestStream* stream = nullptr;
    IPin* out = nullptr;
    ComPtr<FakeInputPin> peer;
};

// Takes no type at all.
class RefusingPeer : public FakeInputPin {
protected:
    bool AcceptsType(const AM_MEDIA_TYPE&) override { return false; }
};

// Fails ReceiveConnection with a code of its own.
class DeniedPeer : public FakeInputPin {
public:
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override {
        FakeInputPin::ReceiveConnection(connector, mt);
        m_connected.Reset();
        return E_ACCESSDENIED;
    }
};

// Accepts no allocator.
class AllocatorRefusingPeer : public FakeInputPin {
public:
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator*, BOOL) override { return E_ACCESSDENIED; }
};

// Refuses any buffer properties.
class RigidAllocator : public FakeAllocator {
public:
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES*, ALLOCATOR_PROPERTIES*) override {
        return E_INVALIDARG;
    }
};

// Can be told to fail its decommit.
class StickyAllocator : public FakeAllocator {
public:
    HRESULT STDMETHODCALLTYPE Decommit() override {
        return failDecommit.load() ? E_ACCESSDENIED : FakeAllocator::Decommit();
    }
    std::atomic<bool> failDecommit{false};
};

// A peer that counts its references itself and is never deleted by them,
// so that a reference taken after the last one went shows. The next
// AddRef on the thread that arms it waits (up to a limit) for the test to
// say it may go on, which holds a reader between reading the peer pointer
// and taking its reference.
class HeldAddRefPeer : public FakeInputPin {
public:
    HeldAddRefPeer()
        : inAddRef(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          mayGoOn(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ULONG STDMETHODCALLTYPE AddRef() override {
        if (m_heldThread.load() == ::GetCurrentThreadId()) {
            m_heldThread = 0;
            ::SetEvent(inAddRef.get());
            ::WaitForSingleObject(mayGoOn.get(), kHoldMs);
        }
        if (m_refs.load() == 0) {
            ++addRefsAfterLastRelease;
        }
        return static_cast<ULONG>(++m_refs);
    }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_refs); }
    void HoldNextAddRefOnThisThread() { m_heldThread = ::GetCurrentThreadId(); }
    LONG Refs() const { return m_refs.load(); }
    // The fake outlives its references; the test deletes it.
    static void Destroy(HeldAddRefPeer* peer) { delete peer; }

    static constexpr DWORD kHoldMs = 300;
    UniqueHandle inAddRef;
    UniqueHandle mayGoOn;
    std::atomic<LONG> addRefsAfterLastRelease{0};

private:
    std::atomic<LONG> m_refs{1};
    std::atomic<DWORD> m_heldThread{0};
};

}  // namespace

TEST_F(PinTest, AnUnconnectedPinSaysSo) {
    ComPtr<IPin> connected;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, out->ConnectedTo(&connected));
    EXPECT_EQ(nullptr, connected.Get());

    AM_MEDIA_TYPE mt;
    std::memset(&mt, 0xcc, sizeof(mt));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, out->ConnectionMediaType(&mt));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, mt.majortype));
    EXPECT_TRUE(mt.bFixedSizeSamples);
    EXPECT_EQ(1u, mt.lSampleSize);
    EXPECT_EQ(0u, mt.cbFormat);
    EXPECT_EQ(nullptr, mt.pbFormat);

    EXPECT_EQ(S_FALSE, out->Disconnect());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, stream->DeliverEndOfStream());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, stream->DeliverBeginFlush());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, stream->DeliverEndFlush());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, stream->DeliverNewSegment(0, 10, 1.0));
    ComPtr<IMediaSample> sample;
    EXPECT_EQ(E_NOINTERFACE, stream->GetDeliveryBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(VFW_E_NO_ALLOCATOR, stream->BaseActive());
    EXPECT_EQ(VFW_E_NO_ALLOCATOR, stream->BaseInactive());
}

TEST_F(PinTest, FixedAnswersOfAnOutputPin) {
    PIN_INFO info = {};
    const LONG refs = source->RefCount();
    ASSERT_EQ(S_OK, out->QueryPinInfo(&info));
    EXPECT_STREQ(L"Out 1", info.achName);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    EXPECT_EQ(static_cast<IBaseFilter*>(source.Get()), info.pFilter);
    EXPECT_EQ(refs + 1, source->RefCount());
    info.pFilter->Release();

    PIN_DIRECTION direction = PINDIR_INPUT;
    EXPECT_EQ(S_OK, out->QueryDirection(&direction));
    EXPECT_EQ(PINDIR_OUTPUT, direction);

    EXPECT_EQ(E_UNEXPECTED, out->EndOfStream());
    EXPECT_EQ(E_UNEXPECTED, out->BeginFlush());
    EXPECT_EQ(E_UNEXPECTED, out->EndFlush());
    EXPECT_EQ(S_OK, out->NewSegment(0, 100, 1.0));
    ULONG count = 0;
    EXPECT_EQ(E_NOTIMPL, out->QueryInternalConnections(nullptr, &count));

    ComPtr<IQualityControl> quality;
    ASSERT_EQ(S_OK, out->QueryInterface(IID_PPV_ARGS(&quality)));
    EXPECT_EQ(E_NOTIMPL, quality->Notify(source.Get(), Quality{}));
    EXPECT_EQ(S_OK, quality->SetSink(nullptr));

    // The pin answers for itself, and its references reach the filter.
    ComPtr<IUnknown> pinIdentity;
    ComPtr<IUnknown> filterIdentity;
    ASSERT_EQ(S_OK, out->QueryInterface(IID_PPV_ARGS(&pinIdentity)));
    ASSERT_EQ(S_OK, source->QueryInterface(IID_PPV_ARGS(&filterIdentity)));
    EXPECT_NE(pinIdentity.Get(), filterIdentity.Get());
    IBaseFilter* notHere = reinterpret_cast<IBaseFilter*>(1);
    EXPECT_EQ(E_NOINTERFACE, out->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&notHere)));
    EXPECT_EQ(nullptr, notHere);
    pinIdentity.Reset();
    filterIdentity.Reset();
    const LONG before = source->RefCount();
    out->AddRef();
    EXPECT_EQ(before + 1, source->RefCount());
    out->Release();
    EXPECT_EQ(before, source->RefCount());
}

TEST_F(PinTest, NullPointersAreRefused) {
    EXPECT_EQ(E_POINTER, out->Connect(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, out->ReceiveConnection(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, out->ReceiveConnection(peer.Get(), nullptr));
    EXPECT_EQ(E_POINTER, out->ConnectedTo(nullptr));
    EXPECT_EQ(E_POINTER, out->ConnectionMediaType(nullptr));
    EXPECT_EQ(E_POINTER, out->QueryPinInfo(nullptr));
    EXPECT_EQ(E_POINTER, out->QueryDirection(nullptr));
    EXPECT_EQ(E_POINTER, out->QueryId(nullptr));
    EXPECT_EQ(E_POINTER, out->QueryAccept(nullptr));
    EXPECT_EQ(E_POINTER, out->EnumMediaTypes(nullptr));
    EXPECT_EQ(E_POINTER, out->QueryInternalConnections(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, out->QueryInterface(IID_IPin, nullptr));
    EXPECT_EQ(E_POINTER, stream->GetDeliveryBuffer(nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(E_POINTER, stream->Deliver(nullptr));
    EXPECT_EQ(E_POINTER, stream->SetMediaType(nullptr));
}

TEST_F(PinTest, QueryAcceptAnswersWithoutFailing) {
    const CMediaType format = TestFormat();
    const CMediaType other = Rgb32Type();
    EXPECT_EQ(S_OK, out->QueryAccept(&format));
    EXPECT_EQ(S_FALSE, out->QueryAccept(&other));
}

TEST_F(PinTest, ThePeersTypesAreTriedBeforeThePinsOwn) {
    const CMediaType small = MakeRgbType(32, 32);
    peer->OfferTypes({Rgb32Type(), small});
    ASSERT_EQ(S_OK, out->Connect(peer.Get(), nullptr));
    EXPECT_TRUE(SameTypes(stream->checkedTypes, {Rgb32Type(), small, TestFormat()}));
    // Only the type the pin accepted was put to the peer.
    EXPECT_TRUE(SameTypes(peer->ReceivedTypes(), {TestFormat()}));
    EXPECT_EQ(out, peer->Connector());

    AM_MEDIA_TYPE mt = {};
    ASSERT_EQ(S_OK, out->ConnectionMediaType(&mt));
    EXPECT_TRUE(*CMediaType::From(&mt) == TestFormat());
    FreeMediaType(mt);
    ComPtr<IPin> connected;
    ASSERT_EQ(S_OK, out->ConnectedTo(&connected));
    EXPECT_EQ(static_cast<IPin*>(peer.Get()), connected.Get());
}

TEST_F(PinTest, APeerOfferingThePinsTypeConnectsWithoutThePinsOwnList) {
    peer->OfferTypes({TestFormat(), Rgb32Type()});
    ASSERT_EQ(S_OK, out->Connect(peer.Get(), nullptr));
    EXPECT_TRUE(SameTypes(stream->checkedTypes, {TestFormat()}));
    EXPECT_TRUE(stream->typePositions.empty());
}

TEST_F(PinTest, APartialTypeLimitsTheCandidatesOfBothLists) {
    peer->OfferTypes({AudioType(), Rgb32Type()});
    CMediaType video;
    video.SetType(&MEDIATYPE_Video);
    ASSERT_EQ(S_OK, out->Connect(peer.Get(), &video));
    // The audio type never reached the pin.
    EXPECT_TRUE(SameTypes(stream->checkedTypes, {Rgb32Type(), TestFormat()}));
}

TEST_F(PinTest, APartialTypeThatNothingMatchesFindsNoType) {
    peer->OfferTypes({Rgb32Type()});
    CMediaType audio;
    audio.SetType(&MEDIATYPE_Audio);
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, out->Connect(peer.Get(), &audio));
    EXPECT_TRUE(stream->checkedTypes.empty());
    EXPECT_FALSE(stream->IsConnected());
}

TEST_F(PinTest, AFullySpecifiedTypeIsTheOnlyCandidate) {
    peer->OfferTypes({TestFormat()});
    const CMediaType refused = Rgb32Type();
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, out->Connect(peer.Get(), &refused));
    EXPECT_TRUE(SameTypes(stream->checkedTypes, {refused}));
    EXPECT_EQ(0, peer->TypeEnumerations());
    EXPECT_TRUE(stream->typePositions.empty());
    EXPECT_FALSE(stream->IsConnected());

    const CMediaType format = TestFormat();
    ASSERT_EQ(S_OK, out->Connect(peer.Get(), &format));
    EXPECT_TRUE(stream->IsConnected());
}

TEST_F(PinTest, APeerRefusingEveryTypeLeavesThePinUnconnected) {
    auto refusing = MakeFake<RefusingPeer>();
    refusing->OfferTypes({Rgb32Type()});
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, out->Connect(refusing.Get(), nullptr));
    EXPECT_FALSE(stream->IsConnected());
    EXPECT_EQ(nullptr, stream->Allocator());
    ComPtr<IMediaSample> sample;
    EXPECT_EQ(E_NOINTERFACE, stream->GetDeliveryBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, stream->DeliverEndOfStream());
    // The pin kept no reference on the peer.
    EXPECT_EQ(1, refusing->RefCount());
}

TEST_F(PinTest, AMoreTellingFailureOfThePeerIsReported) {
    auto denied = MakeFake<DeniedPeer>();
    EXPECT_EQ(E_ACCESSDENIED, out->Connect(denied.Get(), nullptr));
    EXPECT_FALSE(stream->IsConnected());
    EXPECT_EQ(1, denied->RefCount());
}

TEST_F(PinTest, AnotherOutputPinIsTheWrongDirection) {
    auto output = MakeFake<FakePeerPin>(PINDIR_OUTPUT);
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, out->Connect(output.Get(), nullptr));
    const CMediaType format = TestFormat();
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, out->Connect(output.Get(), &format));
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, out->ReceiveConnection(output.Get(), &format));
    EXPECT_FALSE(stream->IsConnected());
    EXPECT_EQ(1, output->RefCount());
}

TEST_F(PinTest, APeerWithoutTransportIsRefused) {
    auto bare = MakeFake<FakePeerPin>(PINDIR_INPUT);
    const CMediaType format = TestFormat();
    EXPECT_EQ(E_NOINTERFACE, out->Connect(bare.Get(), &format));
    EXPECT_EQ(E_NOINTERFACE, out->Connect(bare.Get(), nullptr));
    EXPECT_FALSE(stream->IsConnected());
}

TEST_F(PinTest, WithoutADownstreamAllocatorThePinMakesItsOwn) {
    peer->RequireAllocator({3, 0, 0, 0});
    ASSERT_EQ(S_OK, out->Connect(peer.Get(), nullptr));
    IMemAllocator* allocator = stream->Allocator();
    ASSERT_NE(nullptr, allocator);
    EXPECT_EQ(allocator, peer->NotifiedAllocator());
    // The request carried the peer's wishes, with alignment at least 1.
    ASSERT_EQ(1u, stream->bufferRequests.size());
    EXPECT_EQ(3, stream->bufferRequests[0].cBuffers);
    EXPECT_EQ(1, stream->bufferRequests[0].cbAlign);
    ALLOCATOR_PROPERTIES props = {};
    ASSERT_EQ(S_OK, allocator->GetProperties(&props));
    EXPECT_EQ(3, props.cBuffers);
    EXPECT_EQ(static_cast<long>(kTestImageSize), props.cbBuffer);
}

TEST_F(PinTest, TheDownstreamAllocatorIsPreferred) {
    auto allocator = MakeFake<FakeAllocator>();
    ASSERT_TRUE(allocator->ok());
    peer->OfferAllocator(allocator.Get());
    ASSERT_EQ(S_OK, out->Connect(peer.Get(), nullptr));
    EXPECT_EQ(static_cast<IMemAllocator*>(allocator.Get()), stream->Allocator());
    EXPECT_EQ(static_cast<IMemAllocator*>(allocator.Get()), peer->NotifiedAllocator());
    EXPECT_EQ(1u, stream->bufferRequests.size());
}

TEST_F(PinTest, ADownstreamAllocatorRefusingThePropertiesFallsBackWithTheSameRequest) {
    auto rigid = MakeFake<RigidAllocator>();
    peer->OfferAllocator(rigid.Get());
    ASSERT_EQ(S_OK, out->Connect(peer.Get(), nullptr));
    IMemAllocator* allocator = stream->Allocator();
    ASSERT_NE(nullptr, allocator);
    EXPECT_NE(static_cast<IMemAllocator*>(rigid.Get()), allocator);
    EXPECT_EQ(allocator, peer->NotifiedAllocator());
    // The second decision saw the record as the first one left it.
    ASSERT_EQ(2u, stream->bufferRequests.size());
    EXPECT_EQ(1, stream->bufferRequests[1].cBuffers);
    EXPECT_EQ(static_cast<long>(kTestImageSize), stream->bufferRequests[1].cbBuffer);
}

TEST_F(PinTest, APeerAcceptingNoAllocatorIsDisconnectedAgain) {
    auto picky = MakeFake<AllocatorRefusingPeer>();
    EXPECT_EQ(E_ACCESSDENIED, out->Connect(picky.Get(), nullptr));
    EXPECT_FALSE(stream->IsConnected());
    EXPECT_EQ(nullptr, stream->Allocator());
    EXPECT_EQ(nullptr, picky->Connector());
    EXPECT_GE(picky->Disconnects(), 1);
}

TEST_F(PinTest, ConnectingIsRefusedWhileConnectedOrActive) {
    ASSERT_EQ(S_OK, out->Connect(peer.Get(), nullptr));
    auto second = MakeFake<FakeInputPin>();
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, out->Connect(second.Get(), nullptr));
    const CMediaType format = TestFormat();
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, out->ReceiveConnection(second.Get(), &format));

    ASSERT_EQ(S_OK, source->Run(0));
    EXPECT_EQ(VFW_E_NOT_STOPPED, out->Disconnect());
    EXPECT_TRUE(stream->IsConnected());
    ASSERT_EQ(S_OK, source->Stop());
    Unhook(out);
    EXPECT_FALSE(stream->IsConnected());
    EXPECT_EQ(nullptr, stream->Allocator());

    ASSERT_EQ(S_OK, source->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, out->Connect(second.Get(), nullptr));
    EXPECT_EQ(VFW_E_NOT_STOPPED, out->ReceiveConnection(second.Get(), &format));
}

TEST_F(PinTest, ReceiveConnectionChecksTheConnectorAndTheType) {
    const CMediaType other = Rgb32Type();
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, out->ReceiveConnection(peer.Get(), &other));
    EXPECT_FALSE(stream->IsConnected());
    const CMediaType format = TestFormat();
    ASSERT_EQ(S_OK, out->ReceiveConnection(peer.Get(), &format));
    EXPECT_TRUE(stream->IsConnected());
    EXPECT_NE(nullptr, stream->Allocator());
}

TEST_F(PinTest, AFailedDecommitKeepsTheConnection) {
    auto sticky = MakeFake<StickyAllocator>();
    peer->OfferAllocator(sticky.Get());
    ASSERT_EQ(S_OK, out->Connect(peer.Get(), nullptr));
    sticky->failDecommit = true;
    EXPECT_EQ(E_ACCESSDENIED, out->Disconnect());
    EXPECT_TRUE(stream->IsConnected());
    sticky->failDecommit = false;
    EXPECT_EQ(S_OK, out->Disconnect());
    EXPECT_FALSE(stream->IsConnected());
}

TEST_F(PinTest, StreamNotificationsGoToThePeer) {
    ASSERT_EQ(S_OK, out->Connect(peer.Get(), nullptr));
    EXPECT_EQ(S_OK, stream->DeliverEndOfStream());
    EXPECT_EQ(1, peer->EndOfStreams());
    EXPECT_EQ(S_OK, stream->DeliverBeginFlush());
    EXPECT_EQ(S_OK, stream->DeliverEndFlush());
    EXPECT_EQ(S_OK, stream->DeliverNewSegment(0, 100, 1.0));

    // A sample taken from the committed allocator reaches the peer.
    ASSERT_EQ(S_OK, stream->BaseActive());
    ComPtr<IMediaSample> sample;
    ASSERT_EQ(S_OK, stream->GetDeliveryBuffer(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(S_OK, stream->Deliver(sample.Get()));
    EXPECT_EQ(1, peer->Samples());
    sample.Reset();
    EXPECT_EQ(S_OK, stream->BaseInactive());
}

TEST_F(PinTest, ConnectsToThePlatformNullRendererDirectly) {
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(S_OK, ConnectToNullRenderer(out, &renderer));
    AM_MEDIA_TYPE mt = {};
    ASSERT_EQ(S_OK, out->ConnectionMediaType(&mt));
    EXPECT_TRUE(*CMediaType::From(&mt) == TestFormat());
    FreeMediaType(mt);
    Unhook(out);
    EXPECT_FALSE(stream->IsConnected());
}

TEST_F(PinTest, ConnectedToTakesItsReferenceBeforeADisconnectCanDropThePeer) {
    auto* racing = new HeldAddRefPeer();
    ASSERT_EQ(S_OK, out->Connect(racing, nullptr));
    // From here on only the pin holds the peer.
    racing->Release();
    ASSERT_GT(racing->Refs(), 0);
    // One thread asks for the peer and is held just as it takes its
    // reference; meanwhile this thread disconnects.
    std::thread asker([&] {
        racing->HoldNextAddRefOnThisThread();
        IPin* connected = nullptr;
        if (out->ConnectedTo(&connected) == S_OK) {
            connected->Release();
        }
    });
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(racing->inAddRef.get(), 10000));
    EXPECT_EQ(S_OK, out->Disconnect());
    ::SetEvent(racing->mayGoOn.get());
    asker.join();
    EXPECT_EQ(0, racing->addRefsAfterLastRelease.load()) << "a reference was taken on a peer already let go";
    EXPECT_EQ(0, racing->Refs());
    HeldAddRefPeer::Destroy(racing);
}
