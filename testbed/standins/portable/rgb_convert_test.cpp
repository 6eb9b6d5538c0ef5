#include "rgb_convert.h"

#include <gtest/gtest.h>

#include <vector>

namespace fernwood {
namespace {

PictureView Packed(RgbLayout layout, int w, int h, bool bottom_up) {
    PictureView v;
    v.layout = layout;
    v.stride = DibStride(w, RgbBitsPerPixel(layout));
    v.buffer_rows = h;
    v.bottom_up = bottom_up;
    v.width = w;
    v.height = h;
    return v;
}

std::vector<uint8_t> Buffer(const PictureView& v, uint8_t fill) {
    return std::vector<uint8_t>(DibBytes(v.stride, v.buffer_rows), fill);
}

// One pixel converted from a 1x1 picture.
std::vector<uint8_t> ConvertPixel(RgbLayout in, const std::vector<uint8_t>& pixel, RgbLayout out) {
    PictureView s = Packed(in, 1, 1, true), d = Packed(out, 1, 1, true);
    std::vector<uint8_t> src = Buffer(s, 0), dst = Buffer(d, 0xEE);
    std::copy(pixel.begin(), pixel.end(), src.begin());
    EXPECT_TRUE(ConvertPicture(s, src.data(), src.size(), d, dst.data(), dst.size()));
    dst.resize(static_cast<size_t>(RgbBitsPerPixel(out) / 8));
    return dst;
}

TEST(RgbConvert, Rgb24AndRgb32ExchangeChannelsAndZeroTheFourthByte) {
    EXPECT_EQ(ConvertPixel(RgbLayout::kRgb24, {0x10, 0x80, 0xF0}, RgbLayout::kRgb32),
              (std::vector<uint8_t>{0x10, 0x80, 0xF0, 0x00}));
    EXPECT_EQ(ConvertPixel(RgbLayout::kRgb32, {0x10, 0x80, 0xF0, 0x77}, RgbLayout::kRgb24),
              (std::vector<uint8_t>{0x10, 0x80, 0xF0}));
    // Same layout: a plain copy, fourth byte included.
    EXPECT_EQ(ConvertPixel(RgbLayout::kRgb32, {1, 2, 3, 0x77}, RgbLayout::kRgb32),
              (std::vector<uint8_t>{1, 2, 3, 0x77}));
}

TEST(RgbConvert, SixteenBitLayoutsTruncateAndWidenByBitReplication) {
    // B=0xFF G=0x84 R=0x21 -> 565: r 4, g 33, b 31.
    EXPECT_EQ(ConvertPixel(RgbLayout::kRgb24, {0xFF, 0x84, 0x21}, RgbLayout::kRgb565),
              (std::vector<uint8_t>{0x3F, 0x24}));
    // 555: r 4, g 16, b 31; the top bit stays clear.
    EXPECT_EQ(ConvertPixel(RgbLayout::kRgb32, {0xFF, 0x84, 0x21, 0xFF}, RgbLayout::kRgb555),
              (std::vector<uint8_t>{0x1F, 0x12}));
    EXPECT_EQ(ConvertPixel(RgbLayout::kRgb565, {0xFF, 0xFF}, RgbLayout::kRgb32),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x00}));
    // r 4 -> 0x21, g 33 -> 0x86, b 31 -> 0xFF.
    EXPECT_EQ(ConvertPixel(RgbLayout::kRgb565, {0x3F, 0x24}, RgbLayout::kRgb24),
              (std::vector<uint8_t>{0xFF, 0x86, 0x21}));
    // The don't-care bit of 555 is ignored.
    EXPECT_EQ(ConvertPixel(RgbLayout::kRgb555, {0x1F, 0x92}, RgbLayout::kRgb24),
              (std::vector<uint8_t>{0xFF, 0x84, 0x21}));
}

