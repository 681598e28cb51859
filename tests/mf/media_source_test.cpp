// runs it: through the platform's source reader
// (MFCreateSourceReaderFromMediaSource), and driven directly through
// IMFMediaSource and IMFMediaStream where the order of events and the
// error answers matter. Frames come from a CFrameRingWriter in this test,
// on a ring named under Local\ and a suffix of the test's own: the source
// reads it through the test seam CreateCameraMediaSourceForRing.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <mfapi.h>
#include <sddl.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "framework/performance_counter.h"
#include "ring/frame_ring.h"
#include "picture/frame_converter.h"
#include "capture/output_formats.h"
#include "framework/com_util.h"
#include "mf/camera_media_source.h"
#include "mf/camera_media_stream.h"
#include "mf/camera_media_types.h"
#include "mf/media_source_ids.h"
#include "mf/mf_interfaces.h"
#include "module/module.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kCamera = 3;
// Enough frames at 30 per second for a writer that starts late to be
// seen many times over; counted, never timed.
constexpr int kMaxReads = 300;

std::wstring UniquePrefix() {
    static int counter = 0;
    return L"Local\\QMMfTest." + std::to_wstring(::GetCurrentProcessId()) + L"." + std::to_wstring(++counter) + L".";
}

// The RGB32 test picture: every pixel tells its place.
void DrawRgb32(BYTE* data, int width, int height, uint32_t stride) {
    for (int y = 0; y < height; ++y) {
        BYTE* row = data + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            row[x * 4 + 0] = static_cast<BYTE>(x);
            row[x * 4 + 1] = static_cast<BYTE>(y);
            row[x * 4 + 2] = static_cast<BYTE>(x + y + 7);
            row[x * 4 + 3] = 0xFF;
        }
    }
}

// Writes frames for the readers' request until told to stop: the RGB32
// picture above, or NV12 of a solid red converted as qmcamera converts.
class TestWriter {
public:
    explicit TestWriter(std::wstring prefix) : m_prefix(std::move(prefix)) {}
    ~TestWriter() { Stop(); }

    void Start() {
        m_thread = std::thread([this] { Run(); });
    }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    int Committed() const { return m_committed.load(); }

private:
    void Run() {
        CFrameRingWriter writer;
        bool open = false;
        CFrameConverter converter;
        std::vector<BYTE> red;
        while (!m_stop) {
            if (!open) {
                open = SUCCEEDED(writer.Open(kCamera, m_prefix.c_str()));
                ::Sleep(1);
                continue;
            }
            frame_ring::FrameRequest request = {};
            if (writer.Request(&request) != S_OK) {
                ::Sleep(1);
                continue;
            }
            frame_ring::FrameSlot slot = {};
            if (FAILED(writer.BeginFrame(&slot))) {
                return;
            }
            const uint32_t stride =
                static_cast<uint32_t>(LayoutOf(request.format, request.width, request.height).strides[0]);
            if (request.format == PixelFormat::Rgb32) {
                DrawRgb32(slot.data, request.width, request.height, stride);
            } else if (request.format != PixelFormat::Nv12) {
                // Only the two formats these tests read.
                ::Sleep(1);
                continue;
            } else {
                const size_t rowBytes = static_cast<size_t>(request.width) * 3;
                red.assign(rowBytes * static_cast<size_t>(request.height), 0);
                for (size_t i = 0; i < red.size(); i += 3) {
                    red[i + 2] = 0xFF;
                }
                const Bgr24Picture source = {red.data(), static_cast<ptrdiff_t>(rowBytes), request.width,
                                             request.height};
                BYTE* chroma = slot.data + static_cast<size_t>(stride) * static_cast<size_t>(request.height);
                if (FAILED(converter.ToNv12(source, {slot.data, static_cast<ptrdiff_t>(stride), chroma,
                                                     static_cast<ptrdiff_t>(stride)}))) {
                    return;
                }
            }
            const frame_ring::FrameDescription frame = {request.width, request.height, request.format,
                                                        PerformanceCounterTime()};
            if (SUCCEEDED(writer.CommitFrame(frame))) {
                ++m_committed;
            }
            ::Sleep(5);
        }
    }

    std::wstring m_prefix;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_committed{0};
};

class MediaSourceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, ::MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET));
        m_prefix = UniquePrefix();
        ASSERT_EQ(S_OK, CreateCameraMediaSourceForRing(kCamera, m_prefix.c_str(), IID_PPV_ARGS(&m_source)));
    }
    void TearDown() override {
        m_reader.Reset();
        if (m_source) {
            // The reader may have shut it down already.
            const HRESULT hr = m_source->Shutdown();
            EXPECT_TRUE(hr == S_OK || hr == MF_E_SHUTDOWN) << std::hex << hr;
        }
        m_source.Reset();
        EXPECT_EQ(S_OK, ::MFShutdown());
    }

    // A source reader over the source, its stream set to `subtype` at
    // 1280x720, 30 frames per second.
    void OpenReader(const GUID& subtype) {
        ASSERT_EQ(S_OK, ::MFCreateSourceReaderFromMediaSource(m_source.Get(), nullptr, &m_reader));
        ComPtr<IMFMediaType> type;
        ASSERT_EQ(S_OK, ::MFCreateMediaType(&type));
        ASSERT_EQ(S_OK, type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
        ASSERT_EQ(S_OK, type->SetGUID(MF_MT_SUBTYPE, subtype));
        ASSERT_EQ(S_OK, ::MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, 1280, 720));
        ASSERT_EQ(S_OK, ::MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, 30, 1));
        ASSERT_EQ(S_OK, m_reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.Get()));
    }

    // The next sample's bytes and time.
    void ReadOne(std::vector<BYTE>* bytes, LONGLONG* time) {
        DWORD stream = 0;
        DWORD flags = 0;
        LONGLONG timestamp = 0;
        ComPtr<IMFSample> sample;
        ASSERT_EQ(S_OK, m_reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &stream, &flags, &timestamp,
                                             &sample));
        ASSERT_EQ(0u, flags & (MF_SOURCE_READERF_ERROR | MF_SOURCE_READERF_ENDOFSTREAM));
        ASSERT_TRUE(sample) << "flags " << flags;
        ComPtr<IMFMediaBuffer> buffer;
        ASSERT_EQ(S_OK, sample->ConvertToContiguousBuffer(&buffer));
        BYTE* data = nullptr;
        DWORD length = 0;
        ASSERT_EQ(S_OK, buffer->Lock(&data, nullptr, &length));
        bytes->assign(data, data + length);
        ASSERT_EQ(S_OK, buffer->Unlock());
        *time = timestamp;
    }

    std::wstring m_prefix;
    ComPtr<IMFMediaSource> m_source;
    ComPtr<IMFSourceReader> m_reader;
};

