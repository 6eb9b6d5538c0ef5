// The popup menu: the user interface and the store of every user choice,
// which every part of the program reads and writes.
#ifndef FERNWOODVIEW_COMMAND_MENU_H
#define FERNWOODVIEW_COMMAND_MENU_H

#include <windows.h>

#include "resources/resource_ids.h"

// fState values the program reads and writes.
enum MenuItemState : UINT {
    MENU_ENABLED = 0,
    MENU_GRAYED = 3,
    MENU_CHECKED = 8,
    MENU_CHECKED_GRAYED = 11,
    MENU_NO_ITEM = 0xFFFFFFFFu,  // the id names no item
};

extern HMENU CommandMenu;

void LoadCommandMenu(HINSTANCE instance);
UINT IsMenuChecked(UINT id);
void SetMenuState(UINT id, UINT state);
void SetMenuText(UINT id, const wchar_t* text);
void SetMenuText(UINT id, const char* ansi_text);  // code-page text such as folder paths
void InsertMenuItemBefore(UINT anchor_id, UINT new_id, const wchar_t* text);
void LockMenuItem(UINT id, UINT if_state, UINT then_state, UINT else_state);
// True when the item is checked, greyed or not (8 or 11).
bool IsMenuChoice(UINT id);

#endif
