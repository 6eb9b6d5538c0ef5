#include "testbed/testcard/portable/stream_control.h"

#include <gtest/gtest.h>

namespace testcard {
namespace {

TEST(StreamControl, UnaskedPinDeliversEverything) {
  StreamControl control;
  for (int64_t t = 0; t < 10; ++t) {
    StreamVerdict v = control.Admit(t * 10, t * 10 + 10);
    EXPECT_TRUE(v.deliver);
    EXPECT_FALSE(v.started || v.stopped);
  }
  EXPECT_FALSE(control.Info().discarding);
}

TEST(StreamControl, StartAndStopTimesBracketTheDeliveredSamples) {
  StreamControl control;
  control.StartAt(25, 7);
  control.StopAt(60, false, 9);
  const StreamControlInfo info = control.Info();
  EXPECT_TRUE(info.start_defined && info.stop_defined && info.discarding);
  EXPECT_EQ(25, info.start);
  EXPECT_EQ(60, info.stop);
  bool delivered[10] = {};
  for (int64_t t = 0; t < 10; ++t) {
    StreamVerdict v = control.Admit(t * 10, t * 10 + 10);
    delivered[t] = v.deliver;
    // The sample reaching the start time starts the flow; the first one at the stop time ends it.
    EXPECT_EQ(t == 2, v.started);
    EXPECT_EQ(t == 6, v.stopped);
    if (v.started) {
      EXPECT_EQ(7u, v.start_cookie);
    }
    if (v.stopped) {
      EXPECT_EQ(9u, v.stop_cookie);
    }
  }
  const bool expected[10] = {false, false, true, true, true, true, false, false, false, false};
  for (int t = 0; t < 10; ++t) EXPECT_EQ(expected[t], delivered[t]) << t;
  EXPECT_TRUE(control.Info().discarding);
  EXPECT_FALSE(control.Info().start_defined || control.Info().stop_defined);
}

TEST(StreamControl, SendExtraDeliversOneSampleBeyondTheStop) {
  StreamControl control;
  control.StopAt(30, true, 1);
  EXPECT_TRUE(control.Info().send_extra);
  bool delivered[6] = {};
  for (int64_t t = 0; t < 6; ++t) delivered[t] = control.Admit(t * 10, t * 10 + 10).deliver;
  const bool expected[6] = {true, true, true, true, false, false};
  for (int t = 0; t < 6; ++t) EXPECT_EQ(expected[t], delivered[t]) << t;
}

TEST(StreamControl, NowAndCancelTimes) {
  StreamControl control;
  control.StopAt(kNow, false, 3);
  StreamVerdict v = control.Admit(100, 110);
  EXPECT_FALSE(v.deliver);
  EXPECT_TRUE(v.stopped);
  control.StartAt(500, 4);
  control.StartAt(kCancelTime, 0);
  EXPECT_FALSE(control.Info().start_defined);
  EXPECT_FALSE(control.Admit(600, 610).deliver);
  control.StartAt(kNow, 5);
  v = control.Admit(620, 630);
  EXPECT_TRUE(v.deliver && v.started);
  EXPECT_EQ(5u, v.start_cookie);
  control.StopAt(700, false, 6);
  control.StopAt(kCancelTime, false, 0);
  EXPECT_TRUE(control.Admit(800, 810).deliver);
}

}  // namespace
}  // namespace testcard
