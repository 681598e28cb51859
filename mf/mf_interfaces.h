// The Media Foundation declarations of Windows 11's virtual cameras that
// Debian's mingw-w64 headers lack (mfvirtualcamera.h, IMFMediaStream2, the
// MF_DEVICESTREAM_* attributes), written from the public SDK declarations
// in /work/shared/mf-facts.md. A wrong GUID or method order would fail only
// on Windows, so nothing here is written from memory.
//
// GUIDs and enumerations carry names of their own (namespace qm_mf), so
// that they never collide with a Windows SDK that declares them; the
// interfaces keep the SDK's names and step aside where the SDK's header
// has declared them already.
#pragma once

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfobjects.h>
#include <devpropdef.h>

// IKsControl with its IID bound to the type (mingw-w64's ksproxy.h
// declares it without).
#include <devicetopology.h>

#if WINVER < 0x0602
#error "mf/ needs the Windows 8 declarations of mfidl.h: build the target with qm_use_media_foundation()"
#endif

namespace qm_mf {

// MF_DEVICESTREAM_STREAM_CATEGORY
inline constexpr GUID kDeviceStreamCategory = {
    0x2939e7b8, 0xa62e, 0x4579, {0xb6, 0x74, 0xd4, 0x07, 0x3d, 0xfa, 0xbb, 0xba}};
// MF_DEVICESTREAM_STREAM_ID
inline constexpr GUID kDeviceStreamId = {0x11bd5120, 0xd124, 0x446b, {0x88, 0xe6, 0x17, 0x06, 0x02, 0x57, 0xff, 0xf9}};
// MF_DEVICESTREAM_FRAMESERVER_SHARED
inline constexpr GUID kDeviceStreamFrameServerShared = {
    0x1cb378e9, 0xb279, 0x41d4, {0xaf, 0x97, 0x34, 0xa2, 0x43, 0xe6, 0x83, 0x20}};
// MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES
inline constexpr GUID kDeviceStreamFrameSourceTypes = {
    0x17145fd1, 0x1b2b, 0x423c, {0x80, 0x01, 0x2b, 0x68, 0x33, 0xed, 0x35, 0x88}};
// PINNAME_VIDEO_CAPTURE (PIN_CATEGORY_CAPTURE)
inline constexpr GUID kPinNameVideoCapture = {
    0xfb6c4281, 0x0353, 0x11d1, {0x90, 0x5f, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};

// MFFrameSourceTypes: the one a colour camera sets.
inline constexpr UINT32 kFrameSourceTypeColor = 1;

// IKsControl's IID, for QueryInterface.
inline constexpr GUID kIidKsControl = {0x28f54685, 0x06fd, 0x11d2, {0xb2, 0x7a, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}};

// MFVirtualCameraType, MFVirtualCameraLifetime, MFVirtualCameraAccess.
enum class VirtualCameraType : int { SoftwareCameraSource = 0 };
enum class VirtualCameraLifetime : int { Session = 0, System = 1 };
enum class VirtualCameraAccess : int { CurrentUser = 0, AllUsers = 1 };

}  // namespace qm_mf

#ifndef __IMFMediaStream2_INTERFACE_DEFINED__
#define __IMFMediaStream2_INTERFACE_DEFINED__
// A stream that its source's client can stop and restart on its own.
MIDL_INTERFACE("C5BC37D6-75C7-46A1-A132-81B5F723C20F")
IMFMediaStream2 : public IMFMediaStream {
    virtual HRESULT STDMETHODCALLTYPE SetStreamState(MF_STREAM_STATE value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamState(MF_STREAM_STATE * value) = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IMFMediaStream2, 0xc5bc37d6, 0x75c7, 0x46a1, 0xa1, 0x32, 0x81, 0xb5, 0xf7, 0x23, 0xc2, 0x0f)
#endif
#endif

#ifndef __IMFCameraSyncObject_INTERFACE_DEFINED__
#define __IMFCameraSyncObject_INTERFACE_DEFINED__
MIDL_INTERFACE("6338B23A-3042-49D2-A3EA-EC0FED815407")
IMFCameraSyncObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE WaitOnSignal(DWORD timeOutInMs) = 0;
    virtual void STDMETHODCALLTYPE Shutdown() = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IMFCameraSyncObject, 0x6338b23a, 0x3042, 0x49d2, 0xa3, 0xea, 0xec, 0x0f, 0xed, 0x81, 0x54, 0x07)
#endif
#endif

#ifndef __IMFVirtualCamera_INTERFACE_DEFINED__
#define __IMFVirtualCamera_INTERFACE_DEFINED__
// The virtual camera MFCreateVirtualCamera makes: IMFAttributes, then these
// methods in this order.
MIDL_INTERFACE("1C08A864-EF6C-4C75-AF59-5F2D68DA9563")
IMFVirtualCamera : public IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE AddDeviceSourceInfo(LPCWSTR deviceSourceInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddProperty(const DEVPROPKEY* key, DEVPROPTYPE type, const BYTE* data,
                                                  ULONG dataSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddRegistryEntry(LPCWSTR entryName, LPCWSTR subkeyPath, DWORD regType,
                                                       const BYTE* data, ULONG dataSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start(IMFAsyncCallback * callback) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Remove() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource * *mediaSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendCameraProperty(REFGUID propertySet, ULONG propertyId, ULONG propertyFlags,
                                                         void* propertyPayload, ULONG propertyPayloadLength,
                                                         void* data, ULONG dataLength, ULONG* dataWritten) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSyncEvent(REFGUID kseventSet, ULONG kseventId, ULONG kseventFlags,
                                                      HANDLE eventHandle,
                                                      IMFCameraSyncObject** cameraSyncObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSyncSemaphore(REFGUID kseventSet, ULONG kseventId, ULONG kseventFlags,
                                                          HANDLE semaphoreHandle, LONG semaphoreAdjustment,
                                                          IMFCameraSyncObject** cameraSyncObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IMFVirtualCamera, 0x1c08a864, 0xef6c, 0x4c75, 0xaf, 0x59, 0x5f, 0x2d, 0x68, 0xda, 0x95, 0x63)
#endif
#endif

namespace qm_mf {

// MFCreateVirtualCamera of mfsensorgroup.dll (STDAPI: __stdcall on x86),
// loaded with GetProcAddress: the import library lacks it, and systems
// before Windows 11 lack the function.
using CreateVirtualCameraFn = HRESULT(STDAPICALLTYPE*)(VirtualCameraType type, VirtualCameraLifetime lifetime,
                                                       VirtualCameraAccess access, LPCWSTR friendlyName,
                                                       LPCWSTR sourceId, const GUID* categories,
                                                       ULONG categoryCount, IMFVirtualCamera** virtualCamera);

}  // namespace qm_mf
