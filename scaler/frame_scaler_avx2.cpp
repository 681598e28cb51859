// The scaler's pixel loops for AVX2: eight source columns or output pixels
// per vector. The loops are the templates of frame_scaler_simd.h; here are
// the instructions they run on, and what AVX2 does its own way: shuffles
// across the halves of a vector, 3-byte pixels stored 24 or 32 bytes at a
// time, and the pixel pass four output pixels at a time from tables of
// weight digits. Every function here is compiled for AVX2 through its
// target attribute and is called only after cpu_features::HasAvx2 said yes;
// the rest of the program stays plain SSE2.
#include <immintrin.h>

#include <cstring>

#include "scaler/frame_scaler_kernels.h"

#if defined(__GNUC__)
#define QM_SIMD_TARGET __attribute__((target("avx2")))
#else
#define QM_SIMD_TARGET
#endif
#include "scaler/frame_scaler_simd.h"

namespace frame_scaler_kernels {

namespace {

// Writes `count` 3-byte pixels from the start of `bytes`.
inline void WriteExactly(BYTE* target, const BYTE* bytes, int count) {
    std::memcpy(target, bytes, static_cast<size_t>(count) * kBytesPerTargetPixel);
}

struct Avx2Ops {
    QM_SIMD_ELEMENTWISE_OPS(_mm256_, si256, __m256i)

    static constexpr int kLanes = 8;

    QM_SIMD_TARGET static __m128i Load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }

