// What the user asks for: the popup menu's commands and the shortcuts. Each
// command that changes more than one part of the program makes every part
// react here, so that the parts below never call up.
#ifndef FERNWOODVIEW_COMMANDS_H
#define FERNWOODVIEW_COMMANDS_H

#include <windows.h>

void ShowCommandMenu(HWND hwnd, LPARAM click_position);
void OnCommand(HWND hwnd, UINT id);
void OnKeyUp(HWND hwnd, WPARAM virtual_key);

#endif
