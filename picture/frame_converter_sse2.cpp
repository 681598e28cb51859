// The converter's pixel loops for SSE2 (every processor the module runs
// on): 16 pixels per step. The loops are the templates of
// frame_converter_simd.h; here are the instructions they run on, and how
// SSE2, which has no byte shuffle, spreads four 3-byte pixels over four
// doublewords: the 12 bytes shifted by 0 to 3 bytes, each doubleword
// taken from the copy that has its pixel in place.
#include <emmintrin.h>

#include "picture/frame_converter_kernels.h"

#define QM_SIMD_TARGET
#include "picture/frame_converter_simd.h"

namespace frame_converter_kernels {

namespace {

struct Sse2Ops {
    using Vec = __m128i;

    static constexpr int kStepPixels = 16;

    static Vec Load(const void* p) { return _mm_loadu_si128(static_cast<const Vec*>(p)); }
    static void Store(void* p, Vec v) { _mm_storeu_si128(static_cast<Vec*>(p), v); }
    static Vec SetI16(int16_t v) { return _mm_set1_epi16(v); }
    static Vec SetI32(int32_t v) { return _mm_set1_epi32(v); }
    static Vec SetI32Pair(int32_t even, int32_t odd) { return _mm_setr_epi32(even, odd, even, odd); }
    static Vec And(Vec a, Vec b) { return _mm_and_si128(a, b); }
    static Vec Or(Vec a, Vec b) { return _mm_or_si128(a, b); }
    static Vec AddI16(Vec a, Vec b) { return _mm_add_epi16(a, b); }
    static Vec AddI32(Vec a, Vec b) { return _mm_add_epi32(a, b); }
    static Vec MaddI16(Vec a, Vec b) { return _mm_madd_epi16(a, b); }
    static Vec SrliI16(Vec v, int bits) { return _mm_srli_epi16(v, bits); }
    static Vec SrliI32(Vec v, int bits) { return _mm_srli_epi32(v, bits); }
    static Vec SrliI64(Vec v, int bits) { return _mm_srli_epi64(v, bits); }
    static Vec PacksI32(Vec a, Vec b) { return _mm_packs_epi32(a, b); }
    static Vec PackusI16(Vec a, Vec b) { return _mm_packus_epi16(a, b); }
    static Vec DuplicateEvenI32(Vec v) { return _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 2, 0, 0)); }

    // Pixels 4k..4k + 3 of the step. The last group is read from 4 bytes
    // earlier and shifted down, so that no load passes the step's end (the
    // end of a row, and perhaps of the picture).
    template <int kGroup>
    static Vec LoadGroup(const BYTE* step) {
        static_assert(kGroup >= 0 && kGroup < 4, "four groups per step");
        constexpr int kOffset = 12 * kGroup;
        Vec bytes;
        if constexpr (kGroup < 3) {
            bytes = Load(step + kOffset);
        } else {
            bytes = _mm_srli_si128(Load(step + kOffset - 4), 4);
        }
        // Pixel j of the 12 bytes starts at byte 3j; shifted up by j bytes,
        // it fills doubleword j (with the next pixel's first byte as its
        // fourth).
        const __m128 shift0 = _mm_castsi128_ps(bytes);
        const __m128 shift1 = _mm_castsi128_ps(_mm_slli_si128(bytes, 1));
        const __m128 shift2 = _mm_castsi128_ps(_mm_slli_si128(bytes, 2));
        const __m128 shift3 = _mm_castsi128_ps(_mm_slli_si128(bytes, 3));
        const __m128 first = _mm_shuffle_ps(shift0, shift1, _MM_SHUFFLE(1, 1, 0, 0));
        const __m128 second = _mm_shuffle_ps(shift2, shift3, _MM_SHUFFLE(3, 3, 2, 2));
        return _mm_castps_si128(_mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0)));
    }

    template <int kGroup>
    static void StoreGroup(BYTE* target, Vec pixels) {
        Store(target + 16 * kGroup, pixels);
    }

    static void StoreInterleaved(BYTE* target, Vec even, Vec odd) {
        Store(target, _mm_unpacklo_epi8(even, odd));
        Store(target + 16, _mm_unpackhi_epi8(even, odd));
    }

    static void StoreWordLows(BYTE* target, Vec words) {
        _mm_storel_epi64(reinterpret_cast<Vec*>(target), _mm_packus_epi16(words, words));
    }
};

}  // namespace

const KernelSet kSse2Kernels = KernelsFor<Sse2Ops>();

}  // namespace frame_converter_kernels
