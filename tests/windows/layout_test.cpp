#include <windows.h>

#include "state/command_menu.h"
#include "settings/settings_file.h"
#include "window_probe.h"

namespace {

using LayoutTest = WindowTest;

// A colour read back from what the window shows, at a client point.
COLORREF ClientPixel(int x, int y)
{
    HDC dc = GetDC(main_window);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(main_window, dc);
    return colour;
}

void PaintClientWhite()
{
    UpdateWindow(main_window);  // nothing pending may paint over it
    HDC dc = GetDC(main_window);
    RECT client;
    GetClientRect(main_window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ReleaseDC(main_window, dc);
}

void Repaint()
{
    RedrawWindow(main_window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kPicture = RGB(128, 128, 128);

TEST_F(LayoutTest, MaximisingRemembersThePresetAndPaintsBarsThatRestoringTakesAway)
{
    WriteSetting("menu", "renderer", "3002");
    StartViewer();
    FakeWindowless renderer;
    RendererScope scope(nullptr, &renderer);
    video_rects.source_rect = RECT{0, 0, 1280, 720};
    ASSERT_EQ(8u, IsMenuChecked(IDM_SIZE_ONE));

    ShowWindow(main_window, SW_MAXIMIZE);
    ASSERT_TRUE(Maximised());
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_ONE));
    EXPECT_EQ(IDM_SIZE_ONE, window_size_state.pending_size_command);
    EXPECT_TRUE(window_size_state.resize_pending);
    ExpectMaximisedClient();
    RECT picture = kMaximisedPicture16x9;
    ExpectRectEq(picture, video_rects.dest_rect);
    ExpectRectEq(picture, renderer.dest);
    ExpectRectEq(RECT{0, 0, 1280, 720}, renderer.source);

    SIZE client = ClientSize();
    ASSERT_NE(client.cx * 9, client.cy * 16) << "a maximised client area of exactly 16:9 has no bars";
    // The middle of the first bar: left of a pillarboxed picture or above a letterboxed one.
    POINT bar = picture.left > 0 ? POINT{picture.left / 2, client.cy / 2} : POINT{client.cx / 2, picture.top / 2};
    PaintClientWhite();
    ASSERT_EQ(kWhite, ClientPixel(bar.x, bar.y));
    int repaints = renderer.repaints;
    Repaint();
    EXPECT_EQ(kBlack, ClientPixel(bar.x, bar.y));
    EXPECT_EQ(kBlack, ClientPixel(client.cx - 1, client.cy - 1));
    EXPECT_EQ(kPicture, ClientPixel(client.cx / 2, client.cy / 2));
    EXPECT_EQ(repaints + 1, renderer.repaints);

    ShowWindow(main_window, SW_RESTORE);
    EXPECT_FALSE(Maximised());
    client = ClientSize();
    EXPECT_EQ(1280, client.cx);
    EXPECT_EQ(720, client.cy);
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_ONE));
    EXPECT_EQ(0, window_size_state.pending_size_command);
    EXPECT_FALSE(window_size_state.resize_pending);
    ExpectRectEq(RECT{0, 0, 1280, 720}, window_size_state.client_rect);
    ExpectRectEq(RECT{0, 0, 1280, 720}, video_rects.dest_rect);
    ExpectRectEq(RECT{0, 0, 1280, 720}, renderer.dest);

    // Windowed, the picture covers the client area and nothing is painted black.
    PaintClientWhite();
    Repaint();
    EXPECT_EQ(kWhite, ClientPixel(2, 2));
    EXPECT_EQ(kPicture, ClientPixel(640, 360));
}

TEST_F(LayoutTest, ARecordingWithoutPreviewPaintsTheWindowBlack)
{
    WriteSetting("menu", "renderer", "3002");
    StartViewer();
    FakeWindowless renderer;
    RendererScope scope(nullptr, &renderer);
    SetVideoToClient();
    SetPreviewCut(true);
    PaintClientWhite();
    int repaints = renderer.repaints;
    Repaint();
    SetPreviewCut(false);
    EXPECT_EQ(kBlack, ClientPixel(2, 2));
    EXPECT_EQ(kBlack, ClientPixel(1279, 719));
    EXPECT_EQ(kBlack, ClientPixel(640, 360)) << "the renderer's last picture is not drawn over the black";
    EXPECT_EQ(repaints, renderer.repaints);
}

