#include "still/bmp_picture.h"

#include <algorithm>

// The product and the sum are rounded separately (no fused multiply-add), so
// every build writes the same bytes.
static int Interpolate(int a, int b, double fraction)
{
    volatile double product = static_cast<double>(b - a) * fraction;
    double value = product + a;
    return static_cast<int>(value);
}

int SqueezeToFourThirds(const uint8_t* in, uint8_t* out, int width, int height)
{
    int squeezed = 3 * width / 4;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = in + static_cast<size_t>(width) * y * 4;
        uint8_t* target = out + static_cast<size_t>(squeezed) * y * 4;
        for (int x = 0; x < squeezed; ++x) {
            int p = 4 * x / 3;
            double fraction = (4.0 * x) / 3.0 - p;
            int q = p + 1 < width ? p + 1 : width - 1;
            const uint8_t* a = row + p * 4;
            const uint8_t* b = row + q * 4;
            for (int channel = 0; channel < 3; ++channel)
                target[x * 4 + channel] = static_cast<uint8_t>(Interpolate(a[channel], b[channel], fraction));
            target[x * 4 + 3] = 0;
        }
    }
    return squeezed;
}

void FlipRows(uint8_t* pixels, int width, int height)
{
    size_t row_bytes = static_cast<size_t>(width) * 4;
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        uint8_t* row = pixels + row_bytes * top;
        std::swap_ranges(row, row + row_bytes, pixels + row_bytes * bottom);
    }
}

static void Put16(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

static void Put32(uint8_t* at, uint32_t value)
{
    Put16(at, value);
    Put16(at + 2, value >> 16);
}

void WriteBmpHeaders(uint8_t (&headers)[kBmpHeaderBytes], int width, int height)
{
    for (uint8_t& byte : headers)
        byte = 0;
    uint32_t pixel_bytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 4;
    headers[0] = 'B';
    headers[1] = 'M';
    Put32(headers + 2, pixel_bytes + kBmpHeaderBytes);
    Put32(headers + 10, kBmpHeaderBytes);
    Put32(headers + 14, 40);
    Put32(headers + 18, static_cast<uint32_t>(width));
    Put32(headers + 22, static_cast<uint32_t>(height));
    Put16(headers + 26, 1);
    Put16(headers + 28, 32);
}
