#include <windows.h>

#include "state/command_menu.h"
#include "state/timer_ids.h"
#include "window_probe.h"

namespace {

using FullscreenTest = WindowTest;

constexpr LONG kWindowedStyle = WS_VISIBLE | WS_OVERLAPPEDWINDOW;
constexpr LONG kFullscreenStyle = static_cast<LONG>(WS_POPUP | WS_VISIBLE);

LONG Style()
{
    return GetWindowLongA(main_window, GWL_STYLE) & ~(WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_MAXIMIZE);
}

// The harness's screen is 1920 × 1080; a 16:9 picture fills it.
void ExpectCoversTheScreen(const RECT& picture = RECT{0, 0, 1920, 1080})
{
    SIZE screen = ScreenSize();
    ASSERT_EQ(1920, screen.cx);
    ASSERT_EQ(1080, screen.cy);
    EXPECT_TRUE(fullscreen_state.fullscreen);
    EXPECT_EQ(kFullscreenStyle, Style());
    EXPECT_TRUE(Topmost());
    ExpectRectEq(RECT{0, 0, screen.cx, screen.cy}, WindowRect());
    EXPECT_EQ(screen.cx, MainClientSize().cx);
    EXPECT_EQ(screen.cy, MainClientSize().cy);
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_FULLSCREEN));
    ExpectRectEq(picture, video_rects.dest_rect);
}

void ExpectWindowed()
{
    EXPECT_FALSE(fullscreen_state.fullscreen);
    EXPECT_EQ(kWindowedStyle, Style());
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_FULLSCREEN));
    EXPECT_EQ(3u, IsMenuChecked(IDM_CLIPPING));
}

void MouseMove(WPARAM keys, int x, int y)
{
    SendMessageA(main_window, WM_MOUSEMOVE, keys, ClientPoint(x, y));
}

TEST_F(FullscreenTest, DoubleClickCoversTheScreenAndComesBackToTheSamePlace)
{
    StartViewer();
    SetWindowPos(main_window, nullptr, 120, 70, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RECT before = WindowRect();
    DoubleClick();
    ExpectCoversTheScreen();
    EXPECT_FALSE(fullscreen_state.was_maximised);
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_ONE));
    EXPECT_EQ(IDM_SIZE_ONE, window_size_state.pending_size_command);
    EXPECT_EQ(0u, IsMenuChecked(IDM_CLIPPING));
    EXPECT_TRUE(TimerRunning(TIMER_CURSOR_HIDE, 2000));
    // Moves in fullscreen are not the position to save.
    ExpectRectEq(before, fullscreen_state.window_position);

    DoubleClick();
    ExpectWindowed();
    EXPECT_FALSE(Topmost());
    ExpectRectEq(before, WindowRect());
    EXPECT_EQ(1280, ClientSize().cx);
    EXPECT_EQ(720, ClientSize().cy);
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_ONE));
    EXPECT_EQ(0, window_size_state.pending_size_command);
    ExpectRectEq(RECT{0, 0, 1280, 720}, window_size_state.client_rect);
}

TEST_F(FullscreenTest, LeavingRefitsAFreeSizeToTheAspectAtItsHeight)
{
    StartViewer();
    RECT proposed = WindowRect();
    SendMessageA(main_window, WM_SIZING, WMSZ_RIGHT, reinterpret_cast<LPARAM>(&proposed));  // forgets ×1
    SetWindowPos(main_window, nullptr, 0, 0, 1000, 650, SWP_NOMOVE | SWP_NOZORDER);
    SIZE free_size = ClientSize();
    DoubleClick();
    EXPECT_EQ(0, window_size_state.pending_size_command);
    DoubleClick();
    ExpectWindowed();
    EXPECT_EQ(free_size.cy, ClientSize().cy);
    EXPECT_EQ(static_cast<int>(free_size.cy * (16.0 / 9.0)), ClientSize().cx);
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_ONE));
}

TEST_F(FullscreenTest, AWindowAsLargeAsTheScreenStillChangesItsFrame)
{
    StartViewer();
    SIZE screen = ScreenSize();
    RECT proposed = WindowRect();
    SendMessageA(main_window, WM_SIZING, WMSZ_RIGHT, reinterpret_cast<LPARAM>(&proposed));  // forgets ×1
    SetWindowPos(main_window, nullptr, 0, 0, screen.cx, screen.cy, SWP_NOZORDER);
    SIZE windowed = ClientSize();
    ASSERT_LT(windowed.cy, screen.cy);
    DoubleClick();
    ExpectCoversTheScreen();
    DoubleClick();
    ExpectWindowed();
    EXPECT_EQ(windowed.cy, ClientSize().cy);
}

