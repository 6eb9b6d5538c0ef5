// Pacing of a live source's streaming thread (testbed/common) against a
// reference clock that loses every wake-up it is asked for.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "testbed/common/live_stream.h"
#include "testcard_harness.h"

namespace testcard_test {
namespace {

using testbed::LiveStream;

// Keeps time like the performance counter and records the advises it is
// asked for, but never signals one.
class SilentClock : public IReferenceClock {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IReferenceClock)
               ? static_cast<IReferenceClock*>(this)
               : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }
  STDMETHODIMP GetTime(REFERENCE_TIME* time) override {
    *time = LiveStream::Now(nullptr);
    return S_OK;
  }
  STDMETHODIMP AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR* cookie) override {
    ++single_advises;
    *cookie = ++next_cookie_;
    return S_OK;
  }
  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                              DWORD_PTR* cookie) override {
    if (start <= 0 || period <= 0 || !semaphore) return E_INVALIDARG;
    ++periodic_advises;
    last_period = period;
    *cookie = ++next_cookie_;
    return S_OK;
  }
  STDMETHODIMP Unadvise(DWORD_PTR) override {
    ++unadvises;
    return S_OK;
  }

  std::atomic<int> single_advises{0};
  std::atomic<int> periodic_advises{0};
  std::atomic<int> unadvises{0};
  std::atomic<REFERENCE_TIME> last_period{0};
  std::atomic<ULONG> refs_{1};

 private:
  std::atomic<DWORD_PTR> next_cookie_{0};
};

// One piece every 10 ms of stream time.
class Ticks : public LiveStream::Producer {
 public:
  static const REFERENCE_TIME kPeriod = 100000;

  REFERENCE_TIME NextDue() override { return (produced_ + 1) * kPeriod; }
  REFERENCE_TIME Period() override { return kPeriod; }
  void Produce(REFERENCE_TIME stream_now) override {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stream_now < NextDue()) ++early_;
    ++produced_;
    done_.notify_all();
  }

  bool WaitFor(long count) {
    std::unique_lock<std::mutex> hold(mutex_);
    return done_.wait_for(hold, std::chrono::seconds(20), [&] { return produced_ >= count; });
  }
  long Early() {
    std::lock_guard<std::mutex> hold(mutex_);
    return early_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  long produced_ = 0;
  long early_ = 0;
};

// A stream of ticks, started and run from now on `clock` (null: the
// performance counter).
class LiveStreamTest : public ::testing::Test {
 protected:
  void StartRun(IReferenceClock* on) {
    ASSERT_EQ(S_OK, stream.Start());
    stream.Run(LiveStream::Now(on), on);
  }

  SilentClock clock;
  Ticks ticks;
  LiveStream stream{ticks};
};

TEST_F(LiveStreamTest, PacesByTheClockThatLosesItsWakeUps) {
  StartRun(&clock);
  ASSERT_TRUE(ticks.WaitFor(30));
  stream.Stop();
  EXPECT_EQ(0, ticks.Early());
  // One periodic advise for the run at the producer's beat, none per piece.
  EXPECT_EQ(0, clock.single_advises.load());
  EXPECT_EQ(1, clock.periodic_advises.load());
  EXPECT_EQ(Ticks::kPeriod, clock.last_period.load());
  EXPECT_EQ(1, clock.unadvises.load());
  EXPECT_EQ(1u, clock.refs_.load());
}

TEST_F(LiveStreamTest, EveryRunHasItsOwnAdviseAndPausingReleasesIt) {
  StartRun(&clock);
  ASSERT_TRUE(ticks.WaitFor(5));
  stream.Pause();
  // The thread lets go of the advise once it sees the pause.
  EXPECT_TRUE(WaitFor([&] { return clock.unadvises.load() == 1; }, 10000));
  stream.Run(LiveStream::Now(&clock), &clock);
  ASSERT_TRUE(ticks.WaitFor(10));
  stream.Stop();
  EXPECT_EQ(2, clock.periodic_advises.load());
  EXPECT_EQ(2, clock.unadvises.load());
  EXPECT_EQ(0, clock.single_advises.load());
}

TEST_F(LiveStreamTest, WithoutAClockThePerformanceCounterPaces) {
  StartRun(nullptr);
  ASSERT_TRUE(ticks.WaitFor(20));
  stream.Stop();
  EXPECT_EQ(0, ticks.Early());
}

}  // namespace
}  // namespace testcard_test
