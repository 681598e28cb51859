// Video input devices as the system device enumerator lists them, and the
// capture filter of one of them, opened by friendly name.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <string>
#include <vector>

namespace qmcapture {

struct VideoDeviceInfo {
    std::wstring friendlyName;
    // Empty for devices that have no device path (software devices).
    std::wstring devicePath;
};

// Lists CLSID_VideoInputDeviceCategory; an empty list when there is none.
HRESULT ListVideoInputDevices(std::vector<VideoDeviceInfo>* devices);

// The listing that --list prints.
std::wstring FormatDeviceList(const std::vector<VideoDeviceInfo>& devices);

// Binds the first device whose friendly name equals `name` (ignoring
// case). Returns HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when there is none.
HRESULT OpenVideoInputDevice(const std::wstring& name, IBaseFilter** filter);

// The output pin of category PIN_CATEGORY_CAPTURE, else the first output pin.
HRESULT FindCapturePin(IBaseFilter* filter, IPin** pin);

}  // namespace qmcapture
