// The capture pin in process, without COM registration: the filter from
// its creation function, connected to an input pin of the test's own that
// keeps every picture it receives. What is checked is what the pin alone
// couples: the stored size index, the selected media type, the canvas and
// the samples the streaming thread fills from them.
#include <gtest/gtest.h>

#include <dshow.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "capture/capture_device_settings.h"
#include "capture/capture_settings.h"
#include "capture/output_formats.h"
#include "capture/zrv_capture.h"
#include "framework/memory_dib.h"
#include "tests/capture/capture_test_support.h"
#include "tests/support/fake_pins.h"
#include "tests/support/graph_lookup.h"
#include "tests/support/message_pump.h"
#include "tests/support/registry_sandbox.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kSampleTimeoutMs = 10000;

struct ReceivedSample {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    long size = 0;
    std::vector<BYTE> picture;
};

// A willing input pin that keeps a copy of every sample it receives.
class PictureRecorder final : public FakeInputPin {
public:
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override {
        ReceivedSample received;
        sample->GetTime(&received.start, &received.end);
        received.size = sample->GetSize();
        BYTE* data = nullptr;
        if (SUCCEEDED(sample->GetPointer(&data)) && data != nullptr) {
            received.picture.assign(data, data + sample->GetActualDataLength());
        }
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_received.push_back(std::move(received));
        }
        return FakeInputPin::Receive(sample);
    }

    // Waits until `count` samples have come, then hands out what came.
    std::vector<ReceivedSample> WaitFor(size_t count) {
        WaitUntil(
            [&] {
                std::lock_guard<std::mutex> lock(m_lock);
                return m_received.size() >= count;
            },
            kSampleTimeoutMs);
        std::lock_guard<std::mutex> lock(m_lock);
        return m_received;
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_received.clear();
    }

private:
    std::mutex m_lock;
    std::vector<ReceivedSample> m_received;
};

bool IsStandbyPicture(const ReceivedSample& sample, int width, int height) {
    if (sample.picture.size() != static_cast<size_t>(DibStride(width, 24) * height)) {
        return false;
    }
    // Black all round; white text somewhere in the bottom rows.
    const BYTE* p = sample.picture.data();
    if (PixelOf(p, width, height, 0, 0) != 0 || PixelOf(p, width, height, width - 1, height - 1) != 0 ||
        PixelOf(p, width, height, width / 2, height / 2) != 0) {
        return false;
    }
    for (int y = height - 30; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (PixelOf(p, width, height, x, y) == RGB(255, 255, 255)) {
                return true;
            }
        }
    }
    return false;
}

class ZrvStreamTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_sandbox.ok()); }

    void TearDown() override {
        if (m_filter) {
            m_filter->Stop();
        }
        if (m_pin) {
            m_pin->Disconnect();
        }
    }

    // Creates the filter over the settings stored so far.
    void Create() {
        HRESULT hr = S_OK;
        CUnknown* object = CZRV_Capture::CreateInstance(nullptr, &hr);
        ASSERT_NE(nullptr, object);
        ASSERT_EQ(S_OK, hr);
        object->NonDelegatingAddRef();
        ASSERT_EQ(S_OK, object->NonDelegatingQueryInterface(IID_PPV_ARGS(&m_filter)));
        object->NonDelegatingRelease();
        ASSERT_EQ(S_OK, GetPin(m_filter.Get(), PINDIR_OUTPUT, &m_pin));
        ASSERT_EQ(S_OK, m_pin.As(&m_settings));
        ASSERT_EQ(S_OK, m_pin.As(&m_config));
    }

    void Connect() {
        m_recorder = MakeFake<PictureRecorder>();
        ASSERT_EQ(S_OK, m_pin->Connect(m_recorder.Get(), nullptr));
    }

    void Disconnect() {
        ASSERT_EQ(S_OK, m_pin->Disconnect());
        m_recorder->Disconnect();
    }

    SIZE FormatSize() {
        AM_MEDIA_TYPE* mt = nullptr;
        EXPECT_EQ(S_OK, m_config->GetFormat(&mt));
        if (mt == nullptr) {
            return {0, 0};
        }
        const VIDEOINFOHEADER* vih = output_formats::GetVideoInfo(*mt);
        const SIZE size = vih != nullptr ? SIZE{vih->bmiHeader.biWidth, vih->bmiHeader.biHeight} : SIZE{0, 0};
        DeleteMediaType(mt);
        return size;
    }

    SIZE ConnectionSize() {
        CMediaType mt;
        if (m_pin->ConnectionMediaType(&mt) != S_OK) {
            return {0, 0};
        }
        const VIDEOINFOHEADER* vih = output_formats::GetVideoInfo(mt);
        return vih != nullptr ? SIZE{vih->bmiHeader.biWidth, vih->bmiHeader.biHeight} : SIZE{0, 0};
    }

    RegistrySandbox m_sandbox;
    ComPtr<IBaseFilter> m_filter;
    ComPtr<IPin> m_pin;
    ComPtr<ICaptureDeviceSettings> m_settings;
    ComPtr<IAMStreamConfig> m_config;
    ComPtr<PictureRecorder> m_recorder;
};

}  // namespace

