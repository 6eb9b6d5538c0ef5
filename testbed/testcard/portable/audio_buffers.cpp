#include "testbed/testcard/portable/audio_buffers.h"

#include "testbed/testcard/portable/audio_tone.h"

namespace testcard {

uint32_t BufferFrames(long bytes_per_second, int bytes_per_frame, long suggested_bytes) {
  if (bytes_per_second <= 0 || bytes_per_frame <= 0) return 0;
  long bytes = suggested_bytes > 0
                   ? suggested_bytes
                   : static_cast<long>(bytes_per_second * kDefaultBufferTime / 10000000);
  long unit = bytes_per_frame % 2 == 0 ? bytes_per_frame : 2 * bytes_per_frame;
  long units = bytes / unit;
  if (units < 1) return 1u;
  return static_cast<uint32_t>(units * unit / bytes_per_frame);
}

int64_t BufferEnd(uint64_t buffer, uint32_t frames, int rate) {
  return SampleTime((buffer + 1) * frames, rate);
}

uint64_t FirstPendingBuffer(int64_t now, uint32_t frames, int rate) {
  if (now <= 0 || frames == 0 || rate <= 0) return 0;
  // Samples complete at `now`, split to stay within 64 bits for days of audio.
  uint64_t ticks = static_cast<uint64_t>(now);
  uint64_t samples = ticks / 10000000 * rate + ticks % 10000000 * rate / 10000000;
  uint64_t buffer = samples / frames;
  // SampleTime rounds down, so the estimate can be one off either way.
  while (buffer > 0 && BufferEnd(buffer - 1, frames, rate) > now) --buffer;
  while (BufferEnd(buffer, frames, rate) <= now) ++buffer;
  return buffer;
}

long DefaultBufferCount(uint32_t frames, int rate) {
  (void)frames;
  (void)rate;
  return 4;
}

}  // namespace testcard
