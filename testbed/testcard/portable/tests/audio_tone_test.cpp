#include "testbed/testcard/portable/audio_tone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace testcard {
namespace {

std::vector<int16_t> Render(uint64_t first, uint32_t frames, int rate, int64_t period) {
  std::vector<int16_t> samples(2 * frames);
  RenderTone(samples.data(), frames, first, rate, period);
  return samples;
}

TEST(AudioTone, ClicksStartWithEachFlashPeriod) {
  const int64_t period = 60 * 166833;  // a flash every 60 frames at 59.94 fps
  // The first sample at or after k * 1.001 s: 44144.01 and 48047.90 round up.
  const struct {
    int rate;
    std::vector<uint64_t> clicks;
  } cases[] = {{44100, {0, 44145, 88289, 132433}}, {48000, {0, 48048, 96096, 144144}}};
  for (const auto& c : cases) {
    std::vector<int16_t> audio = Render(0, c.rate * 4, c.rate, period);
    EXPECT_EQ(c.clicks, FindClicks(audio.data(), c.rate * 4)) << c.rate;
    for (uint64_t k = 0; k < c.clicks.size(); ++k) EXPECT_EQ(c.clicks[k], ClickSample(k, c.rate, period));
  }
}

TEST(AudioTone, BlocksJoinSeamlesslyAndStereoChannelsMatch) {
  const int rate = 44100, block = 441;
  const int64_t period = 30 * 333667;
  std::vector<int16_t> whole = Render(0, block * 250, rate, period);
  for (int b = 0; b < 250; ++b) {
    std::vector<int16_t> piece = Render(static_cast<uint64_t>(b) * block, block, rate, period);
    ASSERT_TRUE(std::equal(piece.begin(), piece.end(), whole.begin() + 2 * b * block)) << b;
  }
  for (size_t i = 0; i < whole.size(); i += 2) ASSERT_EQ(whole[i], whole[i + 1]);
}

TEST(AudioTone, OtherFormatsCarryTheSameSound) {
  const int rate = 32000;
  const int64_t period = 60 * 166833;
  std::vector<int16_t> stereo = Render(100, 3000, rate, period);
  for (int channels : {1, 2}) {
    for (int bits : {8, 16}) {
      SCOPED_TRACE(testing::Message() << channels << " channels, " << bits << " bits");
      std::vector<uint8_t> out(3000 * channels * bits / 8);
      RenderPcm(out.data(), 3000, 100, rate, channels, bits, period);
      for (size_t frame = 0; frame < 3000; ++frame) {
        for (int c = 0; c < channels; ++c) {
          int16_t value = stereo[2 * frame + c];
          size_t i = frame * channels + c;
          if (bits == 8) {
            ASSERT_EQ((value >> 8) + 128, out[i]);
          } else {
            ASSERT_EQ(value, static_cast<int16_t>(out[2 * i] | out[2 * i + 1] << 8));
          }
        }
      }
    }
  }
}

TEST(AudioTone, ToneStaysBelowTheClickLevel) {
  std::vector<int16_t> audio = Render(1000, 20000, 48000, 10000000);
  int peak = 0;
  for (int16_t v : audio) peak = std::max(peak, std::abs(static_cast<int>(v)));
  EXPECT_GT(peak, 7000);
  EXPECT_LT(peak, 9000);
  EXPECT_TRUE(FindClicks(audio.data(), 20000).empty());
}

TEST(AudioTone, SampleTimesAreExact) {
  EXPECT_EQ(0, SampleTime(0, 48000));
  EXPECT_EQ(10000000, SampleTime(48000, 48000));
  EXPECT_EQ(100000, SampleTime(441, 44100));
  // Ten hours of audio still maps without overflow.
  EXPECT_EQ(360000LL * 10000000, SampleTime(44100ULL * 360000, 44100));
  EXPECT_EQ(96, ClickSamples(48000));
}

}  // namespace
}  // namespace testcard
