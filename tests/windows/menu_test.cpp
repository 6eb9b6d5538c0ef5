#include <windows.h>

#include <string>
#include <vector>

#include "state/command_menu.h"
#include "app/main_window.h"
#include "state/timer_ids.h"
#include "record/recording.h"
#include "viewer_harness.h"

namespace {

using MenuTest = ViewerTest;

// One line per item in resource order: "id caption", "-" for a separator,
// "[caption]" opening a submenu and "]" closing it.
void DescribeMenu(HMENU menu, std::vector<std::wstring>* lines)
{
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[128] = L"";
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
        info.dwTypeData = text;
        info.cch = 128;
        ASSERT_TRUE(GetMenuItemInfoW(menu, i, TRUE, &info));
        if (info.fType & MFT_SEPARATOR) {
            // An item with an empty caption loads as a separator but keeps its id.
            lines->push_back(info.wID ? L"- " + std::to_wstring(info.wID) : L"-");
        } else if (info.hSubMenu) {
            lines->push_back(L"[" + std::wstring(text));
            DescribeMenu(info.hSubMenu, lines);
            lines->push_back(L"]");
        } else {
            lines->push_back(std::to_wstring(info.wID) + L" " + text);
        }
    }
}

TEST(MenuResource, PopupHoldsEveryItemInResourceOrder)
{
    HMENU resource = LoadMenuW(GetModuleHandleW(nullptr), L"FERNWOODVIEW_MENU");
    ASSERT_NE(nullptr, resource);
    ASSERT_EQ(1, GetMenuItemCount(resource));
    wchar_t top[32];
    GetMenuStringW(resource, 0, top, 32, MF_BYPOSITION);
    EXPECT_STREQ(L"PopupMenu1", top);
    std::vector<std::wstring> lines;
    DescribeMenu(GetSubMenu(resource, 0), &lines);
    const std::vector<std::wstring> expected = {
        L"[キャプチャデバイス選択", L"- 1001", L"]",
        L"[オーディオデバイス選択", L"2001 オーディオデバイスを使わない", L"]",
        L"-", L"17002 48.0kHz", L"17001 44.1kHz",
        L"-", L"3001 お手軽高画質モード", L"3002 VGAで調整モード",
        L"-", L"4001 1280×720　59.94fps", L"4002 1920×1080　29.97fps",
        L"-", L"5001 16：9", L"5002 4：3",
        L"-", L"6001 ×0.5", L"6002 ×1", L"6003 フルスクリーン",
        L"-", L"7001 クリッピング",
        L"-", L"8001 常に最前面表示",
        L"-", L"9001 録画開始　　　　Ctrl+R", L"18001 プレビュー無し", L"20001 欠落フレーム検知で停止",
        L"[タイマー", L"21001 開始　設定無し", L"21002 停止　設定無し", L"]",
        L"[圧縮", L"10001 非圧縮", L"]",
        L"[保存先", L"11001 パス", L"]",
        L"-", L"12001 静止画取得　　　Ctrl+P",
        L"[保存先", L"13001 パス", L"]",
        L"-", L"14001 フレームレート",
        L"-", L"15001 終了",
    };
    EXPECT_EQ(expected, lines);
    DestroyMenu(resource);
}

TEST_F(MenuTest, StateOperationsFollowTheStateValues)
{
    StartViewer();
    SetMenuState(IDM_TOPMOST, MENU_CHECKED_GRAYED);
    EXPECT_EQ(11u, IsMenuChecked(IDM_TOPMOST));
    EXPECT_TRUE(IsMenuChoice(IDM_TOPMOST));

    // Greying for a recording: checked items become 11, the rest 3; back again afterwards.
    for (UINT id : {IDM_RES_720, IDM_RES_1080})
        LockMenuItem(id, MENU_CHECKED, MENU_CHECKED_GRAYED, MENU_GRAYED);
    EXPECT_EQ(11u, IsMenuChecked(IDM_RES_720));
    EXPECT_EQ(3u, IsMenuChecked(IDM_RES_1080));
    for (UINT id : {IDM_RES_720, IDM_RES_1080})
        LockMenuItem(id, MENU_CHECKED_GRAYED, MENU_CHECKED, MENU_ENABLED);
    EXPECT_EQ(8u, IsMenuChecked(IDM_RES_720));
    EXPECT_EQ(0u, IsMenuChecked(IDM_RES_1080));

    EXPECT_EQ(MENU_NO_ITEM, IsMenuChecked(4711));
    EXPECT_FALSE(IsMenuChoice(4711));
}

TEST_F(MenuTest, InsertedItemsKeepTheirOrderBeforeTheAnchor)
{
    StartViewer();
    InsertMenuItemBefore(IDM_TIMER_STOP, 30001, L"その一");
    InsertMenuItemBefore(IDM_TIMER_STOP, 30002, L"second");
    HMENU timer = nullptr;
    for (int i = 0; i < GetMenuItemCount(CommandMenu); ++i) {
        HMENU sub = GetSubMenu(CommandMenu, i);
        if (sub && GetMenuItemID(sub, 0) == IDM_TIMER_START)
            timer = sub;
    }
    ASSERT_NE(nullptr, timer);
    ASSERT_EQ(4, GetMenuItemCount(timer));
    EXPECT_EQ(30001u, GetMenuItemID(timer, 1));
    EXPECT_EQ(30002u, GetMenuItemID(timer, 2));
    EXPECT_EQ(static_cast<UINT>(IDM_TIMER_STOP), GetMenuItemID(timer, 3));
    EXPECT_EQ(L"その一", MenuText(CommandMenu, 30001));

    SetMenuText(IDM_FRAME_RATE, "ascii caption");
    EXPECT_EQ(L"ascii caption", MenuText(CommandMenu, IDM_FRAME_RATE));
    SetMenuText(IDM_FRAME_RATE, "\x83\x65\x83\x58\x83\x67");  // テスト in code page 932
    EXPECT_EQ(L"テスト", MenuText(CommandMenu, IDM_FRAME_RATE));
}

