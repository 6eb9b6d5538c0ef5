#include "view/layout_geometry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

uint64_t Bits(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

void ExpectRect(const IntRect& expected, const IntRect& actual)
{
    EXPECT_EQ(expected.left, actual.left);
    EXPECT_EQ(expected.top, actual.top);
    EXPECT_EQ(expected.right, actual.right);
    EXPECT_EQ(expected.bottom, actual.bottom);
}

TEST(LayoutAspects, AreTheExactDoubles)
{
    EXPECT_EQ(0x3FFC71C71C71C71Cull, Bits(kAspect16x9));
    EXPECT_EQ(0x3FF5555555555555ull, Bits(kAspect4x3));
    EXPECT_EQ(0x3FFB20DC1565A2C5ull, Bits(kClippedAspect16x9));
    EXPECT_EQ(0x3FF458A5100C3A14ull, Bits(kClippedAspect4x3));

    EXPECT_EQ(kAspect16x9, EffectiveAspect(false, false, kAspect16x9));
    EXPECT_EQ(kAspect4x3, EffectiveAspect(false, true, kAspect4x3));
    EXPECT_EQ(kClippedAspect16x9, EffectiveAspect(true, false, kAspect16x9));
    EXPECT_EQ(kClippedAspect4x3, EffectiveAspect(true, true, kAspect4x3));
    // Clipping follows the checked aspect item, not the aspect value.
    EXPECT_EQ(kClippedAspect16x9, EffectiveAspect(true, false, kAspect4x3));
}

TEST(FitPicture, PillarboxesWideAreasAndLetterboxesTheRest)
{
    ExpectRect({56, 0, 1864, 1017}, FitPicture(1920, 1017, kAspect16x9));
    ExpectRect({0, 152, 1280, 872}, FitPicture(1280, 1024, kAspect16x9));
    ExpectRect({0, 0, 1280, 720}, FitPicture(1280, 720, kAspect16x9));
    ExpectRect({240, 0, 1680, 1080}, FitPicture(1920, 1080, kAspect4x3));
    // Clipped 16:9 in a 1920 × 1080 screen: 1080 × 1136/670 = 1831.3 truncated.
    ExpectRect({44, 0, 1875, 1080}, FitPicture(1920, 1080, kClippedAspect16x9));
    ExpectRect({0, 0, 1440, 1080}, FitPicture(1440, 1080, kAspect4x3));
}

TEST(FitPicture, ZeroHeightTakesTheLetterboxBranchWithoutDividingByZero)
{
    ExpectRect({0, 0, 0, 0}, FitPicture(0, 0, kAspect16x9));
    // 500 / (16/9) = 281.25; the top is −281 halved toward zero.
    ExpectRect({0, -140, 500, 141}, FitPicture(500, 0, kAspect16x9));
    // An odd margin halves toward zero on the left as well: (101 − 96) / 2.
    ExpectRect({2, 0, 98, 54}, FitPicture(101, 54, kAspect16x9));
}

TEST(ClipInsets, DependOnTheFormatAndCutTheSourceOnBothSides)
{
    ClipInsets small = ClipInsetsFor(true);
    ClipInsets large = ClipInsetsFor(false);
    EXPECT_EQ(72, small.x);
    EXPECT_EQ(25, small.y);
    ExpectRect({72, 25, 1208, 695}, SourceRectFor(1280, 720, small));
    ExpectRect({108, 38, 1812, 1042}, SourceRectFor(1920, 1080, large));
    ExpectRect({0, 0, 1920, 1080}, SourceRectFor(1920, 1080, ClipInsets{0, 0}));
    // Insets chosen in one format stay when the format changes.
    ExpectRect({72, 25, 1848, 1055}, SourceRectFor(1920, 1080, small));
}

TEST(TruncateToInt, TruncatesTowardZeroAndSaturates)
{
    EXPECT_EQ(1831, TruncateToInt(1831.99));
    EXPECT_EQ(-281, TruncateToInt(-281.9));
    EXPECT_EQ(2147483647, TruncateToInt(1e12));
    EXPECT_EQ(-2147483647 - 1, TruncateToInt(-1e12));
}

// A frame of 16 × 39 pixels around the client area; proposed window (100, 50, 1500, 900).
struct SizingCase {
    int edge;
    IntRect expected;
};

void ExpectSizing(int client_width, int client_height, double aspect, const SizingCase& sizing)
{
    IntRect window{100, 50, 1500, 900};
    FitSizingRect(sizing.edge, client_width, client_height, aspect, FrameExtent{16, 39}, &window);
    SCOPED_TRACE(testing::Message() << "edge " << sizing.edge << ", client " << client_width << " x " << client_height);
    ExpectRect(sizing.expected, window);
}

TEST(FitSizingRect, NarrowClientAreaFollowsTheWidthAtCorners)
{
    // 1280 × 720: height from width is 720 + 39, width from height 1280 + 16.
    const SizingCase cases[] = {
        {1, {100, 50, 1500, 809}}, {2, {100, 50, 1500, 809}}, {3, {100, 50, 1396, 900}},
        {4, {100, 141, 1500, 900}}, {5, {100, 141, 1500, 900}}, {6, {100, 50, 1396, 900}},
        {7, {100, 50, 1500, 809}}, {8, {100, 50, 1500, 809}},
    };
    for (const SizingCase& sizing : cases)
        ExpectSizing(1280, 720, kAspect16x9, sizing);
    // 1420 / 720 is 1.97 as a ratio but 1 as an integer quotient: still not wide.
    ExpectSizing(1420, 720, kAspect16x9, {8, {100, 50, 1500, 50 + 798 + 39}});
}

TEST(FitSizingRect, WideClientAreaFollowsTheHeightAtCorners)
{
    // 1500 × 700: height from width trunc(843.75) + 39, width from height trunc(1244.4) + 16.
    const SizingCase cases[] = {
        {1, {100, 50, 1500, 932}}, {2, {100, 50, 1500, 932}}, {3, {100, 50, 1360, 900}},
        {4, {240, 50, 1500, 900}}, {5, {100, 50, 1360, 900}}, {6, {100, 50, 1360, 900}},
        {7, {240, 50, 1500, 900}}, {8, {100, 50, 1360, 900}},
    };
    for (const SizingCase& sizing : cases)
        ExpectSizing(1500, 700, kAspect16x9, sizing);
    // 4:3 is wide from twice the height too: 1000 × 400 → width 533 + 16.
    ExpectSizing(1000, 400, kAspect4x3, {5, {100, 50, 649, 900}});
    ExpectSizing(1300, 700, kAspect4x3, {5, {100, 900 - 975 - 39, 1500, 900}});
}

TEST(FitSizingRect, ZeroHeightAndUnknownEdges)
{
    // No height: never wide, and width from height leaves only the frame.
    ExpectSizing(500, 0, kAspect16x9, {8, {100, 50, 1500, 50 + 281 + 39}});
    ExpectSizing(500, 0, kAspect16x9, {4, {100, 900 - 281 - 39, 1500, 900}});
    ExpectSizing(500, 0, kAspect16x9, {3, {100, 50, 116, 900}});
    for (int edge : {0, 9, -1})
        ExpectSizing(1280, 720, kAspect16x9, {edge, {100, 50, 1500, 900}});
}

struct MonitorCase {
    const char* what;
    IntRect window;
    int monitor;
};

// The primary (listed first) 1920×1080 at the origin, a 2560×1440 monitor
// to its left, a 1920×1080 one above the primary.
const IntRect kMonitors[] = {{0, 0, 1920, 1080}, {-2560, -200, 0, 1240}, {0, -1080, 1920, 0}};

const MonitorCase kMonitorCases[] = {
    {"inside the primary", {100, 100, 1396, 859}, 0},
    {"inside the left monitor", {-2000, 100, -704, 859}, 1},
    {"inside the upper monitor", {100, -900, 1396, -141}, 2},
    {"straddling, mostly left", {-1000, 100, 296, 859}, 1},
    {"straddling, mostly primary", {-296, 100, 1000, 859}, 0},
    {"straddling primary and upper, mostly upper", {100, -600, 1396, 159}, 2},
    {"an even split goes to the earlier", {-648, 100, 648, 859}, 0},
    {"off every monitor, nearest the left one", {-4000, 300, -3000, 800}, 1},
    {"off every monitor, below the primary", {500, 1300, 900, 1500}, 0},
    {"off every monitor, right of the upper one", {2100, -700, 2500, -300}, 2},
    {"an empty window off screen", {5000, 5000, 5000, 5000}, 0},
};

TEST(MonitorForWindow, TakesTheMonitorItOverlapsMostElseTheNearest)
{
    for (const MonitorCase& c : kMonitorCases)
        EXPECT_EQ(c.monitor, MonitorForWindow(c.window, kMonitors, 3)) << c.what;
    EXPECT_EQ(-1, MonitorForWindow(IntRect{0, 0, 10, 10}, nullptr, 0));
}

}  // namespace
