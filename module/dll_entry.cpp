// The module's entry point and its COM server exports.
#include <windows.h>
#include <objbase.h>

#include "module/module.h"

HINSTANCE g_hInst = nullptr;

void DllInitClasses(BOOL loading) {
    for (int i = 0; i < g_cTemplates; ++i) {
        if (g_Templates[i].m_lpfnInit != nullptr) {
            g_Templates[i].m_lpfnInit(loading, g_Templates[i].m_ClsID);
        }
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        ::DisableThreadLibraryCalls(instance);
        g_hInst = instance;
        DllInitClasses(TRUE);
        break;
    case DLL_PROCESS_DETACH:
        DllInitClasses(FALSE);
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
