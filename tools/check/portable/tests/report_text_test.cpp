#include "tools/check/portable/report_text.h"

#include <gtest/gtest.h>

namespace fernwood_check {
namespace {

TEST(ReportText, SectionsAreNumberedInTheirFixedOrder)
{
    EXPECT_EQ("== 1. PC ==\n", SectionHeading(1));
    EXPECT_EQ("== 3. Format choice ==\n", SectionHeading(3));
    EXPECT_EQ("== 6. Folders ==\n", SectionHeading(6));
    EXPECT_EQ("", SectionHeading(0));
    EXPECT_EQ("", SectionHeading(7));
}

TEST(ReportText, LinesSplitOnTheFirstColonAndStayOneLine)
{
    EXPECT_EQ("    device path: \\\\?\\root#a: b\n", ReportLine(2, "device path", "\\\\?\\root#a: b"));
    EXPECT_EQ("message: two lines\n", ReportLine(0, "message", "two\nlines"));
}

TEST(ReportText, HresultsAreEightHexDigits)
{
    EXPECT_EQ("0x00000000", HresultText(0));
    EXPECT_EQ("0x00000001", HresultText(1));
    EXPECT_EQ("0x800705AA", HresultText(static_cast<long>(0x800705AAul)));
}

TEST(ReportText, IntervalsCarryTheirRate)
{
    EXPECT_EQ("333667 (29.97 fps)", IntervalText(333667));
    EXPECT_EQ("166833 (59.94 fps)", IntervalText(166833));
    EXPECT_EQ("0 (none)", IntervalText(0));
}

TEST(ReportText, SpacingIsMinMedianMaxOfTheGaps)
{
    // Gaps 33.3, 33.4, 66.7 and 33.4 ms: a frame lost in the middle.
    Spacing spacing = MeasureSpacing({0, 333000, 667000, 1334000, 1668000});
    EXPECT_EQ(4, spacing.gaps);
    EXPECT_DOUBLE_EQ(33.3, spacing.min_ms);
    EXPECT_DOUBLE_EQ(33.4, spacing.median_ms);
    EXPECT_DOUBLE_EQ(66.7, spacing.max_ms);
    EXPECT_EQ("min 33.30 ms, median 33.40 ms, max 66.70 ms over 4 gaps (nominal 33.37 ms)",
              SpacingText(spacing, 333667));
}

TEST(ReportText, AnOddNumberOfGapsHasItsMiddleOneAsMedian)
{
    Spacing spacing = MeasureSpacing({0, 100000, 400000, 500000});
    EXPECT_DOUBLE_EQ(10.0, spacing.median_ms);
    EXPECT_DOUBLE_EQ(30.0, spacing.max_ms);
}

TEST(ReportText, FewerThanTwoStampsHaveNoSpacing)
{
    EXPECT_EQ(0, MeasureSpacing({}).gaps);
    EXPECT_EQ(0, MeasureSpacing({5}).gaps);
    EXPECT_EQ("no two stamps", SpacingText(MeasureSpacing({5}), 333667));
}

TEST(ReportText, TheWriteRateIsHeldToTheUncompressedStream)
{
    // 1920 × 1080 × 2 bytes at 30000/1001 fps.
    double needed = UncompressedBytesPerSecond(1920, 1080, 333667);
    EXPECT_NEAR(124.3e6, needed, 0.1e6);
    EXPECT_EQ("200.0 MB/s measured, 124.3 MB/s needed: enough", WriteRateText(200e6, needed));
    EXPECT_EQ("50.5 MB/s measured, 124.3 MB/s needed: not enough", WriteRateText(50.5e6, needed));
    EXPECT_EQ(0, UncompressedBytesPerSecond(1920, 1080, 0));
}

}  // namespace
}  // namespace fernwood_check
