// Test entry: one single-threaded apartment on the main thread (property
// pages and windows need one), and the module handle for resources.
#include <gtest/gtest.h>

#include <objbase.h>

#include "framework/module_instance.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The test program itself plays the module: its resources are linked in.
    SetModuleInstance(::GetModuleHandleW(nullptr));
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        std::fprintf(stderr, "CoInitializeEx failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 2;
    }
    const int result = RUN_ALL_TESTS();
    ::CoUninitialize();
    return result;
}
