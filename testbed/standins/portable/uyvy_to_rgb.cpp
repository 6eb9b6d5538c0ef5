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
// output is identical to the byte-by-byte path. Luma is worked out per pixel
// as (Y' << 16) + 10773 Y' from 16-bit products; each pair's chroma terms
// once, with _mm_madd_epi16, whose 16-bit factors need each coefficient c
// split as hi * 32768 + lo (lo in 0..32767), recombined in 32 bits.
struct Split {
    int16_t hi, lo;
};
constexpr Split SplitOf(int32_t c) {
    return {static_cast<int16_t>((c - (((c % 32768) + 32768) % 32768)) / 32768),
            static_cast<int16_t>(((c % 32768) + 32768) % 32768)};
}
constexpr Split kSrv = SplitOf(kRv), kSbu = SplitOf(kBu);
constexpr Split kSgu = SplitOf(-kGu), kSgv = SplitOf(-kGv);
constexpr int16_t kYLow = static_cast<int16_t>(kY - 65536);  // kY = 65536 + 10773

inline __m128i Pairs(int16_t even, int16_t odd) {
    return _mm_set_epi16(odd, even, odd, even, odd, even, odd, even);
}

// Four pairs' term for one channel: hi * 32768 + lo over (Cb, Cr).
inline __m128i ChromaTerm(__m128i uv, Split cb, Split cr) {
    const __m128i hi = _mm_madd_epi16(uv, Pairs(cb.hi, cr.hi));
    return _mm_add_epi32(_mm_slli_epi32(hi, 15), _mm_madd_epi16(uv, Pairs(cb.lo, cr.lo)));
}

// Luma plus a pair's chroma term, shifted back to pixel units, as eight 16-bit lanes.
inline __m128i Channel(__m128i luma_a, __m128i luma_b, __m128i chroma) {
    const __m128i a = _mm_srai_epi32(_mm_add_epi32(luma_a, _mm_unpacklo_epi32(chroma, chroma)), 16);
    const __m128i b = _mm_srai_epi32(_mm_add_epi32(luma_b, _mm_unpackhi_epi32(chroma, chroma)), 16);
    return _mm_packs_epi32(a, b);
}

struct Rgb16 {
    __m128i r, g, b;  // eight pixels, not yet clamped, in 16-bit lanes
};

inline Rgb16 EightPixels(const uint8_t* s) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i y = _mm_sub_epi16(_mm_srli_epi16(bytes, 8), _mm_set1_epi16(16));
    const __m128i uv = _mm_sub_epi16(_mm_and_si128(bytes, _mm_set1_epi16(0xFF)), _mm_set1_epi16(128));
    const __m128i low = _mm_mullo_epi16(y, _mm_set1_epi16(kYLow));
    const __m128i high = _mm_add_epi16(_mm_mulhi_epi16(y, _mm_set1_epi16(kYLow)), y);
    const __m128i half = _mm_set1_epi32(kHalf);
    const __m128i luma_a = _mm_add_epi32(_mm_unpacklo_epi16(low, high), half);
    const __m128i luma_b = _mm_add_epi32(_mm_unpackhi_epi16(low, high), half);
    return {Channel(luma_a, luma_b, ChromaTerm(uv, Split{0, 0}, kSrv)),
            Channel(luma_a, luma_b, ChromaTerm(uv, kSgu, kSgv)),
            Channel(luma_a, luma_b, ChromaTerm(uv, kSbu, Split{0, 0}))};
}

// B G R 0 for pixels 0..3 and 4..7; the byte packs clamp to 0..255.
inline void Bgr0(const Rgb16& c, __m128i* lo, __m128i* hi) {
    const __m128i br = _mm_packus_epi16(c.b, c.r);
    const __m128i g0 = _mm_packus_epi16(c.g, _mm_setzero_si128());
    const __m128i bg = _mm_unpacklo_epi8(br, g0);
    const __m128i r0 = _mm_unpackhi_epi8(br, g0);
    *lo = _mm_unpacklo_epi16(bg, r0);
    *hi = _mm_unpackhi_epi16(bg, r0);
}

inline __m128i Clamp(__m128i v) {
    return _mm_min_epi16(_mm_max_epi16(v, _mm_setzero_si128()), _mm_set1_epi16(255));
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
    const __m128i r = Clamp(c.r), g = Clamp(c.g), b = Clamp(c.b);
    const __m128i v = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_srli_epi16(r, 3), 11),
                                                _mm_slli_epi16(_mm_srli_epi16(g, 2), 5)),
                                   _mm_srli_epi16(b, 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
}

inline void Store8(uint8_t* d, const Rgb16& c, Put555) {
    const __m128i r = Clamp(c.r), g = Clamp(c.g), b = Clamp(c.b);
    const __m128i v = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_srli_epi16(r, 3), 10),
                                                _mm_slli_epi16(_mm_srli_epi16(g, 3), 5)),
                                   _mm_srli_epi16(b, 3));
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
