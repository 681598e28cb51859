// The classes this module serves, in row order.
#include "capture/capture_device_ids.h"
#include "capture/zrv_capture.h"
#include "module/module.h"
#include "module/registration.h"
#include "page/capture_device_prop.h"
#include "page/capture_window_prop.h"

// Cameras 2..8 are classes of their own; they join the video input
// category only while the machine's camera list names them (see
// DllRegisterServer), under the name the list gives.
const CFactoryTemplate g_Templates[] = {
    {kCaptureDeviceName, &CLSID_CaptureDevice, &CZRV_Capture::CreateInstance, nullptr, &sudCaptureDevice},
    {kCaptureDevicePropName, &CLSID_CaptureDeviceProp, &CCaptureDeviceProp::CreateInstance, nullptr, nullptr},
    {kCaptureWindowPropName, &CLSID_CaptureWindowProp, &CCaptureWindowProp::CreateInstance, nullptr, nullptr},
    {L"QM Capture Device 2", &CLSID_CaptureDeviceCameras[0], &CZRV_Capture::CreateCamera<2>, nullptr, nullptr},
    {L"QM Capture Device 3", &CLSID_CaptureDeviceCameras[1], &CZRV_Capture::CreateCamera<3>, nullptr, nullptr},
    {L"QM Capture Device 4", &CLSID_CaptureDeviceCameras[2], &CZRV_Capture::CreateCamera<4>, nullptr, nullptr},
    {L"QM Capture Device 5", &CLSID_CaptureDeviceCameras[3], &CZRV_Capture::CreateCamera<5>, nullptr, nullptr},
    {L"QM Capture Device 6", &CLSID_CaptureDeviceCameras[4], &CZRV_Capture::CreateCamera<6>, nullptr, nullptr},
    {L"QM Capture Device 7", &CLSID_CaptureDeviceCameras[5], &CZRV_Capture::CreateCamera<7>, nullptr, nullptr},
    {L"QM Capture Device 8", &CLSID_CaptureDeviceCameras[6], &CZRV_Capture::CreateCamera<8>, nullptr, nullptr},
};
const int g_cTemplates = static_cast<int>(sizeof(g_Templates) / sizeof(g_Templates[0]));
