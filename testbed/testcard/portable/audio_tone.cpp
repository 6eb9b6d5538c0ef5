#include "testbed/testcard/portable/audio_tone.h"

#include <cmath>

namespace testcard {
namespace {

const double kPi = 3.14159265358979323846;
const double kToneHz = 1000.0;
const double kToneAmplitude = 8000.0;
const int16_t kClickLevel = 30000;
// Well above the tone, well below the click.
const int kClickThreshold = 20000;

// Index of the click whose period contains sample `index`.
uint64_t ClickBefore(uint64_t index, int rate, int64_t period) {
  // k * period * rate / 1e7 <= index, computed without overflow for hours of audio.
  uint64_t k = static_cast<uint64_t>(static_cast<double>(index) * 1e7 /
                                     (static_cast<double>(period) * rate));
  while (k > 0 && ClickSample(k, rate, period) > index) --k;
  while (ClickSample(k + 1, rate, period) <= index) ++k;
  return k;
}

}  // namespace

int64_t SampleTime(uint64_t index, int rate) {
  uint64_t seconds = index / rate;
  uint64_t rest = index % rate;
  return static_cast<int64_t>(seconds * 10000000 + rest * 10000000 / rate);
}

uint64_t ClickSample(uint64_t k, int rate, int64_t flash_period_100ns) {
  // Rounded up, so the click never starts before the flash frame does.
  uint64_t ticks = k * static_cast<uint64_t>(flash_period_100ns);
  uint64_t seconds = ticks / 10000000, rest = ticks % 10000000;
  return seconds * rate + (rest * rate + 9999999) / 10000000;
}

int ClickSamples(int rate) { return rate / 500; }

void RenderTone(int16_t* out, uint32_t frames, uint64_t first, int rate,
                int64_t flash_period_100ns) {
  if (rate <= 0) return;
  uint64_t k = flash_period_100ns > 0 ? ClickBefore(first, rate, flash_period_100ns) : 0;
  for (uint32_t i = 0; i < frames; ++i) {
    uint64_t index = first + i;
    if (flash_period_100ns > 0 && ClickSample(k + 1, rate, flash_period_100ns) <= index) ++k;
    uint64_t since_click = index - ClickSample(k, rate, flash_period_100ns);
    int16_t value;
    if (flash_period_100ns > 0 && since_click < static_cast<uint64_t>(ClickSamples(rate))) {
      value = since_click % 2 == 0 ? kClickLevel : static_cast<int16_t>(-kClickLevel);
    } else {
      double phase = 2.0 * kPi * kToneHz * static_cast<double>(index % rate) / rate;
      value = static_cast<int16_t>(std::lround(kToneAmplitude * std::sin(phase)));
    }
    out[2 * i] = value;
    out[2 * i + 1] = value;
  }
}

void RenderPcm(uint8_t* out, uint32_t frames, uint64_t first, int rate, int channels, int bits,
               int64_t flash_period_100ns) {
  std::vector<int16_t> stereo(2 * static_cast<size_t>(frames));
  RenderTone(stereo.data(), frames, first, rate, flash_period_100ns);
  const size_t values = static_cast<size_t>(frames) * channels;
  for (size_t i = 0; i < values; ++i) {
    int16_t value = stereo[channels == 2 ? i : 2 * i];
    if (bits == 8) {
      out[i] = static_cast<uint8_t>((value >> 8) + 128);
    } else {
      out[2 * i] = static_cast<uint8_t>(value & 0xff);
      out[2 * i + 1] = static_cast<uint8_t>((value >> 8) & 0xff);
    }
  }
}

std::vector<uint64_t> FindClicks(const int16_t* samples, uint64_t frames) {
  std::vector<uint64_t> starts;
  bool in_click = false;
  uint64_t quiet = 0;
  for (uint64_t i = 0; i < frames; ++i) {
    int v = samples[2 * i];
    bool loud = v > kClickThreshold || v < -kClickThreshold;
    if (loud && !in_click) starts.push_back(i);
    if (loud) {
      in_click = true;
      quiet = 0;
    } else if (in_click && ++quiet > 16) {
      in_click = false;
    }
  }
  return starts;
}

}  // namespace testcard
