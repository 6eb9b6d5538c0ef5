#include "app/main_window.h"

#include "app/commands.h"
#include "app/saved_settings.h"
#include "capture/capture_graph.h"
#include "capture/graph_faults.h"
#include "record/device_loss.h"
#include "record/record_timer.h"
#include "record/recording_journal.h"
#include "record/recording.h"
#include "settings/settings_file.h"
#include "settings/settings_rules.h"
#include "state/command_menu.h"
#include "state/timer_ids.h"
#include "view/fullscreen.h"
#include "view/video_layout.h"

static const char kClassName[] = "FERNWOODVIEW";

bool ClaimSingleInstance()
{
    // Never closed: the system releases it at exit, and it must outlive the window.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "mutexFERNWOODVIEW");
    if (!mutex)
        return false;
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return true;
    main_window = FindWindowA(kClassName, nullptr);
    if (main_window) {
        if (IsIconic(main_window))
            ShowWindow(main_window, SW_RESTORE);
        SetForegroundWindow(main_window);
    }
    return false;
}

bool RegisterMainWindowClass(HINSTANCE instance)
{
    WNDCLASSA window_class{};
    window_class.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    window_class.lpfnWndProc = MainWindow;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, "FERNWOODVIEW_ICON");
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.lpszClassName = kClassName;
    return RegisterClassA(&window_class) != 0;
}

HWND CreateMainWindow(HINSTANCE instance)
{
    video_rects.aspect = AspectFromSetting(ReadSettingInt("menu", "aspect_ratio", IDM_ASPECT_16_9));
    IntRect client = InitialClientRect(ReadSettingInt("client_rect", "top", 0), ReadSettingInt("client_rect", "left", 0),
                                       ReadSettingInt("client_rect", "bottom", kDefaultClientHeight),
                                       video_rects.aspect);
    int client_width = client.right - client.left;
    int client_height = client.bottom - client.top;
    SIZE outer = OuterSizeForClient(nullptr, client_width, client_height);
    int x = ReadSettingInt("window_position", "left", kUseDefaultPosition);
    int y = ReadSettingInt("window_position", "top", kUseDefaultPosition);
    IntRect monitors[16];
    ResolveWindowPosition(&x, &y, outer.cx, outer.cy, monitors, ListMonitors(monitors, 16));
    HWND hwnd = CreateWindowExA(0, kClassName, kClassName, WS_VISIBLE | WS_OVERLAPPEDWINDOW, x, y, outer.cx, outer.cy,
                                nullptr, nullptr, instance, nullptr);
    // Created on a monitor of another DPI than the system's, the frame differs.
    SIZE fitted = OuterSizeForClient(hwnd, client_width, client_height);
    if (hwnd && (fitted.cx != outer.cx || fitted.cy != outer.cy))
        SetWindowPos(hwnd, nullptr, 0, 0, fitted.cx, fitted.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return hwnd;
}

void ReplayDisplayState()
{
    SetVideoToClient();
    if (ReadSettingInt("maximize", "maximize", 0) == 1)
        ShowWindow(main_window, SW_SHOWMAXIMIZED);
    if (ReadSettingInt("menu", "size", IDM_SIZE_ONE) == IDM_SIZE_FULLSCREEN)
        SendMessageA(main_window, WM_COMMAND, IDM_SIZE_FULLSCREEN, 0);
    if (ReadSettingInt("menu", "topmost", 0) == MF_CHECKED)
        SendMessageA(main_window, WM_COMMAND, IDM_TOPMOST, 0);
    if (ReadSettingInt("menu", "clipping", 0) == MF_CHECKED)
        SendMessageA(main_window, WM_COMMAND, IDM_CLIPPING, 0);
}

void StartCaptureGraph()
{
    BuildCaptureGraph();
    AdoptVideoBranch();
}

int RunMessageLoop()
{
    MSG message;
    BOOL result;
    while ((result = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (result == -1)
            return 1;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

int RunViewer(HINSTANCE instance)
{
    if (!ClaimSingleInstance())
        return 0;
    if (!RegisterMainWindowClass(instance))
        return 1;
    InitSettingsPath();
    main_window = CreateMainWindow(instance);
    if (!main_window)
        return 1;
    StartCaptureGraph();
    if (!capture_graph.dx9_missing)
        ReplayDisplayState();
    RepairUnfinishedRecording();
    return RunMessageLoop();
}

static void OnTimer(HWND hwnd, WPARAM id)
{
    switch (id) {
    case TIMER_FPS: return UpdateFrameRateReadout();
    case TIMER_CURSOR_HIDE: return OnCursorHideTick(hwnd);
    case TIMER_RECORD_STATS: return UpdateRecordStats();
    case TIMER_SCHEDULE_START: return OnScheduleStartTick();
    case TIMER_SCHEDULE_STOP: return OnScheduleStopTick();
    case TIMER_DEVICE_RETURN: return LookForLostDevice();
    default: return;
    }
}

static void OnCreate(HWND hwnd, const CREATESTRUCTA* create)
{
    LoadCommandMenu(create->hInstance);
    ApplySettingsToMenu(hwnd);
}

// Windows ends the process soon after WM_ENDSESSION returns and sends no
// WM_DESTROY: what closing does must happen here. The session is never
// vetoed; a recording only names itself on the shutdown screen meanwhile.
static void OnEndSession(WPARAM ending)
{
    if (!ending)
        return;
    if (recording_state.recording)
        ToggleRecording();
    SaveSettings();
    StopGraph();
}

static void OnDestroy()
{
    SaveSettings();
    ReleaseCaptureGraph();
    PostQuitMessage(0);
}

LRESULT CALLBACK MainWindow(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    window_placement.length = sizeof window_placement;
    switch (message) {
    case WM_CREATE: OnCreate(hwnd, reinterpret_cast<CREATESTRUCTA*>(lparam)); break;
    case WM_DESTROY: OnDestroy(); break;
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION: OnEndSession(wparam); break;
    case WM_MOVE: OnMove(hwnd); break;
    case WM_SIZE: OnSize(hwnd, wparam); break;
    case WM_PAINT: OnPaint(hwnd); break;
    case WM_KEYUP: OnKeyUp(hwnd, wparam); break;
    case WM_COMMAND: OnCommand(hwnd, LOWORD(wparam)); break;
    case WM_TIMER: OnTimer(hwnd, wparam); break;
    case WM_MOUSEMOVE: OnMouseMove(hwnd, wparam, lparam); break;
    case WM_LBUTTONDOWN: OnLeftButtonDown(hwnd, wparam, lparam); break;
    case WM_LBUTTONUP: OnLeftButtonUp(hwnd, wparam, lparam); break;
    case WM_LBUTTONDBLCLK: OnLeftButtonDoubleClick(hwnd); break;
    case WM_RBUTTONUP:
        OnRightButtonCursor();
        ShowCommandMenu(hwnd, lparam);
        break;
    case WM_SIZING: OnSizing(hwnd, wparam, reinterpret_cast<RECT*>(lparam)); break;
    case WM_GRAPH_EVENT: OnGraphEvent(); break;
    case WM_GRAPH_FAULT: ShowQueuedGraphFault(); break;
    case WM_DISPLAYCHANGE: OnDisplayChange(); break;
    case WM_DPICHANGED: OnDpiChanged(hwnd, wparam, reinterpret_cast<const RECT*>(lparam)); break;
    // Sent to every top-level window when a device arrives or leaves.
    case WM_DEVICECHANGE: LookForLostDevice(); return TRUE;
    default: return DefWindowProcA(hwnd, message, wparam, lparam);
    }
    return 0;
}
