// When the card's numbered frames left it: a fixed ring of the latest
// departures, written by the streaming thread and read by tests in the same
// process, so that a frame seen on the screen can be traced back to the
// moment the card delivered it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace testcard {

struct FrameDeparture {
  uint32_t frame_number;
  uint32_t pin;          // 0 capture, 1 preview
  int64_t frame_end;     // reference time (100 ns) at which the frame was complete
  int64_t delivered;     // reference time at which the card handed it to its pin
};

class DepartureLog {
 public:
  explicit DepartureLog(size_t capacity);

  void Clear();
  void Add(const FrameDeparture& departure);
  // Copies up to `size` of the latest departures, oldest first; returns how many.
  size_t Latest(FrameDeparture* out, size_t size) const;
  // Departures added since the last Clear, including those the ring has lost.
  uint64_t Total() const;

 private:
  mutable std::mutex mutex_;
  std::vector<FrameDeparture> ring_;
  uint64_t total_ = 0;
};

}  // namespace testcard
