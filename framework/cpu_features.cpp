#include "framework/cpu_features.h"

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

#include <atomic>

namespace {

std::atomic<bool> g_forceSse2{false};

bool ProcessorHasAvx2() {
    constexpr unsigned kOsxsave = 1u << 27;
    constexpr unsigned kAvx = 1u << 28;
    constexpr unsigned kAvx2 = 1u << 5;
    // The operating system saves the SSE and AVX registers (XCR0 bits 1, 2).
    constexpr unsigned kVectorState = 0x6;
#if defined(_MSC_VER)
    int info[4] = {};
    __cpuid(info, 0);
    if (info[0] < 7) {
        return false;
    }
    __cpuid(info, 1);
    if ((static_cast<unsigned>(info[2]) & (kOsxsave | kAvx)) != (kOsxsave | kAvx)) {
        return false;
    }
    if ((_xgetbv(0) & kVectorState) != kVectorState) {
        return false;
    }
    __cpuidex(info, 7, 0);
    return (static_cast<unsigned>(info[1]) & kAvx2) != 0;
#else
    unsigned a = 0;
    unsigned b = 0;
    unsigned c = 0;
    unsigned d = 0;
    if (!__get_cpuid(0, &a, &b, &c, &d) || a < 7) {
        return false;
    }
    __get_cpuid(1, &a, &b, &c, &d);
    if ((c & (kOsxsave | kAvx)) != (kOsxsave | kAvx)) {
        return false;
    }
    unsigned low = 0;
    unsigned high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    if ((low & kVectorState) != kVectorState) {
        return false;
    }
    __cpuid_count(7, 0, a, b, c, d);
    return (b & kAvx2) != 0;
#endif
}

}  // namespace

namespace cpu_features {

bool HasAvx2() {
    // The processor's answer never changes: asked once.
    static const bool hasAvx2 = ProcessorHasAvx2();
    return hasAvx2 && !g_forceSse2.load(std::memory_order_relaxed);
}

bool CanRun(InstructionSet set) {
    return set != InstructionSet::Avx2 || HasAvx2();
}

const char* NameOf(InstructionSet set) {
    static constexpr const char* kNames[kInstructionSetCount] = {"scalar", "SSE2", "AVX2"};
    const int index = static_cast<int>(set);
    return index >= 0 && index < kInstructionSetCount ? kNames[index] : "?";
}

bool ForceSse2ForTesting(bool force) {
    return g_forceSse2.exchange(force, std::memory_order_relaxed);
}

}  // namespace cpu_features
