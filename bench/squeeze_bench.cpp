// Prints the 4:3 squeeze's throughput for the two capture sizes.
#include "still/bmp_picture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

int main()
{
    struct Size {
        int width, height;
    };
    for (Size size : {Size{1280, 720}, Size{1920, 1080}}) {
        std::vector<uint8_t> in(static_cast<size_t>(size.width) * size.height * 4);
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<uint8_t>(i * 31 + i / 7);
        std::vector<uint8_t> out(in.size());
        std::vector<double> seconds;
        for (int run = 0; run < 30; ++run) {
            auto start = std::chrono::steady_clock::now();
            SqueezeToFourThirds(in.data(), out.data(), size.width, size.height);
            seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(seconds.begin(), seconds.end());
        double median = seconds[seconds.size() / 2];
        double megapixels = size.width * static_cast<double>(size.height) / 1e6;
        std::printf("squeeze %dx%d: median %.2f ms, %.1f megapixels/s (source pixels), checksum %u\n", size.width,
                    size.height, median * 1e3, megapixels / median, out[out.size() / 3]);
    }
    return 0;
}
