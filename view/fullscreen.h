// Fullscreen, always-on-top, dragging the window by its picture, cursor hiding.
#ifndef FERNWOODVIEW_FULLSCREEN_H
#define FERNWOODVIEW_FULLSCREEN_H

#include <windows.h>

struct FullscreenState {
    bool fullscreen = false;
    bool was_maximised = false;
    bool cursor_shown = true;
    RECT saved_rect{};
    RECT window_position{};  // outer rectangle at the last move while restored
};

extern FullscreenState fullscreen_state;

void EnterFullscreen();
void LeaveFullscreen();
void RevealCursor();

void OnFullscreenCommand();
void OnTopmostCommand();
void OnMove(HWND hwnd);
void OnMouseMove(HWND hwnd, WPARAM keys, LPARAM position);
void OnLeftButtonDown(HWND hwnd, WPARAM keys, LPARAM position);
void OnLeftButtonUp(HWND hwnd, WPARAM keys, LPARAM position);
void OnLeftButtonDoubleClick(HWND hwnd);
void OnRightButtonCursor();
void OnCursorHideTick(HWND hwnd);

#endif