ComPtr<IMFMediaEvent> NextEvent(IMFMediaEventGenerator* generator) {
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(S_OK, generator->GetEvent(0, &event));
    return event;
}

MediaEventType TypeOf(IMFMediaEvent* event) {
    MediaEventType type = MEUnknown;
    if (event != nullptr) {
        EXPECT_EQ(S_OK, event->GetType(&type));
    }
    return type;
}

// The stream an MENewStream or MEUpdatedStream event carries.
ComPtr<IMFMediaStream> StreamOf(IMFMediaEvent* event) {
    PROPVARIANT value;
    ::PropVariantInit(&value);
    ComPtr<IMFMediaStream> stream;
    if (event != nullptr && SUCCEEDED(event->GetValue(&value)) && value.vt == VT_UNKNOWN && value.punkVal) {
        EXPECT_EQ(S_OK, value.punkVal->QueryInterface(IID_PPV_ARGS(&stream)));
    }
    ::PropVariantClear(&value);
    return stream;
}

}  // namespace

TEST_F(MediaSourceTest, OffersTheFiveFormatsNv12FirstAtTheTenSizesWithTopDownStridesOfTheirOwn) {
    ASSERT_EQ(S_OK, ::MFCreateSourceReaderFromMediaSource(m_source.Get(), nullptr, &m_reader));
    // Each format's subtype, and its bytes a pixel (of the luma plane, and
    // of the whole frame, in eighths).
    const struct {
        GUID subtype;
        UINT32 strideBytes;
        UINT32 imageEighths;
    } formats[] = {
        {MFVideoFormat_NV12, 1, 12}, {MFVideoFormat_YUY2, 2, 16}, {MFVideoFormat_I420, 1, 12},
        {MFVideoFormat_RGB32, 4, 32}, {MFVideoFormat_RGB24, 3, 24},
    };
    constexpr int kFormats = static_cast<int>(std::size(formats));
    // The formats in the order they came first.
    std::vector<int> order;
    std::set<std::tuple<int, UINT32, UINT32>> offered;
    for (DWORD index = 0;; ++index) {
        ComPtr<IMFMediaType> type;
        const HRESULT hr = m_reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, &type);
        if (hr == MF_E_NO_MORE_TYPES) {
            break;
        }
        ASSERT_EQ(S_OK, hr) << index;
        GUID subtype = GUID_NULL;
        UINT32 width = 0;
        UINT32 height = 0;
        UINT32 numerator = 0;
        UINT32 denominator = 0;
        ASSERT_EQ(S_OK, type->GetGUID(MF_MT_SUBTYPE, &subtype));
        ASSERT_EQ(S_OK, ::MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &width, &height));
        ASSERT_EQ(S_OK, ::MFGetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, &numerator, &denominator));
        EXPECT_LE(numerator, 60u * denominator);
        int format = 0;
        while (format < kFormats && !IsEqualGUID(formats[format].subtype, subtype)) {
            ++format;
        }
        ASSERT_LT(format, kFormats) << index;
        if (order.empty() || order.back() != format) {
            order.push_back(format);
        }
        // Positive: top-down rows, RGB's too (every width of the table is a
        // multiple of 4, so RGB24's rows need no padding).
        EXPECT_EQ(width * formats[format].strideBytes, ::MFGetAttributeUINT32(type.Get(), MF_MT_DEFAULT_STRIDE, 0))
            << index;
        EXPECT_EQ(width * height * formats[format].imageEighths / 8,
                  ::MFGetAttributeUINT32(type.Get(), MF_MT_SAMPLE_SIZE, 0))
            << index;
        EXPECT_EQ(static_cast<UINT32>(MFVideoInterlace_Progressive),
                  ::MFGetAttributeUINT32(type.Get(), MF_MT_INTERLACE_MODE, 0));
        EXPECT_EQ(1u, ::MFGetAttributeUINT32(type.Get(), MF_MT_ALL_SAMPLES_INDEPENDENT, 0));
        offered.insert({format, width, height});
    }
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), order) << "NV12, YUY2, I420, RGB32, RGB24, each once";
    std::set<std::tuple<int, UINT32, UINT32>> expected;
    for (const FrameSize& size : FrameSizeTable) {
        for (int format = 0; format < kFormats; ++format) {
            expected.insert({format, static_cast<UINT32>(size.width), static_cast<UINT32>(size.height)});
        }
    }
    EXPECT_EQ(expected, offered);
}

TEST_F(MediaSourceTest, TheWritersRgb32PictureArrivesExactlyWithRisingSystemTimes) {
    OpenReader(MFVideoFormat_RGB32);
    const LONGLONG before = ::MFGetSystemTime();
    std::vector<BYTE> bytes;
    LONGLONG time = 0;
    // The first read starts the source, which creates the ring the writer
    // then opens.
    ReadOne(&bytes, &time);
    TestWriter writer(m_prefix);
    writer.Start();

    std::vector<BYTE> expected(1280u * 720u * 4u);
    DrawRgb32(expected.data(), 1280, 720, 1280 * 4);
    int reads = 0;
    while (reads < kMaxReads && bytes != expected) {
        ReadOne(&bytes, &time);
        ++reads;
    }
    ASSERT_EQ(expected.size(), bytes.size());
    ASSERT_TRUE(bytes == expected) << "the writer's picture never came in " << reads << " samples ("
                                   << writer.Committed() << " frames committed)";

    // Samples stamped on Media Foundation's clock, rising; the picture
    // stays while the writer writes.
    LONGLONG previous = time;
    for (int i = 0; i < 5; ++i) {
        ReadOne(&bytes, &time);
        EXPECT_GT(time, previous);
        EXPECT_TRUE(bytes == expected);
        previous = time;
    }
    EXPECT_GE(time, before);
    EXPECT_LE(time, ::MFGetSystemTime());
    writer.Stop();
}

