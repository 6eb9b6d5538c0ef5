#include "av_sync.h"

#include <algorithm>
#include <cmath>
#include <mmsystem.h>
#include <vector>

#include "testbed/standins/portable/fwrl_codec.h"
#include "testbed/testcard/portable/audio_tone.h"
#include "testbed/testcard/portable/test_pattern.h"

namespace {

double Seconds(const AviStreamTiming& timing, double units)
{
    return timing.rate ? units * timing.scale / timing.rate : 0;
}

// The UYVY picture of a frame: as it is, or decoded from the testbed's codec.
const uint8_t* UyvyPicture(const BITMAPINFOHEADER& v, const uint8_t* bytes, uint32_t size,
                           std::vector<uint8_t>* decoded)
{
    if (v.biCompression == MAKEFOURCC('U', 'Y', 'V', 'Y'))
        return bytes;
    fernwood::FwrlPicture picture;
    if (v.biCompression != MAKEFOURCC('F', 'W', 'R', 'L') || !fernwood::FwrlReadHeader(bytes, size, &picture) ||
        picture.layout != fernwood::FwrlLayout::kUyvy)
        return nullptr;
    fernwood::RawLayout layout;
    layout.stride = fernwood::FwrlRowBytes(picture);
    decoded->resize(layout.stride * static_cast<size_t>(picture.height));
    return fernwood::FwrlDecode(bytes, size, picture, decoded->data(), decoded->size(), layout) ? decoded->data()
                                                                                                : nullptr;
}

}  // namespace

AvSync MeasureAvSync(const std::string& path, AviSummary* summary)
{
    std::vector<double> flashes;
    std::vector<int16_t> samples;
    std::vector<uint8_t> decoded;
    AviSummary avi = ReadAviStreams(
        path,
        [&](const AviSummary& headers, int slot, const uint8_t* raw, uint32_t size) {
            const BITMAPINFOHEADER& v = headers.video;
            if (v.biWidth <= 0 || v.biHeight <= 0)
                return;
            const uint8_t* bytes = UyvyPicture(v, raw, size, &decoded);
            if (!bytes)
                return;
            if (bytes == decoded.data())
                size = static_cast<uint32_t>(decoded.size());
            testcard::FrameLayout layout{testcard::PixelFormat::kUyvy, v.biWidth, v.biHeight, false};
            if (size < testcard::FrameBytes(layout))
                return;
            // The bars fill the top five eighths; a flash turns them white.
            int luma = testcard::MeanLuma(bytes, layout, v.biWidth * 2, 0, 0, v.biWidth, v.biHeight * 5 / 8);
            if (luma > 200)
                flashes.push_back(Seconds(headers.video_timing, headers.video_timing.start + static_cast<double>(slot)));
        },
        [&](const uint8_t* bytes, uint32_t size) {
            const int16_t* pcm = reinterpret_cast<const int16_t*>(bytes);
            samples.insert(samples.end(), pcm, pcm + size / 2);
        });
    if (summary)
        *summary = avi;
    AvSync sync;
    sync.flashes = static_cast<int>(flashes.size());
    if (!avi.has_audio || avi.audio.wBitsPerSample != 16 || avi.audio.nChannels != 2 || !avi.audio.nSamplesPerSec)
        return sync;
    std::vector<uint64_t> clicks = testcard::FindClicks(samples.data(), samples.size() / 2);
    sync.clicks = static_cast<int>(clicks.size());
    double audio_start = Seconds(avi.audio_timing, avi.audio_timing.start);
    std::vector<double> offsets;
    for (uint64_t click : clicks) {
        double at = audio_start + static_cast<double>(click) / avi.audio.nSamplesPerSec;
        auto nearest = std::min_element(flashes.begin(), flashes.end(),
                                        [at](double a, double b) { return std::fabs(a - at) < std::fabs(b - at); });
        if (nearest != flashes.end() && std::fabs(*nearest - at) < 0.25)
            offsets.push_back((at - *nearest) * 1000);
    }
    sync.pairs = static_cast<int>(offsets.size());
    if (offsets.empty())
        return sync;
    std::sort(offsets.begin(), offsets.end());
    sync.median_ms = offsets[offsets.size() / 2];
    sync.min_ms = offsets.front();
    sync.max_ms = offsets.back();
    return sync;
}
