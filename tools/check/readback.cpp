#include "readback.h"

#include <windows.h>
#include <mmsystem.h>

#include <vector>

#include "av_sync.h"
#include "avi_reader.h"
#include "testbed/testcard/portable/test_pattern.h"

namespace {

uint64_t FileBytes(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes))
        return 0;
    return static_cast<uint64_t>(attributes.nFileSizeHigh) << 32 | attributes.nFileSizeLow;
}

}  // namespace

bool ReadBack(const std::string& path, fernwood_check::Measurement* m)
{
    std::vector<uint32_t> numbers;
    int unreadable = 0;
    AviSummary avi = ReadAviStreams(
        path,
        [&](const AviSummary& headers, int, const uint8_t* bytes, uint32_t size) {
            const BITMAPINFOHEADER& v = headers.video;
            testcard::FrameLayout layout{testcard::PixelFormat::kUyvy, v.biWidth, v.biHeight, false};
            uint32_t number = 0;
            if (v.biCompression == MAKEFOURCC('U', 'Y', 'V', 'Y') && v.biWidth > 0 && v.biHeight > 0 &&
                size >= testcard::FrameBytes(layout) && testcard::ReadFrameNumber(bytes, layout, v.biWidth * 2, &number))
                numbers.push_back(number);
            else
                ++unreadable;
        },
        nullptr);
    m->file_bytes = FileBytes(path);
    if (!avi.valid || avi.video.biCompression != MAKEFOURCC('U', 'Y', 'V', 'Y') || !avi.video_timing.rate)
        return false;
    m->file_read = true;
    m->frames = fernwood_check::TallyFrames(numbers);
    m->unreadable_frames = unreadable;
    m->file_seconds = static_cast<double>(avi.video_slots) * avi.video_timing.scale / avi.video_timing.rate;
    double frames_per_second = 1e7 / static_cast<double>(m->format.frame_interval);
    m->stream_bytes_per_second = static_cast<double>(avi.video.biWidth) * avi.video.biHeight * 2 * frames_per_second;

    AvSync sync = MeasureAvSync(path, &avi);
    m->has_audio = avi.has_audio && avi.audio_bytes > 0;
    if (avi.has_audio)
        m->stream_bytes_per_second += avi.audio.nAvgBytesPerSec;
    m->flashes = sync.flashes;
    m->clicks = sync.clicks;
    m->pairs = sync.pairs;
    m->offset_median_ms = sync.median_ms;
    m->offset_min_ms = sync.min_ms;
    m->offset_max_ms = sync.max_ms;
    return true;
}
