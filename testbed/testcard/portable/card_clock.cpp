#include "testbed/testcard/portable/card_clock.h"

#include <cmath>

namespace testcard {
namespace {

const double kMillion = 1e6;

int32_t Clamp(int32_t ppm) {
  return ppm > kMaxClockPpm ? kMaxClockPpm : ppm < -kMaxClockPpm ? -kMaxClockPpm : ppm;
}

}  // namespace

CardClock::CardClock(int32_t ppm) : ppm_(Clamp(ppm)) {}

// Hours of stream time are below 2^46 units, where a double is exact to a
// fraction of a unit; the exact cases stay exact without a drift.
int64_t CardClock::ToStream(int64_t card) const {
  if (ppm_ == 0) return card;
  int64_t stream = static_cast<int64_t>(std::ceil(static_cast<double>(card) * kMillion / (kMillion + ppm_)));
  while (ToCard(stream) < card) ++stream;
  return stream;
}

int64_t CardClock::ToCard(int64_t stream) const {
  if (ppm_ == 0) return stream;
  return static_cast<int64_t>(std::floor(static_cast<double>(stream) * (kMillion + ppm_) / kMillion));
}

}  // namespace testcard
