#include "tools/check/portable/frame_tally.h"

#include <gtest/gtest.h>

namespace fernwood_check {
namespace {

TEST(FrameTally, AnUnbrokenRunLosesNothing)
{
    FrameTally tally = TallyFrames({100, 101, 102, 103});
    EXPECT_EQ(4, tally.expected);
    EXPECT_EQ(4, tally.written);
    EXPECT_EQ(0, tally.lost);
    EXPECT_EQ(0, tally.repeated);
    EXPECT_EQ(0, tally.backwards);
}

TEST(FrameTally, GapsAreLostFrames)
{
    FrameTally tally = TallyFrames({7, 8, 11, 12, 20});
    EXPECT_EQ(14, tally.expected);
    EXPECT_EQ(5, tally.written);
    EXPECT_EQ(9, tally.lost);
}

TEST(FrameTally, RepeatsAndReversalsAreCountedNotWritten)
{
    FrameTally tally = TallyFrames({1, 2, 2, 4, 3, 5});
    EXPECT_EQ(5, tally.expected);
    EXPECT_EQ(5, tally.written);
    EXPECT_EQ(0, tally.lost);
    EXPECT_EQ(1, tally.repeated);
    EXPECT_EQ(1, tally.backwards);
}

TEST(FrameTally, NothingReadIsNothingExpected)
{
    FrameTally tally = TallyFrames({});
    EXPECT_EQ(0, tally.expected);
    EXPECT_EQ(0, tally.written);
    EXPECT_EQ(0, tally.lost);
}

TEST(FrameTally, NumbersNearTheTopOfTheRangeDoNotOverflow)
{
    FrameTally tally = TallyFrames({0xFFFFFFFEu, 0xFFFFFFFFu});
    EXPECT_EQ(2, tally.expected);
    EXPECT_EQ(0, tally.lost);
    tally = TallyFrames({0u, 0xFFFFFFFFu});
    EXPECT_EQ(0x100000000LL, tally.expected);
}

}  // namespace
}  // namespace fernwood_check
