#include "record/timer_rules.h"

#include <cwchar>
#include <initializer_list>

bool FormatTimerCaption(wchar_t* out, size_t size, bool is_start, const TimerSpec& when)
{
    if (size == 0)
        return false;
    int n;
    if (when.month == 0) {
        n = std::swprintf(out, size, L"%ls", is_start ? L"開始　設定無し" : L"停止　設定無し");
    } else {
        n = std::swprintf(out, size, is_start ? L"開始　%d月 %d日 %d時 %d分" : L"停止　%d月 %d日 %d時 %d分",
                          when.month, when.day, when.hour, when.minute);
    }
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[size - 1] = L'\0';
        return false;
    }
    return true;
}

bool TimerMatches(const TimerSpec& when, unsigned month, unsigned day, unsigned hour, unsigned minute)
{
    return when.month == month && when.day == day && when.hour == hour && when.minute == minute;
}

static bool ReadSide(const TimerChoice& choice, TimerSpec* out)
{
    *out = TimerSpec{};
    if (choice.none)
        return true;
    for (int value : {choice.month, choice.day, choice.hour, choice.minute})
        if (value == kNotChosen)
            return false;
    out->month = static_cast<uint16_t>(choice.month);
    out->day = static_cast<uint16_t>(choice.day);
    out->hour = static_cast<uint16_t>(choice.hour);
    out->minute = static_cast<uint16_t>(choice.minute);
    return true;
}

static bool IsLeapYear(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

static unsigned DaysInMonth(unsigned year, unsigned month)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Minutes since the start of `year`; the day must exist in that year.
static long long MinuteOfYear(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute)
{
    long long days = day - 1;
    for (unsigned m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    return (days * 24 + hour) * 60 + minute;
}

static bool DayExists(unsigned year, const TimerSpec& when)
{
    return when.month >= 1 && when.month <= 12 && when.day >= 1 && when.day <= DaysInMonth(year, when.month);
}

constexpr long long kPastWindowMinutes = 183LL * 24 * 60;

static TimerVerdict CheckDate(const TimerSpec& when, const TimerClock& now)
{
    if (when.month == 0)
        return TimerVerdict::Accepted;
    long long clock = MinuteOfYear(now.year, now.month, now.day, now.hour, now.minute);
    bool this_year = DayExists(now.year, when);
    long long at = this_year ? MinuteOfYear(now.year, when.month, when.day, when.hour, when.minute) : 0;
    if (this_year && at < clock && clock - at <= kPastWindowMinutes)
        return TimerVerdict::AlreadyPast;
    if ((this_year && at >= clock) || DayExists(now.year + 1, when))
        return TimerVerdict::Accepted;
    return TimerVerdict::NoSuchDate;
}

TimerVerdict CheckTimerChoices(const TimerChoice& start, const TimerChoice& stop, const TimerClock& now,
                               TimerSpec* start_out, TimerSpec* stop_out)
{
    TimerSpec first, last;
    if (!ReadSide(start, &first) || !ReadSide(stop, &last))
        return TimerVerdict::Incomplete;
    TimerVerdict start_date = CheckDate(first, now);
    TimerVerdict stop_date = CheckDate(last, now);
    if (start_date == TimerVerdict::NoSuchDate || stop_date == TimerVerdict::NoSuchDate)
        return TimerVerdict::NoSuchDate;
    if (!stop.none) {
        const uint16_t a[] = {first.month, first.day, first.hour, first.minute};
        const uint16_t b[] = {last.month, last.day, last.hour, last.minute};
        int order = 0;
        for (int i = 0; i < 4 && order == 0; ++i)
            order = a[i] < b[i] ? -1 : a[i] > b[i] ? 1 : 0;
        if (order > 0)
            return TimerVerdict::StopNotLater;
        if (order == 0)
            return TimerVerdict::SameTimes;
    }
    if (start_date == TimerVerdict::AlreadyPast || stop_date == TimerVerdict::AlreadyPast)
        return TimerVerdict::AlreadyPast;
    *start_out = first;
    *stop_out = last;
    return TimerVerdict::Accepted;
}
