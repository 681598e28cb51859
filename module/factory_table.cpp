// The classes this module serves, in row order.
#include "settings/capture_device_ids.h"
#include "capture/zrv_capture.h"
#include "mf/media_source_ids.h"
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
    // The Media Foundation camera's media sources, one per camera: plain
    // COM classes, which Windows 11's Frame Server creates for the virtual
    // cameras qmcamera makes.
    {L"QM Capture Device Media Source 1", &CLSID_CameraMediaSources[0], &CreateCameraMediaSourceOf<1>, nullptr, nullptr},
    {L"QM Capture Device Media Source 2", &CLSID_CameraMediaSources[1], &CreateCameraMediaSourceOf<2>, nullptr, nullptr},
    {L"QM Capture Device Media Source 3", &CLSID_CameraMediaSources[2], &CreateCameraMediaSourceOf<3>, nullptr, nullptr},
    {L"QM Capture Device Media Source 4", &CLSID_CameraMediaSources[3], &CreateCameraMediaSourceOf<4>, nullptr, nullptr},
    {L"QM Capture Device Media Source 5", &CLSID_CameraMediaSources[4], &CreateCameraMediaSourceOf<5>, nullptr, nullptr},
    {L"QM Capture Device Media Source 6", &CLSID_CameraMediaSources[5], &CreateCameraMediaSourceOf<6>, nullptr, nullptr},
    {L"QM Capture Device Media Source 7", &CLSID_CameraMediaSources[6], &CreateCameraMediaSourceOf<7>, nullptr, nullptr},
    {L"QM Capture Device Media Source 8", &CLSID_CameraMediaSources[7], &CreateCameraMediaSourceOf<8>, nullptr, nullptr},
};
const int g_cTemplates = static_cast<int>(sizeof(g_Templates) / sizeof(g_Templates[0]));
