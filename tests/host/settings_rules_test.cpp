#include "settings/settings_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

TEST(JoinPath, JoinsWithOneBackslashAndRefusesWhatDoesNotFit)
{
    char out[kPathBufferSize];
    ASSERT_TRUE(JoinPath(out, sizeof out, "C:\\Users\\me", "setting.ini"));
    EXPECT_STREQ("C:\\Users\\me\\setting.ini", out);

    // 247 characters leave room for the backslash, "setting.ini" and the terminator.
    std::string longest(247, 'a');
    ASSERT_TRUE(JoinPath(out, sizeof out, longest.c_str(), "setting.ini"));
    EXPECT_EQ(259u, std::strlen(out));

    std::string too_long(248, 'a');
    EXPECT_FALSE(JoinPath(out, sizeof out, too_long.c_str(), "setting.ini"));
    EXPECT_STREQ("", out);
}

TEST(AspectFromSetting, OnlyTheSixteenNineIdSelectsSixteenNine)
{
    double wide = AspectFromSetting(5001);
    double narrow = AspectFromSetting(5002);
    uint64_t wide_bits, narrow_bits;
    std::memcpy(&wide_bits, &wide, sizeof wide);
    std::memcpy(&narrow_bits, &narrow, sizeof narrow);
    EXPECT_EQ(0x3FFC71C71C71C71Cull, wide_bits);
    EXPECT_EQ(0x3FF5555555555555ull, narrow_bits);
    EXPECT_EQ(narrow, AspectFromSetting(0));
    EXPECT_EQ(narrow, AspectFromSetting(-5001));
}

TEST(InitialClientRect, WidthIsHeightTimesAspectTruncated)
{
    IntRect rect = InitialClientRect(0, 0, 720, AspectFromSetting(5001));
    EXPECT_EQ(1280, rect.right);
    EXPECT_EQ(720, rect.bottom);
    rect = InitialClientRect(0, 0, 540, AspectFromSetting(5002));
    EXPECT_EQ(720, rect.right);
    // 361 × 16/9 = 641.77…: truncated, not rounded.
    EXPECT_EQ(641, InitialClientRect(0, 0, 361, AspectFromSetting(5001)).right);
}

TEST(InitialClientRect, UnusableStoredRectanglesFallBackToTheDefault)
{
    const double aspect = AspectFromSetting(5001);
    for (int bottom : {0, -720, 20000, INT32_MIN, INT32_MAX}) {
        IntRect rect = InitialClientRect(0, 0, bottom, aspect);
        EXPECT_EQ(0, rect.left) << bottom;
        EXPECT_EQ(0, rect.top) << bottom;
        EXPECT_EQ(1280, rect.right) << bottom;
        EXPECT_EQ(720, rect.bottom) << bottom;
    }
    IntRect inverted = InitialClientRect(800, 0, 720, aspect);
    EXPECT_EQ(720, inverted.bottom);
    EXPECT_EQ(0, inverted.top);
}

TEST(ResolveWindowPosition, KeepsVisiblePositionsAndDropsLostOnes)
{
    const IntRect desktop{0, 0, 1920, 1080};
    int x = 100, y = 50;
    ResolveWindowPosition(&x, &y, 1296, 759, desktop);
    EXPECT_EQ(100, x);
    EXPECT_EQ(50, y);

    // A window minimised when it was closed remembers (-32000, -32000).
    x = -32000;
    y = -32000;
    ResolveWindowPosition(&x, &y, 160, 28, desktop);
    EXPECT_EQ(kUseDefaultPosition, x);
    EXPECT_EQ(kUseDefaultPosition, y);

    x = 1920;
    y = 0;
    ResolveWindowPosition(&x, &y, 100, 100, desktop);
    EXPECT_EQ(kUseDefaultPosition, x);

    // Half a default pair is no position.
    x = kUseDefaultPosition;
    y = 10;
    ResolveWindowPosition(&x, &y, 100, 100, desktop);
    EXPECT_EQ(kUseDefaultPosition, y);

    x = INT32_MAX;
    y = INT32_MAX;
    ResolveWindowPosition(&x, &y, 1296, 759, desktop);
    EXPECT_EQ(kUseDefaultPosition, x);
}
