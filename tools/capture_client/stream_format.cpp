#include "tools/capture_client/stream_format.h"

#include <dshow.h>
#include <dvdmedia.h>
#include <wrl/client.h>

#include <cmath>
#include <cstdlib>

#include "framework/com_util.h"
#include "framework/memory_dib.h"
#include "tools/capture_client/console_output.h"
#include "tools/capture_client/yuv_frame.h"

using Microsoft::WRL::ComPtr;

namespace qmcapture {

namespace {

constexpr double kReferenceTimePerSecond = 10000000.0;

struct SubtypeEntry {
    const GUID* guid;
    const wchar_t* name;
};

const SubtypeEntry kSubtypeNames[] = {
    // The formats the client reads are named by yuv_frame.h.
    {&MEDIASUBTYPE_ARGB32, L"ARGB32"}, {&MEDIASUBTYPE_RGB565, L"RGB565"}, {&MEDIASUBTYPE_RGB555, L"RGB555"},
    {&MEDIASUBTYPE_RGB8, L"RGB8"}, {&MEDIASUBTYPE_UYVY, L"UYVY"},
    {&MEDIASUBTYPE_IYUV, L"IYUV"}, {&MEDIASUBTYPE_YV12, L"YV12"}, {&MEDIASUBTYPE_MJPG, L"MJPG"},
};

// Preference among the formats of the size, lower first, when no subtype
// was asked for: the device's current subtype (QM Capture Device's stored
// OutputFormat), then the ones the client reads, then the rest (the graph
// may put a converter before the grabber). A subtype asked for is the only
// one taken (-1 for the others).
int SubtypePreference(const GUID& subtype, const GUID& requested, const GUID& current) {
    if (requested != GUID_NULL) {
        return subtype == requested ? 0 : -1;
    }
    if (subtype == current) {
        return 0;
    }
    SampleFormat readable = SampleFormat::kRgb24;
    return SampleFormatOfSubtype(subtype, &readable) ? 1 : 2;
}

int AbsHeight(const BITMAPINFOHEADER& header) { return header.biHeight < 0 ? -header.biHeight : header.biHeight; }

bool IsUncompressedRgb(const BITMAPINFOHEADER& header) {
    return header.biCompression == BI_RGB || header.biCompression == BI_BITFIELDS;
}

DWORD RgbImageSize(const BITMAPINFOHEADER& header) {
    return static_cast<DWORD>(DibStride(header.biWidth, header.biBitCount) * AbsHeight(header));
}

// Whether a size range of the caps record (output size limits with their
// granularity) contains the size.
bool RangeAllows(const VIDEO_STREAM_CONFIG_CAPS& caps, int width, int height) {
    const SIZE& min = caps.MinOutputSize;
    const SIZE& max = caps.MaxOutputSize;
    if (width < min.cx || width > max.cx || height < min.cy || height > max.cy) {
        return false;
    }
    const int gx = caps.OutputGranularityX;
    const int gy = caps.OutputGranularityY;
    return (gx <= 0 || (width - min.cx) % gx == 0) && (gy <= 0 || (height - min.cy) % gy == 0);
}

// The sizes offered (in `subtype` only, unless it is GUID_NULL).
std::wstring SizeList(const std::vector<StreamCapability>& capabilities, const GUID& subtype) {
    std::wstring text;
    for (const StreamCapability& cap : capabilities) {
        if (subtype != GUID_NULL && cap.subtype != subtype) {
            continue;
        }
        const std::wstring item = FormatText(L"%dx%d", cap.width, cap.height);
        if (text.find(item) != std::wstring::npos) {
            continue;
        }
        text += (text.empty() ? L"" : L", ") + item;
    }
    return text.empty() ? L"none" : text;
}

}  // namespace

void FreeMediaTypeContents(AM_MEDIA_TYPE* type) {
    if (type == nullptr) {
        return;
    }
    if (type->cbFormat != 0) {
        ::CoTaskMemFree(type->pbFormat);
        type->cbFormat = 0;
        type->pbFormat = nullptr;
    }
    if (type->pUnk != nullptr) {
        type->pUnk->Release();
        type->pUnk = nullptr;
    }
}

void MediaTypeDeleter::operator()(AM_MEDIA_TYPE* type) const {
    FreeMediaTypeContents(type);
    ::CoTaskMemFree(type);
}

bool GetVideoFormatView(const AM_MEDIA_TYPE& type, VideoFormatView* view) {
    if (type.pbFormat == nullptr) {
        return false;
    }
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
        view->header = &info->bmiHeader;
        view->avgTimePerFrame = &info->AvgTimePerFrame;
        return true;
    }
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        auto* info = reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat);
        view->header = &info->bmiHeader;
        view->avgTimePerFrame = &info->AvgTimePerFrame;
        return true;
    }
    return false;
}

std::wstring SubtypeName(const GUID& subtype) {
    SampleFormat format = SampleFormat::kRgb24;
    if (SampleFormatOfSubtype(subtype, &format)) {
        return SampleFormatName(format);
    }
    for (const SubtypeEntry& entry : kSubtypeNames) {
        if (*entry.guid == subtype) {
            return entry.name;
        }
    }
    wchar_t text[40] = {};
    ::StringFromGUID2(subtype, text, ARRAYSIZE(text));
    return text;
}

