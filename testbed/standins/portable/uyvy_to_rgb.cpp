#include "uyvy_to_rgb.h"

#include <cstring>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define FERNWOOD_UYVY_SSE2 1
#endif

namespace fernwood {
namespace {

// BT.601 studio range in 16.16 fixed point.
constexpr int32_t kY = 76309;    // 1.164383
constexpr int32_t kRv = 104597;  // 1.596027
constexpr int32_t kGu = 25675;   // 0.391762
constexpr int32_t kGv = 53279;   // 0.812968
constexpr int32_t kBu = 132201;  // 2.017232
constexpr int32_t kHalf = 1 << 15;

// Per-byte terms and a clamp table, so that a pixel costs additions and
// lookups only.
constexpr int32_t kClampBias = 512;  // the terms sum to -278..538 after the shift
constexpr int kClampSize = 1280;

struct Tables {
    int32_t luma[256];
    int32_t red_v[256];
    int32_t green_u[256];
    int32_t green_v[256];
    int32_t blue_u[256];
    uint8_t clamp[kClampSize];

    Tables() {
        for (int i = 0; i < 256; ++i) {
            luma[i] = kY * (i - 16) + kHalf + (kClampBias << 16);
            red_v[i] = kRv * (i - 128);
            green_u[i] = -kGu * (i - 128);
            green_v[i] = -kGv * (i - 128);
            blue_u[i] = kBu * (i - 128);
        }
        for (int i = 0; i < kClampSize; ++i) {
            int v = i - kClampBias;
            clamp[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
};

const Tables& T() {
    static const Tables tables;
    return tables;
}

// luma already carries the rounding and the clamp bias, so the sum is never negative.
inline uint8_t Clamp(const Tables& t, int32_t sum) { return t.clamp[static_cast<uint32_t>(sum) >> 16]; }

struct Chroma {
    int32_t r, g, b;
};

inline Chroma ChromaTerms(const Tables& t, uint8_t cb, uint8_t cr) {
    return {t.red_v[cr], t.green_u[cb] + t.green_v[cr], t.blue_u[cb]};
}

struct Put32 {
    static constexpr int kBytes = 4;
    static void Put(uint8_t* p, uint8_t r, uint8_t g, uint8_t b) {
        p[0] = b;
        p[1] = g;
        p[2] = r;
        p[3] = 0;
    }
};

struct Put24 {
    static constexpr int kBytes = 3;
    static void Put(uint8_t* p, uint8_t r, uint8_t g, uint8_t b) {
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
};

struct Put565 {
    static constexpr int kBytes = 2;
    static void Put(uint8_t* p, uint8_t r, uint8_t g, uint8_t b) {
        unsigned v = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    }
};

struct Put555 {
    static constexpr int kBytes = 2;
    static void Put(uint8_t* p, uint8_t r, uint8_t g, uint8_t b) {
        unsigned v = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    }
};

#ifdef FERNWOOD_UYVY_SSE2
// Eight pixels at a time with the same 16.16 arithmetic as the tables, so the
// output is identical to the byte-by-byte path. _mm_madd_epi16 takes 16-bit
// factors only: each coefficient c is split as hi * 32768 + lo, with lo in
// 0..32767, and the two partial sums are recombined in 32 bits.
struct Split {
    int16_t hi, lo;
};
constexpr Split SplitOf(int32_t c) {
    return {static_cast<int16_t>((c - (((c % 32768) + 32768) % 32768)) / 32768),
            static_cast<int16_t>(((c % 32768) + 32768) % 32768)};
}
constexpr Split kSy = SplitOf(kY), kSrv = SplitOf(kRv), kSbu = SplitOf(kBu);
constexpr Split kSgu = SplitOf(-kGu), kSgv = SplitOf(-kGv);

inline __m128i Pairs(int16_t even, int16_t odd) {
    return _mm_set_epi16(odd, even, odd, even, odd, even, odd, even);
}

// (hi_sum << 15) + lo_sum, rounded and shifted back to pixel units.
inline __m128i Combine(__m128i hi, __m128i lo) {
    const __m128i sum = _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(hi, 15), lo), _mm_set1_epi32(kHalf));
    return _mm_srai_epi32(sum, 16);
}

struct Rgb16 {
    __m128i r, g, b;  // eight pixels, 0..255 in 16-bit lanes
};

struct HalfSums {
    __m128i r, g, b;  // four pixels, 32-bit lanes, not yet clamped
};

// v: U Y V Y U Y V Y as 16-bit lanes with 128 and 16 already taken off.
inline HalfSums FourPixels(__m128i v) {
    const __m128i yv = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 2, 1)), _MM_SHUFFLE(2, 3, 2, 1));
    const __m128i yu = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 3, 0, 1)), _MM_SHUFFLE(0, 3, 0, 1));
    HalfSums s;
    s.r = Combine(_mm_madd_epi16(yv, Pairs(kSy.hi, kSrv.hi)), _mm_madd_epi16(yv, Pairs(kSy.lo, kSrv.lo)));
    s.b = Combine(_mm_madd_epi16(yu, Pairs(kSy.hi, kSbu.hi)), _mm_madd_epi16(yu, Pairs(kSy.lo, kSbu.lo)));
    const __m128i g_hi = _mm_add_epi32(_mm_madd_epi16(yu, Pairs(kSy.hi, kSgu.hi)), _mm_madd_epi16(yv, Pairs(0, kSgv.hi)));
    const __m128i g_lo = _mm_add_epi32(_mm_madd_epi16(yu, Pairs(kSy.lo, kSgu.lo)), _mm_madd_epi16(yv, Pairs(0, kSgv.lo)));
    s.g = Combine(g_hi, g_lo);
    return s;
}