TEST_F(MediaSourceTest, TheWritersNv12FrameArrivesWithBt601LimitedRangeValuesOfRed) {
    OpenReader(MFVideoFormat_NV12);
    std::vector<BYTE> bytes;
    LONGLONG time = 0;
    ReadOne(&bytes, &time);
    TestWriter writer(m_prefix);
    writer.Start();

    const size_t luma = 1280u * 720u;
    // Red in BT.601 limited range: Y 81.5, U 90.2, V 239.9.
    const auto isRed = [&] {
        return bytes.size() == luma * 3 / 2 && std::abs(bytes[0] - 82) <= 1 && std::abs(bytes[luma - 1] - 82) <= 1 &&
               std::abs(bytes[luma] - 90) <= 1 && std::abs(bytes[luma + 1] - 240) <= 1 &&
               std::abs(bytes[bytes.size() - 2] - 90) <= 1 && std::abs(bytes[bytes.size() - 1] - 240) <= 1;
    };
    int reads = 0;
    while (reads < kMaxReads && !isRed()) {
        ReadOne(&bytes, &time);
        ++reads;
    }
    ASSERT_EQ(luma * 3 / 2, bytes.size());
    EXPECT_TRUE(isRed()) << "Y " << int{bytes[0]} << " U " << int{bytes[luma]} << " V " << int{bytes[luma + 1]};
    writer.Stop();
}

TEST_F(MediaSourceTest, WithoutAWriterStandbyFramesKeepComing) {
    OpenReader(MFVideoFormat_RGB32);
    LONGLONG previous = 0;
    for (int i = 0; i < 10; ++i) {
        std::vector<BYTE> bytes;
        LONGLONG time = 0;
        ReadOne(&bytes, &time);
        ASSERT_EQ(1280u * 720u * 4u, bytes.size());
        EXPECT_GT(time, previous);
        previous = time;
        // Black with a line of text near the bottom.
        EXPECT_EQ(0, bytes[0]);
        EXPECT_EQ(0, bytes[1]);
        EXPECT_EQ(0, bytes[2]);
        EXPECT_EQ(0xFF, bytes[3]);
        size_t lit = 0;
        for (size_t p = 0; p < bytes.size(); p += 4) {
            lit += bytes[p] > 128 ? 1 : 0;
        }
        EXPECT_GT(lit, 100u) << "the standby text";
        EXPECT_LT(lit, bytes.size() / 4 / 10) << "mostly black";
    }
}

