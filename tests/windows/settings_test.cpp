#include <windows.h>

#include <shlobj.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "state/command_menu.h"
#include "app/main_window.h"
#include "state/timer_ids.h"
#include "record/record_timer.h"
#include "settings/save_folders.h"
#include "view/video_layout.h"
#include "viewer_harness.h"

namespace {

using SettingsTest = ViewerTest;

// KillTimer succeeds only for a timer that was running.
bool TimerRuns(UINT id)
{
    return KillTimer(main_window, id) != 0;
}

TEST_F(SettingsTest, FirstStartWithoutSettingsFile)
{
    CreateWindowOnly();
    SIZE client = ClientSize();
    EXPECT_EQ(1280, client.cx);
    EXPECT_EQ(720, client.cy);

    // The audio device settles the rate later, when it is opened.
    EXPECT_EQ(0u, IsMenuChecked(IDM_AUDIO_44K));
    EXPECT_EQ(0u, IsMenuChecked(IDM_AUDIO_48K));
    EXPECT_EQ(8u, IsMenuChecked(IDM_RES_720));
    EXPECT_EQ(0u, IsMenuChecked(IDM_RES_1080));
    EXPECT_EQ(8u, IsMenuChecked(IDM_MODE_VMR9));
    EXPECT_EQ(0u, IsMenuChecked(IDM_MODE_VMR7));
    EXPECT_EQ(8u, IsMenuChecked(IDM_ASPECT_16_9));
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_ONE));
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_HALF));
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_FULLSCREEN));
    EXPECT_EQ(0u, IsMenuChecked(IDM_NO_PREVIEW));
    EXPECT_EQ(0u, IsMenuChecked(IDM_AUTO_STOP));
    EXPECT_EQ(3u, IsMenuChecked(IDM_CLIPPING));
    EXPECT_EQ(0u, IsMenuChecked(IDM_FRAME_RATE));
    EXPECT_EQ(L"開始　設定無し", MenuText(CommandMenu, IDM_TIMER_START));
    EXPECT_EQ(L"停止　設定無し", MenuText(CommandMenu, IDM_TIMER_STOP));

    EXPECT_EQ(Folder(), save_folders.path_capture);
    EXPECT_EQ(Folder(), save_folders.path_picture);
    wchar_t wide_folder[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, Folder().c_str(), -1, wide_folder, MAX_PATH);
    EXPECT_EQ(wide_folder, MenuText(CommandMenu, IDM_CAPTURE_PATH));
    EXPECT_EQ(wide_folder, MenuText(CommandMenu, IDM_PICTURE_PATH));

    EXPECT_TRUE(TimerRuns(TIMER_FPS));
    EXPECT_FALSE(TimerRuns(TIMER_SCHEDULE_START));
    EXPECT_FALSE(TimerRuns(TIMER_SCHEDULE_STOP));
}

TEST_F(SettingsTest, FourThreeAspectSizesTheClientFromItsHeight)
{
    WriteSetting("menu", "aspect_ratio", "5002");
    WriteSetting("client_rect", "bottom", "540");
    WriteSetting("client_rect", "right", "9999");  // never read
    StartViewer();
    SIZE client = ClientSize();
    EXPECT_EQ(720, client.cx);
    EXPECT_EQ(540, client.cy);
    EXPECT_EQ(8u, IsMenuChecked(IDM_ASPECT_4_3));
    EXPECT_EQ(0u, IsMenuChecked(IDM_ASPECT_16_9));
}

TEST_F(SettingsTest, SavedWindowPositionIsUsed)
{
    WriteSetting("window_position", "left", "40");
    WriteSetting("window_position", "top", "30");
    StartViewer();
    RECT rect;
    GetWindowRect(main_window, &rect);
    EXPECT_EQ(40, rect.left);
    EXPECT_EQ(30, rect.top);
}

