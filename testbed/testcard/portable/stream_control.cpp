#include "testbed/testcard/portable/stream_control.h"

namespace testcard {

void StreamControl::StartAt(int64_t time, uint32_t cookie) {
  if (time == kCancelTime) {
    info_.start_defined = false;
    return;
  }
  info_.start_defined = true;
  info_.discarding = true;
  info_.start = time;
  info_.start_cookie = cookie;
}

void StreamControl::StopAt(int64_t time, bool send_extra, uint32_t cookie) {
  if (time == kCancelTime) {
    info_.stop_defined = false;
    info_.send_extra = false;
    return;
  }
  info_.stop_defined = true;
  info_.stop = time;
  info_.send_extra = send_extra;
  info_.stop_cookie = cookie;
}

StreamVerdict StreamControl::Admit(int64_t start, int64_t stop) {
  StreamVerdict verdict;
  if (info_.start_defined && stop > info_.start) {
    info_.start_defined = false;
    info_.discarding = false;
    verdict.started = true;
    verdict.start_cookie = info_.start_cookie;
  }
  if (info_.stop_defined && start >= info_.stop) {
    verdict.deliver = info_.send_extra && !info_.discarding;
    info_.stop_defined = false;
    info_.send_extra = false;
    info_.discarding = true;
    verdict.stopped = true;
    verdict.stop_cookie = info_.stop_cookie;
    return verdict;
  }
  verdict.deliver = !info_.discarding;
  return verdict;
}

}  // namespace testcard
