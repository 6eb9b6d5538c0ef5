#include "testbed/testcard/portable/card_clock.h"
#include "testbed/testcard/portable/frame_clock.h"

#include <gtest/gtest.h>

namespace testcard {
namespace {

const int64_t kT = 166833;

TEST(FrameClock, FramesTileTheStreamWithoutDrift) {
  FrameTimes first = TimesOfFrame(0, kT);
  EXPECT_EQ(0, first.start);
  EXPECT_EQ(kT, first.stop);
  // An hour at 59.94 fps: frame n still starts at exactly n * interval.
  FrameTimes late = TimesOfFrame(215784, kT);
  EXPECT_EQ(215784LL * kT, late.start);
  EXPECT_EQ(TimesOfFrame(215785, kT).start, late.stop);
}

TEST(FrameClock, StartAndResumePickUpThePendingFrame) {
  EXPECT_EQ(0u, FirstPendingFrame(-2000000, kT));
  EXPECT_EQ(0u, FirstPendingFrame(kT - 1, kT));
  EXPECT_EQ(1u, FirstPendingFrame(kT, kT));
  EXPECT_EQ(60u, FirstPendingFrame(60 * kT + 5, kT));
}

TEST(FrameClock, LateWakeUpsDeliverWhatTheBufferHoldsAndCountTheRest) {
  // On time or less than a frame late: just the frame that was due.
  CatchUp on_time = CatchUpAt(5, 6 * kT, kT, 4);
  EXPECT_EQ(5u, on_time.first);
  EXPECT_EQ(5u, on_time.last);
  EXPECT_EQ(0u, on_time.missed);
  CatchUp slightly = CatchUpAt(5, 7 * kT - 1, kT, 4);
  EXPECT_EQ(5u, slightly.last);
  EXPECT_EQ(0u, slightly.missed);
  // Frames 5, 6 and 7 ended while asleep: all still buffered.
  CatchUp late = CatchUpAt(5, 8 * kT + 10, kT, 4);
  EXPECT_EQ(5u, late.first);
  EXPECT_EQ(7u, late.last);
  EXPECT_EQ(0u, late.missed);
  // Frames 5 to 14 ended: the four newest survive, six are lost.
  CatchUp very_late = CatchUpAt(5, 15 * kT, kT, 4);
  EXPECT_EQ(11u, very_late.first);
  EXPECT_EQ(14u, very_late.last);
  EXPECT_EQ(6u, very_late.missed);
  // Without a buffer only the newest frame survives.
  CatchUp unbuffered = CatchUpAt(5, 8 * kT, kT, 0);
  EXPECT_EQ(7u, unbuffered.first);
  EXPECT_EQ(2u, unbuffered.missed);
}

TEST(CardClock, AFastOrSlowCrystalStretchesStreamTime) {
  EXPECT_EQ(123456789, CardClock(0).ToStream(123456789));
  EXPECT_EQ(123456789, CardClock(0).ToCard(123456789));
  // 1000 ppm fast: a second and a millisecond of card time in one second.
  EXPECT_EQ(10010000, CardClock(1000).ToCard(10000000));
  EXPECT_EQ(10000000, CardClock(1000).ToStream(10010000));
  EXPECT_EQ(9990000, CardClock(-1000).ToCard(10000000));
  EXPECT_EQ(10000000, CardClock(-1000).ToStream(9990000));
  // 100 ppm over an hour: 0.36 s.
  EXPECT_EQ(36003600000, CardClock(100).ToCard(36000000000));
  EXPECT_EQ(100000, CardClock(250000).Ppm());
  EXPECT_EQ(-100000, CardClock(-250000).Ppm());
  for (int32_t ppm : {1000, -1000, 37, -99999}) {
    CardClock clock(ppm);
    int64_t previous = clock.ToStream(0);
    for (int64_t card = 1; card < 20000; card += 7) {
      int64_t stream = clock.ToStream(card);
      EXPECT_GE(stream, previous) << ppm << " " << card;
      EXPECT_GE(clock.ToCard(stream), card) << ppm << " " << card;
      EXPECT_LT(clock.ToCard(stream - 1), card) << ppm << " " << card;
      previous = stream;
    }
  }
}

}  // namespace
}  // namespace testcard
