#include "uyvy_to_rgb.h"

#include "uyvy_to_rgb_simd.h"

#include <atomic>
#include <cstring>
#include <limits>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define FERNWOOD_UYVY_SSE2 1
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace fernwood {
namespace {

using namespace uyvy;

inline int Term(int v, int k) { return (v * k) >> 8; }
inline uint8_t Clamp6(int v) {
    v >>= 6;
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

struct Put32 {
    static constexpr int kBytes = 4;
    static void Put(uint8_t* p, Rgb c) {
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
        p[3] = 0;
    }
};

struct Put24 {
    static constexpr int kBytes = 3;
    static void Put(uint8_t* p, Rgb c) {
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
    }
};

struct Put565 {
    static constexpr int kBytes = 2;
    static void Put(uint8_t* p, Rgb c) {
        unsigned v = ((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    }
};

struct Put555 {
    static constexpr int kBytes = 2;
    static void Put(uint8_t* p, Rgb c) {
        unsigned v = ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    }
};

#ifdef FERNWOOD_UYVY_SSE2
// Eight pixels per step in 16-bit lanes. _mm_mulhi_epu16 of a byte moved to
// the high half gives exactly the header's (v * k) >> 8. Every term stays
// inside int16; only the last addition can pass 32767, and then the true
// value is far above 255, so the saturating add clamps as the formula does.
struct Rgb16 {
    __m128i r, g, b;  // eight pixels with six fraction bits, not yet clamped
};

inline __m128i Const(int v) { return _mm_set1_epi16(static_cast<short>(v)); }

inline Rgb16 EightPixels(const uint8_t* s) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i y = _mm_mulhi_epu16(_mm_and_si128(bytes, Const(0xFF00)), Const(kY));
    const __m128i c = _mm_slli_epi16(bytes, 8);  // Cb or Cr in the high byte
    const __m128i cb = _mm_shufflehi_epi16(_mm_shufflelo_epi16(c, 0xA0), 0xA0);
    const __m128i cr = _mm_shufflehi_epi16(_mm_shufflelo_epi16(c, 0xF5), 0xF5);
    const __m128i red = _mm_sub_epi16(_mm_mulhi_epu16(cr, Const(kRv)), Const(kRed));
    const __m128i green =
        _mm_sub_epi16(Const(kGreen), _mm_add_epi16(_mm_mulhi_epu16(cb, Const(kGu)), _mm_mulhi_epu16(cr, Const(kGv))));
    const __m128i blue = _mm_sub_epi16(_mm_mulhi_epu16(cb, Const(kBu)), Const(kBlue));
    return {_mm_srai_epi16(_mm_adds_epi16(y, red), 6), _mm_srai_epi16(_mm_adds_epi16(y, green), 6),
            _mm_srai_epi16(_mm_adds_epi16(y, blue), 6)};
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

template <typename Out>
int Sse2Row(const uint8_t* s, uint8_t* d, int width) {
    int x = 0;
    for (; x + 8 <= width; x += 8, s += 16, d += 8 * Out::kBytes) Store8(d, EightPixels(s), Out());
    return x;
}

// AVX2 needs the processor's flag and the system's promise to save the
// 256-bit registers (OSXSAVE, then XCR0 bits 1 and 2).
bool CpuHasAvx2() {
    unsigned b = 0, c = 0;
#if defined(_MSC_VER) && !defined(__clang__)
    int r[4];
    __cpuid(r, 0);
    if (r[0] < 7) return false;
    __cpuid(r, 1);
    c = static_cast<unsigned>(r[2]);
    if (!(c & (1u << 27)) || !(c & (1u << 28))) return false;
    if ((_xgetbv(0) & 6) != 6) return false;
    __cpuidex(r, 7, 0);
    b = static_cast<unsigned>(r[1]);
#else
    unsigned a = 0, d = 0;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __get_cpuid(1, &a, &b, &c, &d);
    if (!(c & (1u << 27)) || !(c & (1u << 28))) return false;
    unsigned xcr0 = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(high) : "c"(0));
    if ((xcr0 & 6) != 6) return false;
    __get_cpuid_count(7, 0, &a, &b, &c, &d);
#endif
    return (b & (1u << 5)) != 0;
}
#else
template <typename Out>
int Sse2Row(const uint8_t*, uint8_t*, int) {
    return 0;
}
bool CpuHasAvx2() { return false; }
#endif

constexpr RgbLayout LayoutOf(Put32) { return RgbLayout::kRgb32; }
constexpr RgbLayout LayoutOf(Put24) { return RgbLayout::kRgb24; }
constexpr RgbLayout LayoutOf(Put565) { return RgbLayout::kRgb565; }
constexpr RgbLayout LayoutOf(Put555) { return RgbLayout::kRgb555; }

UyvyPath BestPath() {
    if (Avx2Built() && CpuHasAvx2()) return UyvyPath::kAvx2;
#ifdef FERNWOOD_UYVY_SSE2
    return UyvyPath::kSse2;
#else
    return UyvyPath::kScalar;
#endif
}

std::atomic<UyvyPath>& Path() {
    static std::atomic<UyvyPath> path{BestPath()};
    return path;
}

// The vector code's share of a row; the caller converts the remaining pixels.
template <typename Out>
int VectorRow(UyvyPath path, const uint8_t* s, uint8_t* d, int width) {
    int done = 0;
    if (path == UyvyPath::kAvx2) done = Avx2Row(LayoutOf(Out()), s, d, width);
    if (path == UyvyPath::kScalar) return done;
    return done + Sse2Row<Out>(s + 2 * done, d + static_cast<size_t>(done) * Out::kBytes, width - done);
}

template <typename Out>
void ConvertRows(const UyvyConversion& c, const uint8_t* src, uint8_t* dst, size_t dst_stride) {
    const UyvyPath path = Path().load(std::memory_order_relaxed);
    const size_t src_stride = static_cast<size_t>(c.width) * 2;
    const size_t used = static_cast<size_t>(c.width) * Out::kBytes;
    for (int row = 0; row < c.height; ++row) {
        const uint8_t* s = src + src_stride * static_cast<size_t>(row);
        const int dst_row = c.bottom_up ? c.height - 1 - row : row;
        uint8_t* const line = dst + dst_stride * static_cast<size_t>(dst_row);
        const int done = VectorRow<Out>(path, s, line, c.width);
        s += 2 * done;
        uint8_t* d = line + static_cast<size_t>(done) * Out::kBytes;
        for (int x = done; x < c.width; x += 2, s += 4, d += 2 * Out::kBytes) {
            Out::Put(d, UyvyPixelToRgb(s[1], s[0], s[2]));
            Out::Put(d + Out::kBytes, UyvyPixelToRgb(s[3], s[0], s[2]));
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
    const int l = Term(y, kY);
    return {Clamp6(l + Term(cr, kRv) - kRed), Clamp6(l - Term(cb, kGu) - Term(cr, kGv) + kGreen),
            Clamp6(l + Term(cb, kBu) - kBlue)};
}

bool UyvyPathAvailable(UyvyPath path) {
    switch (path) {
    case UyvyPath::kScalar: return true;
    case UyvyPath::kSse2: return BestPath() != UyvyPath::kScalar;
    case UyvyPath::kAvx2: return BestPath() == UyvyPath::kAvx2;
    }
    return false;
}

bool SetUyvyPath(UyvyPath path) {
    if (!UyvyPathAvailable(path)) return false;
    Path().store(path, std::memory_order_relaxed);
    return true;
}

UyvyPath CurrentUyvyPath() { return Path().load(std::memory_order_relaxed); }

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
