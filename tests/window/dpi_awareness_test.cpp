// The per-monitor DPI scope with the platform's own functions, where the
// system has them.
#include <gtest/gtest.h>

#include "window/dpi_awareness.h"

namespace {

using GetContextFunction = HANDLE(WINAPI*)();
using EqualFunction = BOOL(WINAPI*)(HANDLE, HANDLE);

template <typename Function>
Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

}  // namespace

TEST(PerMonitorDpiScope, TheThreadIsPerMonitorAwareInsideAndAsBeforeAfter) {
    const auto getContext = User32Function<GetContextFunction>("GetThreadDpiAwarenessContext");
    const auto equal = User32Function<EqualFunction>("AreDpiAwarenessContextsEqual");
    if (SystemSetThreadDpiContext() == nullptr || getContext == nullptr || equal == nullptr) {
        GTEST_SKIP() << "this system has no thread DPI contexts";
    }
    const HANDLE unaware = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-1));
    const HANDLE before = SystemSetThreadDpiContext()(unaware);
    {
        CPerMonitorDpiScope scope;
        EXPECT_TRUE(equal(getContext(), CPerMonitorDpiScope::PerMonitorAwareV2()) ||
                    equal(getContext(), CPerMonitorDpiScope::PerMonitorAware()));
    }
    EXPECT_TRUE(equal(getContext(), unaware));
    SystemSetThreadDpiContext()(before);
}
