#include "uyvy_to_rgb.h"
#include "uyvy_bars.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace fernwood {
namespace {

// Nominal RGB of the 75% bars: 191 where the primary is on, 0 where off.
constexpr uint8_t kOn = 191;
struct Expected {
    uint8_t r, g, b;
};
constexpr Expected kBarsRgb[8] = {
    {kOn, kOn, kOn}, {kOn, kOn, 0}, {0, kOn, kOn}, {0, kOn, 0},
    {kOn, 0, kOn},   {kOn, 0, 0},   {0, 0, kOn},   {0, 0, 0},
};

void ExpectNear(const Expected& e, uint8_t r, uint8_t g, uint8_t b, const char* where) {
    EXPECT_LE(std::abs(r - e.r), 2) << where << " red " << int(r);
    EXPECT_LE(std::abs(g - e.g), 2) << where << " green " << int(g);
    EXPECT_LE(std::abs(b - e.b), 2) << where << " blue " << int(b);
}

std::vector<uint8_t> Convert(const std::vector<uint8_t>& src, int w, int h, RgbLayout layout,
                             bool bottom_up) {
    std::vector<uint8_t> dst(DibStride(w, RgbBitsPerPixel(layout)) * static_cast<size_t>(h), 0xAB);
    UyvyConversion c{w, h, layout, bottom_up};
    EXPECT_TRUE(ConvertUyvyToRgb(c, src.data(), src.size(), dst.data(), dst.size()));
    return dst;
}

TEST(UyvyToRgb, ColourBarsDecodeToNominalRgbInEveryLayout) {
    const int w = 64, h = 4;
    const auto src = MakeUyvyBars(w, h);
    for (RgbLayout layout : {RgbLayout::kRgb32, RgbLayout::kRgb24}) {
        const auto dst = Convert(src, w, h, layout, true);
        const int bpp = RgbBitsPerPixel(layout) / 8;
        const size_t stride = DibStride(w, bpp * 8);
        for (int bar = 0; bar < 8; ++bar) {
            for (int x : {bar * 8, bar * 8 + 7}) {
                const uint8_t* p = dst.data() + stride * 2 + static_cast<size_t>(x * bpp);
                ExpectNear(kBarsRgb[bar], p[2], p[1], p[0], bpp == 4 ? "rgb32" : "rgb24");
                if (bpp == 4) {
                    EXPECT_EQ(p[3], 0);
                }
            }
        }
    }
    for (RgbLayout layout : {RgbLayout::kRgb565, RgbLayout::kRgb555}) {
        const auto dst = Convert(src, w, h, layout, true);
        const bool is565 = layout == RgbLayout::kRgb565;
        for (int bar = 0; bar < 8; ++bar) {
            const uint8_t* p = dst.data() + DibStride(w, 16) + static_cast<size_t>(bar * 8 * 2);
            unsigned v = p[0] | (p[1] << 8);
            uint8_t r = static_cast<uint8_t>(((v >> (is565 ? 11 : 10)) & 31) << 3);
            uint8_t g = static_cast<uint8_t>(is565 ? ((v >> 5) & 63) << 2 : ((v >> 5) & 31) << 3);
            uint8_t b = static_cast<uint8_t>((v & 31) << 3);
            // 5- and 6-bit channels lose up to 7 levels, on top of the ±2.
            Expected e = kBarsRgb[bar];
            EXPECT_LE(std::abs(r - e.r), 9) << "bar " << bar;
            EXPECT_LE(std::abs(g - e.g), 9) << "bar " << bar;
            EXPECT_LE(std::abs(b - e.b), 9) << "bar " << bar;
            if (!is565) {
                EXPECT_EQ(v & 0x8000u, 0u);
            }
        }
    }
}

TEST(UyvyToRgb, RowOrderFollowsTheDibOrientation) {
    const int w = 4, h = 3;
    std::vector<uint8_t> src(UyvyFrameSize(w, h));
    for (size_t i = 0; i < src.size(); i += 4) {
        src[i] = src[i + 2] = 128;
        src[i + 1] = src[i + 3] = 16;  // black
    }
    for (int i = 1; i < w * 2; i += 2) src[static_cast<size_t>(i)] = 235;  // top row white
    const auto bottom_up = Convert(src, w, h, RgbLayout::kRgb32, true);
    const auto top_down = Convert(src, w, h, RgbLayout::kRgb32, false);
    const size_t stride = DibStride(w, 32);
    EXPECT_EQ(bottom_up[stride * 2], 255);  // last DIB row is the top picture row
    EXPECT_EQ(bottom_up[0], 0);
    EXPECT_EQ(top_down[0], 255);
    EXPECT_EQ(top_down[stride * 2], 0);
}

TEST(UyvyToRgb, ExtremesClampAndStudioRangeEndsAreExact) {
    Rgb white = UyvyPixelToRgb(235, 128, 128);
    Rgb black = UyvyPixelToRgb(16, 128, 128);
    EXPECT_EQ(white.r, 255);
    EXPECT_EQ(white.g, 255);
    EXPECT_EQ(white.b, 255);
    EXPECT_EQ(black.r, 0);
    EXPECT_EQ(black.g, 0);
    EXPECT_EQ(black.b, 0);
    Rgb over = UyvyPixelToRgb(255, 255, 255);
    EXPECT_EQ(over.r, 255);
    EXPECT_EQ(over.b, 255);
    EXPECT_EQ(over.g, 125);  // 1.164*239 - 0.392*127 - 0.813*127 = 125.3: green is not clamped
    Rgb under = UyvyPixelToRgb(0, 0, 0);
    EXPECT_EQ(under.r, 0);
    EXPECT_EQ(under.b, 0);
    EXPECT_EQ(under.g, 136);  // -1.164*16 + 0.392*128 + 0.813*128 = 135.6
}

TEST(UyvyToRgb, Rgb24RowsArePaddedToFourBytes) {
    const int w = 2, h = 2;
    const auto src = MakeUyvyBars(w, h);
    const auto dst = Convert(src, w, h, RgbLayout::kRgb24, true);
    ASSERT_EQ(DibStride(w, 24), 8u);
    ASSERT_EQ(dst.size(), 16u);
    EXPECT_EQ(dst[6], 0);
    EXPECT_EQ(dst[7], 0);
    EXPECT_EQ(dst[14], 0);
    EXPECT_EQ(dst[15], 0);
}

TEST(UyvyToRgb, RejectsBadGeometryAndShortBuffersWithoutWriting) {
    const int w = 8, h = 2;
    const auto src = MakeUyvyBars(w, h);
    std::vector<uint8_t> dst(DibStride(w, 32) * h, 0xCD);
    auto untouched = [&] {
        for (uint8_t b : dst)
            if (b != 0xCD) return false;
        return true;
    };
    UyvyConversion odd{7, h, RgbLayout::kRgb32, true};
    EXPECT_FALSE(ConvertUyvyToRgb(odd, src.data(), src.size(), dst.data(), dst.size()));
    UyvyConversion empty{w, 0, RgbLayout::kRgb32, true};
    EXPECT_FALSE(ConvertUyvyToRgb(empty, src.data(), src.size(), dst.data(), dst.size()));
    UyvyConversion negative{-8, h, RgbLayout::kRgb32, true};
    EXPECT_FALSE(ConvertUyvyToRgb(negative, src.data(), src.size(), dst.data(), dst.size()));
    UyvyConversion ok{w, h, RgbLayout::kRgb32, true};
    EXPECT_FALSE(ConvertUyvyToRgb(ok, src.data(), src.size() - 1, dst.data(), dst.size()));
    EXPECT_FALSE(ConvertUyvyToRgb(ok, src.data(), src.size(), dst.data(), dst.size() - 1));
    EXPECT_FALSE(ConvertUyvyToRgb(ok, nullptr, src.size(), dst.data(), dst.size()));
    EXPECT_TRUE(untouched());
    UyvyConversion huge{1 << 30, 1 << 30, RgbLayout::kRgb32, true};
    EXPECT_FALSE(ConvertUyvyToRgb(huge, src.data(), src.size(), dst.data(), dst.size()));
    EXPECT_TRUE(untouched());
    EXPECT_EQ(UyvyFrameSize(1920, 1080), 4147200u);
    EXPECT_EQ(DibStride(1920, 24), 5760u);
}

}  // namespace
}  // namespace fernwood
