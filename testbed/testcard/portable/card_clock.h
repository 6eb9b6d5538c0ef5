// A card's own crystal against the PC's clock. A real card's picture and its
// sound each run a few to hundreds of parts per million fast or slow; the
// card paces and counts its frames and samples on its own time, while every
// sample is stamped with the stream time at which it was captured (the
// DirectShow documentation, "Time Stamps": capture samples carry the stream
// time of their capture), so the drift shows in the stamps, as on a card.
#pragma once

#include <cstdint>

namespace testcard {

// Beyond this the card would be broken rather than off its nominal rate.
const int32_t kMaxClockPpm = 100000;

class CardClock {
 public:
  // `ppm` > 0: the card's time runs fast (more frames or samples a second).
  explicit CardClock(int32_t ppm = 0);
  int32_t Ppm() const { return ppm_; }
  // The stream time at which card time `card` is reached: rounded up, so
  // that ToCard(ToStream(t)) >= t and a stream woken then finds it due.
  int64_t ToStream(int64_t card) const;
  // The card's time at stream time `stream`, rounded down.
  int64_t ToCard(int64_t stream) const;

 private:
  int32_t ppm_;
};

}  // namespace testcard