std::wstring FrameRateText(REFERENCE_TIME interval) {
    if (interval <= 0) {
        return L"?";
    }
    return FormatText(L"%.2f", kReferenceTimePerSecond / static_cast<double>(interval));
}

HRESULT ReadCapabilities(IAMStreamConfig* config, std::vector<StreamCapability>* capabilities) {
    RETURN_HR_IF_NULL(E_POINTER, capabilities);
    capabilities->clear();
    RETURN_HR_IF_NULL(E_POINTER, config);
    int count = 0;
    int size = 0;
    RETURN_IF_FAILED(config->GetNumberOfCapabilities(&count, &size));
    // Only video caps records are understood here.
    RETURN_HR_IF(E_UNEXPECTED, size != sizeof(VIDEO_STREAM_CONFIG_CAPS));
    std::vector<StreamCapability> read;
    for (int i = 0; i < count; ++i) {
        StreamCapability cap;
        cap.index = i;
        AM_MEDIA_TYPE* raw = nullptr;
        RETURN_IF_FAILED(config->GetStreamCaps(i, &raw, reinterpret_cast<BYTE*>(&cap.caps)));
        const UniqueMediaType type(raw);
        RETURN_HR_IF_NULL(E_UNEXPECTED, type);
        VideoFormatView view;
        if (GetVideoFormatView(*type, &view)) {
            cap.width = view.header->biWidth;
            cap.height = AbsHeight(*view.header);
        } else {
            cap.width = cap.caps.InputSize.cx;
            cap.height = cap.caps.InputSize.cy;
        }
        cap.subtype = type->subtype;
        read.push_back(cap);
    }
    *capabilities = std::move(read);
    return S_OK;
}

std::wstring DescribeFormat(const AM_MEDIA_TYPE& type) {
    VideoFormatView view;
    if (!GetVideoFormatView(type, &view)) {
        return SubtypeName(type.subtype) + L" (no video header)";
    }
    return FormatText(L"%ldx%d %ls, %ls fps (AvgTimePerFrame %lld)", static_cast<long>(view.header->biWidth),
                      AbsHeight(*view.header), SubtypeName(type.subtype).c_str(),
                      FrameRateText(*view.avgTimePerFrame).c_str(),
                      static_cast<long long>(*view.avgTimePerFrame));
}

std::wstring FormatCapabilities(const std::wstring& deviceName, const std::vector<StreamCapability>& capabilities,
                                const AM_MEDIA_TYPE* current) {
    std::wstring text = FormatText(L"%ls: %u formats\n", deviceName.c_str(),
                                   static_cast<unsigned>(capabilities.size()));
    text += L"  index  size       subtype  frame rate (fps)  frame interval (100 ns)\n";
    for (const StreamCapability& cap : capabilities) {
        const std::wstring size = FormatText(L"%dx%d", cap.width, cap.height);
        const std::wstring rates = FrameRateText(cap.caps.MaxFrameInterval) + L" - " +
                                   FrameRateText(cap.caps.MinFrameInterval);
        const std::wstring intervals = FormatText(L"%lld - %lld", static_cast<long long>(cap.caps.MinFrameInterval),
                                                  static_cast<long long>(cap.caps.MaxFrameInterval));
        text += FormatText(L"  %5d  %-9ls  %-7ls  %-16ls  %ls\n", cap.index, size.c_str(),
                           SubtypeName(cap.subtype).c_str(), rates.c_str(), intervals.c_str());
    }
    if (current != nullptr) {
        text += L"current: " + DescribeFormat(*current) + L"\n";
    }
    return text;
}

HRESULT FindStreamConfig(IBaseFilter* filter, IPin* capturePin, IAMStreamConfig** config) {
    RETURN_HR_IF_NULL(E_POINTER, config);
    *config = nullptr;
    if (capturePin != nullptr && SUCCEEDED(capturePin->QueryInterface(IID_PPV_ARGS(config)))) {
        return S_OK;
    }
    RETURN_HR_IF_NULL(E_POINTER, filter);
    return filter->QueryInterface(IID_PPV_ARGS(config));
}

