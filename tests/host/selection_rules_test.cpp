#include "capture/selection_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(SavedChoices, VideoAudioAndCompressorRangeRules)
{
    EXPECT_EQ(1, SavedVideoIndex(1003, 3));
    EXPECT_EQ(0, SavedVideoIndex(1005, 3));
    EXPECT_EQ(2, SavedVideoIndex(1004, 3));
    EXPECT_EQ(0, SavedVideoIndex(1001, 3));
    EXPECT_EQ(0, SavedVideoIndex(-5, 3));

    EXPECT_EQ(-1, SavedAudioIndex(2001, 2));
    EXPECT_EQ(1, SavedAudioIndex(2003, 2));  // 2001 + count: the last device
    EXPECT_EQ(0, SavedAudioIndex(2004, 2));  // 2002 + count: first device
    EXPECT_EQ(-1, SavedAudioIndex(2002, 0)) << "no device at all behaves as no audio";
    EXPECT_EQ(-1, SavedAudioIndex(2001, 0));

    EXPECT_EQ(-1, SavedCompressorIndex(10001, 5));
    EXPECT_EQ(4, SavedCompressorIndex(10006, 5));
    EXPECT_EQ(-1, SavedCompressorIndex(10007, 5)) << "an uninstalled compressor falls back to uncompressed";
    EXPECT_EQ(-1, SavedCompressorIndex(0, 5));
}

TEST(RateProbe, EveryRowOfTheTable)
{
    RateOutcome only44 = ResolveRateProbe(true, false, 0);
    EXPECT_EQ(8, only44.state_44k);
    EXPECT_EQ(3, only44.state_48k);
    EXPECT_EQ(44100, only44.rate);

    RateOutcome both_44_checked = ResolveRateProbe(true, true, 8);
    EXPECT_EQ(kStateUnchanged, both_44_checked.state_44k);
    EXPECT_EQ(0, both_44_checked.state_48k);
    EXPECT_TRUE(both_44_checked.reapply_44k);
    EXPECT_EQ(44100, both_44_checked.rate);

    for (unsigned before : {0u, 3u, 11u}) {
        RateOutcome both = ResolveRateProbe(true, true, before);
        EXPECT_EQ(0, both.state_44k) << before;
        EXPECT_EQ(8, both.state_48k) << before;
        EXPECT_FALSE(both.reapply_44k);
        EXPECT_EQ(48000, both.rate);
    }

    RateOutcome only48 = ResolveRateProbe(false, true, 8);
    EXPECT_EQ(3, only48.state_44k);
    EXPECT_EQ(8, only48.state_48k);

    RateOutcome neither = ResolveRateProbe(false, false, 8);
    EXPECT_EQ(kStateUnchanged, neither.state_44k);
    EXPECT_EQ(kStateUnchanged, neither.state_48k);
    EXPECT_EQ(0, neither.rate);
}

TEST(VideoFormat, TableAndImageSizes)
{
    VideoFormat hd = VideoFormatForHeight(720);
    EXPECT_EQ(1280, hd.width);
    EXPECT_EQ(166833, hd.avg_time_per_frame);
    VideoFormat full = VideoFormatForHeight(1081);
    EXPECT_EQ(1080, full.height);
    EXPECT_EQ(333667, full.avg_time_per_frame);
    EXPECT_EQ(1843200u, ImageSizeBytes(1280, 16, 720));
    EXPECT_EQ(4147200u, ImageSizeBytes(1920, 16, 1080));
    EXPECT_EQ(3u * 1280 * 720, ImageSizeBytes(1280, 24, 720));
    EXPECT_EQ(16u * 3, ImageSizeBytes(5, 24, 3)) << "15-byte rows padded to 16";
}

static bool Cp932Lead(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

TEST(CutAtCharacterBoundary, NeverSplitsADoubleByteCharacter)
{
    std::string name = std::string(98, 'a') + "\x83\x65" + "b";  // a double-byte character across byte 99
    std::string buffer = name;
    EXPECT_EQ(98u, CutAtCharacterBoundary(&buffer[0], 99, Cp932Lead));
    EXPECT_STREQ(std::string(98, 'a').c_str(), buffer.c_str());

    buffer = std::string(97, 'a') + "\x83\x65" + "b";
    EXPECT_EQ(99u, CutAtCharacterBoundary(&buffer[0], 99, Cp932Lead));

    std::string all_double;
    for (int i = 0; i < 60; ++i)
        all_double += "\x82\xA0";
    EXPECT_EQ(98u, CutAtCharacterBoundary(&all_double[0], 99, Cp932Lead));

    char lone_lead[] = "ab\x83";
    EXPECT_EQ(2u, CutAtCharacterBoundary(lone_lead, 99, Cp932Lead));
    char short_name[] = "Card";
    EXPECT_EQ(4u, CutAtCharacterBoundary(short_name, 99, Cp932Lead));
}
