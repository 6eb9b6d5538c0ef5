#include "testbed/common/delivery_queue.h"

namespace testbed {

DeliveryQueue::DeliveryQueue(OutputPin& pin, const wchar_t* thread_name)
    : pin_(pin), thread_name_(thread_name) {}

DeliveryQueue::~DeliveryQueue() { Stop(); }

HRESULT DeliveryQueue::Start() {
  if (thread_.joinable()) return S_OK;
  stopping_ = false;
  try {
    thread_ = std::thread(&DeliveryQueue::ThreadMain, this);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void DeliveryQueue::Push(IMediaSample* sample) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!thread_.joinable() || stopping_) return;
    waiting_.push_back(ComPtr<IMediaSample>(sample));
  }
  changed_.notify_one();
}

void DeliveryQueue::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  changed_.notify_one();
  thread_.join();
  std::lock_guard<std::mutex> hold(mutex_);
  waiting_.clear();
}

void DeliveryQueue::ThreadMain() {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  // Named where the system can (Windows 10 1607 and later), for profilers.
  using Describe = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  auto describe = reinterpret_cast<Describe>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (describe) describe(GetCurrentThread(), thread_name_);
  for (;;) {
    ComPtr<IMediaSample> sample;
    {
      std::unique_lock<std::mutex> hold(mutex_);
      changed_.wait(hold, [this] { return stopping_ || !waiting_.empty(); });
      if (stopping_) break;
      sample = std::move(waiting_.front());
      waiting_.pop_front();
    }
    pin_.Deliver(sample.Get());
  }
  CoUninitialize();
}

}  // namespace testbed
