// The class identifiers of the Media Foundation camera's media sources, one
// per camera 1..8, and the entry that creates one for the module's class
// factory. No Media Foundation header is needed here, so the module's
// factory table includes it as it is.
#pragma once

#include <windows.h>

#include "framework/unknown.h"

inline constexpr GUID CLSID_CameraMediaSources[] = {
    // {50BD923D-3E88-49D7-90CE-298C9084357E}: camera 1
    {0x50bd923d, 0x3e88, 0x49d7, {0x90, 0xce, 0x29, 0x8c, 0x90, 0x84, 0x35, 0x7e}},
    // {C5CA897E-6E83-4CB7-BFDC-35DD71A14D70}: camera 2
    {0xc5ca897e, 0x6e83, 0x4cb7, {0xbf, 0xdc, 0x35, 0xdd, 0x71, 0xa1, 0x4d, 0x70}},
    // {DF777F9A-84C6-435D-B31D-63AE7B68689B}: camera 3
    {0xdf777f9a, 0x84c6, 0x435d, {0xb3, 0x1d, 0x63, 0xae, 0x7b, 0x68, 0x68, 0x9b}},
    // {375C7D00-0654-4906-BB3B-06CC5061370D}: camera 4
    {0x375c7d00, 0x0654, 0x4906, {0xbb, 0x3b, 0x06, 0xcc, 0x50, 0x61, 0x37, 0x0d}},
    // {402117F6-D04A-4611-86FF-5B1CF013526C}: camera 5
    {0x402117f6, 0xd04a, 0x4611, {0x86, 0xff, 0x5b, 0x1c, 0xf0, 0x13, 0x52, 0x6c}},
    // {D1D3FF8A-F0A3-4476-A6D8-3D3474FB23F7}: camera 6
    {0xd1d3ff8a, 0xf0a3, 0x4476, {0xa6, 0xd8, 0x3d, 0x34, 0x74, 0xfb, 0x23, 0xf7}},
    // {59A54573-E5AD-43CC-A783-131ACC3F8372}: camera 7
    {0x59a54573, 0xe5ad, 0x43cc, {0xa7, 0x83, 0x13, 0x1a, 0xcc, 0x3f, 0x83, 0x72}},
    // {88D3264F-100B-4A6D-90A6-70D5C90B050A}: camera 8
    {0x88d3264f, 0x100b, 0x4a6d, {0x90, 0xa6, 0x70, 0xd5, 0xc9, 0x0b, 0x05, 0x0a}},
};
inline constexpr int kCameraMediaSourceCount =
    static_cast<int>(sizeof(CLSID_CameraMediaSources) / sizeof(CLSID_CameraMediaSources[0]));

// The user whose camera a media source is: the SID, as text, of the user
// whose qmcamera created the virtual camera, which qmcamera sets under this
// key on the camera it creates (IMFVirtualCamera is an attribute store)
// and the media source reads from its own attributes (camera_owner.h).
// {BCB41585-E05F-452D-88BC-2430387EED75}
inline constexpr GUID kCameraOwnerAttribute = {
    0xbcb41585, 0xe05f, 0x452d, {0x88, 0xbc, 0x24, 0x30, 0x38, 0x7e, 0xed, 0x75}};

// The media source class of camera 1..8; nullptr for any other number.
inline const GUID* CameraMediaSourceClassId(int camera) {
    return camera >= 1 && camera <= kCameraMediaSourceCount ? &CLSID_CameraMediaSources[camera - 1] : nullptr;
}

// A new media source of `camera` reading the ring under Global\ (the
// class factory's entry). Aggregation is refused (CLASS_E_NOAGGREGATION).
CUnknown* WINAPI CreateCameraMediaSourceObject(int camera, IUnknown* outer, HRESULT* phr);

template <int Camera>
CUnknown* WINAPI CreateCameraMediaSourceOf(IUnknown* outer, HRESULT* phr) {
    return CreateCameraMediaSourceObject(Camera, outer, phr);
}
