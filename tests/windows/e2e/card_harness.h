// The viewer in the test process with the virtual test card configured per test.
#ifndef FERNWOODVIEW_CARD_HARNESS_H
#define FERNWOODVIEW_CARD_HARNESS_H

#include <windows.h>
#include <dshow.h>

#include <functional>
#include <memory>
#include <string>

#include "testbed/testcard/testcard_setup.h"
#include "viewer_harness.h"

class CardTest : public ViewerTest {
protected:
    void SetUp() override;
    void TearDown() override;

    testcard::TestCardSetup& Card() { return *card_; }
    // Registers the configuration written so far, then starts the viewer.
    void StartWithCard();

public:
    // The frame number the renderer of the current mode shows, or false.
    static bool ShownFrameNumber(uint32_t* number);
    // Waits until the renderer shows frames that advance.
    static bool PreviewRuns();
    // How many of the filter's pins are connected.
    static int ConnectedPins(IBaseFilter* filter);
    // Calls `visit` with every filter of the viewer's graph, every pin of a filter.
    static void ForEachFilter(const std::function<void(IBaseFilter*)>& visit);
    static void ForEachPin(IBaseFilter* filter, const std::function<void(IPin*)>& visit);
    // How many of the caught message boxes hold `words`.
    static int MessagesSaying(const wchar_t* words);
    static bool MessageSaid(const wchar_t* words) { return MessagesSaying(words) > 0; }
    // The caught messages in UTF-8, for a failure's report.
    static std::string CaughtText();

private:
    std::unique_ptr<testcard::TestCardSetup> card_;
};

#endif
