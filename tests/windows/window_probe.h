// Probes of the main window's presentation state for the layout and fullscreen tests.
#ifndef FERNWOODVIEW_WINDOW_PROBE_H
#define FERNWOODVIEW_WINDOW_PROBE_H

#include <windows.h>

#include <gtest/gtest.h>

#include <dshow.h>

#include "app/main_window.h"
#include "capture/capture_graph.h"
#include "view/fullscreen.h"
#include "view/layout_geometry.h"
#include "view/video_layout.h"
#include "viewer_harness.h"

// The view state is process-wide: start every test from its initial values,
// as a fresh process would.
class WindowTest : public ViewerTest {
protected:
    void SetUp() override
    {
        fullscreen_state = FullscreenState{};
        window_size_state = WindowSizeState{};
        video_rects = VideoRects{};
        ViewerTest::SetUp();
    }
};

// Stands in for a renderer's windowless control: records the rectangles it
// is handed, paints the picture area, less an 8-pixel margin, in grey, so
// that what the window paints around it shows, and counts display changes.
// The two renderers' interfaces differ only in how SetVideoPosition takes
// its rectangles and in the second's colour key.
template <class Windowless, class Rect>
class FakeWindowlessOf : public Windowless {
public:
    RECT source{};
    RECT dest{};
    int positions = 0;
    int repaints = 0;
    int mode_changes = 0;

    HRESULT WINAPI QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return 2; }
    ULONG WINAPI Release() override { return 1; }
    HRESULT WINAPI GetNativeVideoSize(LONG*, LONG*, LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetMinIdealVideoSize(LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetMaxIdealVideoSize(LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetVideoPosition(Rect* new_source, Rect* new_dest) override
    {
        source = *new_source;
        dest = *new_dest;
        ++positions;
        return S_OK;
    }
    HRESULT WINAPI GetVideoPosition(RECT*, RECT*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetAspectRatioMode(DWORD*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetAspectRatioMode(DWORD) override { return E_NOTIMPL; }
    HRESULT WINAPI SetVideoClippingWindow(HWND) override { return E_NOTIMPL; }
    HRESULT WINAPI RepaintVideo(HWND, HDC dc) override
    {
        RECT picture = dest;
        InflateRect(&picture, -8, -8);
        FillRect(dc, &picture, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
        ++repaints;
        return S_OK;
    }
    HRESULT WINAPI DisplayModeChanged() override
    {
        ++mode_changes;
        return S_OK;
    }
    HRESULT WINAPI GetCurrentImage(BYTE**) override { return E_NOTIMPL; }
    HRESULT WINAPI SetBorderColor(COLORREF) override { return E_NOTIMPL; }
    HRESULT WINAPI GetBorderColor(COLORREF*) override { return E_NOTIMPL; }
};

using FakeWindowless9 = FakeWindowlessOf<IVMRWindowlessControl9, const RECT>;

class FakeWindowless : public FakeWindowlessOf<IVMRWindowlessControl, RECT> {
public:
    HRESULT WINAPI SetColorKey(COLORREF) override { return E_NOTIMPL; }
    HRESULT WINAPI GetColorKey(COLORREF*) override { return E_NOTIMPL; }
};

// Puts other windowless controls in place of the graph's for one scope.
class RendererScope {
public:
    RendererScope(IVMRWindowlessControl9* vmr9, IVMRWindowlessControl* vmr7)
        : vmr9_(capture_graph.vmr9_windowless), vmr7_(capture_graph.vmr7_windowless)
    {
        capture_graph.vmr9_windowless = vmr9;
        capture_graph.vmr7_windowless = vmr7;
    }
    ~RendererScope()
    {
        capture_graph.vmr9_windowless = vmr9_;
        capture_graph.vmr7_windowless = vmr7_;
    }

private:
    IVMRWindowlessControl9* vmr9_;
    IVMRWindowlessControl* vmr7_;
};

inline SIZE ScreenSize()
{
    return SIZE{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

inline SIZE MainClientSize()
{
    RECT client{};
    GetClientRect(main_window, &client);
    return SIZE{client.right, client.bottom};
}

inline RECT WindowRect()
{
    RECT rect{};
    GetWindowRect(main_window, &rect);
    return rect;
}

inline bool Maximised()
{
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    GetWindowPlacement(main_window, &placement);
    return placement.showCmd == SW_SHOWMAXIMIZED;
}

inline bool Topmost()
{
    return (GetWindowLongA(main_window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

// Leaves a running timer running (restarted).
inline bool TimerRunning(UINT id, UINT interval)
{
    if (!KillTimer(main_window, id))
        return false;
    SetTimer(main_window, id, interval, nullptr);
    return true;
}

// The cursor display count of this thread.
inline int CursorCount()
{
    int lowered = ShowCursor(FALSE);
    ShowCursor(TRUE);
    return lowered + 1;
}

inline void Command(UINT id)
{
    SendMessageA(main_window, WM_COMMAND, id, 0);
}

inline LPARAM ClientPoint(int x, int y)
{
    return MAKELPARAM(x, y);
}

inline void DoubleClick()
{
    SendMessageA(main_window, WM_LBUTTONDOWN, MK_LBUTTON, ClientPoint(200, 150));
    SendMessageA(main_window, WM_LBUTTONUP, 0, ClientPoint(200, 150));
    SendMessageA(main_window, WM_LBUTTONDBLCLK, MK_LBUTTON, ClientPoint(200, 150));
    SendMessageA(main_window, WM_LBUTTONUP, 0, ClientPoint(200, 150));
}

inline void ExpectRectEq(const RECT& expected, const RECT& actual)
{
    EXPECT_EQ(expected.left, actual.left);
    EXPECT_EQ(expected.top, actual.top);
    EXPECT_EQ(expected.right, actual.right);
    EXPECT_EQ(expected.bottom, actual.bottom);
}

// A maximised window's client area on the harness's 1920 × 1080 screen
// under Wine (no task bar: the whole screen less the caption), and the
// pictures the layout fits into it.
constexpr SIZE kMaximisedClient{1920, 1061};
constexpr RECT kMaximisedPicture16x9{17, 0, 1903, 1061};  // 1886 wide: 1061 × 16 / 9
constexpr RECT kMaximisedPicture4x3{253, 0, 1667, 1061};  // 1414 wide: 1061 × 4 / 3

inline void ExpectMaximisedClient()
{
    RECT client{};
    GetClientRect(main_window, &client);
    EXPECT_EQ(kMaximisedClient.cx, client.right);
    EXPECT_EQ(kMaximisedClient.cy, client.bottom);
}

#endif
