// Test entry: one single-threaded apartment on the main thread (property
// pages and windows need one), and the module handle for resources.
//
// --sse2 makes every scaler and converter made from then on take its SSE2
// loops on a processor that has AVX2, so that one run covers each path.
// A test during which the code survived a failure it did not expect
// (LOG_IF_FAILED) fails the run (tests/support/survived_failures.h).
#include <gtest/gtest.h>

#include <objbase.h>

#include <cstdio>
#include <cstring>

#include "framework/cpu_features.h"
#include "framework/module_instance.h"
#include "tests/support/survived_failures.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sse2") == 0) {
            cpu_features::ForceSse2ForTesting(true);
            std::printf("test: the SSE2 loops, AVX2 or not\n");
        }
    }
    auto* survived = new SurvivedFailureListener;
    testing::UnitTest::GetInstance()->listeners().Append(survived);
    // The test program itself plays the module: its resources are linked in.
    SetModuleInstance(::GetModuleHandleW(nullptr));
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        std::fprintf(stderr, "CoInitializeEx failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 2;
    }
    int result = RUN_ALL_TESTS();
    if (survived->Offenders() > 0) {
        std::printf("test: %d test(s) raised the count of survived failures undeclared\n", survived->Offenders());
        result = 1;
    }
    ::CoUninitialize();
    return result;
}
