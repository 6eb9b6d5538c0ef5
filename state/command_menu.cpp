#include "state/command_menu.h"

HMENU CommandMenu = nullptr;

void LoadCommandMenu(HINSTANCE instance)
{
    HMENU resource = LoadMenuW(instance, L"FERNWOODVIEW_MENU");
    CommandMenu = GetSubMenu(resource, 0);
}

static MENUITEMINFOW ItemInfo(UINT mask)
{
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = mask;
    return info;
}

UINT IsMenuChecked(UINT id)
{
    MENUITEMINFOW info = ItemInfo(MIIM_STATE);
    if (!GetMenuItemInfoW(CommandMenu, id, FALSE, &info))
        return MENU_NO_ITEM;
    return info.fState;
}

bool IsMenuChoice(UINT id)
{
    UINT state = IsMenuChecked(id);
    return state == MENU_CHECKED || state == MENU_CHECKED_GRAYED;
}

void SetMenuState(UINT id, UINT state)
{
    MENUITEMINFOW info = ItemInfo(MIIM_STATE);
    info.fState = state;
    SetMenuItemInfoW(CommandMenu, id, FALSE, &info);
}

void SetMenuText(UINT id, const wchar_t* text)
{
    MENUITEMINFOW info = ItemInfo(MIIM_TYPE);
    info.fType = MFT_STRING;
    info.dwTypeData = const_cast<wchar_t*>(text);
    SetMenuItemInfoW(CommandMenu, id, FALSE, &info);
}

void SetMenuText(UINT id, const char* ansi_text)
{
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, ansi_text, -1, wide, MAX_PATH) <= 0)
        wide[0] = L'\0';
    SetMenuText(id, wide);
}

void InsertMenuItemBefore(UINT anchor_id, UINT new_id, const wchar_t* text)
{
    MENUITEMINFOW info = ItemInfo(MIIM_ID | MIIM_TYPE);
    info.fType = MFT_STRING;
    info.wID = new_id;
    info.dwTypeData = const_cast<wchar_t*>(text);
    InsertMenuItemW(CommandMenu, anchor_id, FALSE, &info);
}

void LockMenuItem(UINT id, UINT if_state, UINT then_state, UINT else_state)
{
    SetMenuState(id, IsMenuChecked(id) == if_state ? then_state : else_state);
}