TEST_F(LayoutTest, WithoutARendererTheWindowIsBlackRatherThanLeftOver)
{
    StartViewer();
    RendererScope scope(nullptr, nullptr);
    PaintClientWhite();
    Repaint();
    EXPECT_EQ(kBlack, ClientPixel(640, 360));
}

TEST_F(LayoutTest, AspectCommandsRefitTheRestoredWindowAtItsHeight)
{
    StartViewer();
    RECT before = WindowRect();
    Command(IDM_ASPECT_4_3);
    SIZE client = ClientSize();
    EXPECT_EQ(960, client.cx);
    EXPECT_EQ(720, client.cy);
    EXPECT_EQ(kAspect4x3, video_rects.aspect);
    EXPECT_EQ(8u, IsMenuChecked(IDM_ASPECT_4_3));
    EXPECT_EQ(0u, IsMenuChecked(IDM_ASPECT_16_9));
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_ONE));
    ExpectRectEq(RECT{0, 0, 960, 720}, video_rects.dest_rect);
    EXPECT_EQ(before.left, WindowRect().left);
    EXPECT_EQ(before.top, WindowRect().top);

    // The chosen aspect again does nothing, even at a size that does not fit it.
    SetWindowPos(main_window, nullptr, 0, 0, 700, 500, SWP_NOMOVE | SWP_NOZORDER);
    SIZE odd = ClientSize();
    Command(IDM_ASPECT_4_3);
    EXPECT_EQ(odd.cx, ClientSize().cx);
    EXPECT_EQ(odd.cy, ClientSize().cy);

    Command(IDM_ASPECT_16_9);
    client = ClientSize();
    EXPECT_EQ(odd.cy, client.cy);
    EXPECT_EQ(static_cast<int>(odd.cy * (16.0 / 9.0)), client.cx);
    EXPECT_EQ(kAspect16x9, video_rects.aspect);
}

// Windows suggests a rectangle scaled to the new DPI; ×1 must stay 1280×720
// pixels, so only its position is taken. Sent at the window's own DPI, the
// client size cannot change.
TEST_F(LayoutTest, ANewDpiMovesTheWindowAndKeepsTheClientSize)
{
    StartViewer();
    SIZE before = ClientSize();
    ASSERT_EQ(1280, before.cx);
    RECT window = WindowRect();
    RECT suggested{window.left + 40, window.top + 30, window.left + 40 + (window.right - window.left) * 3 / 2,
                   window.top + 30 + (window.bottom - window.top) * 3 / 2};
    HDC screen = GetDC(nullptr);
    WORD dpi = static_cast<WORD>(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    SendMessageA(main_window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(1280, ClientSize().cx);
    EXPECT_EQ(720, ClientSize().cy);
    EXPECT_EQ(suggested.left, WindowRect().left);
    EXPECT_EQ(suggested.top, WindowRect().top);
}

TEST_F(LayoutTest, AspectCommandInAMaximisedWindowOnlyRefitsThePicture)
{
    StartViewer();
    ShowWindow(main_window, SW_MAXIMIZE);
    SIZE maximised = ClientSize();
    Command(IDM_ASPECT_4_3);
    EXPECT_TRUE(Maximised());
    EXPECT_EQ(maximised.cx, ClientSize().cx);
    ExpectMaximisedClient();
    ExpectRectEq(kMaximisedPicture4x3, video_rects.dest_rect);

    ShowWindow(main_window, SW_RESTORE);
    EXPECT_EQ(960, ClientSize().cx);
    EXPECT_EQ(720, ClientSize().cy);
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_ONE));
}

