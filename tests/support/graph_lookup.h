// What tests and benchmarks look up to build filter graphs: the platform's
// sample grabber and null renderer, a filter's pins, and video input
// devices by friendly name through the system device enumerator.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

namespace qmtest {

// The platform's sample grabber and null renderer (qedit). The import
// library strmiids defines both; mingw-w64's headers do not declare them.
EXTERN_C const CLSID CLSID_SampleGrabber;
EXTERN_C const CLSID CLSID_NullRenderer;

// The first pin of a filter in a direction, through the filter's own pin
// enumerator; VFW_E_NOT_FOUND when it has none.
HRESULT GetPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin);

// The first video input device of a friendly name;
// HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when there is none.
HRESULT FindVideoInputDevice(const wchar_t* friendlyName, IMoniker** moniker);
// All friendly names in the video input device category.
std::vector<std::wstring> ListVideoInputDevices();

}  // namespace qmtest
