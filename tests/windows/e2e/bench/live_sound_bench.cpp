// Whether the live sound stays with the picture when the card's sound runs on
// a crystal of its own, FERNWOOD_LIVE_SOUND_PPM (100) fast, over
// FERNWOOD_LIVE_MINUTES (30) of preview. The delay printed is when the audio
// renderer played each click less the click's time stamp: the card clicks
// where its picture flashes on the PC's clock and stamps its sound with the
// time it was captured, so the stamp is the flash's capture time, and what
// the renderer adds to it is how far the sound trails the picture it went
// with. Figures only: nothing here passes or fails.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "bench_support.h"
#include "capture/capture_graph.h"
#include "card_harness.h"

namespace {

void PrintAt(const HeardSound& heard, double minutes)
{
    const REFERENCE_TIME at = static_cast<REFERENCE_TIME>(minutes * 60 * 10000000);
    std::printf("live sound at %.1f min: %s\n", minutes, DescribeDelayAt(heard, at).c_str());
    std::fflush(stdout);
}

class LiveSoundBench : public CardTest {};

TEST_F(LiveSoundBench, DelayBehindThePictureWhileTheCardsSoundDrifts)
{
    const DWORD ppm = BenchSetting("FERNWOOD_LIVE_SOUND_PPM", 100);
    const DWORD minutes = BenchSetting("FERNWOOD_LIVE_MINUTES", 30);
    Card().SetNumber(L"Audio0", L"ClockPpm", ppm);
    StartWithCard();
    ASSERT_TRUE(PumpUntil([] { return !ReadHeardSound().clicks.empty(); }, 10000))
        << "no audio renderer stand-in in the viewer's graph, or it hears no click";
    std::printf("live sound: the card's sound %lu ppm fast, previewing for %lu min\n", ppm, minutes);
    const double start = Now();
    // At 1 and 10 minutes where the run is longer, and at its end.
    std::vector<double> reports;
    for (double report : {1.0, 10.0})
        if (report < minutes)
            reports.push_back(report);
    reports.push_back(minutes);
    for (double report : reports) {
        PumpUntil([&] { return Now() - start >= report * 60000; }, static_cast<DWORD>(report * 60000 + 60000));
        PrintAt(ReadHeardSound(), report);
    }
    const HeardSound h = ReadHeardSound();
    std::printf("live sound glitches: %ld dropped runs (longest %.1f ms), %ld inserted silences (longest %.1f ms), "
                "%ld underruns (longest %.1f ms), %zu clicks heard\n",
                h.glitches.dropped_runs, h.glitches.longest_drop / 1e4, h.glitches.silences,
                h.glitches.longest_silence / 1e4, h.glitches.underruns, h.glitches.longest_underrun / 1e4,
                h.clicks.size());
    std::fflush(stdout);
}

}  // namespace