TEST_F(MediaSourceTest, StartAnnouncesTheStreamThenRestartUpdatesItAndRequestsAreAnswered) {
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(S_OK, m_source->CreatePresentationDescriptor(&presentation));
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> descriptor;
    ASSERT_EQ(S_OK, presentation->GetStreamDescriptorByIndex(0, &selected, &descriptor));
    EXPECT_TRUE(selected);
    GUID category = GUID_NULL;
    ASSERT_EQ(S_OK, descriptor->GetGUID(qm_mf::kDeviceStreamCategory, &category));
    EXPECT_EQ(qm_mf::kPinNameVideoCapture, category);
    EXPECT_EQ(0u, ::MFGetAttributeUINT32(descriptor.Get(), qm_mf::kDeviceStreamId, 99));
    EXPECT_EQ(1u, ::MFGetAttributeUINT32(descriptor.Get(), qm_mf::kDeviceStreamFrameSourceTypes, 0));
    EXPECT_EQ(1u, ::MFGetAttributeUINT32(descriptor.Get(), qm_mf::kDeviceStreamFrameServerShared, 0));
    DWORD characteristics = 0;
    ASSERT_EQ(S_OK, m_source->GetCharacteristics(&characteristics));
    EXPECT_EQ(static_cast<DWORD>(MFMEDIASOURCE_IS_LIVE), characteristics & MFMEDIASOURCE_IS_LIVE);

    PROPVARIANT now;
    ::PropVariantInit(&now);
    ASSERT_EQ(S_OK, m_source->Start(presentation.Get(), nullptr, &now));
    EXPECT_EQ(MESourceStarted, TypeOf(NextEvent(m_source.Get()).Get()));
    ComPtr<IMFMediaEvent> announced = NextEvent(m_source.Get());
    EXPECT_EQ(MENewStream, TypeOf(announced.Get()));
    ComPtr<IMFMediaStream> stream = StreamOf(announced.Get());
    ASSERT_TRUE(stream);
    EXPECT_EQ(MEStreamStarted, TypeOf(NextEvent(stream.Get()).Get()));
    ComPtr<IMFMediaStream2> stream2;
    ASSERT_EQ(S_OK, stream.As(&stream2));
    MF_STREAM_STATE state = MF_STREAM_STATE_STOPPED;
    ASSERT_EQ(S_OK, stream2->GetStreamState(&state));
    EXPECT_EQ(MF_STREAM_STATE_RUNNING, state);
    EXPECT_EQ(static_cast<HRESULT>(MF_E_INVALID_STATE_TRANSITION), stream2->SetStreamState(MF_STREAM_STATE_PAUSED));
    EXPECT_EQ(E_POINTER, stream2->GetStreamState(nullptr));
    // The client stops the stream alone and starts it again.
    ASSERT_EQ(S_OK, stream2->SetStreamState(MF_STREAM_STATE_STOPPED));
    EXPECT_EQ(static_cast<HRESULT>(MF_E_MEDIA_SOURCE_WRONGSTATE), stream->RequestSample(nullptr));
    ASSERT_EQ(S_OK, stream2->SetStreamState(MF_STREAM_STATE_RUNNING));

    // A request comes back as a sample with its token, of the default
    // type (NV12 1280x720), timed on the system clock.
    ComPtr<IMFAttributes> token;
    ASSERT_EQ(S_OK, ::MFCreateAttributes(&token, 1));
    const LONGLONG before = ::MFGetSystemTime();
    ASSERT_EQ(S_OK, stream->RequestSample(token.Get()));
    ComPtr<IMFMediaEvent> delivered = NextEvent(stream.Get());
    ASSERT_EQ(MEMediaSample, TypeOf(delivered.Get()));
    PROPVARIANT value;
    ::PropVariantInit(&value);
    ASSERT_EQ(S_OK, delivered->GetValue(&value));
    ASSERT_EQ(VT_UNKNOWN, value.vt);
    ComPtr<IMFSample> sample;
    ASSERT_EQ(S_OK, value.punkVal->QueryInterface(IID_PPV_ARGS(&sample)));
    ::PropVariantClear(&value);
    ComPtr<IUnknown> carried;
    ASSERT_EQ(S_OK, sample->GetUnknown(MFSampleExtension_Token, IID_PPV_ARGS(&carried)));
    ComPtr<IUnknown> tokenUnknown;
    ASSERT_EQ(S_OK, token.As(&tokenUnknown));
    EXPECT_EQ(tokenUnknown.Get(), carried.Get());
    LONGLONG time = 0;
    ASSERT_EQ(S_OK, sample->GetSampleTime(&time));
    EXPECT_GE(time, before);
    EXPECT_LE(time, ::MFGetSystemTime());
    DWORD length = 0;
    ASSERT_EQ(S_OK, sample->GetTotalLength(&length));
    EXPECT_EQ(1280u * 720u * 3u / 2u, length);
    sample.Reset();

    EXPECT_EQ(static_cast<HRESULT>(MF_E_INVALID_STATE_TRANSITION), m_source->Pause());
    ASSERT_EQ(S_OK, m_source->Stop());
    EXPECT_EQ(MEStreamStopped, TypeOf(NextEvent(stream.Get()).Get()));
    EXPECT_EQ(MESourceStopped, TypeOf(NextEvent(m_source.Get()).Get()));
    EXPECT_EQ(static_cast<HRESULT>(MF_E_MEDIA_SOURCE_WRONGSTATE), stream->RequestSample(nullptr));

    // Started again: the same stream, updated.
    ASSERT_EQ(S_OK, m_source->Start(presentation.Get(), &GUID_NULL, nullptr));
    EXPECT_EQ(MESourceStarted, TypeOf(NextEvent(m_source.Get()).Get()));
    ComPtr<IMFMediaEvent> updated = NextEvent(m_source.Get());
    EXPECT_EQ(MEUpdatedStream, TypeOf(updated.Get()));
    EXPECT_EQ(stream.Get(), StreamOf(updated.Get()).Get());
    EXPECT_EQ(MEStreamStarted, TypeOf(NextEvent(stream.Get()).Get()));
    ASSERT_EQ(S_OK, stream->RequestSample(nullptr));
    EXPECT_EQ(MEMediaSample, TypeOf(NextEvent(stream.Get()).Get()));

    // Only the default time format.
    const GUID other = MFVideoFormat_NV12;
    EXPECT_EQ(static_cast<HRESULT>(MF_E_UNSUPPORTED_TIME_FORMAT), m_source->Start(presentation.Get(), &other, nullptr));
}

TEST_F(MediaSourceTest, KsControlKnowsNoSetAndNullPointersAreRefused) {
    ComPtr<IKsControl> ks;
    ASSERT_EQ(S_OK, m_source.As(&ks));
    KSPROPERTY property = {};
    property.Set = MFVideoFormat_RGB32;  // any set the camera does not have
    property.Id = 1;
    property.Flags = 1;  // KSPROPERTY_TYPE_GET
    ULONG returned = 77;
    LONG data = 0;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND),
              ks->KsProperty(&property, sizeof(property), &data, sizeof(data), &returned));
    EXPECT_EQ(0u, returned);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND),
              ks->KsMethod(&property, sizeof(property), &data, sizeof(data), &returned));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND),
              ks->KsEvent(&property, sizeof(property), &data, sizeof(data), &returned));
    EXPECT_EQ(E_POINTER, ks->KsProperty(nullptr, sizeof(property), &data, sizeof(data), &returned));
    EXPECT_EQ(E_POINTER, ks->KsProperty(&property, sizeof(property), &data, sizeof(data), nullptr));
    EXPECT_EQ(E_INVALIDARG, ks->KsProperty(&property, 4, &data, sizeof(data), &returned));

    ComPtr<IMFMediaSourceEx> sourceEx;
    ASSERT_EQ(S_OK, m_source.As(&sourceEx));
    EXPECT_EQ(E_POINTER, m_source->GetCharacteristics(nullptr));
    EXPECT_EQ(E_POINTER, m_source->CreatePresentationDescriptor(nullptr));
    EXPECT_EQ(E_POINTER, m_source->Start(nullptr, nullptr, nullptr));
    EXPECT_EQ(E_POINTER, m_source->GetEvent(0, nullptr));
    EXPECT_EQ(E_POINTER, m_source->BeginGetEvent(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, sourceEx->GetSourceAttributes(nullptr));
    EXPECT_EQ(E_POINTER, sourceEx->GetStreamAttributes(0, nullptr));
    ComPtr<IMFAttributes> attributes;
    EXPECT_EQ(static_cast<HRESULT>(MF_E_INVALIDSTREAMNUMBER), sourceEx->GetStreamAttributes(1, &attributes));
    ASSERT_EQ(S_OK, sourceEx->GetStreamAttributes(0, &attributes));
    EXPECT_EQ(1u, ::MFGetAttributeUINT32(attributes.Get(), qm_mf::kDeviceStreamFrameServerShared, 0));
    ComPtr<IMFGetService> service;
    ASSERT_EQ(S_OK, m_source.As(&service));
    EXPECT_EQ(E_POINTER, service->GetService(GUID_NULL, IID_IUnknown, nullptr));
}

