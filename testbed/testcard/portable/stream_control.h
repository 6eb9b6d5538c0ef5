// When a pin delivers under IAMStreamControl, without any Windows API: a
// start and a stop time on the reference clock, each with the cookie its
// notification carries, as the DirectShow documentation of
// IAMStreamControl::StartAt and StopAt describes them. A pin that was never
// asked delivers everything.
#pragma once

#include <cstdint>

namespace testcard {

// StartAt/StopAt with this time cancel the request; without a time
// (kNow) they take effect at the next sample.
const int64_t kCancelTime = INT64_MAX;
const int64_t kNow = INT64_MIN;

struct StreamControlInfo {
  bool start_defined = false;
  bool stop_defined = false;
  bool discarding = false;
  bool send_extra = false;
  int64_t start = 0;
  int64_t stop = 0;
  uint32_t start_cookie = 0;
  uint32_t stop_cookie = 0;
};

// What to do with one sample, and the notifications it causes.
struct StreamVerdict {
  bool deliver = true;
  bool started = false;
  bool stopped = false;
  uint32_t start_cookie = 0;
  uint32_t stop_cookie = 0;
};

class StreamControl {
 public:
  // Discards from now until a sample reaches `time`.
  void StartAt(int64_t time, uint32_t cookie);
  // Discards the samples from `time` on (but for one more with send_extra).
  void StopAt(int64_t time, bool send_extra, uint32_t cookie);
  const StreamControlInfo& Info() const { return info_; }
  // For a sample covering [start, stop) of reference time.
  StreamVerdict Admit(int64_t start, int64_t stop);

 private:
  StreamControlInfo info_;
};

}  // namespace testcard
