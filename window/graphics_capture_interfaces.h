// The Windows.Graphics.Capture declarations the graphics capture reader
// uses, written by hand: Debian's mingw-w64 10 has no header for them
// (windows.graphics.capture.h, windows.graphics.capture.interop.h,
// windows.graphics.directx.direct3d11.interop.h are missing, and its
// windows.foundation.h does not compile as C++, so IClosable is declared
// here too).
//
// Sources. The interfaces, their IIDs and their method order are the
// Windows SDK's (the Windows metadata, Windows.Graphics.Capture.winmd and
// Windows.Foundation.winmd as the SDK's generated headers lay them out;
// the interop interfaces from the SDK's *.interop.h headers and their
// documentation pages). Methods are listed in metadata order, which is the
// vtable order after IInspectable's (or IUnknown's, for the interop
// interfaces); a method the reader never calls keeps its slot with the
// parameter types reduced to what its ABI passes. Nothing here can be
// checked against Windows on the machine that builds it: a wrong IID
// fails only on Windows, as "not available" (the activation or the
// QueryInterface answers E_NOINTERFACE), and a wrong slot would call the
// wrong method, so every interface has been written out in full up to its
// last slot.
//
// Types carry the SDK's names inside namespace qm_wgc, so that they never
// collide with a Windows SDK that declares them.
#pragma once

#include <windows.h>
#include <eventtoken.h>
#include <hstring.h>
#include <inspectable.h>

// DXGI's device, which CreateDirect3D11DeviceFromDXGIDevice takes.
#include <dxgi.h>

namespace qm_wgc {

// The runtime classes whose activation factories the reader asks for.
inline constexpr wchar_t kGraphicsCaptureSessionClass[] = L"Windows.Graphics.Capture.GraphicsCaptureSession";
inline constexpr wchar_t kGraphicsCaptureItemClass[] = L"Windows.Graphics.Capture.GraphicsCaptureItem";
inline constexpr wchar_t kCaptureFramePoolClass[] = L"Windows.Graphics.Capture.Direct3D11CaptureFramePool";

// Windows.Graphics.SizeInt32.
struct SizeInt32 {
    INT32 Width;
    INT32 Height;
};

// Windows.Foundation.TimeSpan: 100-ns units.
struct TimeSpan {
    INT64 Duration;
};

// Windows.Graphics.DirectX.DirectXPixelFormat: the values are DXGI_FORMAT's.
// The one frame format the reader asks for.
enum class DirectXPixelFormat : INT32 {
    B8G8R8A8UIntNormalized = 87,
};

// Windows.Graphics.DirectX.Direct3D11.Direct3DMultisampleDescription and
// Direct3DSurfaceDescription.
struct Direct3DMultisampleDescription {
    INT32 Count;
    INT32 Quality;
};
struct Direct3DSurfaceDescription {
    DirectXPixelFormat Format;
    INT32 Width;
    INT32 Height;
    Direct3DMultisampleDescription MultisampleDescription;
};

struct IGraphicsCaptureItem;
struct IGraphicsCaptureSession;
struct IDirect3D11CaptureFrame;
struct IDirect3DDevice;
struct IDirect3DSurface;

// Windows.Foundation.IClosable {30D5A829-7FA4-4026-83BB-D75BAE4EA99E}
// (Windows.Foundation.winmd; the same IID is in mingw-w64's unusable
// windows.foundation.h).
MIDL_INTERFACE("30D5A829-7FA4-4026-83BB-D75BAE4EA99E")
IClosable : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// Windows.Foundation.TypedEventHandler<GraphicsCaptureItem, Object>, the
// delegate of GraphicsCaptureItem.Closed. A parameterised interface: its
// IID is derived from its signature by the documented rule (a version 5
// UUID, SHA-1 over the namespace 11F47AD5-7B73-42C0-ABAE-878B1E16ADEE and
// "pinterface({9de1c534-6ae1-11e0-84e1-18a905bcc53f};rc(Windows.Graphics.
// Capture.GraphicsCaptureItem;{79c3f95b-31f7-4ec2-a464-632ef5d30760});
// cinterface(IInspectable))"), the rule checked against an IID that
// mingw-w64's windows.media.speechsynthesis.h declares
// (IIterator<VoiceInformation>, 12D40A27-AE8D-5FB0-8FED-00165D59C6AB).
MIDL_INTERFACE("E9C610C0-A68C-5BD9-8021-8589346EEEE2")
IGraphicsCaptureItemClosedHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Invoke(IGraphicsCaptureItem * sender, IInspectable * args) = 0;
};

