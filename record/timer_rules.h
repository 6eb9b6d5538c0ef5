// A scheduled recording start or stop, compared field by field with the local clock.
#ifndef FERNWOODVIEW_TIMER_SPEC_H
#define FERNWOODVIEW_TIMER_SPEC_H

#include <cstddef>
#include <cstdint>

struct TimerSpec {
    uint16_t month = 0;  // 0: no time set (the other fields are then 0 too)
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
};

// "開始　%d月 %d日 %d時 %d分" / "停止　…", or the "設定無し" caption when no month is set.
// Always terminates `out`; returns false if the caption had to be cut.
bool FormatTimerCaption(wchar_t* out, size_t size, bool is_start, const TimerSpec& when);

// True when the clock's month, day, hour and minute are the scheduled ones.
bool TimerMatches(const TimerSpec& when, unsigned month, unsigned day, unsigned hour, unsigned minute);

// One side of the timer dialog as its buttons show it; kNotChosen for a group without a check.
constexpr int kNotChosen = -1;
struct TimerChoice {
    bool none = false;  // "設定無し"
    int month = kNotChosen;
    int day = kNotChosen;
    int hour = kNotChosen;
    int minute = kNotChosen;
};

enum class TimerVerdict {
    Accepted,
    Incomplete,     // a group of a side with a time has no choice
    NoSuchDate,     // 2月31日, or 2月29日 when neither this year nor the next has one
    StopNotLater,   // the stop comes before the start
    SameTimes,
    AlreadyPast,    // a side's time went by within the last half year
};

// The local clock, to a minute.
struct TimerClock {
    unsigned year, month, day, hour, minute;
};

// A time has no year: it fires the next time the clock shows it, within a
// year. One earlier than now this year fires next year, which is what a
// user means by January chosen in December, but not by 10時 chosen at 11時:
// within the half year (183 days) before now it counts as past.
// 2月29日 exists only in leap years: it is taken when the coming one is this
// year's (still ahead) or next year's.
// Validates both sides; on Accepted fills the two times (all zero for "設定無し").
TimerVerdict CheckTimerChoices(const TimerChoice& start, const TimerChoice& stop, const TimerClock& now,
                               TimerSpec* start_out, TimerSpec* stop_out);

#endif
