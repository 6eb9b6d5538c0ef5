// Which frame a live source delivers when its thread wakes, and which it
// lost. Frame n covers stream time [n * interval, (n + 1) * interval) and
// can be delivered once that interval has ended.
#pragma once

#include <cstdint>

namespace testcard {

struct FrameTimes {
  int64_t start;
  int64_t stop;
};

FrameTimes TimesOfFrame(uint64_t frame, int64_t interval);

// The first frame not yet complete at stream time `now` (where a stream
// that starts or resumes picks up).
uint64_t FirstPendingFrame(int64_t now, int64_t interval);

struct CatchUp {
  // Frames to deliver now, oldest first: [first, last].
  uint64_t first;
  uint64_t last;
  // Frames before `first`, from `next` on, that are lost: the thread woke
  // later than the card's buffer reaches back.
  uint64_t missed;
};

// `next` is the frame the thread meant to deliver, `now` the stream time at
// which it woke (no earlier than the end of `next`); the card holds the
// `buffered` newest complete frames (at least one) for a thread that is late.
CatchUp CatchUpAt(uint64_t next, int64_t now, int64_t interval, uint64_t buffered);

}  // namespace testcard
