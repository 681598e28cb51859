// Memory that runs out inside the device's own allocations (operator new,
// which throws std::bad_alloc unless asked not to): creating the filter or
// a page and starting a stream must each end with S_OK or E_OUTOFMEMORY,
// never with an exception through a COM method or out of a thread.
#include <gtest/gtest.h>

#include <dshow.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <wrl/client.h>

#include <functional>
#include <string>

#include "settings/capture_device_ids.h"
#include "framework/unknown.h"
#include "mf/camera_media_source.h"
#include "module/module.h"
#include "tests/reliability/failing_new.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;
using namespace qmtest;

namespace {

// More allocations than any operation here makes.
constexpr long kMaxAllocations = 400;
constexpr DWORD kStateChangeTimeoutMs = 60000;

// Runs `operation` once with each of the device's allocations made to fail
// in turn, until a run sees none fail. Each run must end with S_OK or
// E_OUTOFMEMORY (a stream start may report the failure of the part that
// could not start), and leave no object behind.
void SweepAllocationFailures(const char* what, const std::function<HRESULT()>& operation,
                             bool anyFailureCode = false) {
    for (long n = 0; n < kMaxAllocations; ++n) {
        SCOPED_TRACE(std::string(what) + ", allocation " + std::to_string(n) + " failing");
        const LONG objects = CBaseObject::ObjectsActive();
        failing_new::FailAllocation(n);
        const HRESULT hr = operation();
        const long failures = failing_new::Failures();
        failing_new::Disarm();
        if (anyFailureCode) {
            EXPECT_TRUE(SUCCEEDED(hr) || failures > 0) << "result 0x" << std::hex << hr;
        } else {
            EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY) << "result 0x" << std::hex << hr;
        }
        EXPECT_EQ(objects, CBaseObject::ObjectsActive()) << "an object leaked";
        if (testing::Test::HasFailure()) {
            return;
        }
        if (failures == 0) {
            EXPECT_EQ(S_OK, SUCCEEDED(hr) ? S_OK : hr) << "the operation failed with no allocation failing";
            return;
        }
    }
    ADD_FAILURE() << what << " makes more than " << kMaxAllocations << " allocations";
}

HRESULT CreateAndRelease(const CLSID& clsid, REFIID riid) {
    ComPtr<IClassFactory> factory;
    RETURN_IF_FAILED(GetClassObjectFromTable(g_Templates, g_cTemplates, clsid, IID_PPV_ARGS(&factory)));
    ComPtr<IUnknown> object;
    return factory->CreateInstance(nullptr, riid, reinterpret_cast<void**>(object.GetAddressOf()));
}

class OutOfMemoryTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_sandbox.ok()); }
    void TearDown() override { failing_new::Disarm(); }
    RegistrySandbox m_sandbox;
};

}  // namespace

TEST_F(OutOfMemoryTest, CreatingTheDeviceOrItsPagesReturnsOutOfMemoryInsteadOfThrowing) {
    SweepAllocationFailures("the filter", [] { return CreateAndRelease(CLSID_CaptureDevice, IID_IBaseFilter); });
    SweepAllocationFailures("the settings page",
                            [] { return CreateAndRelease(CLSID_CaptureDeviceProp, IID_IPropertyPage); });
    SweepAllocationFailures("the window page",
                            [] { return CreateAndRelease(CLSID_CaptureWindowProp, IID_IPropertyPage); });
}

TEST_F(OutOfMemoryTest, AStreamThatCannotStartStopsCleanlyAndOneThatStartsRuns) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CreateCaptureFilter(&filter));
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, GetPin(filter.Get(), PINDIR_OUTPUT, &pin));
    auto peer = MakeFake<FakeInputPin>();
    ASSERT_EQ(S_OK, pin->Connect(peer.Get(), nullptr));
    Watchdog watchdog("pauses and stops with memory running out", kStateChangeTimeoutMs);
    SweepAllocationFailures(
        "pausing",
        [&]() -> HRESULT {
            const HRESULT hr = filter->Pause();
            failing_new::Disarm();
            FILTER_STATE state = State_Stopped;
            const HRESULT hrState = filter->GetState(0, &state);
            // Either the stream runs (paused), or the filter stayed stopped.
            if (SUCCEEDED(hr)) {
                EXPECT_EQ(State_Paused, state);
                EXPECT_TRUE(SUCCEEDED(hrState));
            } else {
                EXPECT_EQ(State_Stopped, state);
            }
            EXPECT_EQ(S_OK, filter->Stop());
            return hr;
        },
        /*anyFailureCode=*/true);
    EXPECT_EQ(S_OK, pin->Disconnect());
}

TEST_F(OutOfMemoryTest, TheMediaSourceAndItsDeliveryThreadAnswerOutOfMemoryInsteadOfThrowing) {
    // Creating the Media Foundation camera's source, starting it and
    // delivering its first sample (the delivery thread prepares its
    // buffers and opens the ring then): each allocation failing in turn
    // must give an error or a sample, never an exception out of a COM
    // method or the thread, which would end the Frame Server's process.
    ASSERT_EQ(S_OK, ::MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET));
    const std::wstring prefix = L"Local\\QMOutOfMemoryTest." + std::to_wstring(::GetCurrentProcessId()) + L".";
    SweepAllocationFailures("the media source", [&]() -> HRESULT {
        ComPtr<IMFMediaSource> source;
        RETURN_IF_FAILED(CreateCameraMediaSourceForRing(2, prefix.c_str(), IID_PPV_ARGS(&source)));
        ComPtr<IMFPresentationDescriptor> presentation;
        HRESULT hr = source->CreatePresentationDescriptor(&presentation);
        if (SUCCEEDED(hr)) {
            hr = source->Start(presentation.Get(), nullptr, nullptr);
        }
        ComPtr<IMFMediaEvent> event;
        ComPtr<IMFMediaStream> stream;
        while (SUCCEEDED(hr) && !stream && source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event) == S_OK) {
            PROPVARIANT value;
            ::PropVariantInit(&value);
            if (SUCCEEDED(event->GetValue(&value)) && value.vt == VT_UNKNOWN && value.punkVal != nullptr) {
                QM_IGNORE(value.punkVal->QueryInterface(IID_PPV_ARGS(&stream)), "checked below");
            }
            ::PropVariantClear(&value);
        }
        if (stream && SUCCEEDED(stream->RequestSample(nullptr))) {
            // A sample, or the error the thread reports instead; bounded,
            // so that a silent stream fails the run rather than hangs it.
            MediaEventType type = MEUnknown;
            for (int polls = 0; polls < 5000 && type != MEMediaSample && type != MEError; ++polls) {
                event.Reset();
                if (stream->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event) == S_OK) {
                    QM_IGNORE(event->GetType(&type), "an event without a type is skipped");
                } else {
                    ::Sleep(1);
                }
            }
            EXPECT_TRUE(type == MEMediaSample || type == MEError) << "the stream went silent";
        }
        QM_IGNORE(source->Shutdown(), "the source goes either way");
        return hr;
    });
    EXPECT_EQ(S_OK, ::MFShutdown());
}
