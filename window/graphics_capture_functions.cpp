#include "window/graphics_capture_functions.h"

#include <roapi.h>
#include <winstring.h>

#include <cwchar>

#include "framework/com_util.h"

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

template <typename Function>
bool Find(HMODULE library, const char* name, Function* function) {
    const FARPROC address = ::GetProcAddress(library, name);
    // GetProcAddress returns a generic function pointer; the function's
    // real type is the declared one.
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
    return address != nullptr;
}

// Loads `name` from System32 (never a library of that name beside a host
// program) and looks up what findAll asks for into a set of functions
// whose `loaded` says whether they are all there, or why not. Kept loaded
// for the process once found: objects made through it may outlive this
// module.
template <typename Functions, typename FindAll>
Functions LoadFunctions(const wchar_t* name, FindAll findAll) {
    Functions functions;
    const HMODULE library = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) {
        functions.loaded = HResultFromLastError();
        return functions;
    }
    if (!findAll(library, &functions)) {
        functions = Functions{};
        functions.loaded = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        ::FreeLibrary(library);
        return functions;
    }
    functions.loaded = S_OK;
    return functions;
}

RuntimeFunctions LoadRuntimeFunctions() {
    return LoadFunctions<RuntimeFunctions>(L"combase.dll", [](HMODULE library, RuntimeFunctions* f) {
        return Find(library, "RoInitialize", &f->initialize) && Find(library, "RoUninitialize", &f->uninitialize) &&
               Find(library, "RoGetActivationFactory", &f->getActivationFactory) &&
               Find(library, "WindowsCreateStringReference", &f->createStringReference);
    });
}

Direct3DFunctions LoadDirect3DFunctions() {
    return LoadFunctions<Direct3DFunctions>(L"d3d11.dll", [](HMODULE library, Direct3DFunctions* f) {
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
