// Reads what a test needs from an AVI file: the stream formats and the video frames.
#ifndef FERNWOODVIEW_AVI_READER_H
#define FERNWOODVIEW_AVI_READER_H

#include <windows.h>
#include <mmreg.h>

#include <cstdint>
#include <functional>
#include <string>

struct AviSummary {
    bool valid = false;
    BITMAPINFOHEADER video{};
    WAVEFORMATEX audio{};
    bool has_audio = false;
    int video_frames = 0;
    int audio_chunks = 0;
};

// Calls `frame` with the bytes of every video frame in file order.
AviSummary ReadAvi(const std::string& path, const std::function<void(const uint8_t*, uint32_t)>& frame);

#endif
