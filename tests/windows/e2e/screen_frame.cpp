#include "screen_frame.h"

#include "testbed/testcard/portable/test_pattern.h"

// Read from the screen, as the user sees it: the renderers draw straight to
// the window and keep no copy another program could ask for.
bool ReadShownFrameNumber(HWND window, uint32_t* number)
{
    RECT client{};
    if (!window || !GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0)
        return false;
    int width = client.right, height = client.bottom;
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool read = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
        SelectObject(memory, old);
        testcard::FrameLayout layout{testcard::PixelFormat::kRgb32, width, height, false};
        read = testcard::ReadFrameNumber(static_cast<const uint8_t*>(bits), layout, width * 4, number);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return read;
}