TEST_F(FullscreenTest, FromMaximisedBackToMaximised)
{
    StartViewer();
    SetWindowPos(main_window, nullptr, 60, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RECT restored = WindowRect();
    ShowWindow(main_window, SW_MAXIMIZE);
    DoubleClick();
    ExpectCoversTheScreen();
    EXPECT_TRUE(fullscreen_state.was_maximised);
    EXPECT_EQ(restored.left, fullscreen_state.saved_rect.x);
    EXPECT_EQ(restored.top, fullscreen_state.saved_rect.y);
    EXPECT_EQ(restored.right - restored.left, fullscreen_state.saved_rect.width);

    DoubleClick();
    EXPECT_FALSE(fullscreen_state.fullscreen);
    EXPECT_FALSE(fullscreen_state.was_maximised);
    EXPECT_TRUE(Maximised());
    EXPECT_FALSE(Topmost());
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_ONE));
    EXPECT_EQ(IDM_SIZE_ONE, window_size_state.pending_size_command);
    ExpectMaximisedClient();
    ExpectRectEq(kMaximisedPicture16x9, video_rects.dest_rect);

    ShowWindow(main_window, SW_RESTORE);
    ExpectRectEq(restored, WindowRect());
    EXPECT_EQ(720, ClientSize().cy);
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_ONE));
}

TEST_F(FullscreenTest, APresetLeavesFullscreenAtItsSize)
{
    StartViewer();
    Command(IDM_SIZE_FULLSCREEN);
    ExpectCoversTheScreen();
    Command(IDM_SIZE_FULLSCREEN);  // does not leave
    EXPECT_TRUE(fullscreen_state.fullscreen);
    Command(IDM_SIZE_HALF);
    ExpectWindowed();
    EXPECT_EQ(640, ClientSize().cx);
    EXPECT_EQ(360, ClientSize().cy);
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_HALF));
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_ONE));

    // Entered from a maximised window, ×1 still gives a restored window.
    ShowWindow(main_window, SW_MAXIMIZE);
    Command(IDM_SIZE_FULLSCREEN);
    EXPECT_TRUE(fullscreen_state.was_maximised);
    Command(IDM_SIZE_ONE);
    ExpectWindowed();
    EXPECT_FALSE(Maximised());
    EXPECT_FALSE(fullscreen_state.was_maximised);
    EXPECT_EQ(1280, ClientSize().cx);
    EXPECT_EQ(720, ClientSize().cy);
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_ONE));
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_HALF));
    EXPECT_EQ(0, window_size_state.pending_size_command);
    EXPECT_FALSE(window_size_state.resize_pending);
}

TEST_F(FullscreenTest, ClippingWorksOnlyInFullscreen)
{
    WriteSetting("menu", "resolution", "4002");
    StartViewer();
    video_rects.native_width = 1920;
    video_rects.native_height = 1080;
    Command(IDM_CLIPPING);  // greyed: stays off
    EXPECT_EQ(3u, IsMenuChecked(IDM_CLIPPING));
    EXPECT_EQ(0, video_rects.clip_x);
    ExpectRectEq(RECT{0, 0, 1920, 1080}, video_rects.source_rect);

    DoubleClick();
    Command(IDM_CLIPPING);
    EXPECT_EQ(8u, IsMenuChecked(IDM_CLIPPING));
    EXPECT_EQ(108, video_rects.clip_x);
    EXPECT_EQ(38, video_rects.clip_y);
    ExpectRectEq(RECT{108, 38, 1812, 1042}, video_rects.source_rect);
    ExpectRectEq(RECT{44, 0, 1875, 1080}, video_rects.dest_rect);

    // The insets of the format clipping was switched on in stay.
    Command(IDM_RES_720);
    video_rects.native_width = 1280;  // as the format switch leaves them
    video_rects.native_height = 720;
    EXPECT_EQ(108, video_rects.clip_x);
    Command(IDM_ASPECT_4_3);
    ExpectRectEq(RECT{273, 0, 1646, 1080}, video_rects.dest_rect);  // 1373 wide: 1080 × 852 / 670
    RelayoutAfterGraphChange();
    EXPECT_EQ(8u, IsMenuChecked(IDM_CLIPPING));
    EXPECT_EQ(72, video_rects.clip_x);  // re-applied for the new format

    DoubleClick();
    ExpectWindowed();
    EXPECT_EQ(0, video_rects.clip_x);
    EXPECT_EQ(0, video_rects.clip_y);
    ExpectRectEq(RECT{0, 0, 1280, 720}, video_rects.source_rect);
}

