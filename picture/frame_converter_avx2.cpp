// The converter's pixel loops for AVX2: 32 pixels per step. The loops are
// the templates of frame_converter_simd.h; here are the instructions they
// run on, and how AVX2 spreads 3-byte pixels over doublewords: each half
// loaded on its own, in the order the templates expect, then one byte
// shuffle. Every function here is compiled for AVX2 through its target
// attribute and is called only after cpu_features::HasAvx2 said yes; the rest
// of the program stays plain SSE2.
#include <immintrin.h>

#include "picture/frame_converter_kernels.h"

#if defined(__GNUC__)
#define QM_SIMD_TARGET __attribute__((target("avx2")))
#else
#define QM_SIMD_TARGET
#endif
#include "picture/frame_converter_simd.h"

namespace frame_converter_kernels {

namespace {

struct Avx2Ops {
    using Vec = __m256i;

    static constexpr int kStepPixels = 32;

    QM_SIMD_TARGET static void Store(void* p, Vec v) { _mm256_storeu_si256(static_cast<Vec*>(p), v); }
    QM_SIMD_TARGET static Vec SetI16(int16_t v) { return _mm256_set1_epi16(v); }
    QM_SIMD_TARGET static Vec SetI32(int32_t v) { return _mm256_set1_epi32(v); }
    QM_SIMD_TARGET static Vec SetI32Pair(int32_t even, int32_t odd) {
        return _mm256_setr_epi32(even, odd, even, odd, even, odd, even, odd);
    }
    QM_SIMD_TARGET static Vec And(Vec a, Vec b) { return _mm256_and_si256(a, b); }
    QM_SIMD_TARGET static Vec Or(Vec a, Vec b) { return _mm256_or_si256(a, b); }
    QM_SIMD_TARGET static Vec AddI16(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
    QM_SIMD_TARGET static Vec AddI32(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
    QM_SIMD_TARGET static Vec MaddI16(Vec a, Vec b) { return _mm256_madd_epi16(a, b); }
    QM_SIMD_TARGET static Vec SrliI16(Vec v, int bits) { return _mm256_srli_epi16(v, bits); }
    QM_SIMD_TARGET static Vec SrliI32(Vec v, int bits) { return _mm256_srli_epi32(v, bits); }
    QM_SIMD_TARGET static Vec SrliI64(Vec v, int bits) { return _mm256_srli_epi64(v, bits); }
    QM_SIMD_TARGET static Vec PacksI32(Vec a, Vec b) { return _mm256_packs_epi32(a, b); }
    QM_SIMD_TARGET static Vec PackusI16(Vec a, Vec b) { return _mm256_packus_epi16(a, b); }
    QM_SIMD_TARGET static Vec DuplicateEvenI32(Vec v) { return _mm256_shuffle_epi32(v, _MM_SHUFFLE(2, 2, 0, 0)); }

    // Pixels 4k..4k + 3 of the step in the lower half, 16 + 4k.. in the
    // upper one. The last group is read from 4 bytes earlier and shuffled
    // from 4 bytes further in, so that no load passes the step's end.
    template <int kGroup>
    QM_SIMD_TARGET static Vec LoadGroup(const BYTE* step) {
        static_assert(kGroup >= 0 && kGroup < 4, "four groups per step");
        constexpr int kSkip = kGroup < 3 ? 0 : 4;
        constexpr int kOffset = 12 * kGroup - kSkip;
        const __m128i lower = _mm_loadu_si128(reinterpret_cast<const __m128i*>(step + kOffset));
        const __m128i upper = _mm_loadu_si128(reinterpret_cast<const __m128i*>(step + 48 + kOffset));
        const Vec bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(lower), upper, 1);
        const Vec spread = _mm256_setr_epi8(
            kSkip + 0, kSkip + 1, kSkip + 2, -1, kSkip + 3, kSkip + 4, kSkip + 5, -1, kSkip + 6, kSkip + 7,
            kSkip + 8, -1, kSkip + 9, kSkip + 10, kSkip + 11, -1, kSkip + 0, kSkip + 1, kSkip + 2, -1, kSkip + 3,
            kSkip + 4, kSkip + 5, -1, kSkip + 6, kSkip + 7, kSkip + 8, -1, kSkip + 9, kSkip + 10, kSkip + 11, -1);
        return _mm256_shuffle_epi8(bytes, spread);
    }

    template <int kGroup>
    QM_SIMD_TARGET static void StoreGroup(BYTE* target, Vec pixels) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 16 * kGroup), _mm256_castsi256_si128(pixels));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 64 + 16 * kGroup), _mm256_extracti128_si256(pixels, 1));
    }

    // The unpacks interleave within each half: the lower half's bytes
    // become the first and second quarters of the result, the upper
    // half's the third and fourth.
    QM_SIMD_TARGET static void StoreInterleaved(BYTE* target, Vec even, Vec odd) {
        const Vec low = _mm256_unpacklo_epi8(even, odd);
        const Vec high = _mm256_unpackhi_epi8(even, odd);
        Store(target, _mm256_permute2x128_si256(low, high, 0x20));
        Store(target + 32, _mm256_permute2x128_si256(low, high, 0x31));
    }

    // The pack works within each half: each half's 8 bytes sit in its low
    // quadword, brought together before the store.
    QM_SIMD_TARGET static void StoreWordLows(BYTE* target, Vec words) {
        const Vec packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(words, words), _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target), _mm256_castsi256_si128(packed));
    }
};

}  // namespace

const KernelSet kAvx2Kernels = KernelsFor<Avx2Ops>();

}  // namespace frame_converter_kernels
