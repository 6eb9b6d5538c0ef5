// Per-frame cost of the colour space converter's pixel work at the capture
// sizes. Prints figures only; nothing here is a pass/fail test.
#include <chrono>
#include <cstdio>
#include <vector>

#include "rgb_convert.h"

namespace {

using Clock = std::chrono::steady_clock;

fernwood::PictureView Packed(fernwood::RgbLayout layout, int w, int h, bool bottom_up) {
    fernwood::PictureView v;
    v.layout = layout;
    v.stride = fernwood::DibStride(w, fernwood::RgbBitsPerPixel(layout));
    v.buffer_rows = h;
    v.bottom_up = bottom_up;
    v.width = w;
    v.height = h;
    return v;
}

// Milliseconds per conversion, averaged over at least min_seconds.
double MillisecondsPerFrame(fernwood::RgbLayout in, fernwood::RgbLayout out, bool flip, int w, int h,
                            double min_seconds) {
    const auto s = Packed(in, w, h, true), d = Packed(out, w, h, !flip);
    std::vector<uint8_t> src(fernwood::DibBytes(s.stride, h)), dst(fernwood::DibBytes(d.stride, h));
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 7);
    fernwood::ConvertPicture(s, src.data(), src.size(), d, dst.data(), dst.size());
    size_t runs = 0;
    double elapsed = 0;
    const auto start = Clock::now();
    do {
        fernwood::ConvertPicture(s, src.data(), src.size(), d, dst.data(), dst.size());
        ++runs;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < min_seconds);
    return elapsed * 1000.0 / static_cast<double>(runs);
}

}  // namespace

int main() {
    using fernwood::RgbLayout;
    const double kSeconds = 1.0;
    const struct {
        const char* name;
        RgbLayout in, out;
        bool flip;
    } cases[] = {
        {"RGB24 -> RGB32", RgbLayout::kRgb24, RgbLayout::kRgb32, false},
        {"RGB32 -> RGB32 (copy)", RgbLayout::kRgb32, RgbLayout::kRgb32, false},
        {"RGB32 -> RGB32 flipped", RgbLayout::kRgb32, RgbLayout::kRgb32, true},
        {"RGB32 -> RGB565", RgbLayout::kRgb32, RgbLayout::kRgb565, false},
    };
    std::printf("colour conversion, ms per frame (%.1f s per figure)\n", kSeconds);
    std::printf("%-24s %12s %12s\n", "conversion", "1280x720", "1920x1080");
    for (const auto& c : cases) {
        const double hd = MillisecondsPerFrame(c.in, c.out, c.flip, 1280, 720, kSeconds);
        const double full = MillisecondsPerFrame(c.in, c.out, c.flip, 1920, 1080, kSeconds);
        std::printf("%-24s %12.2f %12.2f\n", c.name, hd, full);
    }
    return 0;
}
