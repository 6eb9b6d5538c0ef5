// How late the preview is: from the end of a card frame (its last line, on
// the graph's reference clock) to that frame being on the screen, in ms and
// in frames, at 720p59.94 and 1080p29.97 (half size) in both render modes;
// and the share of the card's frames that reach the screen at all.
// FERNWOOD_LATENCY_GRABS (300) sets the grabs per case.
#include <windows.h>

#include <cstdio>
#include <set>
#include <vector>

#include "bench_support.h"
#include "capture/capture_graph.h"
#include "card_harness.h"
#include "state/command_menu.h"
#include "state/window.h"

namespace {

class LatencyBench : public BenchTest {
protected:
    void Measure(UINT format, UINT mode, const char* label)
    {
        const DWORD grabs = BenchSetting("FERNWOOD_LATENCY_GRABS", 300);
        const double interval_ms = format == IDM_RES_1080 ? 1001.0 / 30 : 1001.0 / 60;
        StartShowing(format, mode);
        ASSERT_TRUE(PreviewRuns());
        ASSERT_NE(0, GraphNow()) << "the graph has no clock";

        std::vector<double> late_ms, grab_ms, card_ms;
        int unread = 0, untraced = 0;
        uint32_t phase = 12345;
        for (DWORD i = 0; i < grabs; ++i) {
            phase = phase * 1664525u + 1013904223u;
            Pump(1 + (phase >> 16) % static_cast<uint32_t>(interval_ms * 2));  // varied phases against the frames
            uint32_t number = 0;
            const REFERENCE_TIME before = GraphNow();
            const bool read = GrabFrameNumber(main_window, &number);
            const REFERENCE_TIME after = GraphNow();
            if (!read) {
                ++unread;
                continue;
            }
            testcard::TestCardFrameDeparture departure{};
            if (!FindDeparture(CardDepartures(), number, &departure)) {
                ++untraced;
                continue;
            }
            const double seen = (before + after) / 2.0;
            late_ms.push_back((seen - departure.frame_end) / 1e4);
            grab_ms.push_back((after - before) / 1e4);
            card_ms.push_back((departure.delivered - departure.frame_end) / 1e4);
        }
        const Summary late = Summarize(late_ms);
        std::printf("preview latency, %s: frame end to screen %s\n", label, Describe(late, "ms").c_str());
        std::printf("  in frames of %.2f ms: median %.2f, p95 %.2f\n", interval_ms, late.median / interval_ms,
                    late.p95 / interval_ms);
        std::printf("  of which the card (frame end to Deliver): %s\n", Describe(Summarize(card_ms), "ms").c_str());
        std::printf("  each grab takes %s (the figures above are at its middle)\n",
                    Describe(Summarize(grab_ms), "ms").c_str());
        if (unread || untraced)
            std::printf("  %d grabs without a readable number, %d with a number the card had not logged\n", unread,
                        untraced);
        PrintShareShown(interval_ms);
        std::fflush(stdout);
    }

    // Grabs back to back for two seconds: distinct numbers seen against the
    // frames the card delivered meanwhile.
    void PrintShareShown(double interval_ms)
    {
        std::set<uint32_t> seen;
        int grabs = 0;
        const REFERENCE_TIME start = GraphNow();
        while (GraphNow() - start < 20000000) {
            uint32_t number = 0;
            if (GrabFrameNumber(main_window, &number))
                seen.insert(number);
            ++grabs;
            Pump(0);
        }
        const double grab_interval = 2000.0 / grabs;
        if (seen.size() < 2) {
            std::printf("  frames reaching the screen: too few read\n");
            return;
        }
        const double span = *seen.rbegin() - *seen.begin() + 1.0;
        std::printf("  frames reaching the screen: %zu distinct of %.0f (%.0f %%), grabbing every %.1f ms%s\n",
                    seen.size(), span, 100.0 * seen.size() / span, grab_interval,
                    grab_interval < interval_ms ? "" : " (slower than the frame rate: a lower bound)");
    }
};

TEST_F(LatencyBench, Vmr9At720p)
{
    Measure(IDM_RES_720, IDM_MODE_VMR9, "VMR9 720p59.94");
}

TEST_F(LatencyBench, Vmr7At720p)
{
    Measure(IDM_RES_720, IDM_MODE_VMR7, "VMR7 720p59.94");
}

TEST_F(LatencyBench, Vmr9At1080pHalfSize)
{
    Measure(IDM_RES_1080, IDM_MODE_VMR9, "VMR9 1080p29.97 half size");
}

TEST_F(LatencyBench, Vmr7At1080pHalfSize)
{
    Measure(IDM_RES_1080, IDM_MODE_VMR7, "VMR7 1080p29.97 half size");
}

}  // namespace
