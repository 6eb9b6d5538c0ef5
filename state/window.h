// The one main window as every part of the program sees it: its handle, its
// placement and the message boxes it owns.
#ifndef FERNWOODVIEW_WINDOW_H
#define FERNWOODVIEW_WINDOW_H

#include <windows.h>

extern HWND main_window;
// Shared placement record; maximised is showCmd == SW_SHOWMAXIMIZED.
extern WINDOWPLACEMENT window_placement;

// A message box owned by the main window, which survives the window being
// closed while it is open.
int ShowMessageBox(const wchar_t* text, const wchar_t* caption, UINT type);
// Tells the user of a failure, owned by the main window, captioned "エラー".
void ShowErrorMessage(const wchar_t* text);

#endif
