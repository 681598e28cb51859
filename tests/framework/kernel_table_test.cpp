// The one choice of pixel loops: a family's table hands out the loops of a
// set only where the family has them and the processor runs them, and
// picks the fastest; the scaler and the converter, each through its own
// table, take the same set, SSE2 while a test forces it.
#include <gtest/gtest.h>

#include "framework/cpu_features.h"
#include "framework/kernel_table.h"
#include "picture/frame_converter.h"
#include "scaler/frame_scaler.h"

using cpu_features::InstructionSet;
using cpu_features::KernelTable;

namespace {

// Stands for a family's set of loops.
struct Loops {
    int id;
};
constexpr Loops kScalar{1};
constexpr Loops kSse2{2};
constexpr Loops kAvx2{3};

// The SSE2 loops forced (or not) for one scope; the setting before is put
// back at its end.
class ForcedSse2 {
public:
    explicit ForcedSse2(bool force) : m_before(cpu_features::ForceSse2ForTesting(force)) {}
    ~ForcedSse2() { cpu_features::ForceSse2ForTesting(m_before); }
    ForcedSse2(const ForcedSse2&) = delete;
    ForcedSse2& operator=(const ForcedSse2&) = delete;

private:
    const bool m_before;
};

}  // namespace

TEST(KernelTableTest, HandsOutOnlyLoopsTheFamilyHasAndTheProcessorRuns) {
    for (const bool forced : {false, true}) {
        SCOPED_TRACE(forced ? "SSE2 forced" : "the processor's answer");
        const ForcedSse2 scope(forced);
        const bool avx2 = cpu_features::HasAvx2();
        if (forced) {
            EXPECT_FALSE(avx2);
        }
        EXPECT_TRUE(cpu_features::CanRun(InstructionSet::Scalar));
        EXPECT_TRUE(cpu_features::CanRun(InstructionSet::Sse2));
        EXPECT_EQ(avx2, cpu_features::CanRun(InstructionSet::Avx2));

        const KernelTable<Loops> every(&kScalar, &kSse2, &kAvx2);
        const KernelTable<Loops> vectorsOnly(nullptr, &kSse2, &kAvx2);
        const KernelTable<Loops> scalarOnly(&kScalar, nullptr, nullptr);
        EXPECT_EQ(&kScalar, every.For(InstructionSet::Scalar));
        EXPECT_EQ(&kSse2, every.For(InstructionSet::Sse2));
        EXPECT_EQ(avx2 ? &kAvx2 : nullptr, every.For(InstructionSet::Avx2));
        EXPECT_EQ(nullptr, vectorsOnly.For(InstructionSet::Scalar));
        EXPECT_EQ(nullptr, scalarOnly.For(InstructionSet::Sse2));
        const InstructionSet fastest = avx2 ? InstructionSet::Avx2 : InstructionSet::Sse2;
        EXPECT_EQ(fastest, every.Fastest().set);
        EXPECT_EQ(every.For(fastest), every.Fastest().kernels);
        EXPECT_EQ(fastest, vectorsOnly.Fastest().set);
        EXPECT_EQ(InstructionSet::Scalar, scalarOnly.Fastest().set);
        EXPECT_EQ(&kScalar, scalarOnly.Fastest().kernels);
    }
}

TEST(KernelTableTest, TheScalerAndTheConverterTakeTheSameSet) {
    for (const bool forced : {false, true}) {
        SCOPED_TRACE(forced ? "SSE2 forced" : "the processor's answer");
        const ForcedSse2 scope(forced);
        const InstructionSet fastest = cpu_features::HasAvx2() ? InstructionSet::Avx2 : InstructionSet::Sse2;
        const CFrameScaler scaler;
        const CFrameConverter converter;
        EXPECT_EQ(fastest, scaler.CurrentInstructions());
        EXPECT_EQ(fastest, converter.CurrentInstructions());
        EXPECT_STREQ(fastest == InstructionSet::Avx2 ? "AVX2" : "SSE2",
                     CFrameConverter::NameOf(converter.CurrentInstructions()));
        // Only the converter has scalar loops.
        EXPECT_FALSE(CFrameScaler::IsSupported(InstructionSet::Scalar));
        EXPECT_TRUE(CFrameConverter::IsSupported(InstructionSet::Scalar));
    }
}
