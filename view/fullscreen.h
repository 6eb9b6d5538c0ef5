// Fullscreen, always-on-top, dragging the window by its picture, cursor hiding.
#ifndef FERNWOODVIEW_FULLSCREEN_H
#define FERNWOODVIEW_FULLSCREEN_H

#include <windows.h>

#include "settings/settings_rules.h"

struct SavedWindowRect {
    int x = 0, y = 0, width = 0, height = 0;
};

struct FullscreenState {
    bool fullscreen = false;
    bool was_maximised = false;   // maximise again when fullscreen is left
    SavedWindowRect saved_rect;   // outer rectangle just before fullscreen
    bool topmost = false;         // mirrors the always-on-top item
    bool cursor_shown = true;     // false only while this program holds the cursor hidden
    RECT window_position{};       // outer rectangle at the last move while restored
    POINT drag_anchor{};          // client point where the left button went down
    bool button_released = true;
};

extern FullscreenState fullscreen_state;

// The monitors' rectangles, the primary first; returns how many were written.
int ListMonitors(IntRect* monitors, int capacity);

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
