// KernelTable: the pixel loops of one family (the scaler's passes, the
// pixel format converter) per instruction set, and the choice among them
// that every family makes the same way: the fastest set the family has
// loops for and this processor runs (cpu_features.h). So the scaler and
// the converter of a frame always run the same set, and both take their
// SSE2 loops while a test forces them.
//
// The table only hands out pointers to the families' own sets of loops,
// each compiled in a file of its own for its instruction set; it is
// consulted when an object is made or told to use another set, never per
// frame.
#pragma once

#include <initializer_list>

#include "framework/cpu_features.h"

namespace cpu_features {

template <class Kernels>
class KernelTable {
public:
    // The family's loops per set; null for a set it has none for.
    constexpr KernelTable(const Kernels* scalar, const Kernels* sse2, const Kernels* avx2)
        : m_sets{scalar, sse2, avx2} {}

    // The loops for a set; null where the family has none or this processor
    // cannot run them.
    const Kernels* For(InstructionSet set) const {
        const int index = static_cast<int>(set);
        return index >= 0 && index < kInstructionSetCount && CanRun(set) ? m_sets[index] : nullptr;
    }

    // A set and the family's loops for it.
    struct Choice {
        InstructionSet set;
        const Kernels* kernels;
    };

    // The fastest set the family has loops for and this processor runs,
    // and those loops: what a new object of the family takes. Both come
    // from one look at the processor's answer, which a test may change.
    Choice Fastest() const {
        for (const InstructionSet set : {InstructionSet::Avx2, InstructionSet::Sse2, InstructionSet::Scalar}) {
            if (const Kernels* kernels = For(set)) {
                return {set, kernels};
            }
        }
        return {InstructionSet::Scalar, nullptr};
    }

private:
    // Indexed by InstructionSet.
    const Kernels* m_sets[kInstructionSetCount];
};

}  // namespace cpu_features
