// The classes this module serves, in row order.
#include "capture/capture_device_ids.h"
#include "capture/zrv_capture.h"
#include "module/module.h"
#include "module/registration.h"
#include "page/capture_device_prop.h"
#include "page/capture_window_prop.h"

const CFactoryTemplate g_Templates[] = {
    {kCaptureDeviceName, &CLSID_CaptureDevice, &CZRV_Capture::CreateInstance, nullptr, &sudCaptureDevice},
    {kCaptureDevicePropName, &CLSID_CaptureDeviceProp, &CCaptureDeviceProp::CreateInstance, nullptr, nullptr},
    {kCaptureWindowPropName, &CLSID_CaptureWindowProp, &CCaptureWindowProp::CreateInstance, nullptr, nullptr},
};
const int g_cTemplates = static_cast<int>(sizeof(g_Templates) / sizeof(g_Templates[0]));
