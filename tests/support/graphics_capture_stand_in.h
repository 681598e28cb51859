// The graphics capture stand-in (tests/window/graphics_capture_stand_in/)
// as a test or benchmark uses it: loaded from beside the program, and
// registered for its lifetime under the real class names of the Windows
// Runtime's capture classes, where Wine's RoGetActivationFactory looks:
// HKEY_LOCAL_MACHINE\Software\Microsoft\WindowsRuntime\ActivatableClassId
// in the program's own registry view of the build's Wine prefix.
//
// The key is written into the prefix, not into a redirected
// HKEY_LOCAL_MACHINE (RegOverridePredefKey), although Wine's activation
// follows such a redirection: Direct3D then finds no display adapter
// (D3D11CreateDevice answers DXGI_ERROR_UNSUPPORTED), since Wine's DXGI
// reads the adapters from HKEY_LOCAL_MACHINE as well. Every registration
// is removed again, and one left by a program that ended early is removed
// before each new one and by RemoveRegistration.
#pragma once

#include <windows.h>

#include "tests/support/graphics_capture_stand_in_control.h"
#include "window/graphics_capture_interfaces.h"

namespace qmtest {

class GraphicsCaptureStandIn {
public:
    // Loads the stand-in and puts its switches and counts back.
    GraphicsCaptureStandIn();
    // Removes the registration; the library stays loaded (objects of a
    // reader may still hold its code).
    ~GraphicsCaptureStandIn();
    GraphicsCaptureStandIn(const GraphicsCaptureStandIn&) = delete;
    GraphicsCaptureStandIn& operator=(const GraphicsCaptureStandIn&) = delete;

    // S_OK when the library and its functions were found.
    HRESULT LoadResult() const { return m_loaded; }
    // Registers the three classes under their real names.
    HRESULT Register();
    // The registration of any stand-in, this one's or a leftover.
    static void RemoveRegistration();

    GraphicsCaptureStandInControl& Control() const { return *m_control; }
    // The stand-in's CreateDirect3D11DeviceFromDXGIDevice, for the
    // reader's ForTesting seam.
    qm_wgc::CreateDirect3D11DeviceFromDxgiFunction DeviceInterop() const { return m_deviceInterop; }
    HRESULT DeliverFrames(int count) const { return m_deliverFrames(count); }
    void CloseItems() const { m_closeItems(); }

private:
    HRESULT m_loaded = E_FAIL;
    bool m_registered = false;
    GraphicsCaptureStandInControl* m_control = nullptr;
    qm_wgc::CreateDirect3D11DeviceFromDxgiFunction m_deviceInterop = nullptr;
    StandInDeliverFramesFunction m_deliverFrames = nullptr;
    StandInCloseItemsFunction m_closeItems = nullptr;
    wchar_t m_path[MAX_PATH] = {};
};

}  // namespace qmtest
