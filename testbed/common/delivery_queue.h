// Delivers one output pin's samples on a thread of its own. A capture
// driver's pins complete their I/O each on their own (the kernel-streaming
// proxy submits and delivers every pin's buffers separately, IKsPin::
// KsDeliver), and DirectShow's COutputQueue exists for the same reason: a
// downstream filter that takes long over a sample, as a renderer does with
// its first frame, holds up that pin's stream and no other.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "testbed/common/com_ptr.h"
#include "testbed/common/pin.h"

namespace testbed {

class DeliveryQueue {
 public:
  DeliveryQueue(OutputPin& pin, const wchar_t* thread_name);
  DeliveryQueue(const DeliveryQueue&) = delete;
  DeliveryQueue& operator=(const DeliveryQueue&) = delete;
  ~DeliveryQueue();

  HRESULT Start();
  // The pin's Deliver happens on the queue's thread, in the order pushed.
  // The queue is as deep as the pin's buffer pool: a producer that asks for
  // buffers without waiting skips frames while the downstream filter lags.
  // Only between Start and Stop: the producer starts after the queue and
  // stops before it.
  void Push(IMediaSample* sample);
  // Ends the thread once the sample being delivered returns; samples still
  // waiting go back to their allocator undelivered.
  void Stop();

 private:
  void ThreadMain();

  OutputPin& pin_;
  const wchar_t* thread_name_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<ComPtr<IMediaSample>> waiting_;
  bool stopping_ = false;
};

}  // namespace testbed
