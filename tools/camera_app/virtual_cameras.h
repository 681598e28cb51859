// The Media Foundation virtual cameras qmcamera keeps while it runs: one
// per camera of the machine's list, made with MFCreateVirtualCamera
// (Windows 11, mfsensorgroup.dll) as software camera sources of this
// module's media source classes, living for this session and this user,
// and started with a callback that logs what the Frame Server reports.
// Each carries its owner, the SID of the user who runs qmcamera, as the
// attribute kCameraOwnerAttribute, from which its media source learns
// whose frame ring to read (mf/camera_owner.h).
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "ring/frame_ring.h"
#include "framework/com_util.h"
#include "mf/mf_interfaces.h"

namespace qmcamera {

// The process exit code and line for a system without virtual cameras.
inline constexpr int kExitNoVirtualCameras = 3;
inline constexpr char kNoVirtualCamerasLine[] =
    "qmcamera: Media Foundation virtual cameras need Windows 11 (build 22000 or later); this system has none";

// MFCreateVirtualCamera from mfsensorgroup.dll, or null where the system
// lacks either (Windows 10 and before, Wine). The library stays loaded.
qm_mf::CreateVirtualCameraFn LoadCreateVirtualCamera();

class CVirtualCameras {
public:
    // Cameras of `owner` (frame_ring::ProcessUserSid for qmcamera's).
    CVirtualCameras(qm_mf::CreateVirtualCameraFn create, const frame_ring::OwnerSid& owner)
        : m_create(create), m_owner(owner) {}
    ~CVirtualCameras();
    CVirtualCameras(const CVirtualCameras&) = delete;
    CVirtualCameras& operator=(const CVirtualCameras&) = delete;

    // Creates camera 1..8 under `name` ("{CLSID}" of its media source),
    // names its owner on it and starts it. The platform's error when it
    // refuses.
    [[nodiscard]] HRESULT Add(int camera, const wchar_t* name);

    // Stops and removes every camera made.
    void RemoveAll();

private:
    qm_mf::CreateVirtualCameraFn m_create;
    frame_ring::OwnerSid m_owner;
    std::vector<Microsoft::WRL::ComPtr<IMFVirtualCamera>> m_cameras;
};

}  // namespace qmcamera
