#include "capture/format_choice.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const VideoFormat k720 = VideoFormatForHeight(720);
const VideoFormat k1080 = VideoFormatForHeight(1080);

CaptureCapability Fixed(PixelSubtype subtype, int32_t width, int32_t height, int64_t min_interval,
                        int64_t max_interval = 10000000)
{
    return {subtype, true, width, width, 0, height, height, 0, min_interval, max_interval};
}

struct ChoiceCase {
    const char* what;
    std::vector<CaptureCapability> caps;
    VideoFormat wanted;
    int index;
    int64_t interval;
};

void PrintTo(const ChoiceCase& c, std::ostream* out)
{
    *out << c.what;
}

class Choice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(Choice, TakesTheEntryAndIntervalACardReallyOffers)
{
    const ChoiceCase& c = GetParam();
    FormatChoice choice = ChooseCapability(c.caps.data(), static_cast<int>(c.caps.size()), c.wanted);
    EXPECT_EQ(c.index, choice.index) << c.what;
    EXPECT_EQ(c.interval, choice.interval) << c.what;
}

const PixelSubtype U = PixelSubtype::kUyvy, Y = PixelSubtype::kYuy2, O = PixelSubtype::kOther;

INSTANTIATE_TEST_SUITE_P(
    Cards, Choice,
    ::testing::Values(
        ChoiceCase{"UYVY behind other formats", {Fixed(Y, 1280, 720, 166833), Fixed(O, 1280, 720, 166833),
                                                 Fixed(U, 1920, 1080, 333667), Fixed(U, 1280, 720, 166833)},
                   k720, 3, 166833},
        ChoiceCase{"the other size's entry is not stretched", {Fixed(U, 1280, 720, 166833)}, k1080, -1, 0},
        ChoiceCase{"YUY2 only", {Fixed(O, 1920, 1080, 333667), Fixed(Y, 1920, 1080, 333667)}, k1080, 1, 333667},
        ChoiceCase{"UYVY wins over an earlier YUY2", {Fixed(Y, 1280, 720, 166833), Fixed(U, 1280, 720, 166833)},
                   k720, 1, 166833},
        ChoiceCase{"exactly 60.00 only", {Fixed(U, 1280, 720, 166667, 166667)}, k720, 0, 166667},
        ChoiceCase{"a range starting just above", {Fixed(U, 1280, 720, 166834, 333667)}, k720, 0, 166834},
        ChoiceCase{"the range holding 59.94 beats one of 60.00",
                   {Fixed(U, 1280, 720, 166667, 166667), Fixed(U, 1280, 720, 166833, 166833)}, k720, 1, 166833},
        ChoiceCase{"a maximum of 0 means the minimum alone", {Fixed(U, 1280, 720, 166667, 0)}, k720, 0, 166667},
        ChoiceCase{"50 fps is another rate", {Fixed(U, 1280, 720, 200000, 200000)}, k720, -1, 0},
        ChoiceCase{"too fast a range only", {Fixed(U, 1920, 1080, 166833, 166833)}, k1080, -1, 0},
        ChoiceCase{"a scaling range on its granularity",
                   {{U, true, 640, 1920, 8, 480, 1080, 8, 166833, 10000000}}, k720, 0, 166833},
        ChoiceCase{"a scaling range off its granularity",
                   {{U, true, 640, 1920, 7, 480, 1080, 7, 166833, 10000000}}, k720, -1, 0},
        ChoiceCase{"a format block the viewer cannot read", {{U, false, 1280, 1280, 0, 720, 720, 0, 166833, 166833}},
                   k720, -1, 0},
        ChoiceCase{"nothing listed", {}, k720, -1, 0}));

TEST(Choice, MoreThanTwentyEntriesAreAllWalked)
{
    std::vector<CaptureCapability> caps(24, Fixed(O, 1280, 720, 166833));
    caps[22] = Fixed(U, 1280, 720, 166833);
    EXPECT_EQ(22, ChooseCapability(caps.data(), 24, k720).index);
}

TEST(Choice, IntervalToleranceIsHalfAPercentEitherWay)
{
    EXPECT_EQ(166000, NearestInterval(100000, 166000, 166833));
    EXPECT_EQ(0, NearestInterval(100000, 165900, 166833));
    EXPECT_EQ(167600, NearestInterval(167600, 200000, 166833));
    EXPECT_EQ(0, NearestInterval(167700, 200000, 166833));
    EXPECT_EQ(0, NearestInterval(0, 200000, 166833)) << "a range that starts at 0 describes nothing";
}

}  // namespace
