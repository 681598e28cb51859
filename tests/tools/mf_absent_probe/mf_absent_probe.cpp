// mf_absent_probe: run by the tool tests with Media Foundation taken away
// from it (Wine: WINEDLLOVERRIDES=mfplat=d). Through the registered
// module, as any application reaches it, it creates the DirectShow camera
// and camera 1's media source, and prints what each answered:
//   mfplat: missing (ERROR) | loadable
//   directshow camera: 0xHRESULT
//   media source: 0xHRESULT
// It imports nothing of Media Foundation itself. Exit code 0, or 2 when
// COM cannot start.
#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <cstdio>

#include "settings/capture_device_ids.h"
#include "mf/media_source_ids.h"

using Microsoft::WRL::ComPtr;

namespace {

HRESULT Create(const CLSID& clsid) {
    ComPtr<IUnknown> object;
    return ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object));
}

}  // namespace

int wmain() {
    HMODULE mfplat = ::LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (mfplat != nullptr) {
        std::printf("mfplat: loadable\n");
        ::FreeLibrary(mfplat);
    } else {
        std::printf("mfplat: missing (%lu)\n", ::GetLastError());
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 2;
    }
    std::printf("directshow camera: 0x%08lX\n", static_cast<unsigned long>(Create(CLSID_CaptureDevice)));
    std::printf("media source: 0x%08lX\n", static_cast<unsigned long>(Create(*CameraMediaSourceClassId(1))));
    ::CoUninitialize();
    return 0;
}