TEST_F(LayoutTest, FormatSwitchResizesOnlyAtAPreset)
{
    StartViewer();
    Command(IDM_SIZE_HALF);
    EXPECT_EQ(640, ClientSize().cx);
    EXPECT_EQ(360, ClientSize().cy);
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_HALF));
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_ONE));

    // What the format switch leaves behind for the layout.
    video_rects.native_width = 1920;
    video_rects.native_height = 1080;
    video_rects.source_rect = RECT{0, 0, 1920, 1080};
    Command(IDM_RES_1080);
    EXPECT_EQ(8u, IsMenuChecked(IDM_RES_1080));
    EXPECT_EQ(0u, IsMenuChecked(IDM_RES_720));
    EXPECT_EQ(960, ClientSize().cx);
    EXPECT_EQ(540, ClientSize().cy);
    Command(IDM_RES_1080);  // already chosen: nothing
    EXPECT_EQ(540, ClientSize().cy);

    // A border drag forgets the preset; then the window keeps its size.
    RECT proposed = WindowRect();
    SendMessageA(main_window, WM_SIZING, WMSZ_RIGHT, reinterpret_cast<LPARAM>(&proposed));
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_HALF));
    video_rects.native_width = 1280;
    video_rects.native_height = 720;
    video_rects.source_rect = RECT{0, 0, 1280, 720};
    video_rects.dest_rect = RECT{};
    Command(IDM_RES_720);
    EXPECT_EQ(8u, IsMenuChecked(IDM_RES_720));
    EXPECT_EQ(960, ClientSize().cx);
    EXPECT_EQ(540, ClientSize().cy);
    ExpectRectEq(RECT{0, 0, 960, 540}, video_rects.dest_rect);
}

TEST_F(LayoutTest, BorderDragKeepsTheAspectFromTheClientSizeBeforeTheStep)
{
    StartViewer();
    RECT frame{0, 0, 0, 0};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    int frame_width = frame.right - frame.left;
    int frame_height = frame.bottom - frame.top;

    RECT proposed{100, 50, 1000, 400};
    SendMessageA(main_window, WM_SIZING, WMSZ_LEFT, reinterpret_cast<LPARAM>(&proposed));
    ExpectRectEq(RECT{100, 50, 1000, 50 + 720 + frame_height}, proposed);
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_ONE));
    EXPECT_EQ(0, window_size_state.pending_size_command);

    proposed = RECT{100, 50, 1000, 400};
    SendMessageA(main_window, WM_SIZING, WMSZ_TOPLEFT, reinterpret_cast<LPARAM>(&proposed));
    ExpectRectEq(RECT{100, 400 - 720 - frame_height, 1000, 400}, proposed);

    // Twice as wide as high: corners follow the height.
    SetWindowPos(main_window, nullptr, 0, 0, 1000 + frame_width, 400 + frame_height, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_EQ(1000, ClientSize().cx);
    proposed = RECT{100, 50, 1000, 400};
    SendMessageA(main_window, WM_SIZING, WMSZ_BOTTOMLEFT, reinterpret_cast<LPARAM>(&proposed));
    ExpectRectEq(RECT{1000 - 711 - frame_width, 50, 1000, 400}, proposed);
    proposed = RECT{100, 50, 1000, 400};
    SendMessageA(main_window, WM_SIZING, WMSZ_BOTTOM, reinterpret_cast<LPARAM>(&proposed));
    ExpectRectEq(RECT{100, 50, 100 + 711 + frame_width, 400}, proposed);
}

