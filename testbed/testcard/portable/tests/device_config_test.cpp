#include "testbed/testcard/portable/device_config.h"

#include <gtest/gtest.h>

namespace testcard {
namespace {

TEST(DeviceConfig, DefaultCapabilitiesPutUyvyBehindOtherFormats) {
  std::vector<Capability> caps = DefaultCapabilities();
  int first_uyvy = -1;
  for (size_t i = 0; i < caps.size() && first_uyvy < 0; ++i)
    if (caps[i].format == PixelFormat::kUyvy) first_uyvy = static_cast<int>(i);
  ASSERT_EQ(3, first_uyvy);
  EXPECT_EQ(1280, caps[3].width);
  EXPECT_EQ(720, caps[3].height);
  EXPECT_EQ(166833, caps[3].interval);
  EXPECT_EQ(4, FindCapability(caps, PixelFormat::kUyvy, 1920, 1080, 333667));
}

TEST(DeviceConfig, CapabilitiesRoundTripThroughText) {
  std::vector<Capability> caps;
  ASSERT_TRUE(ParseCapabilities(" UYVY 1920x1080 ,RGB24 640x480 400000,  YUY2 1280x720, "
                                "UYVY 1280x720 166667-166667, RGB32 640x480-1920x1080/8 166834-333667",
                                &caps));
  ASSERT_EQ(5u, caps.size());
  EXPECT_EQ(PixelFormat::kUyvy, caps[0].format);
  EXPECT_EQ(333667, caps[0].interval);
  EXPECT_EQ(400000, caps[1].interval);
  EXPECT_EQ(166833, caps[2].interval);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(10000000, caps[i].max_interval);
    EXPECT_EQ(0, caps[i].granularity);
    EXPECT_EQ(caps[i].width, caps[i].min_width);
    EXPECT_EQ(caps[i].height, caps[i].min_height);
  }
  EXPECT_EQ(166667, caps[3].interval);
  EXPECT_EQ(166667, caps[3].max_interval);
  const Capability& range = caps[4];
  EXPECT_EQ(640, range.min_width);
  EXPECT_EQ(480, range.min_height);
  EXPECT_EQ(1920, range.width);
  EXPECT_EQ(1080, range.height);
  EXPECT_EQ(8, range.granularity);
  EXPECT_EQ(166834, range.interval);
  EXPECT_EQ(333667, range.max_interval);
  std::vector<Capability> again;
  ASSERT_TRUE(ParseCapabilities(FormatCapabilities(caps), &again));
  ASSERT_EQ(5u, again.size());
  EXPECT_EQ(480, again[1].height);
  EXPECT_EQ(PixelFormat::kYuy2, again[2].format);
  EXPECT_EQ(166667, again[3].max_interval);
  EXPECT_EQ(FormatCapabilities(caps), FormatCapabilities(again));
  EXPECT_EQ(640, again[4].min_width);
  EXPECT_EQ(8, again[4].granularity);
  EXPECT_EQ(333667, again[4].max_interval);
}

TEST(DeviceConfig, MalformedCapabilitiesAreRejectedWhole) {
  std::vector<Capability> caps = DefaultCapabilities();
  for (const char* bad : {"", "UYVY", "MJPG 1280x720", "UYVY 1280*720", "UYVY 1281x720",
                          "UYVY 1280x720 0", "UYVY 1280x720 1 2", "UYVY 1280x720,,RGB24 8x8",
                          "RGB24 99999x720", "UYVY 1280x720 20000000",
                          "UYVY 1280x720 333667-166834", "UYVY 1280x720 0-166834",
                          "UYVY 1280x720 166834-", "UYVY 1280x720 166834-20000000",
                          "UYVY 640x480-1920x1080", "UYVY 640x480-1920x1080/0",
                          "UYVY 1920x1080-640x480/8", "UYVY 640x480-1920x1080/7",
                          "UYVY 640x480-1921x1080/8", "UYVY 641x480-1921x1080/8",
                          "UYVY 640x480-1920x1080/8/8", "RGB24 640x480-1920x1080/-8"}) {
    EXPECT_FALSE(ParseCapabilities(bad, &caps)) << bad;
  }
  EXPECT_EQ(7u, caps.size());
}

TEST(DeviceConfig, FindCapabilityChecksFormatSizeAndRate) {
  std::vector<Capability> caps = DefaultCapabilities();
  EXPECT_EQ(3, FindCapability(caps, PixelFormat::kUyvy, 1280, 720, 166833));
  EXPECT_EQ(3, FindCapability(caps, PixelFormat::kUyvy, 1280, 720, 10000000));
  EXPECT_EQ(-1, FindCapability(caps, PixelFormat::kUyvy, 1280, 720, 166832));
  EXPECT_EQ(-1, FindCapability(caps, PixelFormat::kUyvy, 1920, 1080, 166833));
  EXPECT_EQ(-1, FindCapability(caps, PixelFormat::kUyvy, 640, 480, 333667));
  EXPECT_EQ(-1, FindCapability(caps, PixelFormat::kRgb32, 1920, 1080, 333667));
}

TEST(DeviceConfig, RangesAllowEveryStepAndIntervalBetweenTheirEnds) {
  std::vector<Capability> caps;
  ASSERT_TRUE(ParseCapabilities("UYVY 1280x720 166667-166667, UYVY 640x480-1920x1080/8 166834-333667",
                                &caps));
  EXPECT_EQ(0, FindCapability(caps, PixelFormat::kUyvy, 1280, 720, 166667));
  EXPECT_EQ(1, FindCapability(caps, PixelFormat::kUyvy, 1280, 720, 166834));
  EXPECT_EQ(-1, FindCapability(caps, PixelFormat::kUyvy, 1280, 720, 166668));
  EXPECT_EQ(-1, FindCapability(caps, PixelFormat::kUyvy, 1280, 720, 333668));
  EXPECT_EQ(1, FindCapability(caps, PixelFormat::kUyvy, 640, 480, 333667));
  EXPECT_EQ(1, FindCapability(caps, PixelFormat::kUyvy, 1920, 1080, 200000));
  EXPECT_EQ(1, FindCapability(caps, PixelFormat::kUyvy, 648, 1080, 200000));
  EXPECT_EQ(-1, FindCapability(caps, PixelFormat::kUyvy, 644, 480, 200000));
  EXPECT_EQ(-1, FindCapability(caps, PixelFormat::kUyvy, 640, 484, 200000));
  EXPECT_EQ(-1, FindCapability(caps, PixelFormat::kUyvy, 632, 480, 200000));
  EXPECT_EQ(-1, FindCapability(caps, PixelFormat::kUyvy, 1928, 1080, 200000));
  EXPECT_EQ(-1, FindCapability(caps, PixelFormat::kYuy2, 640, 480, 200000));
}

TEST(DeviceConfig, NumberLists) {
  std::vector<uint32_t> numbers{9};
  ASSERT_TRUE(ParseNumberList(" 120, 300,4294967295", &numbers));
  EXPECT_EQ((std::vector<uint32_t>{120, 300, 4294967295u}), numbers);
  ASSERT_TRUE(ParseNumberList("  ", &numbers));
  EXPECT_TRUE(numbers.empty());
  numbers = {9};
  for (const char* bad : {"1,,2", "4294967296", "-1", "12a", "1,"})
    EXPECT_FALSE(ParseNumberList(bad, &numbers)) << bad;
  EXPECT_EQ(std::vector<uint32_t>{9}, numbers);
}

}  // namespace
}  // namespace testcard
