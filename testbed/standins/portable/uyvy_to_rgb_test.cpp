#include "uyvy_to_rgb.h"
#include "uyvy_bars.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

uint8_t Ideal(double v) {
    const long r = std::lround(v);
    return static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
}

TEST(UyvyToRgb, EveryInputIsWithinOneOfTheIdealBt601Value) {
    int worst = 0;
    for (int y = 0; y < 256; ++y)
        for (int cb = 0; cb < 256; ++cb)
            for (int cr = 0; cr < 256; ++cr) {
                const double l = 1.164383 * (y - 16);
                const Rgb got = UyvyPixelToRgb(static_cast<uint8_t>(y), static_cast<uint8_t>(cb),
                                               static_cast<uint8_t>(cr));
                const int r = std::abs(got.r - Ideal(l + 1.596027 * (cr - 128)));
                const int g = std::abs(got.g - Ideal(l - 0.391762 * (cb - 128) - 0.812968 * (cr - 128)));
                const int b = std::abs(got.b - Ideal(l + 2.017232 * (cb - 128)));
                worst = std::max(worst, std::max(r, std::max(g, b)));
                ASSERT_LE(std::max(r, std::max(g, b)), 1) << "Y " << y << " Cb " << cb << " Cr " << cr;
            }
    EXPECT_EQ(worst, 1);  // the integer form does round differently somewhere
}

TEST(UyvyToRgb, GreyStaysGreyAtTheRoundedIdealLevel) {
    for (int y = 0; y < 256; ++y) {
        const Rgb got = UyvyPixelToRgb(static_cast<uint8_t>(y), 128, 128);
        const uint8_t want = Ideal(1.164383 * (y - 16));
        EXPECT_TRUE(got.r == want && got.g == want && got.b == want)
            << "Y " << y << ": " << int(got.r) << " " << int(got.g) << " " << int(got.b) << " want " << int(want);
    }
}

// Where the documented fixed-point arithmetic of uyvy_to_rgb.h rounds away
// from the ideal value (one channel each, worked out by hand), the decoder
// gives the fixed-point result.
TEST(UyvyToRgb, EveryPixelValueMatchesTheFixedPointFormula) {
    const struct {
        uint8_t y, cb, cr;
        Rgb want;
    } cases[] = {
        {0, 25, 84, {0, 58, 0}},          {24, 65, 182, {95, 0, 0}},       {45, 85, 245, {220, 0, 0}},
        {66, 145, 196, {167, 0, 92}},     {96, 185, 14, {0, 164, 208}},    {126, 135, 161, {181, 98, 142}},
        {165, 65, 119, {159, 206, 46}},   {201, 205, 56, {101, 244, 255}},
    };
    for (const auto& c : cases) {
        const Rgb got = UyvyPixelToRgb(c.y, c.cb, c.cr);
        EXPECT_TRUE(got.r == c.want.r && got.g == c.want.g && got.b == c.want.b)
            << "Y " << int(c.y) << " Cb " << int(c.cb) << " Cr " << int(c.cr) << ": " << int(got.r) << " "
            << int(got.g) << " " << int(got.b);
    }
}

constexpr RgbLayout kLayouts[] = {RgbLayout::kRgb32, RgbLayout::kRgb24, RgbLayout::kRgb565, RgbLayout::kRgb555};

// Runs the body once per conversion path this machine has, then goes back to
// the default.
template <typename Body>
void ForEachPath(Body body) {
    const UyvyPath initial = CurrentUyvyPath();
    for (UyvyPath path : {UyvyPath::kScalar, UyvyPath::kSse2, UyvyPath::kAvx2}) {
        if (!SetUyvyPath(path)) continue;
        SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(path));
        body(path);
    }
    ASSERT_TRUE(SetUyvyPath(initial));
}

TEST(UyvyToRgb, PathsCanBeForcedOnlyWhereTheMachineHasThem) {
    const UyvyPath initial = CurrentUyvyPath();
    EXPECT_TRUE(UyvyPathAvailable(initial));
    EXPECT_TRUE(UyvyPathAvailable(UyvyPath::kScalar));
#if defined(__x86_64__) || defined(_M_X64)
    EXPECT_TRUE(UyvyPathAvailable(UyvyPath::kSse2));
    EXPECT_NE(initial, UyvyPath::kScalar);
#endif
    if (UyvyPathAvailable(UyvyPath::kAvx2)) {
        EXPECT_EQ(initial, UyvyPath::kAvx2);
    } else {
        EXPECT_FALSE(SetUyvyPath(UyvyPath::kAvx2));
        EXPECT_EQ(CurrentUyvyPath(), initial);
    }
    ASSERT_TRUE(SetUyvyPath(UyvyPath::kScalar));
    EXPECT_EQ(CurrentUyvyPath(), UyvyPath::kScalar);
    ASSERT_TRUE(SetUyvyPath(initial));
}

