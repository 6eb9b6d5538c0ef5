// The card's own time stamps and the sound's buffers, as they leave the
// device's capture pins: a graph of the check's own (each pin into a Sample
// Grabber and a Null Renderer), run after the viewer's trial, since watching
// inside the viewer's graph would change it.
#ifndef FERNWOOD_CHECK_STAMP_PROBE_H
#define FERNWOOD_CHECK_STAMP_PROBE_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct StampProbe {
    std::vector<std::string> calls;  // "call: 0x…"
    bool ran = false;
    std::vector<int64_t> video_starts;  // 100 ns, in arrival order
    int video_unstamped = 0;
    std::vector<int64_t> audio_starts;
    std::vector<long> audio_sizes;  // bytes
    int64_t nominal_interval = 0;   // the format the viewer's choice set
    long audio_bytes_per_second = 0;
};

// COM initialised on the calling thread; `audio` -1 for none.
StampProbe ProbeStamps(int video, int audio, int height, double seconds);

#endif
