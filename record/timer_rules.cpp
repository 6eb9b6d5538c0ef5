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

TimerVerdict CheckTimerChoices(const TimerChoice& start, const TimerChoice& stop, TimerSpec* start_out,
                               TimerSpec* stop_out)
{
    TimerSpec first, last;
    if (!ReadSide(start, &first) || !ReadSide(stop, &last))
        return TimerVerdict::Incomplete;
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
    *start_out = first;
    *stop_out = last;
    return TimerVerdict::Accepted;
}