// Windows.Graphics.Capture.IGraphicsCaptureItem
// {79C3F95B-31F7-4EC2-A464-632EF5D30760}: what is captured (here a window).
// Its Size is the size of the window's frames.
MIDL_INTERFACE("79C3F95B-31F7-4EC2-A464-632EF5D30760")
IGraphicsCaptureItem : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Size(SizeInt32 * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE add_Closed(IGraphicsCaptureItemClosedHandler * handler,
                                                 EventRegistrationToken * token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_Closed(EventRegistrationToken token) = 0;
};

// IGraphicsCaptureItemInterop {3628E81B-3CAC-4C60-B7F4-23CE0E0C3356}
// (windows.graphics.capture.interop.h), on GraphicsCaptureItem's
// activation factory: an item for a window (Windows 10 1903 and later) or
// a monitor.
MIDL_INTERFACE("3628E81B-3CAC-4C60-B7F4-23CE0E0C3356")
IGraphicsCaptureItemInterop : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateForWindow(HWND window, REFIID riid, void** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR monitor, REFIID riid, void** result) = 0;
};

// Windows.Graphics.Capture.IGraphicsCaptureSession
// {814E42A9-F70F-4AD7-939B-FDDCC6EB880D}.
MIDL_INTERFACE("814E42A9-F70F-4AD7-939B-FDDCC6EB880D")
IGraphicsCaptureSession : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE StartCapture() = 0;
};

// Windows.Graphics.Capture.IGraphicsCaptureSession2
// {2C39AE40-7D2E-5044-804E-8B6799D4CF9E} (Windows 10 2004 and later):
// whether the pointer is drawn into the frames.
MIDL_INTERFACE("2C39AE40-7D2E-5044-804E-8B6799D4CF9E")
IGraphicsCaptureSession2 : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean value) = 0;
};

// Windows.Graphics.Capture.IGraphicsCaptureSession3
// {F2CDD966-22AE-5EA1-9596-3A289344C3BE} (Windows 10 build 20348 and
// later): whether the system draws its border around the captured window.
MIDL_INTERFACE("F2CDD966-22AE-5EA1-9596-3A289344C3BE")
IGraphicsCaptureSession3 : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean value) = 0;
};

// Windows.Graphics.Capture.IGraphicsCaptureSessionStatics
// {2224A540-5974-49AA-B232-0882536F4CB5}, on GraphicsCaptureSession's
// activation factory: whether the system can capture at all.
MIDL_INTERFACE("2224A540-5974-49AA-B232-0882536F4CB5")
IGraphicsCaptureSessionStatics : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE IsSupported(boolean * result) = 0;
};

// Windows.Graphics.Capture.IDirect3D11CaptureFramePool
// {24EB6D22-1975-422E-82E7-780DBD8DDF24}. FrameArrived's delegate and the
// DispatcherQueue are not used: frames are polled.
MIDL_INTERFACE("24EB6D22-1975-422E-82E7-780DBD8DDF24")
IDirect3D11CaptureFramePool : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Recreate(IDirect3DDevice * device, DirectXPixelFormat pixelFormat,
                                               INT32 numberOfBuffers, SizeInt32 size) = 0;
    // S_OK with a null frame when no new frame has come.
    virtual HRESULT STDMETHODCALLTYPE TryGetNextFrame(IDirect3D11CaptureFrame * *result) = 0;
    // TypedEventHandler<Direct3D11CaptureFramePool, Object>.
    virtual HRESULT STDMETHODCALLTYPE add_FrameArrived(IUnknown * handler, EventRegistrationToken * token) = 0;
    virtual HRESULT STDMETHODCALLTYPE remove_FrameArrived(EventRegistrationToken token) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateCaptureSession(IGraphicsCaptureItem * item,
                                                           IGraphicsCaptureSession * *result) = 0;
    // Windows.System.IDispatcherQueue.
    virtual HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable * *value) = 0;
};

// Windows.Graphics.Capture.IDirect3D11CaptureFramePoolStatics2
// {589B103F-6BBC-5DF5-A991-02E28B3B66D5} (Windows 10 1903 and later), on
// Direct3D11CaptureFramePool's activation factory: a pool whose frames
// any thread may take, without a dispatcher queue.
MIDL_INTERFACE("589B103F-6BBC-5DF5-A991-02E28B3B66D5")
IDirect3D11CaptureFramePoolStatics2 : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE CreateFreeThreaded(IDirect3DDevice * device, DirectXPixelFormat pixelFormat,
                                                         INT32 numberOfBuffers, SizeInt32 size,
                                                         IDirect3D11CaptureFramePool * *result) = 0;
};

// Windows.Graphics.Capture.IDirect3D11CaptureFrame
// {FA50C623-38DA-4B32-ACF3-FA9734AD800E}. ContentSize is the window's size
// when the frame was made, which differs from the pool's while the window
// is resized.
MIDL_INTERFACE("FA50C623-38DA-4B32-ACF3-FA9734AD800E")
IDirect3D11CaptureFrame : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Surface(IDirect3DSurface * *value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(TimeSpan * value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ContentSize(SizeInt32 * value) = 0;
};

// Windows.Graphics.DirectX.Direct3D11.IDirect3DDevice
// {A37624AB-8D5F-4650-9D3E-9EAE3D9BC670}: a Direct3D 11 device as the
// Windows Runtime passes it.
MIDL_INTERFACE("A37624AB-8D5F-4650-9D3E-9EAE3D9BC670")
IDirect3DDevice : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE Trim() = 0;
};

