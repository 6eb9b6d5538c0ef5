#include "app/saved_settings.h"

#include <cwchar>
#include <initializer_list>

#include "capture/devices.h"
#include "record/keep_awake.h"
#include "record/record_timer.h"
#include "settings/save_folders.h"
#include "settings/settings_file.h"
#include "settings/settings_rules.h"
#include "state/command_menu.h"
#include "state/messages.h"
#include "state/timer_ids.h"
#include "state/window.h"
#include "view/fullscreen.h"
#include "view/video_layout.h"

// Under Program Files a manifested 64-bit program gets no virtualised copy:
// every write fails, and the user would find the old settings next time
// without a word of why.
static void ReportUnsavedSettings()
{
    wchar_t folder[kPathBufferSize] = L"";
    if (settings_path[0]) {
        MultiByteToWideChar(CP_ACP, 0, settings_path, -1, folder, kPathBufferSize);
        if (wchar_t* separator = std::wcsrchr(folder, L'\\'))
            *separator = L'\0';
    } else {
        DWORD length = GetCurrentDirectoryW(kPathBufferSize, folder);
        if (length == 0 || length >= kPathBufferSize)
            folder[0] = L'\0';
    }
    wchar_t text[kPathBufferSize + 100];
    std::swprintf(text, sizeof text / sizeof text[0], MessageText(Message::kSettingsNotSaved), folder);
    // The main window is being destroyed: the box has no owner.
    MessageBoxW(nullptr, text, L"エラー", MB_OK | MB_ICONWARNING);
}

// A stored id is checked only when it names an item of its own group, so a
// value from another group or from nowhere cannot check a stray item.
static void CheckSavedChoice(const char* key, int default_id, std::initializer_list<UINT> group)
{
    int id = ReadSettingInt("menu", key, default_id);
    for (UINT member : group)
        if (static_cast<UINT>(id) == member)
            CheckMenuItem(CommandMenu, member, MF_BYCOMMAND | MF_CHECKED);
}

static void CheckSavedFlag(const char* key, UINT id)
{
    int flag = ReadSettingInt("menu", key, 0);
    CheckMenuItem(CommandMenu, id, MF_BYCOMMAND | (flag == MF_CHECKED ? MF_CHECKED : MF_UNCHECKED));
}

static TimerSpec ReadTimerSpec(const char* section)
{
    TimerSpec when;
    if (ReadSettingInt(section, "month", 0) == 0)
        return when;
    when.month = static_cast<uint16_t>(ReadSettingInt(section, "month", 1));
    if (when.month == 0)
        return when;
    when.day = static_cast<uint16_t>(ReadSettingInt(section, "day", 1));
    when.hour = static_cast<uint16_t>(ReadSettingInt(section, "hour", 0));
    when.minute = static_cast<uint16_t>(ReadSettingInt(section, "minute", 0));
    return when;
}

static void LoadFolder(const char* key, char* buffer, UINT item)
{
    DWORD length = GetCurrentDirectoryA(kPathBufferSize, buffer);
    if (length == 0 || length >= kPathBufferSize)
        buffer[0] = '\0';
    ReadSettingText("menu", key, buffer, kSettingTextSize);
    SetMenuText(item, buffer);
}

void ApplySettingsToMenu(HWND hwnd)
{
    CheckSavedChoice("sampling_rate", 17003, {IDM_AUDIO_44K, IDM_AUDIO_48K});
    CheckSavedChoice("resolution", IDM_RES_720, {IDM_RES_720, IDM_RES_1080});
    CheckSavedChoice("renderer", IDM_MODE_VMR9, {IDM_MODE_VMR9, IDM_MODE_VMR7});
    // Any value but 16:9 sized the window as 4:3, so the menu says 4:3 too.
    bool wide = ReadSettingInt("menu", "aspect_ratio", IDM_ASPECT_16_9) == IDM_ASPECT_16_9;
    CheckMenuItem(CommandMenu, wide ? IDM_ASPECT_16_9 : IDM_ASPECT_4_3, MF_BYCOMMAND | MF_CHECKED);
    CheckSavedChoice("size", IDM_SIZE_ONE, {IDM_SIZE_HALF, IDM_SIZE_ONE, IDM_SIZE_FULLSCREEN});
    CheckSavedFlag("no_preview", IDM_NO_PREVIEW);
    CheckSavedFlag("auto_stop", IDM_AUTO_STOP);

    int pending = ReadSettingInt("SAVE_ID", "SAVE_ID", 0);
    window_size_state.pending_size_command = (pending == IDM_SIZE_HALF || pending == IDM_SIZE_ONE) ? pending : 0;
    SetMenuState(IDM_CLIPPING, MENU_GRAYED);

    record_timer.start = ReadTimerSpec("timer_start");
    if (record_timer.start.month != 0)
        ShowTimerCaption(true);
    record_timer.stop = ReadTimerSpec("timer_stop");
    if (record_timer.stop.month != 0)
        ShowTimerCaption(false);
    record_timer.start_pending = record_timer.start.month != 0 ? 1 : 0;
    if (record_timer.start_pending)
        SetTimer(hwnd, TIMER_SCHEDULE_START, kScheduleInterval, nullptr);
    UpdateKeepAwake();

    LoadFolder("path_capture", save_folders.path_capture, IDM_CAPTURE_PATH);
    LoadFolder("path_picture", save_folders.path_picture, IDM_PICTURE_PATH);

    if (IsMenuChecked(IDM_MODE_VMR9) == MENU_CHECKED) {
        SetTimer(hwnd, TIMER_FPS, kFpsInterval, nullptr);
    } else {
        SetMenuState(IDM_FRAME_RATE, MENU_GRAYED);
        SetMenuText(IDM_FRAME_RATE, L"平均 - fps");
    }
}

