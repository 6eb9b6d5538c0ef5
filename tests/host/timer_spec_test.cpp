#include "record/timer_spec.h"

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

    TimerSpec spec;
    spec.month = 12;
    spec.day = 31;
    spec.hour = 0;
    spec.minute = 50;
    ASSERT_TRUE(FormatTimerCaption(caption, 100, true, spec));
    EXPECT_STREQ(L"開始　12月 31日 0時 50分", caption);
    spec.month = 1;
    spec.day = 2;
    spec.hour = 3;
    spec.minute = 0;
    ASSERT_TRUE(FormatTimerCaption(caption, 100, false, spec));
    EXPECT_STREQ(L"停止　1月 2日 3時 0分", caption);
}

TEST(FormatTimerCaption, LargestStoredValuesFitAndSmallBuffersAreCutSafely)
{
    wchar_t caption[100];
    TimerSpec spec;
    spec.month = spec.day = spec.hour = spec.minute = 65535;
    ASSERT_TRUE(FormatTimerCaption(caption, 100, true, spec));
    EXPECT_STREQ(L"開始　65535月 65535日 65535時 65535分", caption);

    wchar_t small[6];
    EXPECT_FALSE(FormatTimerCaption(small, 6, true, spec));
    EXPECT_EQ(5u, std::wcslen(small));
}
