// qmmfclient: a Media Foundation client of the camera's media source, as a
// program of its own. It creates the source of a camera through its
// registered class (CoCreateInstance, as the Frame Server does), reads it
// through a source reader and reports what came: the format, the number
// of frames, whether their times rise, and the mean luma (YUV) or grey
// (RGB) of the middle of each quarter of the last frame, so that a test
// can tell which picture it was. With --save it writes the last frame as a
// PNG file, converted as qmcapture converts the DirectShow device's
// frames, so that the two cameras' pictures can be compared.
//
// Usage: qmmfclient [--camera N] [--frames N] [--size WxH]
//                   [--format nv12|yuy2|i420|rgb32|rgb24] [--save FILE]
// Exit status: 0 when every frame came with rising times (and the frame
// was saved, when asked), 1 otherwise, 2 on a usage error.
#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "framework/com_util.h"
#include "mf/media_source_ids.h"
#include "tools/capture_client/png_file.h"
#include "tools/capture_client/yuv_frame.h"

using Microsoft::WRL::ComPtr;

namespace qmmfclient {

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

using qmcapture::SampleFormat;

struct Options {
    int camera = 1;
    int frames = 60;
    UINT32 width = 1280;
    UINT32 height = 720;
    SampleFormat format = SampleFormat::kNv12;
    // The PNG file of the last frame; empty: none.
    std::wstring save;
};

// Media Foundation's subtype of each format, as a client of the camera
// names it: the client's own table, not the device's, so that it checks
// what the camera offers rather than trusting it.
const GUID& SubtypeOf(SampleFormat format) {
    switch (format) {
    case SampleFormat::kRgb24:
        return MFVideoFormat_RGB24;
    case SampleFormat::kNv12:
        return MFVideoFormat_NV12;
    case SampleFormat::kYuy2:
        return MFVideoFormat_YUY2;
    case SampleFormat::kI420:
        return MFVideoFormat_I420;
    case SampleFormat::kRgb32:
        return MFVideoFormat_RGB32;
    }
    return MFVideoFormat_NV12;
}

bool IsRgb(SampleFormat format) {
    return format == SampleFormat::kRgb24 || format == SampleFormat::kRgb32;
}

// How a frame of the options' format and size lies in a sample: as
// DirectShow lays it out, but top-down in every format (a positive
// default stride).
qmcapture::SampleLayout LayoutOf(const Options& options) {
    qmcapture::SampleLayout layout;
    layout.format = options.format;
    layout.width = static_cast<int>(options.width);
    layout.height = static_cast<int>(options.height);
    layout.bottomUp = false;
    return layout;
}

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text != L'\0'; ++text) {
        narrow += static_cast<char>(*text);
    }
    return narrow;
}

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
            if (!qmcapture::ParseSampleFormat(value, &options->format)) {
                return false;
            }
        } else if (name == L"--save") {
            options->save = value;
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
            IsEqualGUID(subtype, SubtypeOf(options.format)) &&
            width == options.width && height == options.height) {
            return reader->SetCurrentMediaType(stream, nullptr, type.Get());
        }
    }
}

// Mean of the luma (YUV) or grey (RGB) over a 16x16 block in the middle
// of quarter (qx, qy).
double QuarterMean(const BYTE* data, const Options& options, int qx, int qy) {
    // Bytes from one pixel's luma or blue to the next, in the first plane.
    UINT32 step = 1;
    switch (options.format) {
    case SampleFormat::kRgb24:
        step = 3;
        break;
    case SampleFormat::kRgb32:
        step = 4;
        break;
    case SampleFormat::kYuy2:
        step = 2;
        break;
    case SampleFormat::kNv12:
    case SampleFormat::kI420:
        break;
    }
    // Every width the camera offers is a multiple of 4: no row padding.
    const UINT32 stride = options.width * step;
    const UINT32 cx = options.width / 4 + static_cast<UINT32>(qx) * options.width / 2;
    const UINT32 cy = options.height / 4 + static_cast<UINT32>(qy) * options.height / 2;
    double sum = 0;
    int count = 0;
    for (UINT32 y = cy - 8; y < cy + 8; ++y) {
        for (UINT32 x = cx - 8; x < cx + 8; ++x) {
            const BYTE* p = data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * step;
            sum += IsRgb(options.format) ? (p[0] + p[1] + p[2]) / 3.0 : p[0];
            ++count;
        }
    }
    return sum / count;
}

// Writes a frame as a top-down 24-bit PNG file.
HRESULT SaveFrame(const Options& options, const BYTE* data, size_t bytes) {
    const size_t rowBytes = static_cast<size_t>(options.width) * 3;
    std::vector<BYTE> picture(rowBytes * options.height);
    RETURN_IF_FAILED(qmcapture::ConvertToBgr24(LayoutOf(options), data, bytes, picture.data(), rowBytes,
                                               picture.size()));
    return qmcapture::WritePngFile(options.save, options.width, options.height, GUID_WICPixelFormat24bppBGR,
                                   static_cast<UINT>(rowBytes),
                                   [&](UINT y, BYTE*) { return picture.data() + y * rowBytes; });
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
    const std::string name = Narrow(qmcapture::SampleFormatName(options.format));
    ComPtr<IMFSourceReader> reader;
    hr = ::MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader);
    if (SUCCEEDED(hr)) {
        hr = ChooseType(reader.Get(), options);
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "qmmfclient: no source reader for %ux%u %s (0x%08lX)\n", options.width, options.height,
                     name.c_str(), static_cast<unsigned long>(hr));
        source->Shutdown();
        return kExitFailure;
    }
    std::printf("format: %s %ux%u\n", name.c_str(), options.width, options.height);
    int frames = 0;
    int misses = 0;
    bool rising = true;
    LONGLONG first = 0;
    LONGLONG last = 0;
    double quarters[4] = {};
    HRESULT saved = S_FALSE;
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
            const size_t needed = qmcapture::SampleBytes(LayoutOf(options));
            if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer)) &&
                SUCCEEDED(buffer->Lock(&data, nullptr, &length))) {
                if (needed != 0 && length >= needed) {
                    for (int q = 0; q < 4; ++q) {
                        quarters[q] = QuarterMean(data, options, q % 2, q / 2);
                    }
                    if (!options.save.empty()) {
                        saved = SaveFrame(options, data, length);
                    }
                } else {
                    saved = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
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
    const bool savedAsAsked = options.save.empty() || saved == S_OK;
    if (!options.save.empty()) {
        if (saved == S_OK) {
            std::printf("saved: the last frame\n");
        } else {
            std::fprintf(stderr, "qmmfclient: the last frame could not be saved (0x%08lX)\n",
                         static_cast<unsigned long>(saved));
        }
    }
    return frames == options.frames && rising && savedAsAsked ? kExitSuccess : kExitFailure;
}

}  // namespace

}  // namespace qmmfclient

int wmain(int argc, wchar_t** argv) {
    qmmfclient::Options options;
    if (!qmmfclient::Parse(argc, argv, &options)) {
        std::fprintf(stderr, "Usage: qmmfclient [--camera N] [--frames N] [--size WxH]\n"
                             "                  [--format nv12|yuy2|i420|rgb32|rgb24] [--save FILE]\n");
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
