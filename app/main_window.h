// The one window of the program, its procedure and the start-up sequence.
#ifndef FERNWOODVIEW_MAIN_WINDOW_H
#define FERNWOODVIEW_MAIN_WINDOW_H

#include <windows.h>

extern HWND main_window;
// Shared placement record; maximised is showCmd == SW_SHOWMAXIMIZED.
extern WINDOWPLACEMENT window_placement;

// A message box owned by the main window, which survives the window being
// closed while it is open.
int ShowMessageBox(const wchar_t* text, const wchar_t* caption, UINT type);
// Tells the user of a failure, owned by the main window, captioned "エラー".
void ShowErrorMessage(const wchar_t* text);

LRESULT CALLBACK MainWindow(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// Start-up steps, in the order the entry point runs them.
bool ClaimSingleInstance();  // false: another instance runs (it has been activated)
bool RegisterMainWindowClass(HINSTANCE instance);
HWND CreateMainWindow(HINSTANCE instance);
void ReplayDisplayState();
int RunMessageLoop();

// The whole program: start-up, message loop, exit code.
int RunViewer(HINSTANCE instance);

#endif
