// How the audio source cuts its samples into buffers: half a second each
// unless the application suggested a size (IAMBufferNegotiation), and when
// each buffer is complete on the stream's clock.
#pragma once

#include <cstdint>

namespace testcard {

// What the platform's audio capture filter uses when nobody asks otherwise.
const int64_t kDefaultBufferTime = 5000000;  // 0.5 s in 100 ns units

// Sample frames per buffer: the suggested size in bytes, or half of the
// type's bytes per second when the suggested size is not positive, rounded
// down to whole frames and an even number of bytes (at least one frame), as
// Windows' audio capture filter cuts them (Wine's Windows-validated
// audiorecord.c, test_source_allocator).
uint32_t BufferFrames(long bytes_per_second, int bytes_per_frame, long suggested_bytes);

// Stream time (100 ns) at which buffer k, samples [k F, (k + 1) F), ends.
int64_t BufferEnd(uint64_t buffer, uint32_t frames, int rate);

// The first buffer not complete at stream time `now`.
uint64_t FirstPendingBuffer(int64_t now, uint32_t frames, int rate);

// Buffers in the pool when the application did not ask for a number: four,
// whatever their size, as Windows' audio capture filter keeps (Wine's
// Windows-validated audiorecord.c: for buffers of 0.5 s, 1 s and 2 ms alike).
long DefaultBufferCount(uint32_t frames, int rate);

}  // namespace testcard
