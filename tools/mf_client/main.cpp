// qmmfclient: a Media Foundation client of the camera's media source, as a
// program of its own. It creates the source of a camera through its
// registered class (CoCreateInstance, as the Frame Server does), reads it
// through a source reader and reports what came: the format, the number
// of frames, whether their times rise, and the mean luma (NV12) or grey
// (RGB32) of the middle of each quarter of the last frame, so that a
// test can tell which picture it was.
//
// Usage: qmmfclient [--camera N] [--frames N] [--size WxH] [--format nv12|rgb32]
// Exit status: 0 when every frame came with rising times, 1 otherwise,
// 2 on a usage error.
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "mf/media_source_ids.h"

using Microsoft::WRL::ComPtr;

namespace qmmfclient {

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Options {
    int camera = 1;
    int frames = 60;
    UINT32 width = 1280;
    UINT32 height = 720;
    bool nv12 = true;
};

bool Parse(int argc, wchar_t** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const std::wstring value = argv[++i];
        if (name == L"--camera") {
            options->camera = static_cast<int>(std::wcstol(value.c_str(), nullptr, 10));
            if (CameraMediaSourceClassId(options->camera) == nullptr) {
                return false;
            }
        } else if (name == L"--frames") {
            options->frames = static_cast<int>(std::wcstol(value.c_str(), nullptr, 10));
            if (options->frames < 1 || options->frames > 100000) {
                return false;
            }
        } else if (name == L"--size") {
            unsigned width = 0;
            unsigned height = 0;
            if (std::swscanf(value.c_str(), L"%ux%u", &width, &height) != 2 || width == 0 || height == 0) {
                return false;
            }
            options->width = width;
            options->height = height;
        } else if (name == L"--format") {
            if (value != L"nv12" && value != L"rgb32") {
                return false;
            }
            options->nv12 = value == L"nv12";
        } else {
            return false;
        }
    }
    return true;
}

// Chooses the native type of the asked format and size.
HRESULT ChooseType(IMFSourceReader* reader, const Options& options) {
    const DWORD stream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
    for (DWORD i = 0;; ++i) {
        ComPtr<IMFMediaType> type;
        const HRESULT hr = reader->GetNativeMediaType(stream, i, &type);
        if (FAILED(hr)) {
            return hr == MF_E_NO_MORE_TYPES ? MF_E_INVALIDMEDIATYPE : hr;
        }
        GUID subtype = GUID_NULL;
        UINT32 width = 0;
        UINT32 height = 0;
        if (SUCCEEDED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) &&
            SUCCEEDED(MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &width, &height)) &&
            IsEqualGUID(subtype, options.nv12 ? MFVideoFormat_NV12 : MFVideoFormat_RGB32) &&
            width == options.width && height == options.height) {
            return reader->SetCurrentMediaType(stream, nullptr, type.Get());
        }
    }
}

// Mean of the first plane's values (luma, or RGB32's grey) over a 16x16
// block in the middle of quarter (qx, qy).
double QuarterMean(const BYTE* data, const Options& options, int qx, int qy) {
    const UINT32 bytesPerPixel = options.nv12 ? 1 : 4;
    const UINT32 stride = options.width * bytesPerPixel;
    const UINT32 cx = options.width / 4 + static_cast<UINT32>(qx) * options.width / 2;
    const UINT32 cy = options.height / 4 + static_cast<UINT32>(qy) * options.height / 2;
    double sum = 0;
    int count = 0;
    for (UINT32 y = cy - 8; y < cy + 8; ++y) {
        for (UINT32 x = cx - 8; x < cx + 8; ++x) {
            const BYTE* p = data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * bytesPerPixel;
            sum += options.nv12 ? p[0] : (p[0] + p[1] + p[2]) / 3.0;
            ++count;
        }
    }
    return sum / count;
}

int Run(const Options& options) {
    ComPtr<IMFMediaSource> source;
    HRESULT hr = ::CoCreateInstance(*CameraMediaSourceClassId(options.camera), nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&source));
    if (FAILED(hr)) {
        std::fprintf(stderr, "qmmfclient: the media source of camera %d could not be created (0x%08lX)\n",
                     options.camera, static_cast<unsigned long>(hr));
        return kExitFailure;
    }
    ComPtr<IMFSourceReader> reader;
    hr = ::MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader);
    if (SUCCEEDED(hr)) {
        hr = ChooseType(reader.Get(), options);
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "qmmfclient: no source reader for %ux%u %s (0x%08lX)\n", options.width, options.height,
                     options.nv12 ? "NV12" : "RGB32", static_cast<unsigned long>(hr));
        source->Shutdown();
        return kExitFailure;
    }
    std::printf("format: %s %ux%u\n", options.nv12 ? "NV12" : "RGB32", options.width, options.height);
    int frames = 0;
    int misses = 0;
    bool rising = true;
    LONGLONG first = 0;
    LONGLONG last = 0;
    double quarters[4] = {};
    while (frames < options.frames && misses < 100) {
        DWORD flags = 0;
        LONGLONG time = 0;
        ComPtr<IMFSample> sample;
        hr = reader->ReadSample(static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM), 0, nullptr, &flags, &time,
                                &sample);
        if (FAILED(hr) || sample == nullptr) {
            ++misses;
            continue;
        }
        rising = rising && (frames == 0 || time > last);
        first = frames == 0 ? time : first;
        last = time;
        ++frames;
        if (frames == options.frames) {
            ComPtr<IMFMediaBuffer> buffer;
            BYTE* data = nullptr;
            DWORD length = 0;
            const DWORD needed = options.width * options.height * (options.nv12 ? 1 : 4);
            if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer)) &&
                SUCCEEDED(buffer->Lock(&data, nullptr, &length))) {
                if (length >= needed) {
                    for (int q = 0; q < 4; ++q) {
                        quarters[q] = QuarterMean(data, options, q % 2, q / 2);
                    }
                }
                buffer->Unlock();
            }
        }
    }
    const LONGLONG now = ::MFGetSystemTime();
    source->Shutdown();
    std::printf("frames: %d\n", frames);
    std::printf("times rising: %s\n", rising ? "yes" : "no");
    std::printf("first time: %lld, last time: %lld, system time at the end: %lld (100 ns)\n", first, last, now);
    std::printf("quarters of the last frame (top left, top right, bottom left, bottom right): %.1f %.1f %.1f %.1f\n",
                quarters[0], quarters[1], quarters[2], quarters[3]);
    return frames == options.frames && rising ? kExitSuccess : kExitFailure;
}

}  // namespace

}  // namespace qmmfclient

int wmain(int argc, wchar_t** argv) {
    qmmfclient::Options options;
    if (!qmmfclient::Parse(argc, argv, &options)) {
        std::fprintf(stderr, "Usage: qmmfclient [--camera N] [--frames N] [--size WxH] [--format nv12|rgb32]\n");
        return qmmfclient::kExitUsage;
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) || FAILED(::MFStartup(MF_VERSION, MFSTARTUP_LITE))) {
        std::fprintf(stderr, "qmmfclient: Media Foundation could not be started\n");
        return qmmfclient::kExitFailure;
    }
    const int result = qmmfclient::Run(options);
    ::MFShutdown();
    ::CoUninitialize();
    return result;
}
