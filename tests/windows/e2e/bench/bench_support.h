// Shared by the benchmarks that measure what a user feels: figures summed
// up as medians and 95th percentiles, the graph's clock, the card's record
// of when its frames left it, and the CPU time of this process's threads.
#ifndef FERNWOODVIEW_BENCH_SUPPORT_H
#define FERNWOODVIEW_BENCH_SUPPORT_H

#include <windows.h>
#include <dshow.h>

#include <cstdint>
#include <string>
#include <vector>

#include "card_harness.h"
#include "testbed/standins/audio_renderer_stats.h"
#include "testbed/testcard/testcard_ids.h"

class BenchTest : public CardTest {
protected:
    // The viewer on the card in `format` and, unless 0, render `mode`; a
    // 1080-line picture at half size, as a 1080-line window would not fit
    // the screen.
    void StartShowing(UINT format, UINT mode = 0);
};

struct Summary {
    size_t count = 0;
    double median = 0, p95 = 0, min = 0, max = 0;
};
Summary Summarize(std::vector<double> values);
// "median 12.3, p95 20.1 (min .. max, n)" with the unit after each figure.
std::string Describe(const Summary& s, const char* unit);

// A positive number from the environment, or the fallback.
DWORD BenchSetting(const char* name, DWORD fallback);

// The viewer graph's reference clock now (100 ns), 0 without one.
REFERENCE_TIME GraphNow();
// Milliseconds on the performance counter.
double Now();

// The card's latest departures (oldest first) and its streaming thread.
std::vector<testcard::TestCardFrameDeparture> CardDepartures(LONG size = 4096);
DWORD CardStreamingThread();
// The departure of frame `number` from the pin that feeds the preview, or false.
bool FindDeparture(const std::vector<testcard::TestCardFrameDeparture>& departures, uint32_t number,
                   testcard::TestCardFrameDeparture* found);

// What the audio renderer stand-in in the viewer's graph has played of the
// card's clicks since its graph last ran; empty without the stand-in.
struct HeardSound {
    std::vector<fernwood::HeardClick> clicks;
    fernwood::RendererGlitches glitches{};
};
HeardSound ReadHeardSound();
// "12.3 ms behind the picture (click stamped 61.234 s)" for the click
// stamped nearest `at` (stream time), or "no click heard".
std::string DescribeDelayAt(const HeardSound& heard, REFERENCE_TIME at);

// Reads the frame number off the screen from the band rows of the window's
// client area only (the reader looks at nothing else), which is quick enough
// to sample faster than the frame rate.
bool GrabFrameNumber(HWND window, uint32_t* number);

// CPU time (100 ns) of each thread of this process, with what is known of it.
struct ThreadCpu {
    DWORD id = 0;
    std::string name;  // description, else the module of the start address
    ULONGLONG cpu = 0;
};
std::vector<ThreadCpu> SnapshotThreads();
ULONGLONG ProcessCpu();
ULONGLONG ThisThreadCpu();

// Prints, per thread, the share of one core used between the snapshots
// over `seconds`, largest first, with the card's streaming thread named.
void PrintThreadShares(const std::vector<ThreadCpu>& before, const std::vector<ThreadCpu>& after, double seconds,
                       DWORD card_thread);

#endif
