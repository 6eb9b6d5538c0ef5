#include "settings/save_paths.h"
#include "record/disk_rules.h"
#include "record/timer_rules.h"

#include <gtest/gtest.h>

#include <string>

TEST(SavePaths, NamesHaveTwoDigitFieldsAndTheFullYear)
{
    char name[100];
    ASSERT_TRUE(FormatTimeStampedName(name, sizeof name, "cap", ".avi", LocalTime{2007, 8, 16, 10, 58, 4}));
    EXPECT_STREQ("cap20070816105804.avi", name);
    ASSERT_TRUE(FormatTimeStampedName(name, sizeof name, "cap", ".avi", LocalTime{2026, 12, 31, 0, 0, 0}));
    EXPECT_STREQ("cap20261231000000.avi", name);
    ASSERT_TRUE(FormatTimeStampedName(name, sizeof name, "pic", ".bmp", LocalTime{2007, 8, 16, 10, 58, 4}));
    EXPECT_STREQ("pic20070816105804.bmp", name);
    char numbered[100];
    ASSERT_TRUE(NumberedName(numbered, sizeof numbered, name, 1));
    EXPECT_STREQ("pic20070816105804.bmp", numbered);
    ASSERT_TRUE(NumberedName(numbered, sizeof numbered, name, 2));
    EXPECT_STREQ("pic20070816105804_2.bmp", numbered);
    ASSERT_TRUE(NumberedName(numbered, sizeof numbered, "cap20070816105804.avi", 12));
    EXPECT_STREQ("cap20070816105804_12.avi", numbered);
    char tiny[10];
    EXPECT_FALSE(NumberedName(tiny, sizeof tiny, name, 2));
    EXPECT_FALSE(FormatTimeStampedName(tiny, sizeof tiny, "cap", ".avi", LocalTime{2026, 1, 1, 1, 1, 1}));
}

TEST(SavePaths, FoldersUpTo237CharactersFitThePath)
{
    char path[260];
    ASSERT_TRUE(JoinSavePath(path, sizeof path, "D:\\rec", "cap20070816105804.avi"));
    EXPECT_STREQ("D:\\rec\\cap20070816105804.avi", path);
    ASSERT_TRUE(JoinSavePath(path, sizeof path, "D:\\rec\\", "x.avi"));
    EXPECT_STREQ("D:\\rec\\\\x.avi", path) << "the separator is added even after a trailing backslash";

    std::string longest(237, 'f');
    ASSERT_TRUE(JoinSavePath(path, sizeof path, longest.c_str(), "cap20070816105804.avi"));
    EXPECT_EQ(259u, std::string(path).size());
    std::string too_long(238, 'f');
    EXPECT_FALSE(JoinSavePath(path, sizeof path, too_long.c_str(), "cap20070816105804.avi"));
    EXPECT_STREQ("", path);
}

static TimerChoice Time(int month, int day, int hour, int minute)
{
    TimerChoice choice;
    choice.month = month;
    choice.day = day;
    choice.hour = hour;
    choice.minute = minute;
    return choice;
}

static TimerChoice NotSet()
{
    TimerChoice choice;
    choice.none = true;
    return choice;
}

// 10 December 2026, 8:23; 2026 and 2027 have no 29 February, 2028 has.
const TimerClock kWinter{2026, 12, 10, 8, 23};

TEST(TimerChoices, IncompleteSidesAreRefused)
{
    TimerSpec start, stop;
    EXPECT_EQ(TimerVerdict::Incomplete, CheckTimerChoices(Time(5, 1, kNotChosen, 0), NotSet(), kWinter, &start, &stop));
    EXPECT_EQ(TimerVerdict::Incomplete, CheckTimerChoices(NotSet(), Time(5, 1, 2, kNotChosen), kWinter, &start, &stop));
    EXPECT_EQ(TimerVerdict::Incomplete, CheckTimerChoices(TimerChoice{}, NotSet(), kWinter, &start, &stop))
        << "nothing chosen at all on a side";
    EXPECT_EQ(TimerVerdict::Incomplete, CheckTimerChoices(Time(kNotChosen, 1, 2, 0), Time(1, 1, 1, 0), kWinter, &start, &stop));
}

TEST(TimerChoices, OrderOfStartAndStop)
{
    TimerSpec start{9, 9, 9, 9}, stop{9, 9, 9, 9};
    EXPECT_EQ(TimerVerdict::StopNotLater, CheckTimerChoices(Time(12, 31, 23, 50), Time(1, 1, 0, 0), kWinter, &start, &stop));
    EXPECT_EQ(TimerVerdict::SameTimes, CheckTimerChoices(Time(3, 4, 5, 10), Time(3, 4, 5, 10), kWinter, &start, &stop));
    EXPECT_EQ(9, start.month) << "nothing is stored until the input passes";

    ASSERT_EQ(TimerVerdict::Accepted, CheckTimerChoices(Time(3, 4, 5, 10), Time(3, 4, 5, 20), kWinter, &start, &stop));
    EXPECT_EQ(10, start.minute);
    EXPECT_EQ(20, stop.minute);
    ASSERT_EQ(TimerVerdict::Accepted, CheckTimerChoices(NotSet(), Time(1, 1, 0, 0), kWinter, &start, &stop));
    EXPECT_EQ(0, start.month);
    EXPECT_EQ(1, stop.month);
    ASSERT_EQ(TimerVerdict::Accepted, CheckTimerChoices(NotSet(), NotSet(), kWinter, &start, &stop));
    EXPECT_EQ(0, start.month);
    EXPECT_EQ(0, stop.month);
}

struct DateCase {
    const char* what;
    TimerClock now;
    TimerChoice start;
    TimerVerdict verdict;
};