static UINT FirstChecked(std::initializer_list<UINT> group, UINT otherwise)
{
    for (UINT id : group)
        if (IsMenuChecked(id) == MENU_CHECKED)
            return id;
    return otherwise;
}

static void WriteTimerSpec(const char* section, const TimerSpec& when)
{
    WriteSettingInt(section, "month", when.month);
    WriteSettingInt(section, "day", when.day);
    WriteSettingInt(section, "hour", when.hour);
    WriteSettingInt(section, "minute", when.minute);
}

// The position stays beside the name and path, for an older copy of the program.
static void WriteDeviceChoices()
{
    WriteSettingInt("menu", "capture_device", video_device_index + IDM_VIDEO_DEVICE_FIRST);
    bool video = video_device_index >= 0 && video_device_index < video_device_count;
    WriteSettingText("menu", "capture_device_name", video ? device_list.video_names[video_device_index] : "");
    WriteSettingText("menu", "capture_device_path", video ? device_list.video_paths[video_device_index] : "");
    WriteSettingInt("menu", "audio_device", audio_device_index + IDM_AUDIO_DEVICE_FIRST);
    bool audio = audio_device_index >= 0 && audio_device_index < audio_device_count;
    WriteSettingText("menu", "audio_device_name", audio ? device_list.audio_names[audio_device_index] : "");
    WriteSettingText("menu", "audio_device_path", audio ? device_list.audio_paths[audio_device_index] : "");
}

void SaveSettings()
{
    settings_write_failed = false;
    if (device_choices_read)
        WriteDeviceChoices();

    int rate = IsMenuChoice(IDM_AUDIO_44K) ? IDM_AUDIO_44K : IsMenuChoice(IDM_AUDIO_48K) ? IDM_AUDIO_48K : 17003;
    WriteSettingInt("menu", "sampling_rate", rate);
    WriteSettingInt("menu", "resolution", IsMenuChoice(IDM_RES_720) ? IDM_RES_720 : IDM_RES_1080);
    WriteSettingInt("menu", "renderer", IsMenuChoice(IDM_MODE_VMR9) ? IDM_MODE_VMR9 : IDM_MODE_VMR7);
    UINT aspect = IsMenuChecked(IDM_ASPECT_16_9) == MENU_CHECKED ? IDM_ASPECT_16_9 : IDM_ASPECT_4_3;
    WriteSettingInt("menu", "aspect_ratio", aspect);
    // With no preset checked (maximised) the aspect id is written: it checks no size item.
    WriteSettingInt("menu", "size", FirstChecked({IDM_SIZE_HALF, IDM_SIZE_ONE, IDM_SIZE_FULLSCREEN}, aspect));

    const RECT& client = window_size_state.client_rect;
    WriteSettingInt("client_rect", "top", client.top);
    WriteSettingInt("client_rect", "left", client.left);
    WriteSettingInt("client_rect", "right", client.right);
    WriteSettingInt("client_rect", "bottom", client.bottom);

    GetWindowPlacement(main_window, &window_placement);
    bool maximised = window_placement.showCmd == SW_SHOWMAXIMIZED || fullscreen_state.was_maximised;
    WriteSettingInt("maximize", "maximize", maximised ? 1 : 0);
    WriteSettingInt("SAVE_ID", "SAVE_ID", window_size_state.pending_size_command);

    WriteSettingInt("menu", "clipping", IsMenuChecked(IDM_CLIPPING) == MENU_CHECKED ? MF_CHECKED : MF_UNCHECKED);
    WriteSettingInt("menu", "topmost", IsMenuChecked(IDM_TOPMOST) == MENU_CHECKED ? MF_CHECKED : MF_UNCHECKED);
    WriteSettingInt("menu", "no_preview", IsMenuChoice(IDM_NO_PREVIEW) ? MF_CHECKED : MF_UNCHECKED);
    WriteSettingInt("menu", "auto_stop", IsMenuChoice(IDM_AUTO_STOP) ? MF_CHECKED : MF_UNCHECKED);

    WriteTimerSpec("timer_start", record_timer.start);
    WriteTimerSpec("timer_stop", record_timer.stop);

    if (compressor_choice_read)
        WriteSettingInt("menu", "compressor", compressor_index + IDM_COMPRESSOR_FIRST);
    WriteSettingText("menu", "path_capture", save_folders.path_capture);
    WriteSettingText("menu", "path_picture", save_folders.path_picture);

    WriteSettingInt("window_position", "top", fullscreen_state.window_position.top);
    WriteSettingInt("window_position", "left", fullscreen_state.window_position.left);
    if (settings_write_failed)
        ReportUnsavedSettings();
}
