#include "testbed/testcard/portable/departure_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace testcard {
namespace {

FrameDeparture Departure(uint32_t n) { return {n, n % 2, 1000 + n, 2000 + n}; }

TEST(DepartureLog, KeepsTheLatestOldestFirstAcrossTheWrap) {
  DepartureLog log(4);
  FrameDeparture out[8] = {};
  EXPECT_EQ(0u, log.Latest(out, 8));
  for (uint32_t n = 0; n < 3; ++n) log.Add(Departure(n));
  ASSERT_EQ(3u, log.Latest(out, 8));
  EXPECT_EQ(0u, out[0].frame_number);
  EXPECT_EQ(2u, out[2].frame_number);
  for (uint32_t n = 3; n < 10; ++n) log.Add(Departure(n));
  ASSERT_EQ(4u, log.Latest(out, 8));
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(6 + i, out[i].frame_number);
    EXPECT_EQ(1006 + i, out[i].frame_end);
    EXPECT_EQ(2006 + i, out[i].delivered);
    EXPECT_EQ((6 + i) % 2, out[i].pin);
  }
  EXPECT_EQ(10u, log.Total());
}

TEST(DepartureLog, AShortBufferGetsTheNewestAndNothingIsWrittenPastIt) {
  DepartureLog log(8);
  for (uint32_t n = 0; n < 11; ++n) log.Add(Departure(n));
  FrameDeparture out[4];
  out[3].frame_number = 777;
  ASSERT_EQ(3u, log.Latest(out, 3));
  EXPECT_EQ(8u, out[0].frame_number);
  EXPECT_EQ(10u, out[2].frame_number);
  EXPECT_EQ(777u, out[3].frame_number);
  EXPECT_EQ(0u, log.Latest(nullptr, 3));
}

TEST(DepartureLog, ClearForgetsEverything) {
  DepartureLog log(4);
  for (uint32_t n = 0; n < 6; ++n) log.Add(Departure(n));
  log.Clear();
  FrameDeparture out[4];
  EXPECT_EQ(0u, log.Latest(out, 4));
  EXPECT_EQ(0u, log.Total());
  log.Add(Departure(42));
  ASSERT_EQ(1u, log.Latest(out, 4));
  EXPECT_EQ(42u, out[0].frame_number);
}

// A reader racing the writer sees whole entries in order, never torn ones.
// The writer waits for a read after each thousand entries, so the two overlap.
TEST(DepartureLog, AReaderDuringWritesSeesConsecutiveWholeEntries) {
  DepartureLog log(16);
  std::atomic<int> reads{0};
  std::thread writer([&] {
    for (uint32_t n = 0; n < 20000; ++n) {
      log.Add(Departure(n));
      if (n % 1000 != 999 || n + 1 == 20000) continue;
      for (int seen = reads.load(); reads.load() == seen;) std::this_thread::yield();
    }
  });
  FrameDeparture out[16];
  bool ordered = true;
  int overlapping = 0;
  while (log.Total() < 20000) {
    size_t got = log.Latest(out, 16);
    for (size_t i = 0; i < got; ++i) {
      ordered = ordered && out[i].frame_end == 1000 + out[i].frame_number &&
                out[i].delivered == 2000 + out[i].frame_number;
      if (i > 0) ordered = ordered && out[i].frame_number == out[i - 1].frame_number + 1;
    }
    if (got > 1) ++overlapping;
    ++reads;
  }
  writer.join();
  EXPECT_TRUE(ordered);
  EXPECT_GE(overlapping, 19) << "reads that saw entries while the writer ran";
}

}  // namespace
}  // namespace testcard
