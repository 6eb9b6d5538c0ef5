// Where and how large the picture is drawn, and how large the window is.
#ifndef FERNWOODVIEW_VIDEO_LAYOUT_H
#define FERNWOODVIEW_VIDEO_LAYOUT_H

#include <windows.h>

struct VideoRects {
    RECT source_rect{};  // shown part of the native frame
    RECT dest_rect{};    // where it is drawn, client coordinates
    int native_width = 0;
    int native_height = 0;
    int clip_x = 0;
    int clip_y = 0;
    double aspect = 16.0 / 9.0;
};

struct WindowSizeState {
    RECT client_rect{};            // client area at the last restored size outside fullscreen
    int pending_size_command = 0;  // 0, IDM_SIZE_HALF or IDM_SIZE_ONE
    bool resize_pending = false;   // re-fit to the aspect at the next restored size
};

extern VideoRects video_rects;
extern WindowSizeState window_size_state;

// Takes the frame size the graph last reported, when it is new, and
// recomputes the shown part of the frame from it and the clip insets.
void RefreshSourceRect();
// After the video branch was rebuilt: its frame, when a device was bound.
void AdoptVideoBranch();
// The capture format switched (capture's SwitchVideoFormat) and adopted.
void SwitchShownVideoFormat(int index, int height);
// A recording without preview has cut the renderers from the stream: the
// window is painted black instead of their last picture.
void SetPreviewCut(bool cut);

void SetVideoToClient();
void ApplyVideoLayout();
void ResizeClientToHeight(int height);
// The overlapped window's outer size for a client size at the window's DPI
// (without a window, or before Windows 10 1607, the system's).
SIZE OuterSizeForClient(HWND hwnd, int client_width, int client_height);
// Windows offers a rectangle scaled to the new DPI; the picture keeps its
// size in pixels instead (×1 stays 1280×720), only the position is taken.
void OnDpiChanged(HWND hwnd, WPARAM dpis, const RECT* suggested);
void RelayoutAfterGraphChange();

// Reads the shared placement record of the window.
bool IsMaximised(HWND hwnd);
// Restores or maximises the window through its placement.
void SetShowState(HWND hwnd, UINT show_command);

void OnSize(HWND hwnd, WPARAM kind);
void OnSizing(HWND hwnd, WPARAM edge, RECT* rect);
void OnPaint(HWND hwnd);
void OnResolutionCommand(UINT id);
void OnAspectCommand(UINT id);
void OnSizePresetCommand(UINT id);
void OnClippingCommand();

#endif
