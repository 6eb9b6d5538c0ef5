// The graph's reference clock, chosen before every run.
//
// Left to itself the filter graph manager takes a live source's clock, and
// when no source has one the clock of a renderer ("Reference Clocks" in the
// DirectShow documentation): here the audio renderer's. An audio renderer
// that is the graph's clock never matches rates; it is in step with the
// clock by definition ("IAMClockSlave::SetErrorTolerance"), so it plays the
// card's sound at its own sound card's pace, and a card whose crystal runs
// 100 ppm fast puts its sound 0.36 s further behind the picture every hour.
// Against any other clock the renderer matches rates: it plays each buffer
// at its time stamp, the capture time on the graph's clock, and drops or
// pads within its tolerance, which is left at its default, as the
// IAMClockSlave documentation advises. So the graph runs on a capture
// device's own clock when it has one (then the sound's stamps count on the
// card's crystal), else on the system clock, never on the renderer's.
//
// The system clock is made once and kept: each clock let go while its
// advise thread is between two waits can hang its final Release under
// Wine (the thread misses the wake-up and sleeps on), and the old clock's
// last reference goes inside SetSyncSource, on the window's thread.
#include "capture/capture_graph.h"
#include "capture/graph_trace.h"

static IReferenceClock* ClockOf(IBaseFilter* filter)
{
    IReferenceClock* clock = nullptr;
    if (filter && filter->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&clock)) != S_OK)
        clock = nullptr;
    return clock;
}

// The process's one system clock, with a reference for the caller; null if
// it cannot be made.
static IReferenceClock* SystemClock()
{
    CaptureGraph& g = capture_graph;
    if (!g.system_clock && FAILED(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                                                   IID_IReferenceClock, reinterpret_cast<void**>(&g.system_clock))))
        g.system_clock = nullptr;
    if (g.system_clock)
        g.system_clock->AddRef();
    return g.system_clock;
}

void ChooseGraphClock()
{
    CaptureGraph& g = capture_graph;
    OAFilterState state = State_Running;
    IMediaFilter* media = nullptr;
    // The clock is the graph's to change only while it is stopped.
    if (!g.media_control || FAILED(g.media_control->GetState(0, &state)) || state != State_Stopped ||
        g.graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&media)) != S_OK)
        return;
    IReferenceClock* clock = ClockOf(g.audio_capture);
    if (!clock)
        clock = ClockOf(g.video_capture);
    if (!clock)
        clock = SystemClock();
    IReferenceClock* current = nullptr;
    if (media->GetSyncSource(&current) != S_OK)
        current = nullptr;
    // Without any clock the graph's own choice stands.
    if (clock && clock != current)
        Traced("IMediaFilter::SetSyncSource", media->SetSyncSource(clock));
    SafeRelease(current);
    SafeRelease(clock);
    media->Release();
}
