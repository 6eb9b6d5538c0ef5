#include "screen_frame.h"

#include <algorithm>
#include <vector>

#include "testbed/testcard/portable/test_pattern.h"

// Read from the screen, as the user sees it: the renderers draw straight to
// the window and keep no copy another program could ask for.
bool ReadShownFrameNumber(HWND window, uint32_t* number)
{
    RECT client{};
    if (!window || !GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0)
        return false;
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const int width = client.right, height = client.bottom;
    // Only the rows of the number's band (20/32 .. 28/32 of the picture) are
    // copied, so that a grab is short against a frame.
    const int top = std::max(0, height * 20 / 32 - 2), bottom = std::min(height, height * 28 / 32 + 2);
    thread_local std::vector<uint8_t> pixels;
    pixels.assign(static_cast<size_t>(width) * height * 4, 0);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -(bottom - top);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool read = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, bottom - top, screen, origin.x, origin.y + top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
        std::copy_n(static_cast<const uint8_t*>(bits), static_cast<size_t>(width) * (bottom - top) * 4,
                    pixels.begin() + static_cast<size_t>(width) * top * 4);
        testcard::FrameLayout layout{testcard::PixelFormat::kRgb32, width, height, false};
        read = testcard::ReadFrameNumber(pixels.data(), layout, width * 4, number);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return read;
}
