#include "testbed/testcard/portable/test_pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace testcard {
namespace {

struct Picture {
  FrameLayout layout;
  std::vector<uint8_t> pixels;
  int Stride() const { return RowBytes(layout.format, layout.width); }
};

Picture Draw(PixelFormat format, int width, int height, bool bottom_up, uint32_t number,
             uint32_t per_flash = 60) {
  Picture p{{format, width, height, bottom_up}, {}};
  p.pixels.assign(FrameBytes(p.layout), 0xA5);
  DrawTestFrame(p.layout, number, per_flash, p.pixels.data());
  return p;
}

uint8_t Clamp(int v) { return static_cast<uint8_t>(std::min(255, std::max(0, v))); }

// UYVY to top-down RGB32 the way a decoder does it (studio range, BT.601).
Picture UyvyToRgb32(const Picture& in) {
  Picture out{{PixelFormat::kRgb32, in.layout.width, in.layout.height, false}, {}};
  out.pixels.resize(FrameBytes(out.layout));
  for (int y = 0; y < in.layout.height; ++y) {
    const uint8_t* src = in.pixels.data() + y * in.Stride();
    uint8_t* dst = out.pixels.data() + y * out.Stride();
    for (int x = 0; x < in.layout.width; ++x) {
      int u = src[(x & ~1) * 2] - 128, v = src[(x & ~1) * 2 + 2] - 128;
      int c = 298 * (src[2 * x + 1] - 16);
      dst[4 * x + 0] = Clamp((c + 516 * u + 128) >> 8);
      dst[4 * x + 1] = Clamp((c - 100 * u - 208 * v + 128) >> 8);
      dst[4 * x + 2] = Clamp((c + 409 * v + 128) >> 8);
      dst[4 * x + 3] = 0;
    }
  }
  return out;
}

// Nearest-neighbour resize of an RGB32 picture, bottom-up output (a still's squeeze).
Picture Resize(const Picture& in, int width, int height) {
  Picture out{{PixelFormat::kRgb32, width, height, true}, {}};
  out.pixels.resize(FrameBytes(out.layout));
  for (int y = 0; y < height; ++y) {
    int sy = y * in.layout.height / height;
    const uint8_t* src = in.pixels.data() + sy * in.Stride();
    uint8_t* dst = out.pixels.data() + (height - 1 - y) * out.Stride();
    for (int x = 0; x < width; ++x)
      std::copy_n(src + 4 * (x * in.layout.width / width), 4, dst + 4 * x);
  }
  return out;
}

uint32_t Read(const Picture& p) {
  uint32_t number = 0xDEADBEEF;
  EXPECT_TRUE(ReadFrameNumber(p.pixels.data(), p.layout, p.Stride(), &number));
  return number;
}

TEST(TestPattern, FrameNumberReadsBackInEveryFormatAndOrientation) {
  const PixelFormat formats[] = {PixelFormat::kUyvy, PixelFormat::kYuy2, PixelFormat::kRgb24,
                                 PixelFormat::kRgb32};
  const uint32_t numbers[] = {0u, 1u, 59u, 60u, 0x80000001u, 0xFFFFFFFFu, 123456789u};
  for (PixelFormat format : formats) {
    for (bool bottom_up : {false, true}) {
      for (uint32_t n : numbers) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(format) << " " << bottom_up << " " << n);
        EXPECT_EQ(n, Read(Draw(format, 1280, 720, bottom_up, n)));
      }
    }
  }
  EXPECT_EQ(4242u, Read(Draw(PixelFormat::kRgb24, 1918, 1078, true, 4242)));
}

TEST(TestPattern, FrameNumberSurvivesConversionAndFourThreeSqueeze) {
  Picture rgb = UyvyToRgb32(Draw(PixelFormat::kUyvy, 1920, 1080, false, 987654));
  EXPECT_EQ(987654u, Read(rgb));
  EXPECT_EQ(987654u, Read(Resize(rgb, 1440, 1080)));
  EXPECT_EQ(987654u, Read(Resize(rgb, 320, 180)));
}