TEST_F(MediaSourceTest, AfterShutdownEveryCallAnswersShutdown) {
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(S_OK, m_source->CreatePresentationDescriptor(&presentation));
    ASSERT_EQ(S_OK, m_source->Start(presentation.Get(), nullptr, nullptr));
    EXPECT_EQ(MESourceStarted, TypeOf(NextEvent(m_source.Get()).Get()));
    ComPtr<IMFMediaStream> stream = StreamOf(NextEvent(m_source.Get()).Get());
    ASSERT_TRUE(stream);
    ASSERT_EQ(S_OK, stream->RequestSample(nullptr));

    ASSERT_EQ(S_OK, m_source->Shutdown());
    const HRESULT shutdown = MF_E_SHUTDOWN;
    DWORD characteristics = 0;
    ComPtr<IMFPresentationDescriptor> again;
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(shutdown, m_source->GetCharacteristics(&characteristics));
    EXPECT_EQ(shutdown, m_source->CreatePresentationDescriptor(&again));
    EXPECT_EQ(shutdown, m_source->Start(presentation.Get(), nullptr, nullptr));
    EXPECT_EQ(shutdown, m_source->Stop());
    EXPECT_EQ(shutdown, m_source->Pause());
    EXPECT_EQ(shutdown, m_source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event));
    EXPECT_EQ(shutdown, m_source->Shutdown());
    ComPtr<IKsControl> ks;
    ASSERT_EQ(S_OK, m_source.As(&ks));
    KSPROPERTY property = {};
    ULONG returned = 0;
    EXPECT_EQ(shutdown, ks->KsProperty(&property, sizeof(property), nullptr, 0, &returned));
    EXPECT_EQ(shutdown, stream->RequestSample(nullptr));
    EXPECT_EQ(shutdown, stream->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event));
    ComPtr<IMFMediaSource> back;
    EXPECT_EQ(shutdown, stream->GetMediaSource(&back));
}

TEST(MediaSourceClassTest, TheModulesFactoryMakesEachCamerasSourceAndRefusesAggregation) {
    ASSERT_EQ(S_OK, ::MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET));
    for (int camera = 1; camera <= kCameraMediaSourceCount; ++camera) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, GetClassObjectFromTable(g_Templates, g_cTemplates, *CameraMediaSourceClassId(camera),
                                                IID_PPV_ARGS(&factory)))
            << camera;
        ComPtr<IMFMediaSourceEx> source;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&source))) << camera;
        ComPtr<IUnknown> inner;
        ComPtr<IUnknown> outer;
        ASSERT_EQ(S_OK, source.As(&outer));
        EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.Get(), IID_IUnknown, &inner));
        EXPECT_EQ(S_OK, source->Shutdown());
    }
    EXPECT_EQ(nullptr, CameraMediaSourceClassId(0));
    EXPECT_EQ(nullptr, CameraMediaSourceClassId(9));
    EXPECT_EQ(S_OK, ::MFShutdown());
}

TEST(CameraMediaTypesTest, ForeignTypesAreRefusedAndOffersDescribeThemselves) {
    ASSERT_EQ(S_OK, ::MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET));
    for (int index = 0; index < camera_media_types::kTypeCount; ++index) {
        ComPtr<IMFMediaType> type;
        ASSERT_EQ(S_OK, camera_media_types::CreateType(index, &type));
        camera_media_types::StreamFormat format = {};
        ASSERT_EQ(S_OK, camera_media_types::StreamFormatOf(type.Get(), &format)) << index;
        EXPECT_TRUE(frame_ring::IsValidRequest({format.width, format.height, format.format, format.frameTime}))
            << index;
    }
    ComPtr<IMFMediaType> type;
    EXPECT_EQ(E_INVALIDARG, camera_media_types::CreateType(camera_media_types::kTypeCount, &type));
    ASSERT_EQ(S_OK, camera_media_types::CreateType(camera_media_types::DefaultTypeIndex(), &type));
    camera_media_types::StreamFormat format = {};
    ASSERT_EQ(S_OK, camera_media_types::StreamFormatOf(type.Get(), &format));
    EXPECT_EQ(1280, format.width);
    EXPECT_EQ(PixelFormat::Nv12, format.format);

    // UYVY, a size outside the table, 120 frames per second: refused.
    ASSERT_EQ(S_OK, type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_UYVY));
    EXPECT_EQ(static_cast<HRESULT>(MF_E_INVALIDMEDIATYPE), camera_media_types::StreamFormatOf(type.Get(), &format));
    ASSERT_EQ(S_OK, type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32));
    ASSERT_EQ(S_OK, ::MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, 1280, 721));
    EXPECT_EQ(static_cast<HRESULT>(MF_E_INVALIDMEDIATYPE), camera_media_types::StreamFormatOf(type.Get(), &format));
    ASSERT_EQ(S_OK, ::MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, 1280, 720));
    ASSERT_EQ(S_OK, ::MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, 120, 1));
    EXPECT_EQ(static_cast<HRESULT>(MF_E_INVALIDMEDIATYPE), camera_media_types::StreamFormatOf(type.Get(), &format));
    EXPECT_EQ(1280, format.width) << "a refused type writes nothing";
    EXPECT_EQ(PixelFormat::Nv12, format.format);
    EXPECT_EQ(E_POINTER, camera_media_types::StreamFormatOf(nullptr, &format));
    EXPECT_EQ(S_OK, ::MFShutdown());
}