TEST_F(SettingsTest, SaveWritesEveryKeyInOrderOnANewFile)
{
    StartViewer();
    CloseViewer();
    EXPECT_EQ(0, quit_code_);

    struct Expected {
        const char* section;
        const char* key;
        const char* value;  // nullptr: any value
    };
    // Audio values depend on the prefix's devices; the capture tests check them.
    const Expected menu[] = {
        {"menu", "capture_device", "1002"}, {"menu", "capture_device_name", nullptr},
        {"menu", "capture_device_path", nullptr}, {"menu", "audio_device", nullptr},
        {"menu", "audio_device_name", nullptr}, {"menu", "audio_device_path", nullptr},
        {"menu", "sampling_rate", nullptr},
        {"menu", "resolution", "4001"},     {"menu", "renderer", "3001"},     {"menu", "aspect_ratio", "5001"},
        {"menu", "size", "6002"},           {"menu", "clipping", "0"},        {"menu", "topmost", "0"},
        {"menu", "no_preview", "0"},        {"menu", "auto_stop", "0"},       {"menu", "compressor", "10001"},
        {"menu", "path_capture", nullptr},  {"menu", "path_picture", nullptr},
    };
    auto sections = ReadSettingsFile();
    std::vector<std::string> names;
    for (auto& section : sections)
        names.push_back(section.first);
    EXPECT_EQ((std::vector<std::string>{"menu", "client_rect", "maximize", "SAVE_ID", "timer_start", "timer_stop",
                                        "window_position"}),
              names);
    ASSERT_EQ(7u, sections.size());

    auto& menu_keys = sections[0].second;
    ASSERT_EQ(std::size(menu), menu_keys.size());
    for (size_t i = 0; i < menu_keys.size(); ++i) {
        EXPECT_EQ(menu[i].key, menu_keys[i].first);
        if (menu[i].value) {
            EXPECT_EQ(menu[i].value, menu_keys[i].second) << menu[i].key;
        }
    }
    EXPECT_EQ(Folder(), menu_keys[16].second);
    EXPECT_EQ(Folder(), menu_keys[17].second);

    using Keys = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ((Keys{{"top", "0"}, {"left", "0"}, {"right", "1280"}, {"bottom", "720"}}), sections[1].second);
    EXPECT_EQ((Keys{{"maximize", "0"}}), sections[2].second);
    EXPECT_EQ((Keys{{"SAVE_ID", "0"}}), sections[3].second);
    Keys no_time{{"month", "0"}, {"day", "0"}, {"hour", "0"}, {"minute", "0"}};
    EXPECT_EQ(no_time, sections[4].second);
    EXPECT_EQ(no_time, sections[5].second);
    ASSERT_EQ(2u, sections[6].second.size());
    EXPECT_EQ("top", sections[6].second[0].first);
    EXPECT_EQ("left", sections[6].second[1].first);
}

TEST_F(SettingsTest, ChangedChoicesSurviveInTheFile)
{
    WriteSetting("menu", "sampling_rate", "17002");
    WriteSetting("menu", "resolution", "4002");
    WriteSetting("menu", "renderer", "3002");
    WriteSetting("menu", "aspect_ratio", "5002");
    WriteSetting("menu", "size", "6001");
    WriteSetting("timer_stop", "month", "3");
    WriteSetting("timer_stop", "day", "4");
    WriteSetting("timer_stop", "hour", "5");
    WriteSetting("timer_stop", "minute", "50");
    StartViewer();
    SendMessageA(main_window, WM_COMMAND, IDM_NO_PREVIEW, 0);
    SendMessageA(main_window, WM_COMMAND, IDM_AUTO_STOP, 0);
    // A recording greys its choices checked (11): they are still choices.
    SetMenuState(IDM_AUDIO_48K, MENU_CHECKED_GRAYED);
    SetMenuState(IDM_NO_PREVIEW, MENU_CHECKED_GRAYED);
    CloseViewer();

    auto value = [&](const char* section, const char* key) {
        char text[100];
        GetPrivateProfileStringA(section, key, "<none>", text, sizeof text, SettingsPath().c_str());
        return std::string(text);
    };
    EXPECT_EQ("17002", value("menu", "sampling_rate"));
    EXPECT_EQ("4002", value("menu", "resolution"));
    EXPECT_EQ("3002", value("menu", "renderer"));
    EXPECT_EQ("5002", value("menu", "aspect_ratio"));
    EXPECT_EQ("6001", value("menu", "size"));
    EXPECT_EQ("0", value("SAVE_ID", "SAVE_ID"));
    EXPECT_EQ("8", value("menu", "no_preview"));
    EXPECT_EQ("8", value("menu", "auto_stop"));
    EXPECT_EQ("3", value("timer_stop", "month"));
    EXPECT_EQ("50", value("timer_stop", "minute"));
    EXPECT_EQ("0", value("timer_start", "month"));
    EXPECT_EQ("720", value("client_rect", "bottom"));
    EXPECT_EQ("960", value("client_rect", "right"));
}

