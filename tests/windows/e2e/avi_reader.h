// Reads what a test needs from an AVI file: the stream formats, the video
// frames and the audio bytes, with enough timing to place them in time.
#ifndef FERNWOODVIEW_AVI_READER_H
#define FERNWOODVIEW_AVI_READER_H

#include <windows.h>
#include <mmreg.h>

#include <cstdint>
#include <functional>
#include <string>

struct AviStreamTiming {
    uint32_t scale = 0;  // a stream's time unit is scale / rate seconds
    uint32_t rate = 0;
    uint32_t start = 0;  // in units, where the stream begins
};

struct AviSummary {
    bool valid = false;
    BITMAPINFOHEADER video{};
    WAVEFORMATEX audio{};
    bool has_audio = false;
    AviStreamTiming video_timing;
    AviStreamTiming audio_timing;
    int video_frames = 0;  // frames that hold a picture
    int video_slots = 0;   // also the empty chunks that stand for lost frames
    int audio_chunks = 0;
    uint64_t audio_bytes = 0;
};

// Calls `frame` with the bytes of every video frame in file order.
AviSummary ReadAvi(const std::string& path, const std::function<void(const uint8_t*, uint32_t)>& frame);

// Also calls `frame` with the headers read so far and the frame's slot on
// the stream's timeline (lost frames take a slot without a call), and
// `audio`, if given, with every audio chunk.
using AviFrameReader = std::function<void(const AviSummary& headers, int slot, const uint8_t*, uint32_t)>;
AviSummary ReadAviStreams(const std::string& path, const AviFrameReader& frame,
                          const std::function<void(const uint8_t*, uint32_t)>& audio);

#endif