TEST(TestPattern, PicturesWithoutTheCodeAreRejected) {
  Picture p = Draw(PixelFormat::kRgb32, 640, 360, false, 77);
  uint32_t number = 5;
  std::fill(p.pixels.begin(), p.pixels.end(), 0);
  EXPECT_FALSE(ReadFrameNumber(p.pixels.data(), p.layout, p.Stride(), &number));
  std::fill(p.pixels.begin(), p.pixels.end(), 255);
  EXPECT_FALSE(ReadFrameNumber(p.pixels.data(), p.layout, p.Stride(), &number));
  EXPECT_EQ(5u, number);
  EXPECT_FALSE(ReadFrameNumber(p.pixels.data(), {PixelFormat::kRgb32, 32, 32, false}, 128, &number));
}

TEST(TestPattern, FlashFramesAreWhiteOutsideTheBand) {
  EXPECT_EQ(60u, FramesPerFlash(166833));
  EXPECT_EQ(30u, FramesPerFlash(333667));
  EXPECT_EQ(25u, FramesPerFlash(400000));
  for (uint32_t n : {0u, 60u, 120u}) {
    Picture p = Draw(PixelFormat::kUyvy, 1280, 720, false, n);
    EXPECT_GE(MeanLuma(p.pixels.data(), p.layout, p.Stride(), 0, 0, 1280, 450), 230) << n;
    EXPECT_GE(MeanLuma(p.pixels.data(), p.layout, p.Stride(), 0, 630, 1280, 720), 230) << n;
    EXPECT_EQ(n, Read(p));
  }
  Picture ordinary = Draw(PixelFormat::kUyvy, 1280, 720, false, 61);
  EXPECT_LT(MeanLuma(ordinary.pixels.data(), ordinary.layout, ordinary.Stride(), 0, 0, 1280, 450),
            200);
  // Black bar at the right, white bar at the left.
  EXPECT_LT(MeanLuma(ordinary.pixels.data(), ordinary.layout, ordinary.Stride(), 1200, 0, 1280, 450),
            20);
  EXPECT_GT(MeanLuma(ordinary.pixels.data(), ordinary.layout, ordinary.Stride(), 0, 0, 150, 450),
            230);
}

TEST(TestPattern, MovingBoxChangesTheBottomStripFromFrameToFrame) {
  Picture a = Draw(PixelFormat::kRgb32, 1280, 720, false, 10);
  Picture b = Draw(PixelFormat::kRgb32, 1280, 720, false, 11);
  size_t strip = static_cast<size_t>(630) * a.Stride();
  EXPECT_FALSE(std::equal(a.pixels.begin() + strip, a.pixels.end(), b.pixels.begin() + strip));
  EXPECT_TRUE(std::equal(a.pixels.begin(), a.pixels.begin() + 400 * a.Stride(), b.pixels.begin()));
}

TEST(TestPattern, SizesAndDrawability) {
  EXPECT_EQ(1843200u, FrameBytes({PixelFormat::kUyvy, 1280, 720, false}));
  EXPECT_EQ(4147200u, FrameBytes({PixelFormat::kUyvy, 1920, 1080, false}));
  EXPECT_EQ(2764800u, FrameBytes({PixelFormat::kRgb24, 1280, 720, true}));
  EXPECT_EQ(3 * 101 + 1, RowBytes(PixelFormat::kRgb24, 101));
  EXPECT_FALSE(IsDrawable({PixelFormat::kUyvy, 1281, 720, false}));
  EXPECT_TRUE(IsDrawable({PixelFormat::kRgb24, 1281, 720, true}));
  EXPECT_FALSE(IsDrawable({PixelFormat::kRgb32, 0, 720, true}));
}

}  // namespace
}  // namespace testcard