TEST(CameraMediaTypesTest, BottomUpRowsAreRefused) {
    // The stream writes top-down rows only: a negative default stride asks
    // for what it cannot deliver.
    ASSERT_EQ(S_OK, ::MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET));
    ComPtr<IMFMediaType> type;
    ASSERT_EQ(S_OK, camera_media_types::CreateType(camera_media_types::TypeIndexOf(PixelFormat::Rgb32, 8, 0), &type));
    camera_media_types::StreamFormat format = {};
    ASSERT_EQ(S_OK, camera_media_types::StreamFormatOf(type.Get(), &format));
    ASSERT_EQ(PixelFormat::Rgb32, format.format);
    // Padded rows are not what it writes either; no stride at all takes
    // the stream's.
    ASSERT_EQ(S_OK, type->SetUINT32(MF_MT_DEFAULT_STRIDE, format.stride + 64));
    EXPECT_EQ(static_cast<HRESULT>(MF_E_INVALIDMEDIATYPE), camera_media_types::StreamFormatOf(type.Get(), &format));
    ASSERT_EQ(S_OK, type->DeleteItem(MF_MT_DEFAULT_STRIDE));
    EXPECT_EQ(S_OK, camera_media_types::StreamFormatOf(type.Get(), &format));
    const INT32 bottomUp = -static_cast<INT32>(format.stride);
    ASSERT_EQ(S_OK, type->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(bottomUp)));
    EXPECT_EQ(static_cast<HRESULT>(MF_E_INVALIDMEDIATYPE), camera_media_types::StreamFormatOf(type.Get(), &format));

    // Nor does the source start with it.
    ComPtr<IMFMediaSource> source;
    ASSERT_EQ(S_OK, CreateCameraMediaSourceForRing(kCamera, UniquePrefix().c_str(), IID_PPV_ARGS(&source)));
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(S_OK, source->CreatePresentationDescriptor(&presentation));
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> descriptor;
    ASSERT_EQ(S_OK, presentation->GetStreamDescriptorByIndex(0, &selected, &descriptor));
    ComPtr<IMFMediaTypeHandler> handler;
    ASSERT_EQ(S_OK, descriptor->GetMediaTypeHandler(&handler));
    ASSERT_EQ(S_OK, handler->SetCurrentMediaType(type.Get()));
    EXPECT_EQ(static_cast<HRESULT>(MF_E_INVALIDMEDIATYPE), source->Start(presentation.Get(), nullptr, nullptr));
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(static_cast<HRESULT>(MF_E_NO_EVENTS_AVAILABLE), source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event));
    EXPECT_EQ(S_OK, source->Shutdown());
    source.Reset();
    EXPECT_EQ(S_OK, ::MFShutdown());
}

TEST(MediaSourceLifetimeTest, AStartedSourceReleasedWithoutShutdownLeavesNothingBehind) {
    // The stream knows its source without a reference, so a client that
    // forgets Shutdown does not keep both alive for ever (nor the
    // delivery thread, nor the module).
    ASSERT_EQ(S_OK, ::MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET));
    const LONG before = CBaseObject::ObjectsActive();
    {
        ComPtr<IMFMediaSource> source;
        ASSERT_EQ(S_OK, CreateCameraMediaSourceForRing(kCamera, UniquePrefix().c_str(), IID_PPV_ARGS(&source)));
        EXPECT_EQ(before + 2, CBaseObject::ObjectsActive()) << "the source and its stream";
        ComPtr<IMFPresentationDescriptor> presentation;
        ASSERT_EQ(S_OK, source->CreatePresentationDescriptor(&presentation));
        ASSERT_EQ(S_OK, source->Start(presentation.Get(), nullptr, nullptr));
        EXPECT_EQ(MESourceStarted, TypeOf(NextEvent(source.Get()).Get()));
        ComPtr<IMFMediaStream> stream = StreamOf(NextEvent(source.Get()).Get());
        ASSERT_TRUE(stream);
        ASSERT_EQ(S_OK, stream->RequestSample(nullptr));
        source.Reset();
        // The client still holds the stream: its source is gone.
        ComPtr<IMFMediaSource> back;
        EXPECT_EQ(static_cast<HRESULT>(MF_E_SHUTDOWN), stream->GetMediaSource(&back));
    }
    EXPECT_EQ(before, CBaseObject::ObjectsActive());
    EXPECT_EQ(S_OK, ::MFShutdown());
}

TEST_F(MediaSourceTest, ATypeSetWhileRunningIsTheTypeOfEveryLaterSample) {
    // NV12 1280x720 first; then, while the source runs, RGB32 1920x1080
    // through the reader. A client that sizes its copy from the current
    // type must get samples of that size from the change on.
    OpenReader(MFVideoFormat_NV12);
    std::vector<BYTE> bytes;
    LONGLONG time = 0;
    ReadOne(&bytes, &time);
    ASSERT_EQ(1280u * 720u * 3u / 2u, bytes.size());

    ComPtr<IMFMediaType> type;
    ASSERT_EQ(S_OK, ::MFCreateMediaType(&type));
    ASSERT_EQ(S_OK, type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
    ASSERT_EQ(S_OK, type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32));
    ASSERT_EQ(S_OK, ::MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, 1920, 1080));
    ASSERT_EQ(S_OK, ::MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, 30, 1));
    ASSERT_EQ(S_OK, m_reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.Get()));
    ComPtr<IMFMediaType> current;
    ASSERT_EQ(S_OK, m_reader->GetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, &current));
    EXPECT_EQ(1920u * 1080u * 4u, ::MFGetAttributeUINT32(current.Get(), MF_MT_SAMPLE_SIZE, 0));

    // Samples requested before the change may still come in the old
    // size; a few frames later every one has the new size.
    const size_t newSize = 1920u * 1080u * 4u;
    int reads = 0;
    while (reads < 30 && bytes.size() != newSize) {
        ReadOne(&bytes, &time);
        ++reads;
    }
    ASSERT_EQ(newSize, bytes.size()) << "after " << reads << " samples";
    for (int i = 0; i < 10; ++i) {
        ReadOne(&bytes, &time);
        EXPECT_EQ(newSize, bytes.size()) << i;
    }
}

