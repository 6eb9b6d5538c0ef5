#include "record/keep_awake.h"

#include <windows.h>

#include "record/record_timer.h"
#include "record/recording.h"
#include "state/window.h"

void UpdateKeepAwake()
{
    static int held_awake = -1;
    static bool reason_shown = false;
    // SetThreadExecutionState's documentation names a recording program as
    // the one that needs ES_SYSTEM_REQUIRED; the display may sleep.
    bool start_due = record_timer.start_pending && record_timer.start.month != 0;
    int awake = recording_state.recording || start_due ? 1 : 0;
    if (awake != held_awake)
        SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
    held_awake = awake;
    bool reason = recording_state.recording != 0;
    if (reason && !reason_shown)
        ShutdownBlockReasonCreate(main_window, L"録画中です。録画を止めてファイルを閉じています。");
    else if (!reason && reason_shown)
        ShutdownBlockReasonDestroy(main_window);
    reason_shown = reason;
}
