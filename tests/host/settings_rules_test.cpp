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

namespace {

struct PositionCase {
    const char* what;
    int x, y, width, height;
    bool kept;
};

// Primary 1920×1200 at the origin, a 1920×1080 monitor to its right, a
// 1280×1024 one above it: the bounding box is (0, −1024)–(3840, 1200).
const IntRect kThreeMonitors[] = {{0, 0, 1920, 1200}, {1920, 0, 3840, 1080}, {0, -1024, 1280, 0}};

const PositionCase kPositionCases[] = {
    {"on the primary", 100, 50, 1296, 759, true},
    {"on the monitor to the right", 2000, 100, 1296, 759, true},
    {"on the monitor above", 100, -900, 1296, 759, true},
    {"straddling two monitors", 1800, 100, 1296, 759, true},
    {"below the shorter monitor, inside the box", 2200, 1100, 300, 80, false},
    {"right of the upper monitor, inside the box", 1400, -900, 400, 300, false},
    // A window minimised when it was closed remembers (-32000, -32000).
    {"minimised", -32000, -32000, 160, 28, false},
    {"just past the last monitor", 3840, 0, 100, 100, false},
    {"half a default pair", kUseDefaultPosition, 10, 100, 100, false},
    {"at the end of the int range", INT32_MAX, INT32_MAX, 1296, 759, false},
};

TEST(ResolveWindowPosition, KeepsPositionsOnAMonitorAndDropsTheRest)
{
    for (const PositionCase& c : kPositionCases) {
        int x = c.x, y = c.y;
        ResolveWindowPosition(&x, &y, c.width, c.height, kThreeMonitors, 3);
        EXPECT_EQ(c.kept ? c.x : kUseDefaultPosition, x) << c.what;
        EXPECT_EQ(c.kept ? c.y : kUseDefaultPosition, y) << c.what;
    }
    int x = 100, y = 50;
    ResolveWindowPosition(&x, &y, 1296, 759, nullptr, 0);
    EXPECT_EQ(kUseDefaultPosition, x) << "no monitor";
}

}  // namespace
