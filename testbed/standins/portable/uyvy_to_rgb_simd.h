// Internal to the UYVY decoder: the integer formula of uyvy_to_rgb.h, shared
// by the portable code and the vector code built with other compiler flags.
#pragma once

#include "uyvy_to_rgb.h"

namespace fernwood {
namespace uyvy {

constexpr int kY = 19078;   // 1.164383 * 2^14
constexpr int kRv = 26149;  // 1.596027 * 2^14
constexpr int kGu = 6419;   // 0.391762 * 2^14
constexpr int kGv = 13320;  // 0.812968 * 2^14
constexpr int kBu = 33050;  // 2.017232 * 2^14
constexpr int kRed = 14235;
constexpr int kGreen = 8708;
constexpr int kBlue = 17686;

// False when this build has no AVX2 code (another compiler or processor).
bool Avx2Built();

// Converts the leading pixels of one row, sixteen at a time, and returns how
// many it did; the caller does the rest. Only call when the CPU has AVX2.
int Avx2Row(RgbLayout layout, const uint8_t* src, uint8_t* dst, int width);

}  // namespace uyvy
}  // namespace fernwood
