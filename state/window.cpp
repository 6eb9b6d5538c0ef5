#include "state/window.h"

HWND main_window = nullptr;
WINDOWPLACEMENT window_placement{};

int ShowMessageBox(const wchar_t* text, const wchar_t* caption, UINT type)
{
    bool had_window = IsWindow(main_window) != FALSE;
    int answer = MessageBoxW(main_window, text, caption, type);
    // Closed while the box was open: the box's own loop may have taken the
    // quit message, and the program would run on without a window.
    if (had_window && !IsWindow(main_window))
        PostQuitMessage(0);
    return answer;
}

void ShowErrorMessage(const wchar_t* text)
{
    ShowMessageBox(text, L"エラー", MB_OK | MB_ICONERROR);
}
