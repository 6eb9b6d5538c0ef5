// 75% colour bars in UYVY, studio range: the frame the decoder tests and the
// benchmark feed through the conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fernwood {

struct YCbCr {
    uint8_t y, cb, cr;
};

// White, yellow, cyan, green, magenta, red, blue, black at 75% amplitude.
constexpr YCbCr kBars75[8] = {
    {180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
    {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128},
};

// Bar index of column x in a frame of the given width (8 equal bars).
inline int BarAt(int x, int width) { return x * 8 / width; }

// width must be even; the bars are vertical, every row alike.
inline std::vector<uint8_t> MakeUyvyBars(int width, int height) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * 2 * static_cast<size_t>(height));
    for (int row = 0; row < height; ++row) {
        uint8_t* p = frame.data() + static_cast<size_t>(row) * static_cast<size_t>(width) * 2;
        for (int x = 0; x < width; x += 2, p += 4) {
            const YCbCr& bar = kBars75[BarAt(x, width)];
            p[0] = bar.cb;
            p[1] = bar.y;
            p[2] = bar.cr;
            p[3] = bar.y;
        }
    }
    return frame;
}

}  // namespace fernwood
