#include "testbed/testcard/portable/departure_log.h"

#include <algorithm>

namespace testcard {

DepartureLog::DepartureLog(size_t capacity) : ring_(capacity > 0 ? capacity : 1) {}

void DepartureLog::Clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  total_ = 0;
}

void DepartureLog::Add(const FrameDeparture& departure) {
  std::lock_guard<std::mutex> hold(mutex_);
  ring_[total_ % ring_.size()] = departure;
  ++total_;
}

size_t DepartureLog::Latest(FrameDeparture* out, size_t size) const {
  if (!out) return 0;
  std::lock_guard<std::mutex> hold(mutex_);
  const uint64_t kept = std::min<uint64_t>(total_, ring_.size());
  const uint64_t n = std::min<uint64_t>(kept, size);
  for (uint64_t i = 0; i < n; ++i) out[i] = ring_[(total_ - n + i) % ring_.size()];
  return static_cast<size_t>(n);
}

uint64_t DepartureLog::Total() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return total_;
}

}  // namespace testcard