TEST_F(ZrvStreamTest, TheStoredSizeShapesTypeCanvasAndSamples) {
    ASSERT_TRUE(StoreText(kSelectPixelValue, "3"));
    ASSERT_NO_FATAL_FAILURE(Create());
    int size[2] = {};
    ASSERT_EQ(S_OK, m_settings->GetFrameSize(size));
    EXPECT_EQ(568, size[0]);
    EXPECT_EQ(320, size[1]);
    const SIZE format = FormatSize();
    EXPECT_EQ(568, format.cx);
    EXPECT_EQ(320, format.cy);
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Pause());
    const auto samples = m_recorder->WaitFor(2);
    ASSERT_GE(samples.size(), 2u);
    EXPECT_EQ(545280, samples[0].size);
    EXPECT_TRUE(IsStandbyPicture(samples[0], 568, 320));
    EXPECT_TRUE(IsStandbyPicture(samples[1], 568, 320));
}

TEST_F(ZrvStreamTest, SamplesAreStampedContiguouslyFromZeroAtEachStart) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Pause());
    auto samples = m_recorder->WaitFor(3);
    ASSERT_GE(samples.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * 333333, samples[i].start) << i;
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i + 1) * 333333, samples[i].end) << i;
    }
    // A rate set while streaming applies to the samples after it.
    ASSERT_EQ(S_OK, m_settings->SetFrameRate(15.0));
    m_recorder->Clear();
    samples = m_recorder->WaitFor(3);
    ASSERT_GE(samples.size(), 3u);
    EXPECT_EQ(666666, samples.back().end - samples.back().start);
    EXPECT_EQ(samples[1].end, samples[2].start);

    ASSERT_EQ(S_OK, m_filter->Stop());
    m_recorder->Clear();
    ASSERT_EQ(S_OK, m_filter->Pause());
    samples = m_recorder->WaitFor(1);
    ASSERT_GE(samples.size(), 1u);
    EXPECT_EQ(0, samples[0].start);
    EXPECT_EQ(666666, samples[0].end);
}

TEST_F(ZrvStreamTest, ASizeChosenWhileConnectedWaitsForTheNextConnection) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_NO_FATAL_FAILURE(Connect());
    ASSERT_EQ(S_OK, m_filter->Pause());
    ASSERT_GE(m_recorder->WaitFor(1).size(), 1u);

    ASSERT_EQ(S_OK, m_settings->SetSelectPixel(4));
    EXPECT_EQ("4", StoredText(kSelectPixelValue));
    int size[2] = {};
    ASSERT_EQ(S_OK, m_settings->GetFrameSize(size));
    EXPECT_EQ(852, size[0]);
    EXPECT_EQ(480, size[1]);
    EXPECT_EQ(852, FormatSize().cx);
    // The running connection keeps its size, and its samples their pictures.
    EXPECT_EQ(204, ConnectionSize().cx);
    m_recorder->Clear();
    auto samples = m_recorder->WaitFor(2);
    ASSERT_GE(samples.size(), 2u);
    EXPECT_TRUE(IsStandbyPicture(samples[1], 204, 360));

    ASSERT_EQ(S_OK, m_filter->Stop());
    ASSERT_NO_FATAL_FAILURE(Disconnect());
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(852, ConnectionSize().cx);
    EXPECT_EQ(480, ConnectionSize().cy);
    ASSERT_EQ(S_OK, m_filter->Pause());
    samples = m_recorder->WaitFor(1);
    ASSERT_GE(samples.size(), 1u);
    EXPECT_EQ(1226880, samples[0].size);
    EXPECT_TRUE(IsStandbyPicture(samples[0], 852, 480));
}

TEST_F(ZrvStreamTest, ASizeChosenWhileUnconnectedActsAtOnce) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ASSERT_EQ(S_OK, m_settings->SetSelectPixel(5));
    EXPECT_EQ("5", StoredText(kSelectPixelValue));
    EXPECT_EQ(1136, FormatSize().cx);
    EXPECT_EQ(E_INVALIDARG, m_settings->SetSelectPixel(6));
    EXPECT_EQ(E_INVALIDARG, m_settings->SetSelectPixel(-1));
    EXPECT_EQ("5", StoredText(kSelectPixelValue));
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(1136, ConnectionSize().cx);
    ASSERT_EQ(S_OK, m_filter->Pause());
    const auto samples = m_recorder->WaitFor(1);
    ASSERT_GE(samples.size(), 1u);
    EXPECT_EQ(2181120, samples[0].size);
    EXPECT_TRUE(IsStandbyPicture(samples[0], 1136, 640));
}
