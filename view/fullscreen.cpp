#include "view/fullscreen.h"

#include "state/command_menu.h"
#include "state/timer_ids.h"
#include "state/window.h"
#include "view/layout_geometry.h"
#include "view/video_layout.h"

FullscreenState fullscreen_state;

constexpr UINT kCursorHideDelay = 2000;
constexpr LONG kWindowedStyle = WS_VISIBLE | WS_OVERLAPPEDWINDOW;
constexpr LONG kFullscreenStyle = static_cast<LONG>(WS_POPUP | WS_VISIBLE);

static void MovePresetToPending(UINT id)
{
    if (CheckMenuItem(CommandMenu, id, MF_BYCOMMAND | MF_UNCHECKED) == MF_CHECKED)
        window_size_state.pending_size_command = static_cast<int>(id);
}

struct MonitorList {
    IntRect* monitors;
    int capacity;
    int count;
};

static BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM context)
{
    auto* list = reinterpret_cast<MonitorList*>(context);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (list->count >= list->capacity || !GetMonitorInfoA(monitor, &info))
        return list->count < list->capacity;
    IntRect rect{info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right, info.rcMonitor.bottom};
    int at = list->count++;
    if (info.dwFlags & MONITORINFOF_PRIMARY) {
        list->monitors[at] = list->monitors[0];
        at = 0;
    }
    list->monitors[at] = rect;
    return TRUE;
}

int ListMonitors(IntRect* monitors, int capacity)
{
    MonitorList list{monitors, capacity, 0};
    EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&list));
    return list.count;
}

constexpr int kMostMonitors = 16;

// The whole monitor the window is on, not the primary's: a window on a
// second monitor goes fullscreen there.
static RECT FullscreenRect(const RECT& window)
{
    IntRect monitors[kMostMonitors];
    int count = ListMonitors(monitors, kMostMonitors);
    int chosen = MonitorForWindow(IntRect{window.left, window.top, window.right, window.bottom}, monitors, count);
    if (chosen < 0) {
        RECT desktop{};
        GetWindowRect(GetDesktopWindow(), &desktop);
        return desktop;
    }
    const IntRect& m = monitors[chosen];
    return RECT{m.left, m.top, m.right, m.bottom};
}

void EnterFullscreen()
{
    FullscreenState& state = fullscreen_state;
    // Set before the window changes, so the nested size notifications leave
    // the windowed size alone.
    state.fullscreen = true;
    window_size_state.resize_pending = true;
    CheckMenuItem(CommandMenu, IDM_SIZE_FULLSCREEN, MF_BYCOMMAND | MF_CHECKED);
    MovePresetToPending(IDM_SIZE_HALF);
    MovePresetToPending(IDM_SIZE_ONE);
    SetMenuState(IDM_CLIPPING, MENU_ENABLED);

    if (IsMaximised(main_window)) {
        state.was_maximised = true;
        SetShowState(main_window, SW_SHOWNORMAL);
    }
    RECT window{};
    GetWindowRect(main_window, &window);
    state.saved_rect = SavedWindowRect{window.left, window.top, window.right - window.left, window.bottom - window.top};
    SetTimer(main_window, TIMER_CURSOR_HIDE, kCursorHideDelay, nullptr);

    RECT screen = FullscreenRect(window);
    SetWindowLongA(main_window, GWL_STYLE, kFullscreenStyle);
    // Frame changed: a window already as large as the screen would otherwise keep its border.
    SetWindowPos(main_window, HWND_TOPMOST, screen.left, screen.top, screen.right - screen.left,
                 screen.bottom - screen.top, SWP_SHOWWINDOW | SWP_FRAMECHANGED);
    ApplyVideoLayout();
}