    // Writes the 24 bytes at the start of `bytes`.
    QM_SIMD_TARGET static void Store24(BYTE* out, Vec bytes) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(bytes));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_extracti128_si256(bytes, 1));
    }

    QM_SIMD_TARGET static Vec PackedToBgrx(Vec packed) {
        const Vec interleave = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1, 9, 2,
                                                10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
        return _mm256_shuffle_epi8(packed, interleave);
    }

    // (x + 64) >> 7, in one rounding multiply-high: x * 256 / 32768.
    QM_SIMD_TARGET static Vec DivideBy128Rounded(Vec v) { return _mm256_mulhrs_epi16(v, _mm256_set1_epi16(256)); }

    // The 24 bytes of the chunk's eight pixels, stored as 32 where the 8
    // beyond fall on the next chunk's columns, else exactly: from the pack
    // (per half: blue, red of four pixels, then green, unused) straight to
    // 3-byte pixels, then the halves together.
    QM_SIMD_TARGET static void WriteTargetPixels(BYTE* target, int x, int /*width*/, Vec even, Vec odd) {
        const Vec toTarget = _mm256_setr_epi8(0, 8, 1, 2, 10, 3, 4, 12, 5, 6, 14, 7, -1, -1, -1, -1, 0, 8, 1, 2, 10,
                                              3, 4, 12, 5, 6, 14, 7, -1, -1, -1, -1);
        const Vec bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(PackusI16(even, odd), toTarget),
                                                      _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
        Store24(target + static_cast<size_t>(x) * kBytesPerTargetPixel, bytes);
    }

    // Four to seven columns still make whole SSE2 vectors.
    static void VerticalNarrowRow(const VerticalRow& row) { kSse2Kernels.vertical(row); }

    // Groups write 24 bytes as 32 where they can (see WindowGroup::store);
    // the 8 beyond fall on columns of a later group.
    static constexpr bool kWindowGroupsInColumnOrder = false;
    static constexpr int kWindowStoreBytes = 32;

    class WindowWriter {
    public:
        // After packing, each half holds the blue and red bytes of its four
        // pixels, then green and the unused byte: gathered into 3-byte
        // pixels forwards, or (mirrored) backwards; then 24 bytes together,
        // at the start forwards, at the end (upper half first) backwards.
        QM_SIMD_TARGET explicit WindowWriter(const WindowRow& row)
            : m_row(row),
              m_target(row.target),
              m_gather(row.mirror ? _mm256_setr_epi8(6, 14, 7, 4, 12, 5, 2, 10, 3, 0, 8, 1, -1, -1, -1, -1, 6, 14, 7,
                                                     4, 12, 5, 2, 10, 3, 0, 8, 1, -1, -1, -1, -1)
                                  : _mm256_setr_epi8(0, 8, 1, 2, 10, 3, 4, 12, 5, 6, 14, 7, -1, -1, -1, -1, 0, 8, 1,
                                                     2, 10, 3, 4, 12, 5, 6, 14, 7, -1, -1, -1, -1)),
              m_order(row.mirror ? _mm256_setr_epi32(3, 7, 4, 5, 6, 0, 1, 2) : _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7)) {}

        QM_SIMD_TARGET void Write(int g, const WindowGroup& group, Vec packed) const {
            const Vec bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(packed, m_gather), m_order);
            if (group.store >= 0) {
                Store(m_target + group.store, bytes);
            } else {
                WriteGroupExactly(m_row, g, bytes);
            }
        }

    private:
        // A group whose pixels run past the 32-byte stores: its valid pixels
        // only, from the forward or backward arrangement. (Static, so that
        // the writer's vectors can stay in registers.)
        QM_SIMD_TARGET static void WriteGroupExactly(const WindowRow& row, int g, Vec bytes) {
            constexpr int kSlack = kWindowStoreBytes - kLanes * kBytesPerTargetPixel;
            const int left = row.width - g * kLanes;
            const int valid = left < kLanes ? left : kLanes;
            // The group's lowest column.
            const int column = row.mirror ? left - valid : g * kLanes;
            alignas(32) BYTE buffer[kWindowStoreBytes];
            Store(buffer, bytes);
            const BYTE* first = row.mirror ? buffer + kSlack + (kLanes - valid) * kBytesPerTargetPixel : buffer;
            WriteExactly(row.target + column * kBytesPerTargetPixel, first, valid);
        }

        const WindowRow& m_row;
        BYTE* const m_target;
        const Vec m_gather;
        const Vec m_order;
    };

    // The pixel pass, a block of four output pixels (x .. x + 3) at a time.
    // Its Q12 weights split into digits, w = 64 x high + low, both in
    // 0..64, so that the byte multiply-add of two taps never saturates; the
    // two sums are combined exactly in 32 bits. Per block and group of four
    // taps, kDigitBlockBytes: for the pixel pairs (x, x + 2) and (x + 1,
    // x + 3), one per half of a vector, the high digits then the low ones,
    // each 16 bytes per pixel in the order of the gathered channels (four
    // blue taps, four green, four red, four unused).
    static constexpr int kPixelBlock = kBlockPixels;
    static constexpr PixelWeights kPixelWeights = PixelWeights::Digits;

    static size_t PixelBlockWeightBytes(int tapGroups) { return static_cast<size_t>(tapGroups) * kDigitBlockBytes; }

    // Two 16-byte loads, one per half.
    QM_SIMD_TARGET static Vec LoadHalves(const void* low, const void* high) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(Load128(low)), Load128(high), 1);
    }

    // The block's four pixels, BGRX, in order.
    QM_SIMD_TARGET static __m128i SumPixelBlock(const BYTE* source, const int32_t* first, const BYTE* weights,
                                                int tapGroups) {
        const Vec gatherChannels = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12,
                                                    1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
        const Vec ones = _mm256_set1_epi16(1);
        const BYTE* p0 = source + static_cast<size_t>(first[0]) * kBytesPerPixel;
        const BYTE* p1 = source + static_cast<size_t>(first[1]) * kBytesPerPixel;
        const BYTE* p2 = source + static_cast<size_t>(first[2]) * kBytesPerPixel;
        const BYTE* p3 = source + static_cast<size_t>(first[3]) * kBytesPerPixel;
        Vec highA = _mm256_setzero_si256();
        Vec lowA = _mm256_setzero_si256();
        Vec highB = _mm256_setzero_si256();
        Vec lowB = _mm256_setzero_si256();
        for (int group = 0; group < tapGroups; ++group, weights += kDigitBlockBytes) {
            const size_t offset = static_cast<size_t>(group) * kTapsPerGroup * kBytesPerPixel;
            const Vec a = _mm256_shuffle_epi8(LoadHalves(p0 + offset, p2 + offset), gatherChannels);
            const Vec c = _mm256_shuffle_epi8(LoadHalves(p1 + offset, p3 + offset), gatherChannels);
            highA = _mm256_add_epi32(highA, _mm256_madd_epi16(_mm256_maddubs_epi16(a, Load(weights)), ones));
            lowA = _mm256_add_epi32(lowA, _mm256_madd_epi16(_mm256_maddubs_epi16(a, Load(weights + 32)), ones));
            highB = _mm256_add_epi32(highB, _mm256_madd_epi16(_mm256_maddubs_epi16(c, Load(weights + 64)), ones));
            lowB = _mm256_add_epi32(lowB, _mm256_madd_epi16(_mm256_maddubs_epi16(c, Load(weights + 96)), ones));
        }
        // Per pixel B G R X as 32-bit sums: (x | x + 2) and (x + 1 | x + 3).
        const Vec rounding = _mm256_set1_epi32(1 << 11);
        const Vec sumA =
            _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(highA, 6), lowA), rounding), 12);
        const Vec sumB =
            _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(_mm256_slli_epi32(highB, 6), lowB), rounding), 12);
        // Words: x, x + 1 | x + 2, x + 3; bytes likewise; then the four
        // pixels in order in the low half.
        Vec packed = _mm256_packs_epi32(sumA, sumB);
        packed = _mm256_packus_epi16(packed, packed);
        packed = _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7));
        return _mm256_castsi256_si128(packed);
    }

    // BGRX rows have room for whole blocks.
    QM_SIMD_TARGET static void StorePixelBlock(BYTE* out, __m128i pixels) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pixels);
    }

    QM_SIMD_TARGET static void WritePixelBlock(BYTE* target, int x, int width, __m128i bgrx) {
        const __m128i toTarget = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        const __m128i pixels = _mm_shuffle_epi8(bgrx, toTarget);
        const int start = x * kBytesPerTargetPixel;
        const int valid = width - x < kBlockPixels ? width - x : kBlockPixels;
        if (valid == kBlockPixels && start + 16 <= width * kBytesPerTargetPixel) {
            // Four bytes beyond fall on the next block's first pixel.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target + start), pixels);
        } else {
            alignas(16) BYTE buffer[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(buffer), pixels);
            WriteExactly(target + start, buffer, valid);
        }
    }

    // The two tiles' sums sit at the start of each half.
    QM_SIMD_TARGET static void StoreTileSums(int32_t* tiles, Vec sums) {
        const Vec firstWords = _mm256_setr_epi32(0, 4, 0, 4, 0, 4, 0, 4);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(tiles),
                         _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(sums, firstWords)));
    }

    // A row at its own size, eight pixels per vector: each half's four
    // pixels shuffled into twelve bytes, stored 16 bytes at a time (the
    // next store overwrites the four bytes after them) while 28 bytes of
    // the row are left; the rest as every set does. Mirrored, the eight
    // source pixels that end where the target's start are reversed: the
    // halves swapped, then the pixels within each.
    QM_SIMD_TARGET static void Copy(const CopyRow& row) {
        const __m256i forward = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                                 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        const __m256i backward = _mm256_setr_epi8(12, 13, 14, 8, 9, 10, 4, 5, 6, 0, 1, 2, -1, -1, -1, -1,  //
                                                  12, 13, 14, 8, 9, 10, 4, 5, 6, 0, 1, 2, -1, -1, -1, -1);
        int x = 0;
        for (; (x + 8) * kBytesPerTargetPixel + 4 <= row.pixels * kBytesPerTargetPixel; x += 8) {
            __m256i pixels;
            if (row.mirror) {
                const BYTE* source = row.source + static_cast<ptrdiff_t>(row.pixels - 8 - x) * kBytesPerPixel;
                pixels = _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(source)), 0x4E);
                pixels = _mm256_shuffle_epi8(pixels, backward);
            } else {
                const BYTE* source = row.source + static_cast<ptrdiff_t>(x) * kBytesPerPixel;
                pixels = _mm256_shuffle_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(source)), forward);
            }
            BYTE* target = row.target + static_cast<ptrdiff_t>(x) * kBytesPerTargetPixel;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target), _mm256_castsi256_si128(pixels));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 12), _mm256_extracti128_si256(pixels, 1));
        }
        CopyPixels(row, x);
    }

    // Of the four tiles from the one before the chunk's first: per column
    // (two tiles of four), the left and right tile it lies between.
    QM_SIMD_TARGET static void SpreadTiles(const int32_t* tiles, Vec& left, Vec& right) {
        const Vec four = _mm256_castsi128_si256(Load128(tiles));
        left = _mm256_permutevar8x32_epi32(four, _mm256_setr_epi32(0, 0, 1, 1, 1, 1, 2, 2));
        right = _mm256_permutevar8x32_epi32(four, _mm256_setr_epi32(1, 1, 2, 2, 2, 2, 3, 3));
    }
};

}  // namespace

const KernelSet kAvx2Kernels = KernelsFor<Avx2Ops>();

}  // namespace frame_scaler_kernels