inline __m128i Clamp8(__m128i a, __m128i b) {
    return _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(a, b), _mm_setzero_si128()), _mm_set1_epi16(255));
}

inline Rgb16 EightPixels(const uint8_t* s) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i offsets = Pairs(128, 16);
    const __m128i zero = _mm_setzero_si128();
    const HalfSums a = FourPixels(_mm_sub_epi16(_mm_unpacklo_epi8(bytes, zero), offsets));
    const HalfSums b = FourPixels(_mm_sub_epi16(_mm_unpackhi_epi8(bytes, zero), offsets));
    return {Clamp8(a.r, b.r), Clamp8(a.g, b.g), Clamp8(a.b, b.b)};
}

// B G R 0 for pixels 0..3 and 4..7.
inline void Bgr0(const Rgb16& c, __m128i* lo, __m128i* hi) {
    const __m128i bg = _mm_or_si128(c.b, _mm_slli_epi16(c.g, 8));
    *lo = _mm_unpacklo_epi16(bg, c.r);
    *hi = _mm_unpackhi_epi16(bg, c.r);
}

inline void Store8(uint8_t* d, const Rgb16& c, Put32) {
    __m128i lo, hi;
    Bgr0(c, &lo, &hi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), hi);
}

inline void Store8(uint8_t* d, const Rgb16& c, Put24) {
    alignas(16) uint8_t quads[32];
    __m128i lo, hi;
    Bgr0(c, &lo, &hi);
    _mm_store_si128(reinterpret_cast<__m128i*>(quads), lo);
    _mm_store_si128(reinterpret_cast<__m128i*>(quads + 16), hi);
    for (int i = 0; i < 8; ++i) std::memcpy(d + 3 * i, quads + 4 * i, 3);
}

inline void Store8(uint8_t* d, const Rgb16& c, Put565) {
    const __m128i v = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_srli_epi16(c.r, 3), 11),
                                                _mm_slli_epi16(_mm_srli_epi16(c.g, 2), 5)),
                                   _mm_srli_epi16(c.b, 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
}

inline void Store8(uint8_t* d, const Rgb16& c, Put555) {
    const __m128i v = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_srli_epi16(c.r, 3), 10),
                                                _mm_slli_epi16(_mm_srli_epi16(c.g, 3), 5)),
                                   _mm_srli_epi16(c.b, 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
}

// Pixels converted eight at a time; the caller does the rest of the row.
template <typename Out>
int ConvertEights(const uint8_t* s, uint8_t* d, int width) {
    int x = 0;
    for (; x + 8 <= width; x += 8, s += 16, d += 8 * Out::kBytes) Store8(d, EightPixels(s), Out());
    return x;
}
#else
template <typename Out>
int ConvertEights(const uint8_t*, uint8_t*, int) {
    return 0;
}
#endif

