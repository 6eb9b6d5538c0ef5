#include "record/record_timer.h"

#include "app/command_menu.h"

RecordTimer record_timer;

void ShowTimerCaption(bool is_start)
{
    wchar_t caption[100];
    FormatTimerCaption(caption, 100, is_start, is_start ? record_timer.start : record_timer.stop);
    SetMenuText(is_start ? IDM_TIMER_START : IDM_TIMER_STOP, caption);
}

void OpenTimerDialog(HWND) {}
void OnScheduleStartTick() {}
void OnScheduleStopTick() {}
