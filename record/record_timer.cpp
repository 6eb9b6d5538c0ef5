#include "record/record_timer.h"

#include "record/keep_awake.h"
#include "record/recording.h"
#include "state/command_menu.h"
#include "state/messages.h"
#include "state/timer_ids.h"
#include "state/window.h"

RecordTimer record_timer;
static int dialog_initialized = 0;

void ShowTimerCaption(bool is_start)
{
    wchar_t caption[100];
    FormatTimerCaption(caption, 100, is_start, is_start ? record_timer.start : record_timer.stop);
    SetMenuText(is_start ? IDM_TIMER_START : IDM_TIMER_STOP, caption);
}

// The buttons of one side: "設定無し" and the four groups, ids ascending.
struct TimerSide {
    int none_id;
    int month_base, day_base, hour_base, minute_base;
};
static const TimerSide kStartSide{IDC_START_NONE, IDC_START_MONTH_BASE, IDC_START_DAY_BASE, IDC_START_HOUR_BASE,
                                  IDC_START_MINUTE_BASE};
static const TimerSide kStopSide{IDC_STOP_NONE, IDC_STOP_MONTH_BASE, IDC_STOP_DAY_BASE, IDC_STOP_HOUR_BASE,
                                 IDC_STOP_MINUTE_BASE};

struct ButtonGroup {
    int first, last, step;
};
static ButtonGroup MonthGroup(const TimerSide& s) { return {s.month_base + 1, s.month_base + 12, 1}; }
static ButtonGroup DayGroup(const TimerSide& s) { return {s.day_base + 1, s.day_base + 31, 1}; }
static ButtonGroup HourGroup(const TimerSide& s) { return {s.hour_base, s.hour_base + 23, 1}; }
static ButtonGroup MinuteGroup(const TimerSide& s) { return {s.minute_base, s.minute_base + 50, 10}; }

static bool InGroup(const ButtonGroup& group, int id)
{
    return id >= group.first && id <= group.last && (id - group.first) % group.step == 0;
}

static void SetGroup(HWND dialog, const ButtonGroup& group, int checked_id)
{
    for (int id = group.first; id <= group.last; id += group.step)
        SendDlgItemMessageW(dialog, id, BM_SETCHECK, id == checked_id ? BST_CHECKED : BST_UNCHECKED, 0);
}

// The last checked button of the group, as its value, or kNotChosen.
static int ChosenValue(HWND dialog, const ButtonGroup& group, int base)
{
    int value = kNotChosen;
    for (int id = group.first; id <= group.last; id += group.step)
        if (IsDlgButtonChecked(dialog, id) == BST_CHECKED)
            value = id - base;
    return value;
}

static TimerChoice ReadSide(HWND dialog, const TimerSide& side)
{
    TimerChoice choice;
    choice.none = IsDlgButtonChecked(dialog, side.none_id) == BST_CHECKED;
    if (choice.none)
        return choice;
    choice.month = ChosenValue(dialog, MonthGroup(side), side.month_base);
    choice.day = ChosenValue(dialog, DayGroup(side), side.day_base);
    choice.hour = ChosenValue(dialog, HourGroup(side), side.hour_base);
    choice.minute = ChosenValue(dialog, MinuteGroup(side), side.minute_base);
    return choice;
}

static void CheckButton(HWND dialog, int id)
{
    SendDlgItemMessageW(dialog, id, BM_SETCHECK, BST_CHECKED, 0);
}

static void ShowStoredSide(HWND dialog, const TimerSide& side, const TimerSpec& when)
{
    if (when.month == 0) {
        CheckButton(dialog, side.none_id);
        return;
    }
    CheckButton(dialog, side.month_base + when.month);
    CheckButton(dialog, side.day_base + when.day);
    CheckButton(dialog, side.hour_base + when.hour);
    CheckButton(dialog, side.minute_base + when.minute);
}

// True when the id belonged to the side.
static bool ClickSide(HWND dialog, const TimerSide& side, int id)
{
    const ButtonGroup groups[] = {MonthGroup(side), DayGroup(side), HourGroup(side), MinuteGroup(side)};
    if (id == side.none_id) {
        CheckButton(dialog, side.none_id);
        for (const ButtonGroup& group : groups)
            SetGroup(dialog, group, 0);
        return true;
    }
    for (const ButtonGroup& group : groups) {
        if (InGroup(group, id)) {
            SendDlgItemMessageW(dialog, side.none_id, BM_SETCHECK, BST_UNCHECKED, 0);
            SetGroup(dialog, group, id);
            return true;
        }
    }
    return false;
}