template <typename Out>
void ConvertRows(const UyvyConversion& c, const uint8_t* src, uint8_t* dst, size_t dst_stride) {
    const Tables& t = T();
    const size_t src_stride = static_cast<size_t>(c.width) * 2;
    const size_t used = static_cast<size_t>(c.width) * Out::kBytes;
    for (int row = 0; row < c.height; ++row) {
        const uint8_t* s = src + src_stride * static_cast<size_t>(row);
        const int dst_row = c.bottom_up ? c.height - 1 - row : row;
        uint8_t* const line = dst + dst_stride * static_cast<size_t>(dst_row);
        const int done = ConvertEights<Out>(s, line, c.width);
        s += 2 * done;
        uint8_t* d = line + static_cast<size_t>(done) * Out::kBytes;
        for (int x = done; x < c.width; x += 2, s += 4, d += 2 * Out::kBytes) {
            const Chroma ch = ChromaTerms(t, s[0], s[2]);
            const int32_t y0 = t.luma[s[1]];
            const int32_t y1 = t.luma[s[3]];
            Out::Put(d, Clamp(t, y0 + ch.r), Clamp(t, y0 + ch.g), Clamp(t, y0 + ch.b));
            Out::Put(d + Out::kBytes, Clamp(t, y1 + ch.r), Clamp(t, y1 + ch.g), Clamp(t, y1 + ch.b));
        }
        // Padding bytes of a DIB row stay defined.
        if (used < dst_stride) std::memset(line + used, 0, dst_stride - used);
    }
}

}  // namespace

int RgbBitsPerPixel(RgbLayout layout) {
    switch (layout) {
    case RgbLayout::kRgb32: return 32;
    case RgbLayout::kRgb24: return 24;
    case RgbLayout::kRgb565:
    case RgbLayout::kRgb555: return 16;
    }
    return 0;
}

size_t DibStride(int width, int bits_per_pixel) {
    if (width <= 0 || bits_per_pixel <= 0) return 0;
    const size_t bits = static_cast<size_t>(width) * static_cast<size_t>(bits_per_pixel);
    if (bits / static_cast<size_t>(bits_per_pixel) != static_cast<size_t>(width)) return 0;
    return (bits + 31) / 32 * 4;
}

size_t UyvyFrameSize(int width, int height) {
    if (width <= 0 || height <= 0 || width % 2 != 0) return 0;
    const size_t row = static_cast<size_t>(width) * 2;
    if (static_cast<size_t>(height) > std::numeric_limits<size_t>::max() / row) return 0;
    return row * static_cast<size_t>(height);
}

Rgb UyvyPixelToRgb(uint8_t y, uint8_t cb, uint8_t cr) {
    const Tables& t = T();
    const Chroma ch = ChromaTerms(t, cb, cr);
    const int32_t l = t.luma[y];
    return {Clamp(t, l + ch.r), Clamp(t, l + ch.g), Clamp(t, l + ch.b)};
}

bool ConvertUyvyToRgb(const UyvyConversion& c, const uint8_t* src, size_t src_size, uint8_t* dst,
                      size_t dst_size) {
    const size_t needed_src = UyvyFrameSize(c.width, c.height);
    const size_t stride = DibStride(c.width, RgbBitsPerPixel(c.layout));
    if (needed_src == 0 || stride == 0 || !src || !dst) return false;
    if (static_cast<size_t>(c.height) > std::numeric_limits<size_t>::max() / stride) return false;
    if (src_size < needed_src || dst_size < stride * static_cast<size_t>(c.height)) return false;

    switch (c.layout) {
    case RgbLayout::kRgb32: ConvertRows<Put32>(c, src, dst, stride); break;
    case RgbLayout::kRgb24: ConvertRows<Put24>(c, src, dst, stride); break;
    case RgbLayout::kRgb565: ConvertRows<Put565>(c, src, dst, stride); break;
    case RgbLayout::kRgb555: ConvertRows<Put555>(c, src, dst, stride); break;
    }
    return true;
}

}  // namespace fernwood
