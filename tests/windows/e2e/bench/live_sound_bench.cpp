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
#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "capture/capture_graph.h"
#include "card_harness.h"
#include "testbed/standins/audio_renderer_stats.h"

namespace {

using fernwood::HeardClick;
using fernwood::RendererGlitches;

IBaseFilter* SoundRenderer()
{
    IBaseFilter* found = nullptr;
    CardTest::ForEachFilter([&](IBaseFilter* filter) {
        CLSID clsid{};
        if (!found && filter->GetClassID(&clsid) == S_OK && IsEqualCLSID(clsid, CLSID_DSoundRender)) {
            found = filter;
            found->AddRef();
        }
    });
    return found;
}

struct Heard {
    std::vector<HeardClick> clicks;
    RendererGlitches glitches{};
};

Heard Read(IBaseFilter* renderer)
{
    Heard h;
    fernwood::ITestAudioRendererStats* stats = nullptr;
    if (!renderer ||
        renderer->QueryInterface(fernwood::IID_ITestAudioRendererStats, reinterpret_cast<void**>(&stats)) != S_OK)
        return h;
    h.clicks.resize(4096);
    LONG copied = 0;
    if (stats->GetClicks(static_cast<LONG>(h.clicks.size()), h.clicks.data(), &copied) != S_OK)
        copied = 0;
    h.clicks.resize(static_cast<size_t>(copied));
    stats->GetGlitches(&h.glitches);
    stats->Release();
    return h;
}

void PrintAt(const Heard& h, double minutes)
{
    const REFERENCE_TIME at = static_cast<REFERENCE_TIME>(minutes * 60 * 10000000);
    const HeardClick* nearest = nullptr;
    for (const HeardClick& c : h.clicks)
        if (!nearest || std::llabs(c.stamp - at) < std::llabs(nearest->stamp - at))
            nearest = &c;
    if (!nearest) {
        std::printf("live sound at %.1f min: no click heard\n", minutes);
    } else {
        std::printf("live sound at %.1f min (click stamped %.3f s): %.1f ms behind the picture\n", minutes,
                    nearest->stamp / 1e7, (nearest->played - nearest->stamp) / 1e4);
    }
    std::fflush(stdout);
}

class LiveSoundBench : public CardTest {};

TEST_F(LiveSoundBench, DelayBehindThePictureWhileTheCardsSoundDrifts)
{
    const DWORD ppm = BenchSetting("FERNWOOD_LIVE_SOUND_PPM", 100);
    const DWORD minutes = BenchSetting("FERNWOOD_LIVE_MINUTES", 30);
    Card().SetNumber(L"Audio0", L"ClockPpm", ppm);
    StartWithCard();
    IBaseFilter* renderer = SoundRenderer();
    ASSERT_NE(nullptr, renderer) << "no audio renderer in the viewer's graph";
    std::printf("live sound: the card's sound %lu ppm fast, previewing for %lu min\n", ppm, minutes);
    const double start = Now();
    std::vector<double> reports = {1, 10, static_cast<double>(minutes)};
    for (double report : reports) {
        // A report that falls on the end is the end's.
        if (report > minutes || (report == minutes && &report != &reports.back()))
            continue;
        PumpUntil([&] { return Now() - start >= report * 60000; }, static_cast<DWORD>(report * 60000 + 60000));
        PrintAt(Read(renderer), report);
    }
    const Heard h = Read(renderer);
    std::printf("live sound glitches: %ld dropped runs (longest %.1f ms), %ld inserted silences (longest %.1f ms), "
                "%ld underruns (longest %.1f ms), %zu clicks heard\n",
                h.glitches.dropped_runs, h.glitches.longest_drop / 1e4, h.glitches.silences,
                h.glitches.longest_silence / 1e4, h.glitches.underruns, h.glitches.longest_underrun / 1e4,
                h.clicks.size());
    std::fflush(stdout);
    renderer->Release();
}

}  // namespace
