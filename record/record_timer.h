// Scheduled recording start and stop.
#ifndef FERNWOODVIEW_RECORD_TIMER_H
#define FERNWOODVIEW_RECORD_TIMER_H

#include <windows.h>

#include "record/timer_rules.h"

struct RecordTimer {
    TimerSpec start;
    TimerSpec stop;
    int start_pending = 0;
};

extern RecordTimer record_timer;

// Sets the caption of IDM_TIMER_START or IDM_TIMER_STOP from its TimerSpec.
void ShowTimerCaption(bool is_start);

void OpenTimerDialog(HWND hwnd);
void OnScheduleStartTick();
void OnScheduleStopTick();

#endif
