#include "audio_playout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "testbed/testcard/portable/audio_tone.h"

namespace fernwood::playout {
namespace {

std::vector<uint8_t> Frames(uint32_t count, uint8_t first) {
  std::vector<uint8_t> v(count * 4);
  for (uint32_t i = 0; i < count; ++i)
    for (int b = 0; b < 4; ++b) v[i * 4 + b] = static_cast<uint8_t>(first + i);
  return v;
}

TEST(PcmRing, WrapsAroundAndPlaysSilenceWhenEmpty) {
  PcmRing ring(10, 4, 1000, 0);
  const auto a = Frames(7, 1), b = Frames(7, 20);
  EXPECT_EQ(ring.Write(a.data(), 7, 0), 7u);
  EXPECT_EQ(ring.Free(), 3u);
  std::vector<uint8_t> out(5 * 4);
  EXPECT_EQ(ring.Read(out.data(), 5), 5u);
  EXPECT_EQ(out[4 * 4], 5);
  // Full: only what fits is taken, across the end of the ring.
  EXPECT_EQ(ring.Write(b.data(), 7, 7000000), 7u);
  EXPECT_EQ(ring.Write(b.data(), 7, 0), 1u);
  EXPECT_EQ(ring.Queued(), 10u);
  out.assign(12 * 4, 0xEE);
  EXPECT_EQ(ring.Read(out.data(), 12), 10u);
  const uint8_t expected[] = {6, 7, 20, 21, 22, 23, 24, 25, 26, 20, 0, 0};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(out[i * 4 + 3], expected[i]) << i;
  EXPECT_EQ(ring.Queued(), 0u);
  EXPECT_EQ(ring.ReadPosition(), 15u);
}

TEST(PcmRing, StampsEveryFrameFromItsWrite) {
  PcmRing ring(100, 4, 1000, 0x80);
  const auto a = Frames(10, 0);
  ring.Write(a.data(), 10, 5000000);
  ring.WriteSilence(5);
  ring.Write(a.data(), 10, 9000000);
  EXPECT_EQ(ring.StampAt(0), 5000000);
  EXPECT_EQ(ring.StampAt(9), 5000000 + 9 * 10000);
  EXPECT_EQ(ring.StampAt(12), kNoStamp);
  EXPECT_EQ(ring.StampAt(16), 9000000 + 10000);
  EXPECT_EQ(ring.StampAt(25), kNoStamp);  // not written
  std::vector<uint8_t> out(20 * 4);
  ring.Read(out.data(), 20);
  EXPECT_EQ(out[12 * 4], 0x80);
  EXPECT_EQ(ring.StampAt(20), 9000000 + 5 * 10000);
  EXPECT_EQ(ring.StampAt(3), 5000000 + 3 * 10000);  // just played
  ring.Clear();
  EXPECT_EQ(ring.Queued(), 0u);
  EXPECT_EQ(ring.StampAt(0), kNoStamp);
}

TEST(PlayPosition, KeepsTheFractionOfAFrameAndFollowsRateChanges) {
  PlayPosition p;
  p.Start(0, 48000);
  uint64_t total = 0;
  for (int64_t t = 1; t <= 4000; ++t) total += p.Advance(t * 2500);  // 5.33 frames a step
  EXPECT_EQ(total, 48000u);
  p.SetRate(kUnitsPerSecond, 48000 * 1.01);
  total += p.Advance(2 * kUnitsPerSecond);
  EXPECT_EQ(total, 48000u + 48480u);
  EXPECT_EQ(p.Advance(0), 0u);  // time never runs back
}

TEST(Decide, MatchesRatesWithinTheToleranceAndCorrectsPastIt) {
  SlaveSettings s;
  s.tolerance = 400000;  // 40 ms
  Decision d = Decide(50000, 480, 48000, s);  // 5 ms late: play faster
  EXPECT_EQ(d.kind, Decision::kPlay);
  EXPECT_DOUBLE_EQ(d.rate_adjust, 0.005);
  d = Decide(-50000, 480, 48000, s);
  EXPECT_DOUBLE_EQ(d.rate_adjust, -0.005);
  d = Decide(390000, 480, 48000, s);
  EXPECT_DOUBLE_EQ(d.rate_adjust, 0.01);  // the range's end
  d = Decide(500000, 4800, 48000, s);     // 50 ms late: its first 50 ms go
  EXPECT_EQ(d.kind, Decision::kDrop);
  EXPECT_EQ(d.frames, 2400u);
  d = Decide(500000, 480, 48000, s);      // never more than the buffer
  EXPECT_EQ(d.frames, 480u);
  d = Decide(-600000, 480, 48000, s);     // 60 ms early: 60 ms of silence first
  EXPECT_EQ(d.kind, Decision::kInsertSilence);
  EXPECT_EQ(d.frames, 2880u);
  EXPECT_EQ(Decide(400000, 480, 48000, s).kind, Decision::kPlay);
}

TEST(ClickDetector, FindsTheCardsClicksWhereTheCardsReaderDoes) {
  const int rate = 48000;
  const int64_t period = 60 * 166833;
  const uint32_t frames = rate * 3;
  std::vector<int16_t> pcm(frames * 2);
  testcard::RenderTone(pcm.data(), frames, 1000, rate, period);
  const auto expected = testcard::FindClicks(pcm.data(), frames);
  ASSERT_GE(expected.size(), 2u);
  for (int bits : {16, 8}) {
    std::vector<uint8_t> layout(frames * 2 * (bits / 8));
    testcard::RenderPcm(layout.data(), frames, 1000, rate, 2, bits, period);
    ClickDetector detector;
    std::vector<uint64_t> found;
    for (uint32_t i = 0; i < frames; ++i)
      if (detector.Feed(LeftSample(&layout[i * 2 * (bits / 8)], bits))) found.push_back(i);
    EXPECT_EQ(found, expected) << bits;
  }
}

}  // namespace
}  // namespace fernwood::playout
