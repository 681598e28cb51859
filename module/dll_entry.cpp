// The module's entry point and its COM server exports.
#include <windows.h>
#include <objbase.h>

#include "framework/module_instance.h"
#include "module/module.h"

#if defined(__GLIBCXX__)
// libstdc++ keeps an emergency pool for exceptions thrown when memory runs
// out (about 71 KiB on x64, 16 KiB on x86), allocated as the module loads
// and never freed: each load after an unload would add another. This frees
// it; GCC defines it without declaring it in a header.
namespace __gnu_cxx {
void __freeres();
}  // namespace __gnu_cxx
#endif

namespace {

// What the runtime linked into the module keeps until the process ends,
// given back when the module alone is unloaded (hosts unload and load it
// again each time they let go of every device and list cameras anew).
void ReleaseRuntimeMemory() {
#if defined(__GLIBCXX__)
    __gnu_cxx::__freeres();
#endif
}

}  // namespace

void DllInitClasses(BOOL loading) {
    for (int i = 0; i < g_cTemplates; ++i) {
        if (g_Templates[i].m_lpfnInit != nullptr) {
            g_Templates[i].m_lpfnInit(loading, g_Templates[i].m_ClsID);
        }
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        ::DisableThreadLibraryCalls(instance);
        // Loads the pages' resources and names the module's path.
        SetModuleInstance(instance);
        DllInitClasses(TRUE);
        break;
    case DLL_PROCESS_DETACH:
        DllInitClasses(FALSE);
        // Only on FreeLibrary (no reserved pointer): at process exit the
        // memory goes with the process anyway.
        if (reserved == nullptr) {
            ReleaseRuntimeMemory();
        }
        break;
    default:
        break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
    return GetClassObjectFromTable(g_Templates, g_cTemplates, clsid, riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return CanUnloadModule();
}
