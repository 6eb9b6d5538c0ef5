#include "view/video_layout.h"

#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "state/command_menu.h"
#include "state/window.h"
#include "view/fullscreen.h"
#include "view/layout_geometry.h"

VideoRects video_rects;
WindowSizeState window_size_state;
static bool preview_cut = false;

static RECT ToRect(const IntRect& rect)
{
    return RECT{rect.left, rect.top, rect.right, rect.bottom};
}

static RECT ClientRect(HWND hwnd)
{
    RECT client{};
    GetClientRect(hwnd, &client);
    return client;
}

static bool WasChecked(UINT id)
{
    return CheckMenuItem(CommandMenu, id, MF_BYCOMMAND | MF_UNCHECKED) == MF_CHECKED;
}

static void Check(UINT id, bool checked)
{
    CheckMenuItem(CommandMenu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

bool IsMaximised(HWND hwnd)
{
    window_placement.length = sizeof window_placement;
    GetWindowPlacement(hwnd, &window_placement);
    return window_placement.showCmd == SW_SHOWMAXIMIZED;
}

void SetShowState(HWND hwnd, UINT show_command)
{
    // Not the shared record: the nested size and move handlers read into it
    // while the platform may still be reading from it.
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(hwnd, &placement);
    placement.showCmd = show_command;
    SetWindowPlacement(hwnd, &placement);
}

static bool ScreenShaped()
{
    return IsMaximised(main_window) || fullscreen_state.fullscreen;
}

static void HandRectsToRenderer()
{
    if (!capture_graph.graph_ready)
        return;
    RECT* source = &video_rects.source_rect;
    RECT* dest = &video_rects.dest_rect;
    if (IsMenuChoice(IDM_MODE_VMR9)) {
        if (capture_graph.vmr9_windowless)
            capture_graph.vmr9_windowless->SetVideoPosition(source, dest);
    } else if (capture_graph.vmr7_windowless) {
        capture_graph.vmr7_windowless->SetVideoPosition(source, dest);
    }
}

void SetVideoToClient()
{
    RECT client = ClientRect(main_window);
    video_rects.dest_rect = RECT{0, 0, client.right, client.bottom};
    HandRectsToRenderer();
}

void ApplyVideoLayout()
{
    UINT clipping = IsMenuChecked(IDM_CLIPPING);
    bool clipping_on = clipping != MENU_ENABLED && clipping != MENU_GRAYED;
    double aspect = EffectiveAspect(clipping_on, IsMenuChecked(IDM_ASPECT_4_3) == MENU_CHECKED, video_rects.aspect);
    RECT client = ClientRect(main_window);
    video_rects.dest_rect = ToRect(FitPicture(client.right, client.bottom, aspect));
    HandRectsToRenderer();
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

// Found at run time: Windows 7 has neither, and the program must still start there.
template <class Function>
static Function User32Function(const char* name)
{
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

static SIZE OuterSizeAtDpi(HWND hwnd, int client_width, int client_height, UINT dpi)
{
    static const auto get_dpi = User32Function<GetDpiForWindowFunction>("GetDpiForWindow");
    static const auto adjust = User32Function<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
    if (dpi == 0 && hwnd && get_dpi)
        dpi = get_dpi(hwnd);
    RECT rect{0, 0, client_width, client_height};
    if (!(dpi != 0 && adjust && adjust(&rect, WS_OVERLAPPEDWINDOW, FALSE, 0, dpi)))
        AdjustWindowRectEx(&rect, WS_OVERLAPPEDWINDOW, FALSE, 0);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

SIZE OuterSizeForClient(HWND hwnd, int client_width, int client_height)
{
    return OuterSizeAtDpi(hwnd, client_width, client_height, 0);
}

void ResizeClientToHeight(int height)
{
    if (!main_window)
        return;
    if (IsMaximised(main_window))
        SetShowState(main_window, SW_SHOWNORMAL);
    SIZE outer = OuterSizeForClient(main_window, TruncateToInt(height * video_rects.aspect), height);
    SetWindowPos(main_window, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE);
}

void OnDpiChanged(HWND hwnd, WPARAM dpis, const RECT* suggested)
{
    // Fullscreen covers its monitor and a maximised window is fitted by Windows.
    if (!suggested || fullscreen_state.fullscreen || IsMaximised(hwnd) || IsIconic(hwnd))
        return;
    RECT client = ClientRect(hwnd);
    SIZE outer = OuterSizeAtDpi(hwnd, client.right, client.bottom, HIWORD(dpis));
    SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void RefreshSourceRect()
{
    VideoRects& r = video_rects;
    if (capture_graph.native_size_new) {
        capture_graph.native_size_new = false;
        r.native_width = capture_graph.native_width;
        r.native_height = capture_graph.native_height;
    }
    r.source_rect = RECT{r.clip_x, r.clip_y, r.native_width - r.clip_x, r.native_height - r.clip_y};
}

void AdoptVideoBranch()
{
    if (capture_graph.video_capture)
        RefreshSourceRect();
}

void SwitchShownVideoFormat(int index, int height)
{
    SwitchVideoFormat(index, height);
    AdoptVideoBranch();
}

void SetPreviewCut(bool cut)
{
    preview_cut = cut;
}

void RelayoutAfterGraphChange()
{
    if (!main_window)
        return;
    if (ScreenShaped()) {
        // The first command flips clipping and re-lays out; the second restores it.
        SendMessageA(main_window, WM_COMMAND, IDM_CLIPPING, 0);
        SendMessageA(main_window, WM_COMMAND, IDM_CLIPPING, 0);
        return;
    }
    SendMessageA(main_window, WM_SIZE, SIZE_RESTORED, 0);
    // A minimised window has no client area to fit; it is fitted when restored.
    if (!IsIconic(main_window))
        ResizeClientToHeight(ClientRect(main_window).bottom);
}

void OnSize(HWND hwnd, WPARAM kind)
{
    if (capture_graph.graph_ready)
        SetVideoToClient();
    WindowSizeState& state = window_size_state;
    if (kind == SIZE_RESTORED) {
        // A minimised window only gets here from a re-layout; its 0 × 0 client
        // area must not replace the size to come back to.
        if (fullscreen_state.fullscreen || IsIconic(hwnd))
            return;
        state.client_rect = ClientRect(hwnd);
        if (state.resize_pending) {
            state.resize_pending = false;
            ResizeClientToHeight(state.client_rect.bottom);
        }
        if (state.pending_size_command != 0) {
            SendMessageA(hwnd, WM_COMMAND, static_cast<WPARAM>(state.pending_size_command), 0);
            state.pending_size_command = 0;
        }
    } else if (kind == SIZE_MAXIMIZED) {
        state.resize_pending = true;
        if (WasChecked(IDM_SIZE_HALF))
            state.pending_size_command = IDM_SIZE_HALF;
        if (WasChecked(IDM_SIZE_ONE))
            state.pending_size_command = IDM_SIZE_ONE;
        ApplyVideoLayout();
    }
}

void OnSizing(HWND hwnd, WPARAM edge, RECT* rect)
{
    Check(IDM_SIZE_HALF, false);
    Check(IDM_SIZE_ONE, false);
    if (!rect)
        return;
    RECT client = ClientRect(hwnd);
    SIZE frame = OuterSizeForClient(hwnd, 0, 0);
    IntRect window{rect->left, rect->top, rect->right, rect->bottom};
    FitSizingRect(static_cast<int>(edge), client.right, client.bottom, video_rects.aspect,
                  FrameExtent{frame.cx, frame.cy}, &window);
    *rect = ToRect(window);
}

void OnPaint(HWND hwnd)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    bool vmr9 = IsMenuChoice(IDM_MODE_VMR9);
    IVMRWindowlessControl9* control9 = vmr9 ? capture_graph.vmr9_windowless : nullptr;
    IVMRWindowlessControl* control7 = vmr9 ? nullptr : capture_graph.vmr7_windowless;
    // Without a renderer nothing else would ever cover the client area.
    bool no_picture = !control9 && !control7;
    if (IsMaximised(hwnd) || fullscreen_state.fullscreen || preview_cut || no_picture) {
        RECT client = ClientRect(hwnd);
        HGDIOBJ previous = SelectObject(dc, GetStockObject(BLACK_BRUSH));
        Rectangle(dc, 0, 0, client.right, client.bottom);
        SelectObject(dc, previous);
    }
    // A renderer cut from the stream may still hold its last picture and
    // would draw it over the black of a recording without preview.
    if (preview_cut)
        control9 = nullptr, control7 = nullptr;
    if (control9)
        control9->RepaintVideo(hwnd, dc);
    else if (control7)
        control7->RepaintVideo(hwnd, dc);
    EndPaint(hwnd, &paint);
}

static void RepaintScreenLayout()
{
    ApplyVideoLayout();
    InvalidateRect(main_window, nullptr, TRUE);
}

void OnResolutionCommand(UINT id)
{
    if (IsMenuChecked(id) != MENU_ENABLED)
        return;
    bool format_720 = id == IDM_RES_720;
    Check(IDM_RES_720, format_720);
    Check(IDM_RES_1080, !format_720);
    SwitchShownVideoFormat(video_device_index, format_720 ? 720 : 1080);
    if (ScreenShaped())
        return RepaintScreenLayout();
    if (IsMenuChecked(IDM_SIZE_HALF) == MENU_CHECKED)
        ResizeClientToHeight(PresetHeight(true, format_720));
    else if (IsMenuChecked(IDM_SIZE_ONE) == MENU_CHECKED)
        ResizeClientToHeight(PresetHeight(false, format_720));
    else
        SetVideoToClient();  // the window keeps its size, but the frame it shows has changed
}

void OnAspectCommand(UINT id)
{
    if (IsMenuChecked(id) != MENU_ENABLED)
        return;
    bool wide = id == IDM_ASPECT_16_9;
    Check(IDM_ASPECT_16_9, wide);
    Check(IDM_ASPECT_4_3, !wide);
    video_rects.aspect = wide ? kAspect16x9 : kAspect4x3;
    if (ScreenShaped())
        return RepaintScreenLayout();
    ResizeClientToHeight(ClientRect(main_window).bottom);
}

void OnSizePresetCommand(UINT id)
{
    bool half = id == IDM_SIZE_HALF;
    if (IsMenuChecked(id) == MENU_ENABLED) {
        Check(IDM_SIZE_HALF, half);
        Check(IDM_SIZE_ONE, !half);
        Check(IDM_SIZE_FULLSCREEN, false);
        window_size_state.pending_size_command = 0;
    }
    if (fullscreen_state.fullscreen)
        LeaveFullscreen();
    ResizeClientToHeight(PresetHeight(half, IsMenuChoice(IDM_RES_720)));
}

void OnClippingCommand()
{
    VideoRects& rects = video_rects;
    ClipInsets insets{0, 0};
    if (IsMenuChecked(IDM_CLIPPING) != MENU_ENABLED) {
        Check(IDM_CLIPPING, false);  // a greyed item stays greyed
    } else {
        Check(IDM_CLIPPING, true);
        insets = ClipInsetsFor(IsMenuChoice(IDM_RES_720));
    }
    rects.clip_x = insets.x;
    rects.clip_y = insets.y;
    rects.source_rect = ToRect(SourceRectFor(rects.native_width, rects.native_height, insets));
    RepaintScreenLayout();
}