HRESULT ChooseStreamFormat(IAMStreamConfig* config, const FormatRequest& request, UniqueMediaType* chosen,
                           std::wstring* error) {
    RETURN_HR_IF_NULL(E_POINTER, chosen);
    RETURN_HR_IF_NULL(E_POINTER, error);
    chosen->reset();
    RETURN_HR_IF_NULL(E_POINTER, config);

    UniqueMediaType current;
    {
        AM_MEDIA_TYPE* raw = nullptr;
        if (SUCCEEDED(config->GetFormat(&raw))) {
            current.reset(raw);
        }
    }
    VideoFormatView currentView;
    const bool haveCurrent = current && GetVideoFormatView(*current, &currentView);

    const bool currentSubtype = request.subtype == GUID_NULL || (current && current->subtype == request.subtype);
    if (request.width == 0 && request.frameRate <= 0.0 && currentSubtype) {
        if (!current) {
            *error = L"the device reports no current format (IAMStreamConfig::GetFormat failed)";
            return E_FAIL;
        }
        *chosen = std::move(current);
        return S_OK;
    }

    std::vector<StreamCapability> capabilities;
    HRESULT hr = ReadCapabilities(config, &capabilities);
    if (FAILED(hr)) {
        *error = FormatText(L"cannot read the device's formats (0x%08lX)", static_cast<unsigned long>(hr));
        return hr;
    }

    int width = request.width;
    int height = request.height;
    if (width == 0) {
        if (haveCurrent) {
            width = currentView.header->biWidth;
            height = AbsHeight(*currentView.header);
        } else if (!capabilities.empty()) {
            width = capabilities.front().width;
            height = capabilities.front().height;
        }
    }

    // A format of exactly that size is preferred; a size range that
    // contains it is the fallback for devices that describe ranges.
    const GUID currentType = current ? current->subtype : GUID_NULL;
    const StreamCapability* best = nullptr;
    bool exact = false;
    int bestPreference = 0;
    for (const StreamCapability& cap : capabilities) {
        const bool isExact = cap.width == width && cap.height == height;
        const int preference = SubtypePreference(cap.subtype, request.subtype, currentType);
        if (preference < 0 || (!isExact && !RangeAllows(cap.caps, width, height))) {
            continue;
        }
        // Among equals, the device's order decides.
        if (best == nullptr || (isExact && !exact) || (isExact == exact && preference < bestPreference)) {
            best = &cap;
            exact = isExact;
            bestPreference = preference;
        }
    }
    if (best == nullptr && request.subtype == GUID_NULL) {
        *error = FormatText(L"the device offers no %dx%d format (it offers %ls)", width, height,
                            SizeList(capabilities, GUID_NULL).c_str());
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    }
    if (best == nullptr) {
        const std::wstring name = SubtypeName(request.subtype);
        *error = FormatText(L"the device offers no %dx%d %ls format (%ls sizes: %ls)", width, height, name.c_str(),
                            name.c_str(), SizeList(capabilities, request.subtype).c_str());
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    }

    AM_MEDIA_TYPE* raw = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps = {};
    hr = config->GetStreamCaps(best->index, &raw, reinterpret_cast<BYTE*>(&caps));
    if (FAILED(hr) || raw == nullptr) {
        *error = FormatText(L"cannot read format %d of the device (0x%08lX)", best->index,
                            static_cast<unsigned long>(hr));
        return FAILED(hr) ? hr : E_UNEXPECTED;
    }
    UniqueMediaType type(raw);
    VideoFormatView view;
    if (!GetVideoFormatView(*type, &view)) {
        *error = FormatText(L"format %d of the device has no video header", best->index);
        return VFW_E_INVALIDMEDIATYPE;
    }

    REFERENCE_TIME interval = 0;
    if (request.frameRate > 0.0) {
        interval = static_cast<REFERENCE_TIME>(std::llround(kReferenceTimePerSecond / request.frameRate));
        const bool belowMin = caps.MinFrameInterval > 0 && interval < caps.MinFrameInterval;
        const bool aboveMax = caps.MaxFrameInterval > 0 && interval > caps.MaxFrameInterval;
        if (belowMin || aboveMax) {
            *error = FormatText(L"the device offers %dx%d at %ls to %ls fps, not %.2f fps", width, height,
                                FrameRateText(caps.MaxFrameInterval).c_str(),
                                FrameRateText(caps.MinFrameInterval).c_str(), request.frameRate);
            return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
        }
    } else if (haveCurrent && *currentView.avgTimePerFrame > 0) {
        interval = *currentView.avgTimePerFrame;
    } else if (caps.MinFrameInterval > 0) {
        // A caps type may carry no frame time at all; a format set with 0
        // would ask the device for no pacing.
        interval = caps.MinFrameInterval;
    } else {
        interval = *view.avgTimePerFrame;
    }

    BITMAPINFOHEADER& header = *view.header;
    header.biWidth = width;
    header.biHeight = header.biHeight < 0 ? -height : height;
    SampleLayout layout;
    if (SampleLayoutFromHeader(header, &layout)) {
        header.biSizeImage = static_cast<DWORD>(SampleBytes(layout));
        type->lSampleSize = header.biSizeImage;
    } else if (IsUncompressedRgb(header) && header.biBitCount != 0) {
        header.biSizeImage = RgbImageSize(header);
        type->lSampleSize = header.biSizeImage;
    }
    *view.avgTimePerFrame = interval;

    hr = config->SetFormat(type.get());
    if (FAILED(hr)) {
        *error = L"the device refused " + DescribeFormat(*type) +
                 FormatText(L" (SetFormat 0x%08lX)", static_cast<unsigned long>(hr));
        return hr;
    }
    raw = nullptr;
    if (SUCCEEDED(config->GetFormat(&raw)) && raw != nullptr) {
        chosen->reset(raw);
    } else {
        *chosen = std::move(type);
    }
    return S_OK;
}

}  // namespace qmcapture
