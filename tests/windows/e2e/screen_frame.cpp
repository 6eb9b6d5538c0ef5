#include "screen_frame.h"

#include <algorithm>
#include <vector>

#include "testbed/testcard/portable/test_pattern.h"

namespace {

// Copies rows top..bottom of the window's client area from the screen into
// `pixels` (RGB32, the whole client's size, other rows zero); false when the
// window has no client area or the copy fails.
bool GrabClientRows(HWND window, int top_32nds, int bottom_32nds, std::vector<uint8_t>& pixels, int* width,
                    int* height)
{
    RECT client{};
    if (!window || !GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0)
        return false;
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    *width = client.right;
    *height = client.bottom;
    const int top = std::max(0, *height * top_32nds / 32 - 2);
    const int bottom = std::min(*height, *height * bottom_32nds / 32 + 2);
    pixels.assign(static_cast<size_t>(*width) * *height * 4, 0);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = *width;
    info.bmiHeader.biHeight = -(bottom - top);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        copied = BitBlt(memory, 0, 0, *width, bottom - top, screen, origin.x, origin.y + top, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
        std::copy_n(static_cast<const uint8_t*>(bits), static_cast<size_t>(*width) * (bottom - top) * 4,
                    pixels.begin() + static_cast<size_t>(*width) * top * 4);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return copied;
}

}  // namespace

// Read from the screen, as the user sees it: the renderers draw straight to
// the window and keep no copy another program could ask for.
bool ReadShownFrameNumber(HWND window, uint32_t* number)
{
    // Only the rows of the number's band (20/32 .. 28/32 of the picture) are
    // copied, so that a grab is short against a frame.
    thread_local std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    if (!GrabClientRows(window, 20, 28, pixels, &width, &height))
        return false;
    testcard::FrameLayout layout{testcard::PixelFormat::kRgb32, width, height, false};
    return testcard::ReadFrameNumber(pixels.data(), layout, width * 4, number);
}

bool ReadClientIsBlack(HWND window, bool* black)
{
    thread_local std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    if (!GrabClientRows(window, 0, 32, pixels, &width, &height))
        return false;
    *black = std::all_of(pixels.begin(), pixels.end(), [](uint8_t v) { return v == 0; });
    return true;
}
