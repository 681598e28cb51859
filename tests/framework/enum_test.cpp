// The pin and media type enumerators: Next, Skip, Reset and Clone at
// their edges, reference counting, and out-of-step detection.
#include <gtest/gtest.h>

#include <dshow.h>

#include <vector>

#include "tests/framework/test_source.h"

using namespace qmtest;

namespace {

class EnumPinsTest : public testing::Test {
protected:
    void Make(int pins) {
        ASSERT_EQ(S_OK, TestSource::Create(&source, pins));
        ASSERT_EQ(S_OK, source->EnumPins(&pins_));
    }
    // Fetches one pin; null when none came.
    ComPtr<IPin> NextPin(IEnumPins* pins, HRESULT expected) {
        ComPtr<IPin> pin;
        ULONG fetched = 99;
        EXPECT_EQ(expected, pins->Next(1, &pin, &fetched));
        EXPECT_EQ(pin ? 1u : 0u, fetched);
        return pin;
    }

    ComPtr<TestSource> source;
    ComPtr<IEnumPins> pins_;
};

class EnumTypesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, TestSource::Create(&source));
        stream = source->Stream(0);
        ASSERT_EQ(S_OK, source->Pin(0)->EnumMediaTypes(&types));
        stream->typePositions.clear();
    }

    ComPtr<TestSource> source;
    TestStream* stream = nullptr;
    ComPtr<IEnumMediaTypes> types;
};

}  // namespace

TEST_F(EnumPinsTest, NextYieldsTheOnlyPinOnceUntilReset) {
    Make(1);
    ComPtr<IPin> pin = NextPin(pins_.Get(), S_OK);
    EXPECT_EQ(source->Pin(0), pin.Get());
    PIN_INFO info = {};
    ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
    EXPECT_STREQ(L"Out 1", info.achName);
    info.pFilter->Release();

    EXPECT_EQ(nullptr, NextPin(pins_.Get(), S_FALSE).Get());
    EXPECT_EQ(S_OK, pins_->Reset());
    EXPECT_EQ(source->Pin(0), NextPin(pins_.Get(), S_OK).Get());
}

TEST_F(EnumPinsTest, NextChecksItsCountAgainstTheFetchedPointer) {
    Make(2);
    IPin* array[2] = {};
    EXPECT_EQ(E_INVALIDARG, pins_->Next(2, array, nullptr));
    EXPECT_EQ(S_OK, pins_->Next(0, array, nullptr));
    EXPECT_EQ(nullptr, array[0]);
    EXPECT_EQ(E_POINTER, pins_->Next(1, nullptr, nullptr));

    ULONG fetched = 0;
    ASSERT_EQ(S_OK, pins_->Next(2, array, &fetched));
    EXPECT_EQ(2u, fetched);
    EXPECT_EQ(source->Pin(0), array[0]);
    EXPECT_EQ(source->Pin(1), array[1]);
    array[0]->Release();
    array[1]->Release();
    EXPECT_EQ(S_OK, pins_->Reset());
    ASSERT_EQ(S_FALSE, pins_->Next(3, array, &fetched));
    EXPECT_EQ(2u, fetched);
    array[0]->Release();
    array[1]->Release();
}

TEST_F(EnumPinsTest, ACloneRemembersThePinsAlreadyHandedOut) {
    Make(1);
    NextPin(pins_.Get(), S_OK);
    ComPtr<IEnumPins> clone;
    ASSERT_EQ(S_OK, pins_->Clone(&clone));
    EXPECT_EQ(nullptr, NextPin(clone.Get(), S_FALSE).Get());
    EXPECT_EQ(S_OK, clone->Reset());
    EXPECT_EQ(source->Pin(0), NextPin(clone.Get(), S_OK).Get());
    EXPECT_EQ(E_POINTER, pins_->Clone(nullptr));
}

TEST_F(EnumPinsTest, SkipPastTheEndMovesNothing) {
    Make(1);
    EXPECT_EQ(S_FALSE, pins_->Skip(2));
    // Still at the start.
    EXPECT_EQ(source->Pin(0), NextPin(pins_.Get(), S_OK).Get());
    EXPECT_EQ(S_OK, pins_->Reset());
    EXPECT_EQ(S_OK, pins_->Skip(1));
    EXPECT_EQ(nullptr, NextPin(pins_.Get(), S_FALSE).Get());
    EXPECT_EQ(S_OK, pins_->Skip(0));
}

TEST_F(EnumPinsTest, AChangedPinSetIsNoticed) {
    Make(2);
    NextPin(pins_.Get(), S_OK);
    source->BumpPinVersion();
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins_->Skip(1));
    IEnumPins* clone = reinterpret_cast<IEnumPins*>(1);
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins_->Clone(&clone));
    EXPECT_EQ(nullptr, clone);
    // Next starts over silently, without handing out the first pin again.
    EXPECT_EQ(source->Pin(1), NextPin(pins_.Get(), S_OK).Get());
    EXPECT_EQ(nullptr, NextPin(pins_.Get(), S_FALSE).Get());
    EXPECT_EQ(S_OK, pins_->Skip(0));
}

