// The still picture's pixels and file layout, without Windows API.
#ifndef FERNWOODVIEW_BMP_PICTURE_H
#define FERNWOODVIEW_BMP_PICTURE_H

#include <cstddef>
#include <cstdint>

constexpr size_t kStillBufferBytes = 8294400;  // one 1920 × 1080 picture, 4 bytes a pixel
constexpr size_t kBmpHeaderBytes = 54;

// Squeezes `height` rows of `width` 32-bit pixels (blue, green, red, x) to
// three quarters of the width by linear interpolation between neighbours;
// returns the new width. `out` needs (3 × width / 4) × height × 4 bytes.
int SqueezeToFourThirds(const uint8_t* in, uint8_t* out, int width, int height);

// Puts the last of `height` rows of `width` 32-bit pixels first and so on:
// a top-down picture becomes the bottom-up rows a BMP stores.
void FlipRows(uint8_t* pixels, int width, int height);

// The 14-byte file header and 40-byte info header of a 32-bit bottom-up BMP.
void WriteBmpHeaders(uint8_t (&headers)[kBmpHeaderBytes], int width, int height);

#endif