TEST_F(FullscreenTest, CursorHidesOnTheTimerAndReturnsOnMovesRightClicksAndLeaving)
{
    StartViewer();
    int shown = CursorCount();
    MouseMove(0, 10, 10);
    EXPECT_FALSE(TimerRunning(TIMER_CURSOR_HIDE, 2000));  // windowed: no countdown
    SendMessageA(main_window, WM_TIMER, TIMER_CURSOR_HIDE, 0);
    EXPECT_EQ(shown, CursorCount());

    DoubleClick();
    ASSERT_TRUE(TimerRunning(TIMER_CURSOR_HIDE, 2000));
    SendMessageA(main_window, WM_TIMER, TIMER_CURSOR_HIDE, 0);
    EXPECT_FALSE(fullscreen_state.cursor_shown);
    EXPECT_EQ(shown - 1, CursorCount());
    EXPECT_FALSE(TimerRunning(TIMER_CURSOR_HIDE, 2000));
    SendMessageA(main_window, WM_TIMER, TIMER_CURSOR_HIDE, 0);  // a late tick lowers nothing more
    EXPECT_EQ(shown - 1, CursorCount());

    MouseMove(0, 20, 20);
    EXPECT_TRUE(fullscreen_state.cursor_shown);
    EXPECT_EQ(shown, CursorCount());
    EXPECT_TRUE(TimerRunning(TIMER_CURSOR_HIDE, 2000));
    MouseMove(0, 30, 20);  // shown: only restarts the countdown
    EXPECT_EQ(shown, CursorCount());
    EXPECT_TRUE(TimerRunning(TIMER_CURSOR_HIDE, 2000));

    SendMessageA(main_window, WM_TIMER, TIMER_CURSOR_HIDE, 0);
    OnRightButtonCursor();  // the cursor step of a right-button release
    EXPECT_EQ(shown, CursorCount());
    EXPECT_FALSE(TimerRunning(TIMER_CURSOR_HIDE, 2000));
    MouseMove(0, 40, 20);
    OnRightButtonCursor();
    EXPECT_FALSE(TimerRunning(TIMER_CURSOR_HIDE, 2000));
    EXPECT_EQ(shown, CursorCount());

    MouseMove(0, 50, 20);
    SendMessageA(main_window, WM_TIMER, TIMER_CURSOR_HIDE, 0);
    ASSERT_EQ(shown - 1, CursorCount());
    DoubleClick();
    EXPECT_FALSE(fullscreen_state.fullscreen);
    EXPECT_TRUE(fullscreen_state.cursor_shown);
    EXPECT_EQ(shown, CursorCount());
    EXPECT_FALSE(TimerRunning(TIMER_CURSOR_HIDE, 2000));

    DoubleClick();
    DoubleClick();  // left while shown, with the countdown running
    EXPECT_EQ(shown, CursorCount());
    EXPECT_FALSE(TimerRunning(TIMER_CURSOR_HIDE, 2000));
}

