// The audio source's signal, without any Windows API: a 1 kHz tone in
// 16-bit stereo with a short full-scale click at the start of every flash
// period, so that the click lines up with the video's white flash frames.
#pragma once

#include <cstdint>
#include <vector>

namespace testcard {

const int kAudioChannels = 2;

// Stream time (100 ns) at which sample `index` starts.
int64_t SampleTime(uint64_t index, int rate);
// First sample of click `k` for a flash period in 100 ns units.
uint64_t ClickSample(uint64_t k, int rate, int64_t flash_period_100ns);
// Samples a click lasts (2 ms).
int ClickSamples(int rate);

// Fills `frames` interleaved stereo frames starting at sample `first`.
void RenderTone(int16_t* out, uint32_t frames, uint64_t first, int rate,
                int64_t flash_period_100ns);

// The same sound in `channels` (1 or 2) of 8- or 16-bit PCM, as a sound card
// delivers it in the format asked for: mono takes the left channel, 8-bit
// the top byte, unsigned.
void RenderPcm(uint8_t* out, uint32_t frames, uint64_t first, int rate, int channels, int bits,
               int64_t flash_period_100ns);

// Sample indices where a click starts in interleaved stereo 16-bit audio.
std::vector<uint64_t> FindClicks(const int16_t* samples, uint64_t frames);

}  // namespace testcard
