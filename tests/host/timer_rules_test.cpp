#include "record/timer_rules.h"

#include <gtest/gtest.h>

#include <cwchar>

TEST(FormatTimerCaption, SetAndUnsetCaptionsOfBothItems)
{
    wchar_t caption[100];
    TimerSpec none;
    ASSERT_TRUE(FormatTimerCaption(caption, 100, true, none));
    EXPECT_STREQ(L"開始　設定無し", caption);
    ASSERT_TRUE(FormatTimerCaption(caption, 100, false, none));
    EXPECT_STREQ(L"停止　設定無し", caption);

    TimerSpec when;
    when.month = 12;
    when.day = 31;
    when.hour = 0;
    when.minute = 50;
    ASSERT_TRUE(FormatTimerCaption(caption, 100, true, when));
    EXPECT_STREQ(L"開始　12月 31日 0時 50分", caption);
    when.month = 1;
    when.day = 2;
    when.hour = 3;
    when.minute = 0;
    ASSERT_TRUE(FormatTimerCaption(caption, 100, false, when));
    EXPECT_STREQ(L"停止　1月 2日 3時 0分", caption);
}

TEST(FormatTimerCaption, LargestStoredValuesFitAndSmallBuffersAreCutSafely)
{
    wchar_t caption[100];
    TimerSpec when;
    when.month = when.day = when.hour = when.minute = 65535;
    ASSERT_TRUE(FormatTimerCaption(caption, 100, true, when));
    EXPECT_STREQ(L"開始　65535月 65535日 65535時 65535分", caption);

    wchar_t small[6];
    EXPECT_FALSE(FormatTimerCaption(small, 6, true, when));
    EXPECT_EQ(5u, std::wcslen(small));
}