TEST_F(MenuTest, TogglesAndInertItems)
{
    StartViewer();
    SendMessageA(main_window, WM_COMMAND, IDM_NO_PREVIEW, 0);
    EXPECT_EQ(8u, IsMenuChecked(IDM_NO_PREVIEW));
    SendMessageA(main_window, WM_COMMAND, IDM_NO_PREVIEW, 0);
    EXPECT_EQ(0u, IsMenuChecked(IDM_NO_PREVIEW));
    SendMessageA(main_window, WM_COMMAND, IDM_AUTO_STOP, 0);
    EXPECT_EQ(8u, IsMenuChecked(IDM_AUTO_STOP));
    SendMessageA(main_window, WM_COMMAND, IDM_AUTO_STOP, 0);
    EXPECT_EQ(0u, IsMenuChecked(IDM_AUTO_STOP));

    KillTimer(main_window, TIMER_FPS);  // its tick would rewrite the caption
    std::wstring readout = MenuText(CommandMenu, IDM_FRAME_RATE);
    UINT readout_state = IsMenuChecked(IDM_FRAME_RATE);
    for (UINT id : {IDM_FRAME_RATE, IDM_RECORDED_FRAMES, IDM_DROPPED_FRAMES, 4711})
        SendMessageA(main_window, WM_COMMAND, id, 0);
    EXPECT_TRUE(IsWindow(main_window));
    EXPECT_EQ(readout, MenuText(CommandMenu, IDM_FRAME_RATE));
    EXPECT_EQ(readout_state, IsMenuChecked(IDM_FRAME_RATE));
}

// Records the commands that reach the main window.
std::vector<UINT> commands_seen;
WNDPROC viewer_procedure = nullptr;

LRESULT CALLBACK RecordingProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COMMAND) {
        commands_seen.push_back(LOWORD(wparam));
        // A card in the prefix would really record or grab: only the sending is under test.
        if (LOWORD(wparam) == IDM_RECORD || LOWORD(wparam) == IDM_STILL)
            return 0;
    }
    return CallWindowProcA(viewer_procedure, hwnd, message, wparam, lparam);
}

void SetControlKey(bool down)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

std::vector<UINT> CommandsOfKeyUp(WPARAM key)
{
    commands_seen.clear();
    SendMessageA(main_window, WM_KEYUP, key, 0xC0000001);
    return commands_seen;
}

TEST_F(MenuTest, ShortcutsActOnKeyUpWithControlAndFollowTheRecordingFlag)
{
    StartViewer();
    viewer_procedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(main_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProcedure)));
    using Ids = std::vector<UINT>;

    SetControlKey(true);
    EXPECT_EQ(Ids{IDM_RECORD}, CommandsOfKeyUp('R'));
    EXPECT_EQ(Ids{IDM_STILL}, CommandsOfKeyUp('P'));
    EXPECT_EQ(Ids{}, CommandsOfKeyUp('S'));
    EXPECT_EQ(Ids{}, CommandsOfKeyUp('X'));

    commands_seen.clear();
    SendMessageA(main_window, WM_KEYDOWN, 'R', 1);
    EXPECT_EQ(Ids{}, commands_seen) << "key presses do nothing, only releases";

    recording_state.recording = 1;
    EXPECT_EQ(Ids{}, CommandsOfKeyUp('R'));
    EXPECT_EQ(Ids{}, CommandsOfKeyUp('P'));
    EXPECT_EQ(Ids{IDM_RECORD}, CommandsOfKeyUp('S'));

    SetControlKey(false);
    EXPECT_EQ(Ids{}, CommandsOfKeyUp('S'));
    recording_state.recording = 0;
    EXPECT_EQ(Ids{}, CommandsOfKeyUp('R'));
    EXPECT_EQ(Ids{}, CommandsOfKeyUp('P'));
}

// Runs inside the popup's modal loop: notes whether the popup is up, then closes it.
bool popup_seen = false;
RECT popup_rect{};
void CALLBACK ClosePopup(HWND, UINT, UINT_PTR, DWORD)
{
    HWND popup = FindWindowA("#32768", nullptr);
    if (popup && IsWindowVisible(popup)) {
        popup_seen = true;
        GetWindowRect(popup, &popup_rect);
        EndMenu();
    }
}

TEST_F(MenuTest, RightButtonReleaseOpensThePopupAtTheClick)
{
    StartViewer();
    SetWindowPos(main_window, nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    UINT_PTR timer = SetTimer(nullptr, 0, 100, ClosePopup);
    SendMessageA(main_window, WM_RBUTTONUP, 0, MAKELPARAM(200, 150));
    KillTimer(nullptr, timer);
    ASSERT_TRUE(popup_seen);
    POINT click{200, 150};
    ClientToScreen(main_window, &click);
    EXPECT_EQ(click.x, popup_rect.left);
    EXPECT_EQ(click.y, popup_rect.top);
}

}  // namespace
