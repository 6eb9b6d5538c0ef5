#include "view/fullscreen.h"

#include "app/main_window.h"

FullscreenState fullscreen_state;

void EnterFullscreen() {}
void LeaveFullscreen() {}
void RevealCursor() {}

void OnFullscreenCommand() {}
void OnTopmostCommand() {}

void OnMove(HWND hwnd)
{
    GetWindowPlacement(hwnd, &window_placement);
    if (window_placement.showCmd != SW_SHOWMAXIMIZED && !fullscreen_state.fullscreen)
        GetWindowRect(hwnd, &fullscreen_state.window_position);
}

void OnMouseMove(HWND, WPARAM, LPARAM) {}
void OnLeftButtonDown(HWND, WPARAM, LPARAM) {}
void OnLeftButtonUp(HWND, WPARAM, LPARAM) {}
void OnLeftButtonDoubleClick(HWND) {}
void OnRightButtonCursor() {}
void OnCursorHideTick(HWND) {}