TEST_F(MediaSourceTest, ATypeChangeWhileRunningIsAnnouncedBeforeItsSamplesAndOneItCannotDeliverEndsDelivery) {
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(S_OK, m_source->CreatePresentationDescriptor(&presentation));
    ASSERT_EQ(S_OK, m_source->Start(presentation.Get(), nullptr, nullptr));
    EXPECT_EQ(MESourceStarted, TypeOf(NextEvent(m_source.Get()).Get()));
    ComPtr<IMFMediaStream> stream = StreamOf(NextEvent(m_source.Get()).Get());
    ASSERT_TRUE(stream);
    EXPECT_EQ(MEStreamStarted, TypeOf(NextEvent(stream.Get()).Get()));
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> descriptor;
    ASSERT_EQ(S_OK, presentation->GetStreamDescriptorByIndex(0, &selected, &descriptor));
    ComPtr<IMFMediaTypeHandler> handler;
    ASSERT_EQ(S_OK, descriptor->GetMediaTypeHandler(&handler));

    // RGB32 568x320: announced with the type, then samples of its size.
    ComPtr<IMFMediaType> rgb;
    ASSERT_EQ(S_OK, camera_media_types::CreateType(camera_media_types::TypeIndexOf(PixelFormat::Rgb32, 3, 0), &rgb));
    ASSERT_EQ(568u * 320u * 4u, ::MFGetAttributeUINT32(rgb.Get(), MF_MT_SAMPLE_SIZE, 0));
    ASSERT_EQ(S_OK, handler->SetCurrentMediaType(rgb.Get()));
    ASSERT_EQ(S_OK, stream->RequestSample(nullptr));
    ComPtr<IMFMediaEvent> changed = NextEvent(stream.Get());
    ASSERT_EQ(MEStreamFormatChanged, TypeOf(changed.Get()));
    PROPVARIANT value;
    ::PropVariantInit(&value);
    ASSERT_EQ(S_OK, changed->GetValue(&value));
    ASSERT_EQ(VT_UNKNOWN, value.vt);
    ComPtr<IUnknown> rgbUnknown;
    ASSERT_EQ(S_OK, rgb.As(&rgbUnknown));
    EXPECT_EQ(rgbUnknown.Get(), value.punkVal);
    ::PropVariantClear(&value);
    ComPtr<IMFMediaEvent> delivered = NextEvent(stream.Get());
    ASSERT_EQ(MEMediaSample, TypeOf(delivered.Get()));
    ::PropVariantInit(&value);
    ASSERT_EQ(S_OK, delivered->GetValue(&value));
    ComPtr<IMFSample> sample;
    ASSERT_EQ(S_OK, value.punkVal->QueryInterface(IID_PPV_ARGS(&sample)));
    ::PropVariantClear(&value);
    DWORD length = 0;
    ASSERT_EQ(S_OK, sample->GetTotalLength(&length));
    EXPECT_EQ(568u * 320u * 4u, length);
    sample.Reset();

    // Bottom-up rows, which the stream cannot write: no more samples of
    // any size, an error instead.
    ComPtr<IMFMediaType> bottomUp;
    ASSERT_EQ(S_OK, ::MFCreateMediaType(&bottomUp));
    ASSERT_EQ(S_OK, rgb->CopyAllItems(bottomUp.Get()));
    ASSERT_EQ(S_OK, bottomUp->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(-568 * 4)));
    ASSERT_EQ(S_OK, handler->SetCurrentMediaType(bottomUp.Get()));
    ASSERT_EQ(S_OK, stream->RequestSample(nullptr));
    ComPtr<IMFMediaEvent> failed = NextEvent(stream.Get());
    ASSERT_EQ(MEError, TypeOf(failed.Get()));
    HRESULT status = S_OK;
    ASSERT_EQ(S_OK, failed->GetStatus(&status));
    EXPECT_EQ(static_cast<HRESULT>(MF_E_INVALIDMEDIATYPE), status);
}

TEST_F(MediaSourceTest, AReaderPlaceThatFreesUpLaterIsTakenAndTheWritersFramesCome) {
    // Every reader place of the ring is taken when the source starts (as
    // while places of readers that went away still age out): the source
    // shows its standby frame, and takes the place once it is free.
    std::unique_ptr<CFrameRingReader> others[frame_ring::kMaxReaders];
    for (auto& other : others) {
        other.reset(new CFrameRingReader());
        ASSERT_EQ(S_OK, other->Create(kCamera, m_prefix.c_str()));
    }
    OpenReader(MFVideoFormat_RGB32);
    std::vector<BYTE> bytes;
    LONGLONG time = 0;
    ReadOne(&bytes, &time);
    TestWriter writer(m_prefix);
    writer.Start();
    for (int i = 0; i < 5; ++i) {
        ReadOne(&bytes, &time);
    }
    others[3].reset();

    std::vector<BYTE> expected(1280u * 720u * 4u);
    DrawRgb32(expected.data(), 1280, 720, 1280 * 4);
    int reads = 0;
    while (reads < kMaxReads && bytes != expected) {
        ReadOne(&bytes, &time);
        ++reads;
    }
    EXPECT_TRUE(bytes == expected) << "the writer's picture never came in " << reads << " samples ("
                                   << writer.Committed() << " frames committed)";
    writer.Stop();
}

namespace {

// What the stream answered when asked for its source while that source
// was being destroyed.
struct SourceAskedWhileItGoes {
    IMFMediaStream* stream = nullptr;
    bool asked = false;
    HRESULT hr = S_OK;
    IMFMediaSource* handedOut = nullptr;
};

void AskTheStreamForItsSource(void* context) {
    auto* probe = static_cast<SourceAskedWhileItGoes*>(context);
    probe->asked = true;
    // Never released: a source handed out here is already being freed.
    probe->hr = probe->stream->GetMediaSource(&probe->handedOut);
}

}  // namespace

TEST(MediaSourceLifetimeTest, TheStreamNeverHandsOutASourceWhoseLastReferenceIsGone_DestructionHookInjected) {
    // A client releases the source without Shutdown while another thread
    // asks the stream for it: the hook asks at the worst moment, when the
    // source's count has reached 0 and its destruction has begun.
    ASSERT_EQ(S_OK, ::MFStartup(MF_VERSION, MFSTARTUP_NOSOCKET));
    ComPtr<IMFMediaSource> source;
    ASSERT_EQ(S_OK, CreateCameraMediaSourceForRing(kCamera, UniquePrefix().c_str(), IID_PPV_ARGS(&source)));
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(S_OK, source->CreatePresentationDescriptor(&presentation));
    ASSERT_EQ(S_OK, source->Start(presentation.Get(), nullptr, nullptr));
    EXPECT_EQ(MESourceStarted, TypeOf(NextEvent(source.Get()).Get()));
    ComPtr<IMFMediaStream> stream = StreamOf(NextEvent(source.Get()).Get());
    ASSERT_TRUE(stream);

    SourceAskedWhileItGoes probe;
    probe.stream = stream.Get();
    CCameraMediaSource::SetDestructionHookForTesting(&AskTheStreamForItsSource, &probe);
    source.Reset();
    CCameraMediaSource::SetDestructionHookForTesting(nullptr, nullptr);
    EXPECT_TRUE(probe.asked);
    EXPECT_EQ(static_cast<HRESULT>(MF_E_SHUTDOWN), probe.hr);
    EXPECT_EQ(nullptr, probe.handedOut);
    stream.Reset();
    EXPECT_EQ(S_OK, ::MFShutdown());
}