TEST_F(EnumPinsTest, APinVanishingUnderTheEnumeratorIsOutOfStep) {
    Make(1);
    HRESULT hr = S_OK;
    auto* extra = new TestStream(&hr, source.Get(), L"Extra");
    ASSERT_EQ(S_OK, hr);
    ASSERT_EQ(S_OK, pins_->Reset());
    delete extra;
    IPin* array[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins_->Next(2, array, &fetched));
    ASSERT_EQ(1u, fetched);
    array[0]->Release();
}

TEST_F(EnumPinsTest, CountsReferencesAndHoldsTheFilter) {
    Make(1);
    const LONG filterRefs = source->RefCount();
    IEnumPins* raw = pins_.Detach();
    EXPECT_EQ(2u, raw->AddRef());
    EXPECT_EQ(1u, raw->Release());
    EXPECT_EQ(0u, raw->Release());
    EXPECT_EQ(filterRefs - 1, source->RefCount());

    ComPtr<IEnumPins> fresh;
    ASSERT_EQ(S_OK, source->EnumPins(&fresh));
    EXPECT_EQ(filterRefs, source->RefCount());
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, fresh->QueryInterface(IID_PPV_ARGS(&unknown)));
    IEnumMediaTypes* wrong = reinterpret_cast<IEnumMediaTypes*>(1);
    EXPECT_EQ(E_NOINTERFACE, fresh->QueryInterface(IID_IEnumMediaTypes, reinterpret_cast<void**>(&wrong)));
    EXPECT_EQ(nullptr, wrong);
    EXPECT_EQ(E_POINTER, fresh->QueryInterface(IID_IEnumPins, nullptr));
}

TEST_F(EnumTypesTest, NextHandsOutTheFormatInTaskMemory) {
    AM_MEDIA_TYPE* array[3] = {};
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, types->Next(1, array, &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_TRUE(*CMediaType::From(array[0]) == TestFormat());
    DeleteMediaType(array[0]);

    EXPECT_EQ(S_OK, types->Reset());
    // Asking for more than there is: what there is, S_FALSE, and the
    // position moves past the end.
    ASSERT_EQ(S_FALSE, types->Next(3, array, &fetched));
    EXPECT_EQ(1u, fetched);
    DeleteMediaType(array[0]);
    EXPECT_EQ((std::vector<int>{0, 0, 1}), stream->typePositions);

    EXPECT_EQ(E_INVALIDARG, types->Next(2, array, nullptr));
    EXPECT_EQ(S_OK, types->Next(0, array, nullptr));
    EXPECT_EQ(E_POINTER, types->Next(1, nullptr, &fetched));
}

TEST_F(EnumTypesTest, SkipAsksForTheLastTypeSkipped) {
    EXPECT_EQ(S_OK, types->Skip(0));
    EXPECT_TRUE(stream->typePositions.empty());
    EXPECT_EQ(S_OK, types->Skip(1));
    EXPECT_EQ(S_FALSE, types->Skip(1));
    // The position stays advanced: 2 now, so Next asks for type 2.
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, types->Next(1, &mt, &fetched));
    EXPECT_EQ((std::vector<int>{0, 1, 2}), stream->typePositions);
    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_FALSE, types->Skip(7));
    EXPECT_EQ(6, stream->typePositions.back());
}

TEST_F(EnumTypesTest, ACloneStartsWhereItsSourceStands) {
    EXPECT_EQ(S_OK, types->Skip(1));
    ComPtr<IEnumMediaTypes> clone;
    ASSERT_EQ(S_OK, types->Clone(&clone));
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, clone->Next(1, &mt, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_OK, clone->Reset());
    EXPECT_EQ(S_OK, clone->Next(1, &mt, &fetched));
    DeleteMediaType(mt);
    EXPECT_EQ(E_POINTER, types->Clone(nullptr));
}

TEST_F(EnumTypesTest, AChangedTypeListIsOutOfStepUntilReset) {
    stream->BumpTypeVersion();
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG fetched = 99;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Next(1, &mt, &fetched));
    // The fetched count is not touched.
    EXPECT_EQ(99u, fetched);
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Skip(1));
    EXPECT_EQ(S_OK, types->Skip(0));
    IEnumMediaTypes* clone = reinterpret_cast<IEnumMediaTypes*>(1);
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Clone(&clone));
    EXPECT_EQ(nullptr, clone);
    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_OK, types->Next(1, &mt, &fetched));
    DeleteMediaType(mt);
}

TEST_F(EnumTypesTest, CountsReferencesAndHoldsThePinsFilter) {
    const LONG filterRefs = source->RefCount();
    IEnumMediaTypes* raw = types.Detach();
    EXPECT_EQ(2u, raw->AddRef());
    EXPECT_EQ(1u, raw->Release());
    EXPECT_EQ(0u, raw->Release());
    EXPECT_EQ(filterRefs - 1, source->RefCount());

    ComPtr<IEnumMediaTypes> fresh;
    ASSERT_EQ(S_OK, source->Pin(0)->EnumMediaTypes(&fresh));
    IEnumPins* wrong = reinterpret_cast<IEnumPins*>(1);
    EXPECT_EQ(E_NOINTERFACE, fresh->QueryInterface(IID_IEnumPins, reinterpret_cast<void**>(&wrong)));
    EXPECT_EQ(nullptr, wrong);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, fresh->QueryInterface(IID_PPV_ARGS(&unknown)));
}
