#include "card_harness.h"

#include "state/command_menu.h"
#include "app/main_window.h"
#include "capture/capture_graph.h"
#include "screen_frame.h"

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

bool CardTest::ShownFrameNumber(uint32_t* number)
{
    return ReadShownFrameNumber(main_window, number);
}

// The card numbers its frames from each start of the stream, and the window
// may still show the last frame of the stream before: a run is a number
// that changes, not one that grows.
bool CardTest::PreviewRuns()
{
    uint32_t first = 0;
    if (!PumpUntil([&] { return ShownFrameNumber(&first); }, 20000))
        return false;
    return PumpUntil(
        [&] {
            uint32_t later = 0;
            return ShownFrameNumber(&later) && later != first;
        },
        20000);
}

void CardTest::ForEachPin(IBaseFilter* filter, const std::function<void(IPin*)>& visit)
{
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)) || !pins)
        return;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        visit(pin);
        pin->Release();
    }
    pins->Release();
}

void CardTest::ForEachFilter(const std::function<void(IBaseFilter*)>& visit)
{
    IEnumFilters* filters = nullptr;
    if (!capture_graph.graph || capture_graph.graph->EnumFilters(&filters) != S_OK || !filters)
        return;
    IBaseFilter* filter = nullptr;
    while (filters->Next(1, &filter, nullptr) == S_OK) {
        visit(filter);
        filter->Release();
    }
    filters->Release();
}

int CardTest::ConnectedPins(IBaseFilter* filter)
{
    int connected = 0;
    ForEachPin(filter, [&](IPin* pin) {
        IPin* peer = nullptr;
        if (pin->ConnectedTo(&peer) == S_OK) {
            ++connected;
            peer->Release();
        }
    });
    return connected;
}

int CardTest::MessagesSaying(const wchar_t* words)
{
    int count = 0;
    for (const std::wstring& text : CaughtMessageBoxes())
        count += text.find(words) != std::wstring::npos;
    return count;
}

std::string CardTest::CaughtText()
{
    std::string all;
    for (const std::wstring& text : CaughtMessageBoxes()) {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(bytes > 0 ? bytes : 1, '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], bytes, nullptr, nullptr);
        all += "[" + std::string(utf8.c_str()) + "] ";
    }
    return all;
}
