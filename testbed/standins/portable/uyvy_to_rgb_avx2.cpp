// Built with AVX2 enabled; only called after the CPU has been checked.
#include "uyvy_to_rgb_simd.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace fernwood {
namespace uyvy {
namespace {

// The SSE2 arithmetic of uyvy_to_rgb.cpp on sixteen pixels. Every step stays
// in its 128-bit lane, so the pixels come out in the order they were loaded.
struct Rgb16 {
    __m256i r, g, b;
};

inline __m256i Const(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }

inline __m256i Load(const uint8_t* s) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s)); }

// Byte `offset` of each pair into the high byte of both its pixels' lanes.
inline __m256i PairMask(char offset) {
    const char z = -128, a = offset, b = static_cast<char>(offset + 4), c = static_cast<char>(offset + 8),
               d = static_cast<char>(offset + 12);
    return _mm256_setr_epi8(z, a, z, a, z, b, z, b, z, c, z, c, z, d, z, d,  //
                            z, a, z, a, z, b, z, b, z, c, z, c, z, d, z, d);
}

inline Rgb16 SixteenPixels(__m256i bytes) {
    const __m256i y = _mm256_mulhi_epu16(_mm256_and_si256(bytes, Const(0xFF00)), Const(kY));
    const __m256i cb = _mm256_shuffle_epi8(bytes, PairMask(0));
    const __m256i cr = _mm256_shuffle_epi8(bytes, PairMask(2));
    const __m256i red = _mm256_sub_epi16(_mm256_mulhi_epu16(cr, Const(kRv)), Const(kRed));
    const __m256i green = _mm256_sub_epi16(
        Const(kGreen), _mm256_add_epi16(_mm256_mulhi_epu16(cb, Const(kGu)), _mm256_mulhi_epu16(cr, Const(kGv))));
    const __m256i blue = _mm256_sub_epi16(_mm256_mulhi_epu16(cb, Const(kBu)), Const(kBlue));
    return {_mm256_srai_epi16(_mm256_adds_epi16(y, red), 6), _mm256_srai_epi16(_mm256_adds_epi16(y, green), 6),
            _mm256_srai_epi16(_mm256_adds_epi16(y, blue), 6)};
}

// B G R 0 of pixels 0..7 and 8..15; the byte packs clamp to 0..255. The
// unpacks split each lane in halves, so the pixels go in as 0..3, 8..11 in
// the low lane and 4..7, 12..15 in the high one.
inline void Bgr0(const uint8_t* s, __m256i* first, __m256i* second) {
    const Rgb16 c = SixteenPixels(_mm256_permute4x64_epi64(Load(s), 0xD8));
    const __m256i br = _mm256_packus_epi16(c.b, c.r);
    const __m256i g0 = _mm256_packus_epi16(c.g, _mm256_setzero_si256());
    const __m256i bg = _mm256_unpacklo_epi8(br, g0);
    const __m256i r0 = _mm256_unpackhi_epi8(br, g0);
    *first = _mm256_unpacklo_epi16(bg, r0);
    *second = _mm256_unpackhi_epi16(bg, r0);
}

inline __m256i Clamp(__m256i v) {
    return _mm256_min_epi16(_mm256_max_epi16(v, _mm256_setzero_si256()), Const(255));
}

inline void Store(uint8_t* d, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), v); }

int Rgb32(const uint8_t* s, uint8_t* d, int width) {
    int x = 0;
    for (; x + 16 <= width; x += 16, s += 32, d += 64) {
        __m256i first, second;
        Bgr0(s, &first, &second);
        Store(d, first);
        Store(d + 32, second);
    }
    return x;
}

// Each store writes 32 bytes of which 24 are pixels, so the loop stops while
// the eight spare bytes still fall inside the row.
int Rgb24(const uint8_t* s, uint8_t* d, int width) {
    const __m256i squeeze = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                             0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    int x = 0;
    for (; x + 19 <= width; x += 16, s += 32, d += 48) {
        __m256i first, second;
        Bgr0(s, &first, &second);
        Store(d, _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(first, squeeze), join));
        Store(d + 24, _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(second, squeeze), join));
    }
    return x;
}

template <int kRedShift, int kGreenBits>
int Rgb16Bit(const uint8_t* s, uint8_t* d, int width) {
    int x = 0;
    for (; x + 16 <= width; x += 16, s += 32, d += 32) {
        const Rgb16 c = SixteenPixels(Load(s));
        const __m256i r = _mm256_slli_epi16(_mm256_srli_epi16(Clamp(c.r), 3), kRedShift);
        const __m256i g = _mm256_slli_epi16(_mm256_srli_epi16(Clamp(c.g), 8 - kGreenBits), 5);
        Store(d, _mm256_or_si256(_mm256_or_si256(r, g), _mm256_srli_epi16(Clamp(c.b), 3)));
    }
    return x;
}

}  // namespace

bool Avx2Built() { return true; }

int Avx2Row(RgbLayout layout, const uint8_t* src, uint8_t* dst, int width) {
    switch (layout) {
    case RgbLayout::kRgb32: return Rgb32(src, dst, width);
    case RgbLayout::kRgb24: return Rgb24(src, dst, width);
    case RgbLayout::kRgb565: return Rgb16Bit<11, 6>(src, dst, width);
    case RgbLayout::kRgb555: return Rgb16Bit<10, 5>(src, dst, width);
    }
    return 0;
}

}  // namespace uyvy
}  // namespace fernwood

#else

namespace fernwood {
namespace uyvy {
bool Avx2Built() { return false; }
int Avx2Row(RgbLayout, const uint8_t*, uint8_t*, int) { return 0; }
}  // namespace uyvy
}  // namespace fernwood

#endif