void LeaveFullscreen()
{
    FullscreenState& state = fullscreen_state;
    // Cleared before the old frame comes back, so the nested size
    // notification re-fits the window and re-issues the pending preset.
    state.fullscreen = false;
    CheckMenuItem(CommandMenu, IDM_SIZE_FULLSCREEN, MF_BYCOMMAND | MF_UNCHECKED);
    if (IsMenuChecked(IDM_CLIPPING) == MENU_CHECKED)
        SendMessageA(main_window, WM_COMMAND, IDM_CLIPPING, 0);
    RevealCursor();
    SetMenuState(IDM_CLIPPING, MENU_GRAYED);

    SetWindowLongA(main_window, GWL_STYLE, kWindowedStyle);
    const SavedWindowRect& saved = state.saved_rect;
    SetWindowPos(main_window, state.topmost ? HWND_TOPMOST : HWND_NOTOPMOST, saved.x, saved.y, saved.width,
                 saved.height, SWP_SHOWWINDOW | SWP_FRAMECHANGED);
    if (state.was_maximised) {
        state.was_maximised = false;
        SetShowState(main_window, SW_SHOWMAXIMIZED);
    }
}

void RevealCursor()
{
    if (fullscreen_state.cursor_shown) {
        KillTimer(main_window, TIMER_CURSOR_HIDE);
    } else {
        fullscreen_state.cursor_shown = true;
        ShowCursor(TRUE);
    }
}

void OnFullscreenCommand()
{
    if (!fullscreen_state.fullscreen)
        EnterFullscreen();
}

void OnTopmostCommand()
{
    bool turn_on = IsMenuChecked(IDM_TOPMOST) == MENU_ENABLED;
    fullscreen_state.topmost = turn_on;
    CheckMenuItem(CommandMenu, IDM_TOPMOST, MF_BYCOMMAND | (turn_on ? MF_CHECKED : MF_UNCHECKED));
    SetWindowPos(main_window, turn_on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void OnMove(HWND hwnd)
{
    // A minimised window sits at a parking position that must not be saved.
    if (!IsMaximised(hwnd) && !fullscreen_state.fullscreen && !IsIconic(hwnd))
        GetWindowRect(hwnd, &fullscreen_state.window_position);
}

void OnMouseMove(HWND hwnd, WPARAM keys, LPARAM position)
{
    FullscreenState& state = fullscreen_state;
    if (state.fullscreen) {
        RevealCursor();
        SetTimer(hwnd, TIMER_CURSOR_HIDE, kCursorHideDelay, nullptr);
    }
    bool maximised = IsMaximised(hwnd);
    if (keys != MK_LBUTTON || maximised || state.fullscreen || state.button_released)
        return;
    RECT window{};
    GetWindowRect(hwnd, &window);
    int x = static_cast<int>(LOWORD(position)) - state.drag_anchor.x + window.left;
    int y = static_cast<int>(HIWORD(position)) - state.drag_anchor.y + window.top;
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE);
}

void OnLeftButtonDown(HWND, WPARAM, LPARAM position)
{
    fullscreen_state.drag_anchor = POINT{static_cast<LONG>(LOWORD(position)), static_cast<LONG>(HIWORD(position))};
    fullscreen_state.button_released = false;
}

void OnLeftButtonUp(HWND, WPARAM, LPARAM)
{
    fullscreen_state.button_released = true;
}

void OnLeftButtonDoubleClick(HWND)
{
    if (fullscreen_state.fullscreen)
        LeaveFullscreen();
    else
        EnterFullscreen();
}

void OnRightButtonCursor()
{
    if (fullscreen_state.fullscreen)
        RevealCursor();
}

void OnCursorHideTick(HWND hwnd)
{
    KillTimer(hwnd, TIMER_CURSOR_HIDE);
    // A late tick must never lower the cursor count a second time, nor hide
    // the cursor of a windowed window.
    if (!fullscreen_state.cursor_shown || !fullscreen_state.fullscreen)
        return;
    fullscreen_state.cursor_shown = false;
    ShowCursor(FALSE);
}