const DateCase kDateCases[] = {
    {"2月31日", kWinter, Time(2, 31, 0, 0), TimerVerdict::NoSuchDate},
    {"4月31日", kWinter, Time(4, 31, 0, 0), TimerVerdict::NoSuchDate},
    {"2月30日 even in a leap year", {2028, 1, 5, 0, 0}, Time(2, 30, 0, 0), TimerVerdict::NoSuchDate},
    {"2月29日 with no leap year this year or next", kWinter, Time(2, 29, 12, 0), TimerVerdict::NoSuchDate},
    {"2月29日 of next year's leap year", {2027, 11, 1, 0, 0}, Time(2, 29, 12, 0), TimerVerdict::Accepted},
    {"2月29日 still ahead in a leap year", {2028, 2, 1, 0, 0}, Time(2, 29, 12, 0), TimerVerdict::Accepted},
    {"2月29日 just gone in a leap year", {2028, 3, 2, 0, 0}, Time(2, 29, 12, 0), TimerVerdict::AlreadyPast},
    {"2月29日 long gone, no leap year next", {2028, 11, 2, 0, 0}, Time(2, 29, 12, 0), TimerVerdict::NoSuchDate},
    {"12月31日", kWinter, Time(12, 31, 23, 50), TimerVerdict::Accepted},
    {"earlier today", kWinter, Time(12, 10, 8, 20), TimerVerdict::AlreadyPast},
    {"this very minute", kWinter, Time(12, 10, 8, 23), TimerVerdict::Accepted},
    {"later today", kWinter, Time(12, 10, 8, 30), TimerVerdict::Accepted},
    {"last month", kWinter, Time(11, 20, 0, 0), TimerVerdict::AlreadyPast},
    {"183 days ago", kWinter, Time(6, 10, 8, 23), TimerVerdict::AlreadyPast},
    {"a minute more than 183 days ago: next year", kWinter, Time(6, 10, 8, 22), TimerVerdict::Accepted},
    {"January chosen in December: next year", kWinter, Time(1, 1, 0, 0), TimerVerdict::Accepted},
    {"the end of last year seen on New Year's Day", {2027, 1, 1, 0, 5}, Time(12, 31, 23, 50),
     TimerVerdict::Accepted},
    {"midnight chosen five minutes late", {2027, 1, 1, 0, 5}, Time(1, 1, 0, 0), TimerVerdict::AlreadyPast},
};

TEST(TimerChoices, DatesThatDoNotExistAndTimesGoneBy)
{
    for (const DateCase& c : kDateCases) {
        TimerSpec start{9, 9, 9, 9}, stop{9, 9, 9, 9};
        EXPECT_EQ(c.verdict, CheckTimerChoices(c.start, NotSet(), c.now, &start, &stop)) << c.what;
        EXPECT_EQ(c.verdict, CheckTimerChoices(NotSet(), c.start, c.now, &start, &stop)) << c.what << ", the stop";
    }
    TimerSpec start, stop;
    EXPECT_EQ(TimerVerdict::StopNotLater,
              CheckTimerChoices(Time(12, 9, 0, 0), Time(12, 8, 0, 0), kWinter, &start, &stop))
        << "the order is told before the past";
}

TEST(TimerMatches, WholeMinutesOnlyAndNeverWithoutATime)
{
    TimerSpec when{12, 7, 23, 50};
    EXPECT_TRUE(TimerMatches(when, 12, 7, 23, 50));
    EXPECT_FALSE(TimerMatches(when, 12, 7, 23, 51));
    EXPECT_FALSE(TimerMatches(when, 11, 7, 23, 50));
    EXPECT_FALSE(TimerMatches(TimerSpec{}, 1, 1, 0, 0));
}

// The room kept back is the headers (4 MiB), five seconds of the stream and
// 32 index bytes for each of 200 chunks a second, the next five included.
TEST(DiskRoom, StopsWhileTheIndexAndFiveSecondsStillFit)
{
    EXPECT_EQ(4226304u, RoomToFinish(0, 0));
    EXPECT_EQ(4226304u, RoomToFinish(-5, -1)) << "a rate or time below zero counts as none";
    EXPECT_EQ(527266304u, RoomToFinish(100e6, 3600));

    EXPECT_EQ(DiskVerdict::kGoOn, JudgeDiskRoom(527266305u, 0, 100e6, 3600, false));
    EXPECT_EQ(DiskVerdict::kDiskFull, JudgeDiskRoom(527266304u, 0, 100e6, 3600, false));
    EXPECT_EQ(DiskVerdict::kDiskFull, JudgeDiskRoom(0, 0, 0, 0, false));
    EXPECT_EQ(DiskVerdict::kGoOn, JudgeDiskRoom(uint64_t{1} << 40, uint64_t{5} << 30, 100e6, 3600, false))
        << "NTFS takes files past 4 GiB";
}

TEST(DiskRoom, OnFat32TheFileStopsShortOf4GiB)
{
    const uint64_t limit = 4294967295u;
    EXPECT_EQ(DiskVerdict::kGoOn, JudgeDiskRoom(uint64_t{1} << 40, limit - 527266305u, 100e6, 3600, true));
    EXPECT_EQ(DiskVerdict::kFileLimit, JudgeDiskRoom(uint64_t{1} << 40, limit - 527266304u, 100e6, 3600, true));
    EXPECT_EQ(DiskVerdict::kFileLimit, JudgeDiskRoom(uint64_t{1} << 40, limit + 10, 0, 0, true));
    EXPECT_EQ(DiskVerdict::kDiskFull, JudgeDiskRoom(1000, 0, 0, 0, true)) << "a full FAT32 disk is full";
}
