// What the processor runs beyond SSE2, which both architectures have
// (Windows 8 and later require it): the one place that asks, so that the
// scaler and the converters agree, and so that tests can make every one
// of them take the SSE2 loops on a processor that has more.
#pragma once

namespace cpu_features {

// Whether the processor has AVX2 and the operating system saves the AVX
// registers. Asked once; false while ForceSse2ForTesting holds.
bool HasAvx2();

// Tests: true makes HasAvx2 answer false, so that objects made from then
// on choose their SSE2 loops; false gives the processor's answer again.
void ForceSse2ForTesting(bool force);

}  // namespace cpu_features
