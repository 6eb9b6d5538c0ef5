#include "testbed/testcard/portable/frame_clock.h"

namespace testcard {

FrameTimes TimesOfFrame(uint64_t frame, int64_t interval) {
  int64_t start = static_cast<int64_t>(frame) * interval;
  return {start, start + interval};
}

uint64_t FirstPendingFrame(int64_t now, int64_t interval) {
  if (now < 0 || interval <= 0) return 0;
  return static_cast<uint64_t>(now / interval);
}

CatchUp CatchUpAt(uint64_t next, int64_t now, int64_t interval, uint64_t buffered) {
  uint64_t pending = FirstPendingFrame(now, interval);
  // The newest complete frame is the one before the pending one.
  uint64_t newest = pending > next + 1 ? pending - 1 : next;
  if (buffered == 0) buffered = 1;
  uint64_t oldest_kept = newest + 1 > buffered ? newest + 1 - buffered : 0;
  uint64_t first = oldest_kept > next ? oldest_kept : next;
  return {first, newest, first - next};
}

}  // namespace testcard
