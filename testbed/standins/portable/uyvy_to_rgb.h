// UYVY (4:2:2, byte order U0 Y0 V0 Y1) to RGB DIB conversion, as a capture
// card delivers it: ITU-R BT.601 studio range (Y 16..235, Cb/Cr 16..240).
//
//   R = 1.164383 (Y-16)                       + 1.596027 (Cr-128)
//   G = 1.164383 (Y-16) - 0.391762 (Cb-128)   - 0.812968 (Cr-128)
//   B = 1.164383 (Y-16) + 2.017232 (Cb-128)
//
// computed exactly as (>> is an arithmetic shift, T(v, k) = (v * k) >> 8,
// the coefficients being the ones above times 2^14, rounded):
//
//   L = T(Y, 19078)
//   R = clamp((L + T(Cr, 26149) - 14235) >> 6)
//   G = clamp((L - T(Cb, 6419) - T(Cr, 13320) + 8708) >> 6)
//   B = clamp((L + T(Cb, 33050) - 17686) >> 6)
//
// clamp to 0..255. Every result is within 1 of the BT.601 value rounded to
// the nearest integer and clamped, and grey (Cb = Cr = 128) stays grey. Both pixels of a pair share the pair's Cb
// and Cr (no chroma interpolation).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fernwood {

enum class RgbLayout {
    kRgb32,   // B G R X, X = 0
    kRgb24,   // B G R
    kRgb565,  // 16-bit little endian, R in bits 15..11
    kRgb555,  // 16-bit little endian, R in bits 14..10, bit 15 = 0
};

struct Rgb {
    uint8_t r, g, b;
};

int RgbBitsPerPixel(RgbLayout layout);

// Bytes per row of a DIB: rows padded to a multiple of four bytes.
// Returns 0 when the width is not positive or the row would not fit.
size_t DibStride(int width, int bits_per_pixel);

// Bytes of one UYVY frame (rows are width * 2 bytes, width even), 0 when the
// size is invalid.
size_t UyvyFrameSize(int width, int height);

Rgb UyvyPixelToRgb(uint8_t y, uint8_t cb, uint8_t cr);

struct UyvyConversion {
    int width = 0;   // even, > 0
    int height = 0;  // > 0; the UYVY source is always top-down
    RgbLayout layout = RgbLayout::kRgb32;
    bool bottom_up = true;  // DIB row order of the destination
};

// The code ConvertUyvyToRgb runs; all give the same bytes. By default the
// fastest one the processor has; tests force each in turn.
enum class UyvyPath { kScalar, kSse2, kAvx2 };
bool UyvyPathAvailable(UyvyPath path);
// Returns false, changing nothing, when the path is not available here.
bool SetUyvyPath(UyvyPath path);
UyvyPath CurrentUyvyPath();

// Converts one frame. Returns false, touching nothing, when the geometry is
// invalid or either buffer is smaller than the frame needs.
bool ConvertUyvyToRgb(const UyvyConversion& conversion, const uint8_t* src, size_t src_size,
                      uint8_t* dst, size_t dst_size);

}  // namespace fernwood
