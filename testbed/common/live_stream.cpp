#include "testbed/common/live_stream.h"

#include <mmsystem.h>

namespace testbed {

LiveStream::LiveStream(Producer& producer)
    : producer_(producer),
      stop_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      changed_event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

LiveStream::~LiveStream() {
  Stop();
  CloseHandle(stop_event_);
  CloseHandle(changed_event_);
}

HRESULT LiveStream::Start() {
  if (thread_.joinable()) return S_OK;
  if (!stop_event_ || !changed_event_) return E_OUTOFMEMORY;
  ResetEvent(stop_event_);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    timing_ = Timing();
  }
  try {
    thread_ = std::thread(&LiveStream::ThreadMain, this);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void LiveStream::Run(REFERENCE_TIME start, IReferenceClock* clock) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    timing_.running = true;
    timing_.start = start;
    timing_.clock = clock;
  }
  Signal();
}

void LiveStream::Pause() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    timing_.running = false;
  }
  Signal();
}

void LiveStream::Stop() {
  if (!thread_.joinable()) return;
  SetEvent(stop_event_);
  thread_.join();
  std::lock_guard<std::mutex> hold(mutex_);
  timing_ = Timing();
}

void LiveStream::Signal() { SetEvent(changed_event_); }

LiveStream::Timing LiveStream::Snapshot() {
  std::lock_guard<std::mutex> hold(mutex_);
  return timing_;
}

REFERENCE_TIME LiveStream::Now(IReferenceClock* clock) {
  REFERENCE_TIME now = 0;
  if (clock && SUCCEEDED(clock->GetTime(&now))) return now;
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  // Split to keep the multiplication within 64 bits.
  LONGLONG seconds = count.QuadPart / frequency.QuadPart;
  LONGLONG rest = count.QuadPart % frequency.QuadPart;
  return seconds * 10000000 + rest * 10000000 / frequency.QuadPart;
}

namespace {

// Longest wait before the clock is read again, whatever the advise does.
const DWORD kMaxWaitMs = 20;

// The clock's periodic wake-ups for one run; released with the run.
class PeriodicAdvise {
 public:
  PeriodicAdvise(IReferenceClock* clock, REFERENCE_TIME first, REFERENCE_TIME period)
      : clock_(clock) {
    if (!clock || first <= 0 || period <= 0) return;
    semaphore_ = CreateSemaphoreW(nullptr, 0, 0x7fffffff, nullptr);
    if (semaphore_ && FAILED(clock->AdvisePeriodic(first, period,
                                                   reinterpret_cast<HSEMAPHORE>(semaphore_),
                                                   &cookie_))) {
      CloseHandle(semaphore_);
      semaphore_ = nullptr;
    }
  }
  PeriodicAdvise(const PeriodicAdvise&) = delete;
  PeriodicAdvise& operator=(const PeriodicAdvise&) = delete;
  ~PeriodicAdvise() {
    if (!semaphore_) return;
    clock_->Unadvise(cookie_);
    CloseHandle(semaphore_);
  }
  HANDLE Handle() const { return semaphore_; }

 private:
  IReferenceClock* clock_;
  HANDLE semaphore_ = nullptr;
  DWORD_PTR cookie_ = 0;
};

bool SameTiming(const LiveStream::Timing& a, const LiveStream::Timing& b) {
  return a.running == b.running && a.start == b.start && a.clock.Get() == b.clock.Get();
}

DWORD WaitMs(REFERENCE_TIME left) {
  if (left <= 0) return 0;
  REFERENCE_TIME ms = (left + 9999) / 10000;
  return ms > kMaxWaitMs ? kMaxWaitMs : static_cast<DWORD>(ms);
}

}  // namespace

LiveStream::Wake LiveStream::Stream(const Timing& timing) {
  IReferenceClock* clock = timing.clock.Get();
  PeriodicAdvise beat(clock, timing.start + producer_.NextDue(), producer_.Period());
  HANDLE handles[3] = {stop_event_, changed_event_, beat.Handle()};
  DWORD count = beat.Handle() ? 3 : 2;
  for (;;) {
    REFERENCE_TIME now = Now(clock) - timing.start;
    REFERENCE_TIME left = producer_.NextDue() - now;
    if (left <= 0) producer_.Produce(now);
    // Also when due: a stop or a change must not wait behind a backlog.
    DWORD got = WaitForMultipleObjects(count, handles, FALSE, WaitMs(left));
    if (got == WAIT_OBJECT_0) return Wake::kStopped;
    // A signal the thread saw before its run began changes nothing.
    if (got == WAIT_OBJECT_0 + 1 && !SameTiming(Snapshot(), timing)) return Wake::kChanged;
  }
}

void LiveStream::ThreadMain() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  timeBeginPeriod(1);
  for (;;) {
    Timing timing = Snapshot();
    if (!timing.running) {
      HANDLE handles[2] = {stop_event_, changed_event_};
      if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0) break;
      continue;
    }
    if (Stream(timing) == Wake::kStopped) break;
  }
  timeEndPeriod(1);
  CoUninitialize();
}

}  // namespace testbed
