#include "still/bmp_picture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Picture(int width, int height)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<uint8_t>(i * 7 + i / 13);
    return pixels;
}

uint32_t Get32(const uint8_t* at)
{
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

TEST(Squeeze, CaptureWidthsBecomeThreeQuartersAndGroupsStartWithCopies)
{
    for (int width : {1280, 1920}) {
        const int height = 3;
        std::vector<uint8_t> in = Picture(width, height);
        std::vector<uint8_t> out(static_cast<size_t>(width) * height * 4, 0xEE);
        int squeezed = SqueezeToFourThirds(in.data(), out.data(), width, height);
        EXPECT_EQ(width * 3 / 4, squeezed);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < squeezed; x += 3) {
                const uint8_t* source = &in[(static_cast<size_t>(width) * y + 4 * x / 3) * 4];
                const uint8_t* target = &out[(static_cast<size_t>(squeezed) * y + x) * 4];
                EXPECT_EQ(0, std::memcmp(source, target, 3)) << "row " << y << " column " << x;
            }
            for (int x = 0; x < squeezed; ++x)
                EXPECT_EQ(0, out[(static_cast<size_t>(squeezed) * y + x) * 4 + 3]);
        }
        EXPECT_EQ(0xEE, out[static_cast<size_t>(squeezed) * height * 4]) << "nothing written past the picture";
    }
}

TEST(Squeeze, ThirdsBetweenNeighboursAndEqualNeighboursExact)
{
    const int width = 8;
    std::vector<uint8_t> in(width * 4, 0);
    // Blue: 0 in column 1 and 100 in column 2 → 33; green: 0 in column 2 and 100 in column 3 → 66.
    in[2 * 4 + 0] = 100;
    in[1 * 4 + 1] = 50;
    in[3 * 4 + 1] = 100;
    // Red: equal neighbours everywhere are copied exactly.
    for (int x = 0; x < width; ++x)
        in[x * 4 + 2] = 201;
    in[0 * 4 + 3] = 77;  // the fourth byte never passes
    std::vector<uint8_t> out(6 * 4);
    ASSERT_EQ(6, SqueezeToFourThirds(in.data(), out.data(), width, 1));
    EXPECT_EQ(0, out[0 * 4 + 0]);
    EXPECT_EQ(33, out[1 * 4 + 0]);
    EXPECT_EQ(66, out[2 * 4 + 1]);
    EXPECT_EQ(0, out[3]) << "fourth byte";
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(201, out[x * 4 + 2]) << x;
    EXPECT_EQ(in[4 * 4 + 0], out[3 * 4 + 0]) << "output column 3 is source column 4";
}

TEST(Squeeze, LastColumnNeverReadsPastItsRow)
{
    // Widths that are not multiples of four still keep to their rows.
    for (int width : {5, 6, 7, 9, 1281}) {
        std::vector<uint8_t> in(static_cast<size_t>(width) * 2 * 4, 10);
        for (int x = 0; x < width; ++x)
            in[(static_cast<size_t>(width) + x) * 4] = 90;  // second row differs
        std::vector<uint8_t> out(static_cast<size_t>(width) * 2 * 4);
        int squeezed = SqueezeToFourThirds(in.data(), out.data(), width, 2);
        for (int x = 0; x < squeezed; ++x) {
            EXPECT_EQ(10, out[x * 4]) << width << " row 0 column " << x;
            EXPECT_EQ(90, out[(static_cast<size_t>(squeezed) + x) * 4]) << width << " row 1 column " << x;
        }
    }
}

TEST(BmpHeaders, FieldsAndSizesOfTheFourShapes)
{
    struct Shape {
        int width, height;
        uint32_t file_size;
    };
    for (Shape shape : {Shape{1280, 720, 3686454}, Shape{1920, 1080, 8294454}, Shape{960, 720, 2764854},
                        Shape{1440, 1080, 6220854}}) {
        uint8_t h[kBmpHeaderBytes];
        WriteBmpHeaders(h, shape.width, shape.height);
        EXPECT_EQ('B', h[0]);
        EXPECT_EQ('M', h[1]);
        EXPECT_EQ(shape.file_size, Get32(h + 2));
        EXPECT_EQ(0u, Get32(h + 6));
        EXPECT_EQ(54u, Get32(h + 10));
        EXPECT_EQ(40u, Get32(h + 14));
        EXPECT_EQ(static_cast<uint32_t>(shape.width), Get32(h + 18));
        EXPECT_EQ(static_cast<uint32_t>(shape.height), Get32(h + 22)) << "positive: bottom-up";
        EXPECT_EQ(1, h[26] | h[27] << 8);
        EXPECT_EQ(32, h[28] | h[29] << 8);
        for (int offset = 30; offset < 54; offset += 4)
            EXPECT_EQ(0u, Get32(h + offset)) << offset;
    }
}

}  // namespace