TEST(RgbConvert, EverySixteenBitValueSurvivesARoundTripThroughRgb32) {
    for (RgbLayout layout : {RgbLayout::kRgb565, RgbLayout::kRgb555}) {
        const int w = 256, h = 256;
        PictureView s = Packed(layout, w, h, true), mid = Packed(RgbLayout::kRgb32, w, h, false);
        std::vector<uint8_t> src = Buffer(s, 0), wide = Buffer(mid, 0), back = Buffer(s, 0);
        for (size_t i = 0; i < src.size() / 2; ++i) {
            const unsigned v = static_cast<unsigned>(layout == RgbLayout::kRgb555 ? (i & 0x7FFF) : i);
            src[2 * i] = static_cast<uint8_t>(v);
            src[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
        ASSERT_TRUE(ConvertPicture(s, src.data(), src.size(), mid, wide.data(), wide.size()));
        ASSERT_TRUE(ConvertPicture(mid, wide.data(), wide.size(), s, back.data(), back.size()));
        EXPECT_EQ(back, src) << RgbBitsPerPixel(layout);
    }
}

TEST(RgbConvert, RowOrderFollowsEachViewsOrientation) {
    const int w = 3, h = 4;
    PictureView s = Packed(RgbLayout::kRgb24, w, h, true), d = Packed(RgbLayout::kRgb32, w, h, false);
    std::vector<uint8_t> src = Buffer(s, 0), dst = Buffer(d, 0xEE);
    // Bottom-up source: buffer row r is picture row h-1-r; mark each row's blue.
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x)
            src[s.stride * static_cast<size_t>(r) + static_cast<size_t>(3 * x)] = static_cast<uint8_t>(h - 1 - r);
    ASSERT_TRUE(ConvertPicture(s, src.data(), src.size(), d, dst.data(), dst.size()));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) EXPECT_EQ(dst[d.stride * static_cast<size_t>(y) + static_cast<size_t>(4 * x)], y);
}

TEST(RgbConvert, PlacesThePictureInsideAWiderBufferAndLeavesTheRestAlone) {
    PictureView s = Packed(RgbLayout::kRgb24, 2, 2, true);
    PictureView d = Packed(RgbLayout::kRgb32, 5, 3, false);
    d.left = 2;
    d.top = 1;
    d.width = 2;
    d.height = 2;
    std::vector<uint8_t> src = Buffer(s, 0x40), dst = Buffer(d, 0xEE);
    ASSERT_TRUE(ConvertPicture(s, src.data(), src.size(), d, dst.data(), dst.size()));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            const uint8_t* p = &dst[d.stride * static_cast<size_t>(y) + static_cast<size_t>(4 * x)];
            const bool inside = y >= 1 && x >= 2 && x < 4;
            EXPECT_EQ(p[0], inside ? 0x40 : 0xEE) << x << "," << y;
            EXPECT_EQ(p[3], inside ? 0x00 : 0xEE) << x << "," << y;
        }
}

TEST(RgbConvert, RefusesMismatchedOrOversizedViewsWithoutWriting) {
    PictureView s = Packed(RgbLayout::kRgb24, 4, 4, true), d = Packed(RgbLayout::kRgb32, 4, 4, true);
    std::vector<uint8_t> src = Buffer(s, 1), dst = Buffer(d, 0xEE);
    const std::vector<uint8_t> untouched = dst;

    EXPECT_FALSE(ConvertPicture(s, src.data(), src.size() - 1, d, dst.data(), dst.size()));
    EXPECT_FALSE(ConvertPicture(s, src.data(), src.size(), d, dst.data(), dst.size() - 1));
    PictureView narrow = d;
    narrow.width = 3;
    EXPECT_FALSE(ConvertPicture(s, src.data(), src.size(), narrow, dst.data(), dst.size()));
    PictureView shifted = d;
    shifted.left = 1;  // the picture would run past the row's end
    EXPECT_FALSE(ConvertPicture(s, src.data(), src.size(), shifted, dst.data(), dst.size()));
    shifted = d;
    shifted.top = 1;
    EXPECT_FALSE(ConvertPicture(s, src.data(), src.size(), shifted, dst.data(), dst.size()));
    EXPECT_EQ(dst, untouched);
    EXPECT_EQ(DibBytes(static_cast<size_t>(-1), 2), 0u);
}

}  // namespace
}  // namespace fernwood
