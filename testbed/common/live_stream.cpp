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

LiveStream::Wake LiveStream::WaitUntil(const Timing& timing, REFERENCE_TIME due) {
  HANDLE advise_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  DWORD_PTR cookie = 0;
  bool advised = timing.clock && advise_event &&
                 SUCCEEDED(timing.clock->AdviseTime(
                     timing.start, due, reinterpret_cast<HEVENT>(advise_event), &cookie));
  Wake wake = Wake::kDue;
  for (;;) {
    REFERENCE_TIME left = timing.start + due - Now(timing.clock.Get());
    if (left <= 0) break;
    // The advise is the precise wake-up; the timeout guards against a lost one.
    REFERENCE_TIME ms = (left + 9999) / 10000;
    DWORD timeout = static_cast<DWORD>(advised && ms > 100 ? 100 : ms);
    HANDLE handles[3] = {stop_event_, changed_event_, advise_event};
    DWORD got = WaitForMultipleObjects(advise_event ? 3 : 2, handles, FALSE, timeout);
    if (got == WAIT_OBJECT_0) { wake = Wake::kStopped; break; }
    if (got == WAIT_OBJECT_0 + 1) { wake = Wake::kChanged; break; }
  }
  if (advised) timing.clock->Unadvise(cookie);
  if (advise_event) CloseHandle(advise_event);
  return wake;
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
    Wake wake = WaitUntil(timing, producer_.NextDue());
    if (wake == Wake::kStopped) break;
    if (wake == Wake::kChanged) continue;
    producer_.Produce(Now(timing.clock.Get()) - timing.start);
  }
  timeEndPeriod(1);
  CoUninitialize();
}

}  // namespace testbed
