#include "app/command_menu.h"

#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "record/record_timer.h"
#include "record/recording.h"
#include "settings/save_folders.h"
#include "still/still_picture.h"
#include "view/fullscreen.h"
#include "view/video_layout.h"

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

void ShowCommandMenu(HWND hwnd, LPARAM click_position)
{
    POINT point{static_cast<LONG>(LOWORD(click_position)), static_cast<LONG>(HIWORD(click_position))};
    ClientToScreen(hwnd, &point);
    TrackPopupMenu(CommandMenu, 0, point.x, point.y, 0, hwnd, nullptr);
}

static void ToggleCheck(UINT id)
{
    CheckMenuItem(CommandMenu, id, MF_BYCOMMAND | (IsMenuChecked(id) != MENU_ENABLED ? MF_UNCHECKED : MF_CHECKED));
}

static bool InRange(UINT id, UINT first, int count)
{
    return id >= first && id < first + static_cast<UINT>(count);
}

void OnCommand(HWND hwnd, UINT id)
{
    if (InRange(id, IDM_VIDEO_DEVICE_FIRST, video_device_count))
        return SelectVideoDevice(id);
    if (InRange(id, IDM_AUDIO_DEVICE_FIRST, audio_device_count))
        return SelectAudioDevice(id);
    if (InRange(id, IDM_COMPRESSOR_NONE, compressor_count + 1))
        return SelectCompressor(id);
    switch (id) {
    case IDM_AUDIO_NONE: return DisableAudio();
    case IDM_MODE_VMR9:
    case IDM_MODE_VMR7: return SwitchRenderMode(id);
    case IDM_RES_720:
    case IDM_RES_1080: return OnResolutionCommand(id);
    case IDM_ASPECT_16_9:
    case IDM_ASPECT_4_3: return OnAspectCommand(id);
    case IDM_SIZE_HALF:
    case IDM_SIZE_ONE: return OnSizePresetCommand(id);
    case IDM_SIZE_FULLSCREEN: return OnFullscreenCommand();
    case IDM_CLIPPING: return OnClippingCommand();
    case IDM_TOPMOST: return OnTopmostCommand();
    case IDM_RECORD: return ToggleRecording();
    case IDM_CAPTURE_PATH:
    case IDM_PICTURE_PATH: return ChooseSaveFolder(hwnd, id);
    case IDM_STILL: return TakeStillPicture();
    case IDM_EXIT: SendMessageA(hwnd, WM_CLOSE, 0, 0); return;
    case IDM_AUDIO_44K:
    case IDM_AUDIO_48K: return SwitchAudioRateCommand(id);
    case IDM_NO_PREVIEW:
    case IDM_AUTO_STOP: return ToggleCheck(id);
    case IDM_TIMER_START:
    case IDM_TIMER_STOP: return OpenTimerDialog(hwnd);
    default: return;
    }
}

void OnKeyUp(HWND hwnd, WPARAM virtual_key)
{
    if (GetKeyState(VK_CONTROL) >= 0)
        return;
    UINT command = 0;
    if (!recording_state.recording) {
        if (virtual_key == 'R')
            command = IDM_RECORD;
        else if (virtual_key == 'P')
            command = IDM_STILL;
    } else if (virtual_key == 'S') {
        command = IDM_RECORD;
    }
    if (command)
        SendMessageA(hwnd, WM_COMMAND, command, 0);
}