static TimerClock LocalClock()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return TimerClock{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute};
}

static void Commit(HWND dialog)
{
    TimerSpec start, stop;
    switch (CheckTimerChoices(ReadSide(dialog, kStartSide), ReadSide(dialog, kStopSide), LocalClock(), &start,
                              &stop)) {
    case TimerVerdict::Incomplete: MessageBoxW(dialog, MessageText(Message::kTimerIncomplete), L"", MB_OK); return;
    case TimerVerdict::NoSuchDate: MessageBoxW(dialog, MessageText(Message::kTimerNoSuchDate), L"", MB_OK); return;
    case TimerVerdict::AlreadyPast: MessageBoxW(dialog, MessageText(Message::kTimerPast), L"", MB_OK); return;
    case TimerVerdict::StopNotLater:
        MessageBoxW(dialog, MessageText(Message::kTimerStopBeforeStart), L"", MB_OK);
        return;
    case TimerVerdict::SameTimes: MessageBoxW(dialog, MessageText(Message::kTimerSameTimes), L"", MB_OK); return;
    case TimerVerdict::Accepted: break;
    }
    record_timer.start = start;
    record_timer.stop = stop;
    EndDialog(dialog, IDC_TIMER_SET);
}

static INT_PTR CALLBACK TimerDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    if (message == WM_ACTIVATE) {
        if (!dialog_initialized) {
            dialog_initialized = 1;
            ShowStoredSide(dialog, kStartSide, record_timer.start);
            ShowStoredSide(dialog, kStopSide, record_timer.stop);
        }
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    int id = LOWORD(wparam);
    if (id == IDC_TIMER_SET)
        Commit(dialog);
    else if (id == IDC_TIMER_CANCEL)
        EndDialog(dialog, IDC_TIMER_CANCEL);
    else if (!ClickSide(dialog, kStartSide, id))
        ClickSide(dialog, kStopSide, id);
    return TRUE;
}

static bool RecordingRuns()
{
    UINT state = IsMenuChecked(IDM_NO_PREVIEW);
    return state == MENU_GRAYED || state == MENU_CHECKED_GRAYED;
}

void OpenTimerDialog(HWND hwnd)
{
    dialog_initialized = 0;
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hwnd, GWLP_HINSTANCE));
    if (DialogBoxParamW(instance, L"TIMER_SETTING", hwnd, TimerDialog, 0) != IDC_TIMER_SET)
        return;
    ShowTimerCaption(true);
    ShowTimerCaption(false);
    if (record_timer.start.month != 0) {
        record_timer.start_pending = 1;
        if (!RecordingRuns())
            SetTimer(hwnd, TIMER_SCHEDULE_START, kScheduleInterval, nullptr);
    }
    if (record_timer.stop.month != 0 && RecordingRuns())
        SetTimer(hwnd, TIMER_SCHEDULE_STOP, kScheduleInterval, nullptr);
    UpdateKeepAwake();
}

static bool NowMatches(const TimerSpec& when)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return TimerMatches(when, now.wMonth, now.wDay, now.wHour, now.wMinute);
}

// The ticks act on the state, never toggle it: a tick that arrives while a
// box is open elsewhere must not start a recording that nothing stops. What
// is due is cleared before the command runs, so a start that fails says so
// once instead of at every tick of that minute.
void OnScheduleStartTick()
{
    if (!NowMatches(record_timer.start))
        return;
    KillTimer(main_window, TIMER_SCHEDULE_START);
    record_timer.start_pending = 0;
    record_timer.start = TimerSpec{};
    ShowTimerCaption(true);
    UpdateKeepAwake();
    if (!recording_state.recording)
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
}

void OnScheduleStopTick()
{
    if (!NowMatches(record_timer.stop))
        return;
    KillTimer(main_window, TIMER_SCHEDULE_STOP);
    record_timer.stop = TimerSpec{};
    ShowTimerCaption(false);
    if (recording_state.recording)
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
}
