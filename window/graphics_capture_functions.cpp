#include "window/graphics_capture_functions.h"

#include <roapi.h>
#include <winstring.h>

#include <cwchar>

#include "framework/com_util.h"
#include "framework/system_functions.h"

namespace {

// The declared types of the functions, calling convention included
// (__stdcall on x86): decltype of the SDK's own declarations, which are
// never called directly, so nothing is imported.
struct RuntimeFunctions {
    HRESULT loaded = E_UNEXPECTED;
    decltype(&::RoInitialize) initialize = nullptr;
    decltype(&::RoUninitialize) uninitialize = nullptr;
    decltype(&::RoGetActivationFactory) getActivationFactory = nullptr;
    decltype(&::WindowsCreateStringReference) createStringReference = nullptr;
};

struct Direct3DFunctions {
    HRESULT loaded = E_UNEXPECTED;
    decltype(&::D3D11CreateDevice) createDevice = nullptr;
    qm_wgc::CreateDirect3D11DeviceFromDxgiFunction deviceInterop = nullptr;
};

RuntimeFunctions LoadRuntimeFunctions() {
    return system_functions::Load<RuntimeFunctions>(L"combase.dll", [](HMODULE library, RuntimeFunctions* f) {
        using system_functions::Find;
        return Find(library, "RoInitialize", &f->initialize) && Find(library, "RoUninitialize", &f->uninitialize) &&
               Find(library, "RoGetActivationFactory", &f->getActivationFactory) &&
               Find(library, "WindowsCreateStringReference", &f->createStringReference);
    });
}

Direct3DFunctions LoadDirect3DFunctions() {
    return system_functions::Load<Direct3DFunctions>(L"d3d11.dll", [](HMODULE library, Direct3DFunctions* f) {
        using system_functions::Find;
        if (!Find(library, "D3D11CreateDevice", &f->createDevice)) {
            return false;
        }
        // Optional: its absence makes graphics capture unavailable, not
        // Direct3D.
        QM_IGNORE(Find(library, "CreateDirect3D11DeviceFromDXGIDevice", &f->deviceInterop),
                  "a null function is the answer");
        return true;
    });
}

const RuntimeFunctions& Runtime() {
    // Initialised once, by whichever thread comes first; the others wait.
    static const RuntimeFunctions functions = LoadRuntimeFunctions();
    return functions;
}

const Direct3DFunctions& Direct3D() {
    static const Direct3DFunctions functions = LoadDirect3DFunctions();
    return functions;
}

}  // namespace

namespace graphics_capture_functions {

HRESULT LoadRuntime() {
    return Runtime().loaded;
}

HRESULT InitializeApartment() {
    const RuntimeFunctions& f = Runtime();
    RETURN_IF_FAILED(f.loaded);
    return f.initialize(RO_INIT_MULTITHREADED);
}

void UninitializeApartment() {
    const RuntimeFunctions& f = Runtime();
    if (SUCCEEDED(f.loaded)) {
        f.uninitialize();
    }
}

HRESULT GetActivationFactory(const wchar_t* className, REFIID iid, void** factory) {
    RETURN_HR_IF_NULL(E_POINTER, factory);
    *factory = nullptr;
    RETURN_HR_IF_NULL(E_INVALIDARG, className);
    const RuntimeFunctions& f = Runtime();
    RETURN_IF_FAILED(f.loaded);
    // A reference to the caller's text: nothing to allocate or free; it
    // lives as long as the header on this stack.
    HSTRING_HEADER header = {};
    HSTRING name = nullptr;
    RETURN_IF_FAILED(
        f.createStringReference(className, static_cast<UINT32>(std::wcslen(className)), &header, &name));
    // Not reported: a missing class is an answer (no runtime), not a fault.
    return f.getActivationFactory(name, iid, factory);
}

HRESULT LoadDirect3D() {
    return Direct3D().loaded;
}

HRESULT CreateDevice(D3D_DRIVER_TYPE driverType, ID3D11Device** device, ID3D11DeviceContext** context) {
    RETURN_HR_IF_NULL(E_POINTER, device);
    RETURN_HR_IF_NULL(E_POINTER, context);
    *device = nullptr;
    *context = nullptr;
    const Direct3DFunctions& f = Direct3D();
    RETURN_IF_FAILED(f.loaded);
    return f.createDevice(nullptr, driverType, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0,
                          D3D11_SDK_VERSION, device, nullptr, context);
}

qm_wgc::CreateDirect3D11DeviceFromDxgiFunction DeviceInterop() {
    return Direct3D().deviceInterop;
}

}  // namespace graphics_capture_functions