// Every Y, Cb and Cr through every path: the vector paths rely on a saturating
// add to stand in for the clamp, which only the extremes test. RGB32 clamps by
// packing to bytes, RGB565 by min and max, as do RGB24 and RGB555 in turn.
TEST(UyvyToRgb, EveryPathGivesTheScalarBytesForEveryInput) {
    const int w = 512, h = 256;  // one pair per Cb (column) and Cr (row)
    std::vector<uint8_t> src(UyvyFrameSize(w, h));
    for (int y0 = 0; y0 < 256; y0 += 2) {
        for (size_t i = 0; i < src.size() / 4; ++i) {
            src[4 * i] = static_cast<uint8_t>(i);
            src[4 * i + 1] = static_cast<uint8_t>(y0);
            src[4 * i + 2] = static_cast<uint8_t>(i >> 8);
            src[4 * i + 3] = static_cast<uint8_t>(y0 + 1);
        }
        for (RgbLayout layout : {RgbLayout::kRgb32, RgbLayout::kRgb565}) {
            ASSERT_TRUE(SetUyvyPath(UyvyPath::kScalar));
            const auto want = Convert(src, w, h, layout, false);
            ForEachPath([&](UyvyPath) {
                ASSERT_TRUE(Convert(src, w, h, layout, false) == want)
                    << "Y " << y0 << " layout " << static_cast<int>(layout);
            });
        }
    }
}

// Whole frames take the fast path for most of each row and the pixel path for
// the last few pixels; both must give the values of UyvyPixelToRgb (checked
// against BT.601 for every input above) in every layout.
TEST(UyvyToRgb, WholeFramesMatchTheFormulaForEveryChromaPairAndRowTail) {
    ForEachPath([](UyvyPath) {
        // 30 = 16 + 8 + 6 pixels: AVX2, SSE2 and pixel code each take a part.
        for (int w : {1030, 30, 8, 2, 14}) {
            const int pairs_per_row = w / 2;
            const int h = (65536 + pairs_per_row - 1) / pairs_per_row;
            std::vector<uint8_t> src(UyvyFrameSize(w, h));
            for (size_t i = 0; i < src.size() / 4; ++i) {
                src[4 * i] = static_cast<uint8_t>(i);             // Cb
                src[4 * i + 1] = static_cast<uint8_t>(i * 7);     // Y
                src[4 * i + 2] = static_cast<uint8_t>(i >> 8);    // Cr
                src[4 * i + 3] = static_cast<uint8_t>(i * 13 + 5);  // Y
            }
            for (RgbLayout layout : kLayouts) {
                const auto dst = Convert(src, w, h, layout, false);
                const size_t stride = DibStride(w, RgbBitsPerPixel(layout));
                const size_t bytes = static_cast<size_t>(RgbBitsPerPixel(layout) / 8);
                for (int row = 0; row < h; ++row)
                    for (int x = 0; x < w; ++x) {
                        const uint8_t* s = &src[(static_cast<size_t>(row) * w + (x & ~1)) * 2];
                        const Rgb want = UyvyPixelToRgb(s[1 + 2 * (x & 1)], s[0], s[2]);
                        const uint8_t* p = &dst[stride * row + bytes * x];
                        const int v = p[0] | (p[1] << 8);
                        bool same = false;
                        switch (layout) {
                        case RgbLayout::kRgb32: same = p[3] == 0 && p[2] == want.r && p[1] == want.g && p[0] == want.b; break;
                        case RgbLayout::kRgb24: same = p[2] == want.r && p[1] == want.g && p[0] == want.b; break;
                        case RgbLayout::kRgb565:
                            same = v == (((want.r >> 3u) << 11) | ((want.g >> 2u) << 5) | (want.b >> 3u));
                            break;
                        case RgbLayout::kRgb555:
                            same = v == (((want.r >> 3u) << 10) | ((want.g >> 3u) << 5) | (want.b >> 3u));
                            break;
                        }
                        ASSERT_TRUE(same) << "width " << w << " layout " << static_cast<int>(layout) << " at " << x
                                          << "," << row;
                    }
            }
        }
    });
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