TEST_F(FullscreenTest, OnlyTheLeftButtonAloneDragsARestoredWindow)
{
    StartViewer();
    SetWindowPos(main_window, nullptr, 100, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SendMessageA(main_window, WM_LBUTTONDOWN, MK_LBUTTON, ClientPoint(300, 200));
    MouseMove(MK_LBUTTON, 350, 230);
    EXPECT_EQ(150, WindowRect().left);
    EXPECT_EQ(130, WindowRect().top);
    EXPECT_EQ(150, fullscreen_state.window_position.left);
    EXPECT_EQ(130, fullscreen_state.window_position.top);

    for (WPARAM keys : {WPARAM{MK_LBUTTON | MK_SHIFT}, WPARAM{MK_LBUTTON | MK_CONTROL}, WPARAM{MK_LBUTTON | MK_RBUTTON},
                        WPARAM{MK_LBUTTON | MK_MBUTTON}, WPARAM{0}}) {
        MouseMove(keys, 400, 260);
        EXPECT_EQ(150, WindowRect().left) << keys;
    }
    SendMessageA(main_window, WM_LBUTTONUP, 0, ClientPoint(300, 200));
    MouseMove(MK_LBUTTON, 400, 260);  // the release was missed by the button state
    EXPECT_EQ(150, WindowRect().left);

    ShowWindow(main_window, SW_MAXIMIZE);
    RECT maximised = WindowRect();
    SendMessageA(main_window, WM_LBUTTONDOWN, MK_LBUTTON, ClientPoint(300, 200));
    MouseMove(MK_LBUTTON, 400, 260);
    ExpectRectEq(maximised, WindowRect());
    ShowWindow(main_window, SW_RESTORE);

    DoubleClick();
    SendMessageA(main_window, WM_LBUTTONDOWN, MK_LBUTTON, ClientPoint(300, 200));
    MouseMove(MK_LBUTTON, 400, 260);
    EXPECT_EQ(0, WindowRect().left);
    EXPECT_EQ(0, WindowRect().top);
}

TEST_F(FullscreenTest, TopmostDecidesTheBandAfterFullscreen)
{
    StartViewer();
    Command(IDM_TOPMOST);
    EXPECT_EQ(8u, IsMenuChecked(IDM_TOPMOST));
    EXPECT_TRUE(fullscreen_state.topmost);
    EXPECT_TRUE(Topmost());
    DoubleClick();
    DoubleClick();
    EXPECT_TRUE(Topmost());
    // Resizing to a preset and dragging keep the window in the band.
    Command(IDM_SIZE_HALF);
    SendMessageA(main_window, WM_LBUTTONDOWN, MK_LBUTTON, ClientPoint(100, 100));
    MouseMove(MK_LBUTTON, 120, 110);
    SendMessageA(main_window, WM_LBUTTONUP, 0, ClientPoint(120, 110));
    EXPECT_TRUE(Topmost());

    DoubleClick();
    Command(IDM_TOPMOST);  // off while fullscreen leaves the topmost band at once
    EXPECT_EQ(0u, IsMenuChecked(IDM_TOPMOST));
    EXPECT_FALSE(Topmost());
    EXPECT_TRUE(fullscreen_state.fullscreen);
    DoubleClick();
    EXPECT_FALSE(Topmost());
}

TEST_F(FullscreenTest, ClosingInFullscreenSavesWhatReopensIt)
{
    StartViewer();
    SetWindowPos(main_window, nullptr, 80, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(main_window, SW_MAXIMIZE);
    DoubleClick();
    Command(IDM_TOPMOST);
    Command(IDM_CLIPPING);
    CloseViewer();
    auto value = [&](const char* section, const char* key) {
        return static_cast<int>(GetPrivateProfileIntA(section, key, -1, SettingsPath().c_str()));
    };
    EXPECT_EQ(6003, value("menu", "size"));
    EXPECT_EQ(1, value("maximize", "maximize"));
    EXPECT_EQ(6002, value("SAVE_ID", "SAVE_ID"));
    EXPECT_EQ(8, value("menu", "topmost"));
    EXPECT_EQ(8, value("menu", "clipping"));
    EXPECT_EQ(80, value("window_position", "left"));
    EXPECT_EQ(60, value("window_position", "top"));
    EXPECT_EQ(720, value("client_rect", "bottom"));
}

TEST_F(FullscreenTest, SavedFullscreenReopensMaximisedThenFullscreenTopmostAndClipped)
{
    WriteSetting("menu", "size", "6003");
    WriteSetting("maximize", "maximize", "1");
    WriteSetting("SAVE_ID", "SAVE_ID", "6002");
    WriteSetting("menu", "topmost", "8");
    WriteSetting("menu", "clipping", "8");
    WriteSetting("window_position", "left", "80");
    WriteSetting("window_position", "top", "60");
    StartViewer();
    ExpectCoversTheScreen(RECT{44, 0, 1875, 1080});  // 1831 wide: 1080 × 1136 / 670
    EXPECT_TRUE(fullscreen_state.was_maximised);
    EXPECT_EQ(80, fullscreen_state.saved_rect.x);
    EXPECT_EQ(8u, IsMenuChecked(IDM_TOPMOST));
    EXPECT_EQ(8u, IsMenuChecked(IDM_CLIPPING));
    EXPECT_EQ(72, video_rects.clip_x);
    EXPECT_EQ(IDM_SIZE_ONE, window_size_state.pending_size_command);

    DoubleClick();
    EXPECT_TRUE(Maximised());
    EXPECT_TRUE(Topmost());
    EXPECT_EQ(3u, IsMenuChecked(IDM_CLIPPING));
    ShowWindow(main_window, SW_RESTORE);
    EXPECT_EQ(80, WindowRect().left);
    EXPECT_EQ(60, WindowRect().top);
    EXPECT_EQ(1280, ClientSize().cx);
    EXPECT_EQ(720, ClientSize().cy);
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_ONE));
}

TEST_F(FullscreenTest, SavedFullscreenWithoutMaximiseReopensFullscreenAndLeavesToTheWindow)
{
    WriteSetting("menu", "size", "6003");
    WriteSetting("menu", "clipping", "0");
    StartViewer();
    ExpectCoversTheScreen();
    EXPECT_FALSE(fullscreen_state.was_maximised);
    EXPECT_FALSE(fullscreen_state.topmost);
    EXPECT_EQ(0u, IsMenuChecked(IDM_CLIPPING));
    DoubleClick();
    ExpectWindowed();
    EXPECT_FALSE(Maximised());
    EXPECT_EQ(720, ClientSize().cy);
}

}  // namespace
