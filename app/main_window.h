// The one window of the program, its procedure and the start-up sequence.
#ifndef FERNWOODVIEW_MAIN_WINDOW_H
#define FERNWOODVIEW_MAIN_WINDOW_H

#include <windows.h>

#include "state/window.h"

LRESULT CALLBACK MainWindow(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// Start-up steps, in the order the entry point runs them.
bool ClaimSingleInstance();  // false: another instance runs (it has been activated)
bool RegisterMainWindowClass(HINSTANCE instance);
HWND CreateMainWindow(HINSTANCE instance);
// The graph, and the layout told of the frame it shows.
void StartCaptureGraph();
void ReplayDisplayState();
int RunMessageLoop();

// The whole program: start-up, message loop, exit code.
int RunViewer(HINSTANCE instance);

#endif
