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
bool FormatTimerCaption(wchar_t* out, size_t size, bool is_start, const TimerSpec& spec);

#endif
