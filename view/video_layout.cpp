#include "view/video_layout.h"

#include "app/main_window.h"
#include "view/fullscreen.h"

VideoRects video_rects;
WindowSizeState window_size_state;

void SetVideoToClient() {}
void ApplyVideoLayout() {}
void RelayoutAfterGraphChange() {}

void ResizeClientToHeight(int height)
{
    if (!main_window)
        return;
    RECT rect{0, 0, static_cast<LONG>(height * video_rects.aspect), height};
    AdjustWindowRect(&rect, WS_OVERLAPPEDWINDOW, FALSE);
    SetWindowPos(main_window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void OnSize(HWND hwnd, WPARAM kind)
{
    if (kind == SIZE_RESTORED && !fullscreen_state.fullscreen)
        GetClientRect(hwnd, &window_size_state.client_rect);
}

void OnSizing(HWND, WPARAM, RECT*) {}

void OnPaint(HWND hwnd)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EndPaint(hwnd, &paint);
}

void OnResolutionCommand(UINT) {}
void OnAspectCommand(UINT) {}
void OnSizePresetCommand(UINT) {}
void OnClippingCommand() {}
