// What the processor runs beyond SSE2, which both architectures have
// (Windows 8 and later require it), and so which of the instruction sets
// that pixel loops are written for it can run: the one place that asks, so
// that the scaler and the converters agree (they choose their loops through
// kernel_table.h), and so that tests can make every one of them take the
// SSE2 loops on a processor that has more.
#pragma once

namespace cpu_features {

// The instruction sets pixel loops are written for: plain C++ (the
// reference the others must match), SSE2 and AVX2. Numbered from 0 in
// that order, for tables indexed by set.
enum class InstructionSet { Scalar, Sse2, Avx2 };
inline constexpr int kInstructionSetCount = 3;

// Whether the processor has AVX2 and the operating system saves the AVX
// registers. Asked once; false while ForceSse2ForTesting holds.
bool HasAvx2();

// Whether this processor (and its operating system) runs a set: the
// scalar loops and SSE2 always, AVX2 where HasAvx2 says so.
[[nodiscard]] bool CanRun(InstructionSet set);

// "scalar", "SSE2" or "AVX2", for reports.
const char* NameOf(InstructionSet set);

// Tests: true makes HasAvx2 answer false, so that objects made from then
// on choose their SSE2 loops; false gives the processor's answer again.
// Returns the setting before, for a test to put back.
bool ForceSse2ForTesting(bool force);

}  // namespace cpu_features
