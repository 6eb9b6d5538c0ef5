#include "testbed/testcard/portable/audio_buffers.h"
#include <gtest/gtest.h>


namespace testcard {
namespace {

TEST(AudioBuffers, HalfASecondUnlessASizeIsSuggested) {
  EXPECT_EQ(24000u, BufferFrames(48000 * 4, 4, -1));
  EXPECT_EQ(22050u, BufferFrames(44100 * 4, 4, 0));
  EXPECT_EQ(4000u, BufferFrames(8000 * 4, 4, -1));
  // Half of what the type says a second takes, even when the type is wrong.
  EXPECT_EQ(62u, BufferFrames(127, 1, -1));
  // Rounded down to whole sample frames and even bytes, never below one frame.
  EXPECT_EQ(441u, BufferFrames(44100 * 4, 4, 1764));
  EXPECT_EQ(441u, BufferFrames(44100 * 4, 4, 1767));
  EXPECT_EQ(16000u, BufferFrames(32000, 1, 16001));
  EXPECT_EQ(8000u, BufferFrames(64000, 2, 16001));
  EXPECT_EQ(1u, BufferFrames(48000 * 4, 4, 3));
  EXPECT_EQ(0u, BufferFrames(0, 4, 100));
}

TEST(AudioBuffers, BuffersTileTheStreamBySamplePosition) {
  // 1102 frames at 44.1 kHz is not a whole number of 100 ns units: each
  // buffer ends where its last sample does, without accumulating rounding.
  const uint32_t f = 1102;
  EXPECT_EQ(249886, BufferEnd(0, f, 44100));  // 249886.6 rounded down
  EXPECT_EQ(499773, BufferEnd(1, f, 44100));
  EXPECT_EQ(249886621, BufferEnd(999, f, 44100));
  EXPECT_EQ(899592086621LL, BufferEnd(3600000, f, 44100));  // 4.6 days, no overflow
  EXPECT_EQ(5000000, BufferEnd(0, 24000, 48000));
  EXPECT_EQ(36000000000LL, BufferEnd(7199, 24000, 48000));  // an hour, exactly
}

TEST(AudioBuffers, PendingBufferIsTheFirstNotYetEnded) {
  const uint32_t f = 1102;
  EXPECT_EQ(0u, FirstPendingBuffer(-5, f, 44100));
  EXPECT_EQ(0u, FirstPendingBuffer(0, f, 44100));
  const struct {
    uint64_t buffer;
    int64_t end;
  } ends[] = {{0, 249886}, {1, 499773}, {17, 4497959}, {123456, 30850252607LL}};
  for (const auto& e : ends) {
    EXPECT_EQ(e.buffer, FirstPendingBuffer(e.end - 1, f, 44100));
    EXPECT_EQ(e.buffer + 1, FirstPendingBuffer(e.end, f, 44100));
  }
  EXPECT_EQ(2u, FirstPendingBuffer(10000000, 24000, 48000));
}

TEST(AudioBuffers, DefaultPoolIsFourBuffersWhateverTheirSize) {
  EXPECT_EQ(4, DefaultBufferCount(24000, 48000));
  EXPECT_EQ(4, DefaultBufferCount(480, 48000));
  EXPECT_EQ(4, DefaultBufferCount(62, 32000));
  EXPECT_EQ(4, DefaultBufferCount(96000, 48000));
}

}  // namespace
}  // namespace testcard
