#include "app/commands.h"

#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "record/record_timer.h"
#include "record/recording.h"
#include "settings/save_folders.h"
#include "state/command_menu.h"
#include "still/still_picture.h"
#include "view/fullscreen.h"
#include "view/video_layout.h"

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

static void OnRenderModeCommand(UINT id)
{
    if (!SwitchRenderMode(id))
        return;
    RefreshSourceRect();
    RelayoutAfterGraphChange();
}

void OnCommand(HWND hwnd, UINT id)
{
    if (InRange(id, IDM_VIDEO_DEVICE_FIRST, video_device_count)) {
        if (SelectVideoDevice(id))
            AdoptVideoBranch();
        return;
    }
    if (InRange(id, IDM_AUDIO_DEVICE_FIRST, audio_device_count))
        return SelectAudioDevice(id);
    if (InRange(id, IDM_COMPRESSOR_NONE, compressor_count + 1))
        return SelectCompressor(id);
    switch (id) {
    case IDM_AUDIO_NONE: return DisableAudio();
    case IDM_MODE_VMR9:
    case IDM_MODE_VMR7: return OnRenderModeCommand(id);
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