// Windows.Graphics.DirectX.Direct3D11.IDirect3DSurface
// {0BF4A146-13C1-4694-BEE3-7ABF5F97F0A0}: a frame's texture.
MIDL_INTERFACE("0BF4A146-13C1-4694-BEE3-7ABF5F97F0A0")
IDirect3DSurface : public IInspectable {
    virtual HRESULT STDMETHODCALLTYPE get_Description(Direct3DSurfaceDescription * value) = 0;
};

// IDirect3DDxgiInterfaceAccess {A9B3D012-3DF2-4EE3-B8D1-8695F457D3C1}
// (windows.graphics.directx.direct3d11.interop.h): the DXGI or Direct3D
// object behind a Windows Runtime device or surface.
MIDL_INTERFACE("A9B3D012-3DF2-4EE3-B8D1-8695F457D3C1")
IDirect3DDxgiInterfaceAccess : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetInterface(REFIID iid, void** p) = 0;
};

// CreateDirect3D11DeviceFromDXGIDevice, exported by d3d11.dll (Windows 10)
// and declared in windows.graphics.directx.direct3d11.interop.h: the
// Windows Runtime's device for a Direct3D 11 device.
using CreateDirect3D11DeviceFromDxgiFunction = HRESULT(WINAPI*)(IDXGIDevice* dxgiDevice, IInspectable** device);

}  // namespace qm_wgc

// mingw-w64's __uuidof reads the IID from a specialisation for each type.
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(qm_wgc::IClosable, 0x30d5a829, 0x7fa4, 0x4026, 0x83, 0xbb, 0xd7, 0x5b, 0xae, 0x4e, 0xa9, 0x9e)
__CRT_UUID_DECL(qm_wgc::IGraphicsCaptureItemClosedHandler, 0xe9c610c0, 0xa68c, 0x5bd9, 0x80, 0x21, 0x85, 0x89, 0x34,
                0x6e, 0xee, 0xe2)
__CRT_UUID_DECL(qm_wgc::IGraphicsCaptureItem, 0x79c3f95b, 0x31f7, 0x4ec2, 0xa4, 0x64, 0x63, 0x2e, 0xf5, 0xd3, 0x07, 0x60)
__CRT_UUID_DECL(qm_wgc::IGraphicsCaptureItemInterop, 0x3628e81b, 0x3cac, 0x4c60, 0xb7, 0xf4, 0x23, 0xce, 0x0e, 0x0c,
                0x33, 0x56)
__CRT_UUID_DECL(qm_wgc::IGraphicsCaptureSession, 0x814e42a9, 0xf70f, 0x4ad7, 0x93, 0x9b, 0xfd, 0xdc, 0xc6, 0xeb, 0x88,
                0x0d)
__CRT_UUID_DECL(qm_wgc::IGraphicsCaptureSession2, 0x2c39ae40, 0x7d2e, 0x5044, 0x80, 0x4e, 0x8b, 0x67, 0x99, 0xd4, 0xcf,
                0x9e)
__CRT_UUID_DECL(qm_wgc::IGraphicsCaptureSession3, 0xf2cdd966, 0x22ae, 0x5ea1, 0x95, 0x96, 0x3a, 0x28, 0x93, 0x44, 0xc3,
                0xbe)
__CRT_UUID_DECL(qm_wgc::IGraphicsCaptureSessionStatics, 0x2224a540, 0x5974, 0x49aa, 0xb2, 0x32, 0x08, 0x82, 0x53, 0x6f,
                0x4c, 0xb5)
__CRT_UUID_DECL(qm_wgc::IDirect3D11CaptureFramePool, 0x24eb6d22, 0x1975, 0x422e, 0x82, 0xe7, 0x78, 0x0d, 0xbd, 0x8d,
                0xdf, 0x24)
__CRT_UUID_DECL(qm_wgc::IDirect3D11CaptureFramePoolStatics2, 0x589b103f, 0x6bbc, 0x5df5, 0xa9, 0x91, 0x02, 0xe2, 0x8b,
                0x3b, 0x66, 0xd5)
__CRT_UUID_DECL(qm_wgc::IDirect3D11CaptureFrame, 0xfa50c623, 0x38da, 0x4b32, 0xac, 0xf3, 0xfa, 0x97, 0x34, 0xad, 0x80,
                0x0e)
__CRT_UUID_DECL(qm_wgc::IDirect3DDevice, 0xa37624ab, 0x8d5f, 0x4650, 0x9d, 0x3e, 0x9e, 0xae, 0x3d, 0x9b, 0xc6, 0x70)
__CRT_UUID_DECL(qm_wgc::IDirect3DSurface, 0x0bf4a146, 0x13c1, 0x4694, 0xbe, 0xe3, 0x7a, 0xbf, 0x5f, 0x97, 0xf0, 0xa0)
__CRT_UUID_DECL(qm_wgc::IDirect3DDxgiInterfaceAccess, 0xa9b3d012, 0x3df2, 0x4ee3, 0xb8, 0xd1, 0x86, 0x95, 0xf4, 0x57,
                0xd3, 0xc1)
#endif