TEST_F(MediaSourceTest, AStartThatFailsAnnouncesNothing_ThreadStartFailureInjected) {
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(S_OK, m_source->CreatePresentationDescriptor(&presentation));
    CCameraMediaStream::FailNextThreadStartForTesting(E_OUTOFMEMORY);
    EXPECT_EQ(E_OUTOFMEMORY, m_source->Start(presentation.Get(), nullptr, nullptr));
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(static_cast<HRESULT>(MF_E_NO_EVENTS_AVAILABLE), m_source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event))
        << "event " << TypeOf(event.Get());

    // The next start is the stream's first announcement.
    ASSERT_EQ(S_OK, m_source->Start(presentation.Get(), nullptr, nullptr));
    EXPECT_EQ(MESourceStarted, TypeOf(NextEvent(m_source.Get()).Get()));
    ComPtr<IMFMediaEvent> announced = NextEvent(m_source.Get());
    EXPECT_EQ(MENewStream, TypeOf(announced.Get()));
    ComPtr<IMFMediaStream> stream = StreamOf(announced.Get());
    ASSERT_TRUE(stream);
    EXPECT_EQ(MEStreamStarted, TypeOf(NextEvent(stream.Get()).Get()));
}

namespace {

// The SID the third ACE of a ring object's DACL allows, as text; what
// SYSTEM and LOCAL SERVICE in the first two have is the frame ring's
// tests' concern.
std::wstring UserAllowedOn(const std::wstring& objectName) {
    const UniqueHandle section(::OpenFileMappingW(READ_CONTROL, FALSE, objectName.c_str()));
    if (!section) {
        return L"(no such object: " + std::to_wstring(::GetLastError()) + L")";
    }
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(section.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                          nullptr, &descriptor) != ERROR_SUCCESS) {
        return L"(no descriptor)";
    }
    const UniqueResource<frame_ring::LocalMemoryTraits> descriptorOwner(descriptor);
    void* ace = nullptr;
    wchar_t* text = nullptr;
    if (dacl == nullptr || dacl->AceCount != 3 || !::GetAce(dacl, 2, &ace) ||
        !::ConvertSidToStringSidW(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, &text)) {
        return L"(not three ACEs)";
    }
    const std::wstring sid = text;
    ::LocalFree(text);
    return sid;
}

}  // namespace

TEST_F(MediaSourceTest, TheOwnerGivenInItsAttributesDecidesWhoseRingItReadsAndWhoMayUseIt) {
    // What the Frame Server is expected to do with the attributes of a
    // virtual camera: hand them to the source, its own activation object,
    // before it starts. Without them the ring is this process's user's.
    const wchar_t owner[] = L"S-1-5-21-1004336348-1177238915-682003330-1003";
    ComPtr<IMFActivate> activate;
    ASSERT_EQ(S_OK, m_source.As(&activate));
    ASSERT_EQ(S_OK, activate->SetString(kCameraOwnerAttribute, owner));
    ComPtr<IMFMediaSource> activated;
    ASSERT_EQ(S_OK, activate->ActivateObject(IID_PPV_ARGS(&activated)));
    EXPECT_EQ(m_source.Get(), activated.Get());

    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(S_OK, m_source->CreatePresentationDescriptor(&presentation));
    ASSERT_EQ(S_OK, m_source->Start(presentation.Get(), nullptr, nullptr));
    EXPECT_EQ(MESourceStarted, TypeOf(NextEvent(m_source.Get()).Get()));
    ComPtr<IMFMediaStream> stream = StreamOf(NextEvent(m_source.Get()).Get());
    ASSERT_TRUE(stream);
    // A sample: the delivery thread has made the ring by then.
    ASSERT_EQ(S_OK, stream->RequestSample(nullptr));
    EXPECT_EQ(MEStreamStarted, TypeOf(NextEvent(stream.Get()).Get()));
    EXPECT_EQ(MEMediaSample, TypeOf(NextEvent(stream.Get()).Get()));

    EXPECT_EQ(owner, UserAllowedOn(m_prefix + L"QMCapture." + owner + L".Camera3.Frames"));
    frame_ring::OwnerSid self = {};
    ASSERT_EQ(S_OK, frame_ring::ProcessUserSid(&self));
    const UniqueHandle ofThisUser(
        ::OpenFileMappingW(READ_CONTROL, FALSE, (m_prefix + L"QMCapture." + self.text + L".Camera3.Frames").c_str()));
    EXPECT_FALSE(ofThisUser) << "a ring of this process's user was made too";
    EXPECT_EQ(S_OK, activate->ShutdownObject());
    EXPECT_EQ(S_OK, activate->DetachObject());
}

TEST_F(MediaSourceTest, AnOwnerThatIsNoUsersAccountStartsNothing) {
    // Everyone: a ring that every user could open.
    ComPtr<IMFActivate> activate;
    ASSERT_EQ(S_OK, m_source.As(&activate));
    ASSERT_EQ(S_OK, activate->SetString(kCameraOwnerAttribute, L"S-1-1-0"));
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(S_OK, m_source->CreatePresentationDescriptor(&presentation));
    EXPECT_EQ(E_INVALIDARG, m_source->Start(presentation.Get(), nullptr, nullptr));
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(static_cast<HRESULT>(MF_E_NO_EVENTS_AVAILABLE), m_source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event));
}
