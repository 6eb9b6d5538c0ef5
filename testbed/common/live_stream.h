// Streaming thread of a live source: idle while paused, and while running
// wakes at the stream times its producer asks for, measured on the graph's
// reference clock (or on the performance counter when the graph has none).
//
// One periodic advise per run (IReferenceClock::AdvisePeriodic) wakes the
// thread on the clock's beat, and every wait is bounded and followed by a
// fresh reading of the clock, so a wake-up the clock loses costs at most a
// few milliseconds and never stalls the stream or its stopping.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <mutex>
#include <thread>

#include "testbed/common/com_ptr.h"

namespace testbed {

class LiveStream {
 public:
  class Producer {
   public:
    virtual ~Producer() = default;
    // Stream time at which the next piece of data is complete.
    virtual REFERENCE_TIME NextDue() = 0;
    // Called once the clock has passed NextDue(); stream_now is the current
    // stream time, later than NextDue() when the thread woke late.
    virtual void Produce(REFERENCE_TIME stream_now) = 0;
    // The usual time between two due times, for the clock's periodic
    // wake-ups; 0 for none (the bounded waits alone then pace the stream).
    virtual REFERENCE_TIME Period() = 0;
  };

  explicit LiveStream(Producer& producer);
  LiveStream(const LiveStream&) = delete;
  LiveStream& operator=(const LiveStream&) = delete;
  ~LiveStream();

  // Stopped -> paused: starts the thread, which waits for Run.
  HRESULT Start();
  // Stream time 0 is reference time `start` on `clock`.
  void Run(REFERENCE_TIME start, IReferenceClock* clock);
  void Pause();
  // -> stopped: ends and joins the thread.
  void Stop();

  // Current time of the clock given to Run (or the performance counter), 100 ns.
  static REFERENCE_TIME Now(IReferenceClock* clock);

  // What Run and Pause set, as the thread reads it.
  struct Timing {
    bool running = false;
    REFERENCE_TIME start = 0;
    ComPtr<IReferenceClock> clock;
  };

 private:
  enum class Wake { kChanged, kStopped };

  void ThreadMain();
  Timing Snapshot();
  // Produces whatever falls due until the timing changes or the thread stops.
  Wake Stream(const Timing& timing);
  void Signal();

  Producer& producer_;
  std::thread thread_;
  std::mutex mutex_;
  Timing timing_;
  HANDLE stop_event_;
  HANDLE changed_event_;
};

}  // namespace testbed
