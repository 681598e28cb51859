// The scaler's pixel loops for SSE2 (every processor the module runs on):
// four source columns or output pixels per vector. The loops are the
// templates of frame_scaler_simd.h; here are the instructions they run on,
// and what SSE2 does its own way: 3-byte pixels written four bytes at a
// time, and the pixel pass one output pixel at a time from Q12 weights.
#include <emmintrin.h>

#include <cstring>

#include "scaler/frame_scaler_kernels.h"

#define QM_SIMD_TARGET
#include "scaler/frame_scaler_simd.h"

namespace frame_scaler_kernels {

namespace {

// Writes a BGRX pixel as a 3-byte pixel of a row of `width`: four bytes,
// the fourth overwritten by the next pixel, but three for the last column.
// Pixels must therefore go in increasing column order.
inline void WritePixel(BYTE* target, int column, int width, uint32_t pixel) {
    BYTE* out = target + static_cast<size_t>(column) * kBytesPerTargetPixel;
    if (column + 1 < width) {
        std::memcpy(out, &pixel, sizeof(pixel));
    } else {
        out[0] = static_cast<BYTE>(pixel);
        out[1] = static_cast<BYTE>(pixel >> 8);
        out[2] = static_cast<BYTE>(pixel >> 16);
    }
}

struct Sse2Ops {
    QM_SIMD_ELEMENTWISE_OPS(_mm_, si128, __m128i)

    static constexpr int kLanes = 4;

    // A row at its own size: four pixels in three words at a time.
    static void Copy(const CopyRow& row) { CopyPixels(row, 0); }

    static Vec PackedToBgrx(Vec packed) { return _mm_unpacklo_epi8(packed, _mm_srli_si128(packed, 8)); }

    static Vec DivideBy128Rounded(Vec v) { return _mm_srai_epi16(_mm_adds_epi16(v, _mm_set1_epi16(64)), 7); }

    static void WriteTargetPixels(BYTE* target, int x, int width, Vec even, Vec odd) {
        uint32_t pixels[kLanes];
        Store(pixels, ToBytes<Sse2Ops>(even, odd));
        for (int j = 0; j < kLanes; ++j) {
            WritePixel(target, x + j, width, pixels[j]);
        }
    }

    static void VerticalNarrowRow(const VerticalRow& row) {
        for (int x = 0; x < row.pixels; ++x) {
            VerticalColumn(row, x);
        }
    }

    // Pixel by pixel, in increasing columns (see WritePixel): mirrored, the
    // groups run backwards and their lanes too.
    static constexpr bool kWindowGroupsInColumnOrder = true;
    static constexpr int kWindowStoreBytes = 0;

    class WindowWriter {
    public:
        explicit WindowWriter(const WindowRow& row) : m_row(row) {}

        void Write(int g, const WindowGroup& /*group*/, Vec packed) const {
            uint32_t pixels[kLanes];
            Store(pixels, PackedToBgrx(packed));
            for (int j = 0; j < kLanes; ++j) {
                const int lane = m_row.mirror ? kLanes - 1 - j : j;
                const int x = g * kLanes + lane;
                if (x < m_row.width) {
                    WritePixel(m_row.target, m_row.mirror ? m_row.width - 1 - x : x, m_row.width, pixels[lane]);
                }
            }
        }

    private:
        const WindowRow& m_row;
    };

    // The pixel pass: one output pixel at a time, its taps' channels
    // widened to 16 bits and weighed in pairs by a multiply-add.
    static constexpr int kPixelBlock = 1;
    static constexpr PixelWeights kPixelWeights = PixelWeights::Q12;

    static size_t PixelBlockWeightBytes(int tapGroups) {
        return static_cast<size_t>(tapGroups) * kTapsPerGroup * sizeof(int16_t);
    }

    static uint32_t SumPixelBlock(const BYTE* source, const int32_t* first, const BYTE* weightBytes, int tapGroups) {
        const Vec zero = _mm_setzero_si128();
        const int16_t* weights = reinterpret_cast<const int16_t*>(weightBytes);
        const BYTE* pixels = source + static_cast<size_t>(*first) * kBytesPerPixel;
        Vec sum = zero;
        for (int t = 0; t < tapGroups * kTapsPerGroup; t += kTapsPerGroup) {
            Vec v = Load(pixels + static_cast<size_t>(t) * kBytesPerPixel);
            // p0 p1 p2 p3 -> channel pairs B0 B1 G0 G1 R0 R1 X0 X1 | B2 B3 ...
            v = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
            v = _mm_unpacklo_epi8(v, _mm_srli_si128(v, 8));
            const Vec w = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(weights + t));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi8(v, zero), _mm_shuffle_epi32(w, 0x00)));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), _mm_shuffle_epi32(w, 0x55)));
        }
        sum = _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(1 << 11)), 12);
        sum = _mm_packs_epi32(sum, sum);
        return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(sum, sum)));
    }

    static void StorePixelBlock(BYTE* out, uint32_t pixel) { std::memcpy(out, &pixel, sizeof(pixel)); }

    static void WritePixelBlock(BYTE* target, int x, int width, uint32_t pixel) {
        WritePixel(target, x, width, pixel);
    }

    // One tile per vector.
    static void StoreTileSums(int32_t* tiles, Vec sums) { *tiles = _mm_cvtsi128_si32(sums); }

    // Columns 0, 1 of the tile between the tile before and this one,
    // columns 2, 3 between this one and the next.
    static void SpreadTiles(const int32_t* tiles, Vec& left, Vec& right) {
        const Vec before = Load(tiles);
        const Vec after = _mm_srli_si128(before, 4);
        left = _mm_unpacklo_epi32(before, before);
        right = _mm_unpacklo_epi32(after, after);
    }
};

}  // namespace

const KernelSet kSse2Kernels = KernelsFor<Sse2Ops>();

}  // namespace frame_scaler_kernels