TEST_F(LayoutTest, RelayoutAfterAGraphChangeRefitsOrReappliesClipping)
{
    StartViewer();
    video_rects.native_width = 1280;
    video_rects.native_height = 720;
    SetWindowPos(main_window, nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    int height = ClientSize().cy;
    RelayoutAfterGraphChange();
    EXPECT_EQ(height, ClientSize().cy);
    EXPECT_EQ(static_cast<int>(height * (16.0 / 9.0)), ClientSize().cx);
    ExpectRectEq(RECT{0, 0, ClientSize().cx, height}, window_size_state.client_rect);

    ShowWindow(main_window, SW_MAXIMIZE);
    video_rects.dest_rect = RECT{};
    RelayoutAfterGraphChange();
    EXPECT_TRUE(Maximised());
    EXPECT_EQ(3u, IsMenuChecked(IDM_CLIPPING));  // greyed outside fullscreen: stays off
    EXPECT_EQ(0, video_rects.clip_x);
    ExpectRectEq(RECT{0, 0, 1280, 720}, video_rects.source_rect);
    ExpectMaximisedClient();
    ExpectRectEq(kMaximisedPicture16x9, video_rects.dest_rect);
}

TEST_F(LayoutTest, AMinimisedWindowKeepsTheGeometryItComesBackTo)
{
    StartViewer();
    SetWindowPos(main_window, nullptr, 150, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(main_window, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(main_window));
    ExpectRectEq(RECT{0, 0, 0, 0}, video_rects.dest_rect);
    RelayoutAfterGraphChange();  // a still picture taken with Ctrl+P while minimised
    ExpectRectEq(RECT{0, 0, 1280, 720}, window_size_state.client_rect);
    EXPECT_EQ(150, fullscreen_state.window_position.left);
    EXPECT_EQ(90, fullscreen_state.window_position.top);

    ShowWindow(main_window, SW_RESTORE);
    EXPECT_EQ(1280, ClientSize().cx);
    EXPECT_EQ(720, ClientSize().cy);
    EXPECT_EQ(150, WindowRect().left);
    ShowWindow(main_window, SW_MINIMIZE);
    CloseViewer();
    EXPECT_EQ(150, static_cast<int>(GetPrivateProfileIntA("window_position", "left", -1, SettingsPath().c_str())));
    EXPECT_EQ(90, static_cast<int>(GetPrivateProfileIntA("window_position", "top", -1, SettingsPath().c_str())));
    EXPECT_EQ(720, static_cast<int>(GetPrivateProfileIntA("client_rect", "bottom", -1, SettingsPath().c_str())));
}

// The start-up sequence without the graph and the harness's settling pump:
// on a display without a window manager, Wine drops a maximised state it
// sees in the X events that follow once a renderer draws, which no real
// desktop does.
void StartUpToTheMessageLoop()
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    ASSERT_TRUE(RegisterMainWindowClass(instance));
    InitSettingsPath();
    main_window = CreateMainWindow(instance);
    ASSERT_NE(nullptr, main_window);
    ReplayDisplayState();
}

TEST_F(LayoutTest, SavedMaximisedWindowRestoresToItsPreset)
{
    WriteSetting("maximize", "maximize", "1");
    WriteSetting("menu", "size", "6001");
    WriteSetting("client_rect", "bottom", "360");
    StartUpToTheMessageLoop();
    EXPECT_TRUE(Maximised());
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_HALF));
    EXPECT_EQ(IDM_SIZE_HALF, window_size_state.pending_size_command);
    ShowWindow(main_window, SW_RESTORE);
    EXPECT_EQ(640, ClientSize().cx);
    EXPECT_EQ(360, ClientSize().cy);
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_HALF));
}

TEST_F(LayoutTest, APendingPresetIsCheckedByTheFirstSizeNotification)
{
    WriteSetting("menu", "size", "6002");
    WriteSetting("SAVE_ID", "SAVE_ID", "6001");
    StartViewer();
    EXPECT_EQ(8u, IsMenuChecked(IDM_SIZE_HALF));
    EXPECT_EQ(0u, IsMenuChecked(IDM_SIZE_ONE));
    EXPECT_EQ(0, window_size_state.pending_size_command);
    // Its resize ran before the window handle was recorded.
    EXPECT_EQ(720, ClientSize().cy);
}

TEST_F(LayoutTest, ADisplayChangeReachesTheRendererInUse)
{
    CreateWindowOnly();
    FakeWindowless9 vmr9;
    FakeWindowless vmr7;
    RendererScope renderers(&vmr9, &vmr7);
    auto display_change = [] { SendMessageA(main_window, WM_DISPLAYCHANGE, 32, MAKELPARAM(1920, 1080)); };

    ASSERT_EQ(MENU_CHECKED, IsMenuChecked(IDM_MODE_VMR9));
    display_change();
    EXPECT_EQ(1, vmr9.mode_changes);
    EXPECT_EQ(0, vmr7.mode_changes);

    CheckMenuItem(CommandMenu, IDM_MODE_VMR9, MF_BYCOMMAND | MF_UNCHECKED);
    CheckMenuItem(CommandMenu, IDM_MODE_VMR7, MF_BYCOMMAND | MF_CHECKED);
    display_change();
    EXPECT_EQ(1, vmr9.mode_changes);
    EXPECT_EQ(1, vmr7.mode_changes);

    // While recording the renderer in use keeps its check, greyed.
    SetMenuState(IDM_MODE_VMR9, MENU_CHECKED_GRAYED);
    SetMenuState(IDM_MODE_VMR7, MENU_GRAYED);
    display_change();
    EXPECT_EQ(2, vmr9.mode_changes);
    EXPECT_EQ(1, vmr7.mode_changes);
}

}  // namespace
