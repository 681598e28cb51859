// The functions of the Windows Runtime (combase.dll) and of Direct3D 11
// (d3d11.dll) that graphics capture calls, looked up when first needed
// rather than imported. The module must load and capture by copy and
// print where they are missing (Windows 7 has no combase.dll, editions
// and Wine lack the capture runtime): an imported DLL that the system
// lacks makes the loader refuse the whole module, and an imported function
// that Wine has only as a stub (CreateDirect3D11DeviceFromDXGIDevice)
// ends the process when called. The libraries stay loaded for the rest of
// the process once found.
//
// Any thread may call; each library is looked for once per process.
#pragma once

#include <windows.h>
#include <d3d11.h>

#include "window/graphics_capture_interfaces.h"

namespace graphics_capture_functions {

// combase.dll's RoInitialize, RoUninitialize, RoGetActivationFactory and
// WindowsCreateStringReference: S_OK, or why they are not there, the same
// every time (HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) without combase.dll,
// HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) for one that lacks a function).
[[nodiscard]] HRESULT LoadRuntime();
// RoInitialize(RO_INIT_MULTITHREADED) for the calling thread: S_OK or
// S_FALSE (to be balanced by UninitializeApartment), RPC_E_CHANGED_MODE
// for a thread already in a single-threaded apartment (usable as it is),
// or LoadRuntime's failure.
[[nodiscard]] HRESULT InitializeApartment();
void UninitializeApartment();
// RoGetActivationFactory of a runtime class, by its name.
[[nodiscard]] HRESULT GetActivationFactory(const wchar_t* className, REFIID iid, void** factory);

// d3d11.dll's D3D11CreateDevice: S_OK or why it is not there.
[[nodiscard]] HRESULT LoadDirect3D();
// A device on the default adapter of the driver type, with the BGRA
// support the capture's frames need, and its immediate context.
[[nodiscard]] HRESULT CreateDevice(D3D_DRIVER_TYPE driverType, ID3D11Device** device, ID3D11DeviceContext** context);
// d3d11.dll's CreateDirect3D11DeviceFromDXGIDevice; null where d3d11.dll
// has none (before Windows 10, and Wine).
qm_wgc::CreateDirect3D11DeviceFromDxgiFunction DeviceInterop();

}  // namespace graphics_capture_functions
