#include "card_harness.h"

#include "app/command_menu.h"
#include "app/main_window.h"
#include "capture/capture_graph.h"
#include "testbed/testcard/portable/test_pattern.h"

void CardTest::SetUp()
{
    ViewerTest::SetUp();
    card_.reset(new testcard::TestCardSetup());
}

void CardTest::TearDown()
{
    ViewerTest::TearDown();
    card_.reset();  // the default configuration again, for the next test
}

void CardTest::StartWithCard()
{
    ASSERT_EQ(S_OK, card_->Register());
    StartViewer();
}

// Reads the picture from the screen, as the user sees it: the renderers draw
// straight to the window and keep no copy a program could ask for here.
bool CardTest::ShownFrameNumber(uint32_t* number)
{
    RECT client;
    GetClientRect(main_window, &client);
    POINT origin{0, 0};
    ClientToScreen(main_window, &origin);
    int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0)
        return false;
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

bool CardTest::PreviewRuns()
{
    uint32_t first = 0;
    if (!PumpUntil([&] { return ShownFrameNumber(&first); }, 20000))
        return false;
    return PumpUntil(
        [&] {
            uint32_t later = 0;
            return ShownFrameNumber(&later) && later > first;
        },
        20000);
}

int CardTest::ConnectedPins(IBaseFilter* filter)
{
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)))
        return -1;
    IPin* pin = nullptr;
    int connected = 0;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        IPin* peer = nullptr;
        if (pin->ConnectedTo(&peer) == S_OK) {
            ++connected;
            peer->Release();
        }
        pin->Release();
    }
    pins->Release();
    return connected;
}