TEST_F(SettingsTest, StoredFoldersAreCutToNinetyNineBytesAtACharacterBoundary)
{
    std::string long_folder = "C:\\" + std::string(120, 'm');
    WriteSetting("menu", "path_capture", long_folder.c_str());
    // 98 single bytes, then a double-byte character across the 99-byte limit.
    std::string japanese = std::string(98, 'p') + "\x82\xA0" + "tail";
    WriteSetting("menu", "path_picture", japanese.c_str());
    StartViewer();
    EXPECT_EQ(long_folder.substr(0, 99), save_folders.path_capture);
    EXPECT_EQ(std::string(98, 'p'), save_folders.path_picture);
}

// The folder browser of this thread, found by its tree of folders.
HWND FolderBrowser()
{
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM out) {
            if (IsWindowVisible(window) && FindWindowExW(window, nullptr, L"SysTreeView32", nullptr)) {
                *reinterpret_cast<HWND*>(out) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The browser is answered with OK (by the message box catcher) once the
// folder is selected in it, as a user picks it.
TEST_F(SettingsTest, TheFolderChooserTakesOnlyAFolderWithAnExactCodePageForm)
{
    CreateWindowOnly();
    struct Case {
        const wchar_t* name;
        bool taken;
    };
    // U+00E9 has no form in code page 932; the nearest, 'e', would name another folder.
    const Case cases[] = {{L"録画", true}, {L"caf\u00e9", false}};
    wchar_t wide_folder[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, Folder().c_str(), -1, wide_folder, MAX_PATH);
    for (const Case& c : cases) {
        std::wstring chosen = std::wstring(wide_folder) + L"\\" + c.name;
        ASSERT_TRUE(CreateDirectoryW(chosen.c_str(), nullptr));
        std::wstring before = MenuText(CommandMenu, IDM_CAPTURE_PATH);
        std::string kept = save_folders.path_capture;
        bool selected = false;
        SetMessageBoxHook([&](const std::wstring&) {
            HWND browser = FolderBrowser();
            if (browser && !selected)
                SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(chosen.c_str()));
            selected = selected || browser != nullptr;
        });
        SendMessageA(main_window, WM_COMMAND, IDM_CAPTURE_PATH, 0);
        SetMessageBoxHook(nullptr);
        ASSERT_TRUE(selected) << "the browser was shown";
        if (c.taken) {
            EXPECT_EQ(chosen, MenuText(CommandMenu, IDM_CAPTURE_PATH));
            wchar_t stored[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, save_folders.path_capture, -1, stored, MAX_PATH);
            EXPECT_EQ(chosen, stored);
        } else {
            EXPECT_EQ(before, MenuText(CommandMenu, IDM_CAPTURE_PATH));
            EXPECT_EQ(kept, save_folders.path_capture);
        }
    }
}

// Everything a user chooses that the next start must give back.
struct ChosenState {
    std::vector<unsigned> menu;
    SIZE client{};
    POINT position{};
    std::string path_capture, path_picture;
    std::wstring start_caption, stop_caption;
    std::vector<uint16_t> timer;

    bool operator==(const ChosenState& o) const
    {
        return menu == o.menu && client.cx == o.client.cx && client.cy == o.client.cy && position.x == o.position.x &&
               position.y == o.position.y && path_capture == o.path_capture && path_picture == o.path_picture &&
               start_caption == o.start_caption && stop_caption == o.stop_caption && timer == o.timer;
    }
};

void PrintTo(const ChosenState& state, std::ostream* out)
{
    *out << "menu";
    for (unsigned item : state.menu)
        *out << " " << item;
    *out << "; client " << state.client.cx << "x" << state.client.cy << " at " << state.position.x << ","
         << state.position.y << "; folders " << state.path_capture << " | " << state.path_picture << "; timer";
    for (uint16_t field : state.timer)
        *out << " " << field;
}

ChosenState ReadChosenState()
{
    ChosenState state;
    for (UINT id : {IDM_RES_720, IDM_RES_1080, IDM_MODE_VMR9, IDM_MODE_VMR7, IDM_ASPECT_16_9, IDM_ASPECT_4_3,
                    IDM_SIZE_HALF, IDM_SIZE_ONE, IDM_SIZE_FULLSCREEN, IDM_NO_PREVIEW, IDM_AUTO_STOP, IDM_CLIPPING,
                    IDM_TOPMOST})
        state.menu.push_back(IsMenuChecked(id));
    RECT client{}, window{};
    GetClientRect(main_window, &client);
    GetWindowRect(main_window, &window);
    state.client = SIZE{client.right, client.bottom};
    state.position = POINT{window.left, window.top};
    state.path_capture = save_folders.path_capture;
    state.path_picture = save_folders.path_picture;
    state.start_caption = MenuText(CommandMenu, IDM_TIMER_START);
    state.stop_caption = MenuText(CommandMenu, IDM_TIMER_STOP);
    const TimerSpec& a = record_timer.start;
    const TimerSpec& b = record_timer.stop;
    state.timer = {a.month, a.day, a.hour, a.minute, b.month, b.day, b.hour, b.minute,
                   static_cast<uint16_t>(record_timer.start_pending)};
    return state;
}

struct Choice {
    const char* name;
    std::function<void(const std::string& folder)> make;
};

void PrintTo(const Choice& choice, std::ostream* out)
{
    *out << choice.name;
}

void Commands(std::initializer_list<UINT> ids)
{
    for (UINT id : ids)
        SendMessageA(main_window, WM_COMMAND, id, 0);
}

// As the timer dialog leaves a schedule: 4 May, 5:10 to 5:20.
void Schedule()
{
    record_timer.start = TimerSpec{5, 4, 5, 10};
    record_timer.stop = TimerSpec{5, 4, 5, 20};
    record_timer.start_pending = 1;
    ShowTimerCaption(true);
    ShowTimerCaption(false);
}

class RoundTripTest : public SettingsTest, public ::testing::WithParamInterface<Choice> {};

// Chosen, closed, started again in the same folder: as it was.
TEST_P(RoundTripTest, WhatWasChosenComesBackAtTheNextStart)
{
    StartViewer();
    ASSERT_TRUE(SettleStartupNotices());
    ChosenState before = ReadChosenState();
    GetParam().make(Folder());
    Pump();
    ChosenState chosen = ReadChosenState();
    ASSERT_FALSE(chosen == before) << "the choice changes something";
    CloseViewer();
    StartViewer();
    ASSERT_TRUE(SettleStartupNotices());
    EXPECT_EQ(chosen, ReadChosenState());
}

INSTANTIATE_TEST_SUITE_P(
    Choices, RoundTripTest,
    ::testing::Values(Choice{"FourThreeAtHalfSize", [](const std::string&) { Commands({IDM_ASPECT_4_3, IDM_SIZE_HALF}); }},
                      Choice{"SecondRendererAt1080Lines",
                             [](const std::string&) { Commands({IDM_SIZE_HALF, IDM_MODE_VMR7, IDM_RES_1080}); }},
                      Choice{"TopmostWithoutPreviewStoppingAtADrop",
                             [](const std::string&) {
                                 Commands({IDM_TOPMOST, IDM_NO_PREVIEW, IDM_AUTO_STOP});
                             }},
                      Choice{"AMovedWindow",
                             [](const std::string&) {
                                 SetWindowPos(main_window, nullptr, 70, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
                             }},
                      Choice{"OtherFolders",
                             [](const std::string& folder) {
                                 std::string movies = folder + "\\movies", pictures = folder + "\\pictures";
                                 CreateDirectoryA(movies.c_str(), nullptr);
                                 CreateDirectoryA(pictures.c_str(), nullptr);
                                 lstrcpynA(save_folders.path_capture, movies.c_str(), MAX_PATH);
                                 lstrcpynA(save_folders.path_picture, pictures.c_str(), MAX_PATH);
                             }},
                      Choice{"ASchedule", [](const std::string&) { Schedule(); }}),
    [](const ::testing::TestParamInfo<Choice>& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, OnlyAStopTimeShowsItsCaptionAndStartsNoTimer)
{
    WriteSetting("timer_stop", "month", "12");
    WriteSetting("timer_stop", "day", "31");
    WriteSetting("timer_stop", "hour", "23");
    WriteSetting("timer_stop", "minute", "50");
    StartViewer();
    EXPECT_EQ(L"開始　設定無し", MenuText(CommandMenu, IDM_TIMER_START));
    EXPECT_EQ(L"停止　12月 31日 23時 50分", MenuText(CommandMenu, IDM_TIMER_STOP));
    EXPECT_FALSE(TimerRuns(TIMER_SCHEDULE_START));
    EXPECT_FALSE(TimerRuns(TIMER_SCHEDULE_STOP));
}

TEST_F(SettingsTest, AStartTimeArmsTheScheduleWithDefaultsForMissingFields)
{
    WriteSetting("timer_start", "month", "7");
    StartViewer();
    EXPECT_EQ(L"開始　7月 1日 0時 0分", MenuText(CommandMenu, IDM_TIMER_START));
    EXPECT_TRUE(TimerRuns(TIMER_SCHEDULE_START));
}

TEST_F(SettingsTest, SecondRendererGreysTheFrameRateReadout)
{
    WriteSetting("menu", "renderer", "3002");
    StartViewer();
    EXPECT_EQ(8u, IsMenuChecked(IDM_MODE_VMR7));
    EXPECT_EQ(3u, IsMenuChecked(IDM_FRAME_RATE));
    EXPECT_EQ(L"平均 - fps", MenuText(CommandMenu, IDM_FRAME_RATE));
    EXPECT_FALSE(TimerRuns(TIMER_FPS));
}

TEST_F(SettingsTest, GarbageNeverCrashesAndChecksNoStrayItem)
{
    WriteSetting("menu", "sampling_rate", "15001");  // the exit item
    WriteSetting("menu", "resolution", "8001");      // the topmost item
    WriteSetting("menu", "renderer", "abc");
    WriteSetting("menu", "aspect_ratio", "-5001");
    WriteSetting("menu", "size", "99999999999999");
    WriteSetting("menu", "no_preview", "1024");      // MF_BYPOSITION if passed on as a flag
    WriteSetting("menu", "auto_stop", "-8");
    WriteSetting("SAVE_ID", "SAVE_ID", "15001");
    WriteSetting("client_rect", "bottom", "-720");
    WriteSetting("window_position", "left", "-99999999");
    WriteSetting("window_position", "top", "99999999");
    WriteSetting("timer_start", "month", "zz");
    WriteSetting("timer_stop", "month", "65536");
    StartViewer();

    EXPECT_TRUE(IsWindow(main_window));
    for (UINT id : {IDM_RES_720, IDM_RES_1080, IDM_MODE_VMR9, IDM_MODE_VMR7,
                    IDM_TOPMOST, IDM_EXIT, IDM_NO_PREVIEW, IDM_AUTO_STOP, IDM_SIZE_HALF, IDM_SIZE_ONE,
                    IDM_SIZE_FULLSCREEN, IDM_ASPECT_16_9})
        EXPECT_EQ(0u, IsMenuChecked(id) & MFS_CHECKED) << id;
    EXPECT_EQ(8u, IsMenuChecked(IDM_ASPECT_4_3));  // any value but 5001 is 4:3
    EXPECT_EQ(0, window_size_state.pending_size_command);
    SIZE client = ClientSize();
    EXPECT_EQ(720, client.cy);
    EXPECT_EQ(960, client.cx);

    RECT window, desktop;
    GetWindowRect(main_window, &window);
    GetWindowRect(GetDesktopWindow(), &desktop);
    RECT visible;
    EXPECT_TRUE(IntersectRect(&visible, &window, &desktop));

    EXPECT_EQ(L"開始　設定無し", MenuText(CommandMenu, IDM_TIMER_START));
    EXPECT_EQ(L"停止　設定無し", MenuText(CommandMenu, IDM_TIMER_STOP));
    EXPECT_FALSE(TimerRuns(TIMER_SCHEDULE_START));
}

}  // namespace

namespace {

TEST_F(SettingsTest, ASaveThatCannotBeWrittenIsReportedOnceAndTheWindowStillCloses)
{
    CreateWindowOnly();
    CloseViewer();
    EXPECT_TRUE(CaughtMessageBoxes().empty()) << "a good save says nothing";

    // A folder where the file should be: every write fails, as under Program Files.
    ASSERT_TRUE(DeleteFileA(SettingsPath().c_str()));
    ASSERT_TRUE(CreateDirectoryA(SettingsPath().c_str(), nullptr));
    ClearCaughtMessageBoxes();
    quit_code_ = -1;
    CreateWindowOnly();
    CloseViewer();
    EXPECT_EQ(0, quit_code_);
    ASSERT_EQ(1u, CaughtMessageBoxes().size());
    const std::wstring& text = CaughtMessageBoxes()[0];
    EXPECT_EQ(0u, text.find(L"設定を保存できませんでした"));
    wchar_t wide_folder[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, Folder().c_str(), -1, wide_folder, MAX_PATH);
    EXPECT_NE(std::wstring::npos, text.find(wide_folder)) << "names the folder";
    RemoveDirectoryA(SettingsPath().c_str());
}

}  // namespace
