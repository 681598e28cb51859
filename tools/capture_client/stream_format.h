// The device's formats through IAMStreamConfig: listing them, and choosing
// a size and frame rate the way capture applications do (GetStreamCaps,
// write size and AvgTimePerFrame into the returned type, SetFormat).
#pragma once

#include <windows.h>
#include <strmif.h>

#include <memory>
#include <string>
#include <vector>

namespace qmcapture {

// Frees a task-memory AM_MEDIA_TYPE handed out by a DirectShow interface.
struct MediaTypeDeleter {
    void operator()(AM_MEDIA_TYPE* type) const;
};
using UniqueMediaType = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter>;

// Frees the format block and pUnk of a record the caller owns.
void FreeMediaTypeContents(AM_MEDIA_TYPE* type);

// The video header inside a FORMAT_VideoInfo or FORMAT_VideoInfo2 type.
struct VideoFormatView {
    BITMAPINFOHEADER* header = nullptr;
    REFERENCE_TIME* avgTimePerFrame = nullptr;
};
bool GetVideoFormatView(const AM_MEDIA_TYPE& type, VideoFormatView* view);

// "RGB24", "YUY2", ... or the GUID as text.
std::wstring SubtypeName(const GUID& subtype);
// "30.00" for 333333; "?" for 0.
std::wstring FrameRateText(REFERENCE_TIME interval);

struct StreamCapability {
    int index = 0;
    int width = 0;
    int height = 0;
    GUID subtype = GUID_NULL;
    VIDEO_STREAM_CONFIG_CAPS caps = {};
};

HRESULT ReadCapabilities(IAMStreamConfig* config, std::vector<StreamCapability>* capabilities);

// The listing that --caps prints, with the current format when known.
std::wstring FormatCapabilities(const std::wstring& deviceName, const std::vector<StreamCapability>& capabilities,
                                const AM_MEDIA_TYPE* current);

// One line describing a format: "1136x640 RGB24, 30.00 fps (AvgTimePerFrame 333333)".
std::wstring DescribeFormat(const AM_MEDIA_TYPE& type);

struct FormatRequest {
    // 0 keeps the current size.
    int width = 0;
    int height = 0;
    // 0 keeps the current frame rate.
    double frameRate = 0.0;
    // The media subtype; GUID_NULL takes the current subtype when the
    // device offers it at the size, else the first subtype the device
    // offers there that the client reads (yuv_frame.h), else the first.
    GUID subtype = GUID_NULL;
};

// Applies the request through SetFormat: the GetStreamCaps entry of the
// size (and subtype) with the requested frame time. With nothing requested
// (or only the current subtype), leaves the device as it is. `chosen` receives the format now set (GetFormat), and
// `error` explains a failure in words.
HRESULT ChooseStreamFormat(IAMStreamConfig* config, const FormatRequest& request, UniqueMediaType* chosen,
                           std::wstring* error);

// The IAMStreamConfig of the capture pin, else of the filter.
HRESULT FindStreamConfig(IBaseFilter* filter, IPin* capturePin, IAMStreamConfig** config);

}  // namespace qmcapture
