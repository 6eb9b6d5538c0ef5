// Base filter: IBaseFilter, IMediaFilter and IPersist with the state machine,
// the reference clock and the graph membership. A derived filter owns its
// pins and hands them out by index through PinAt().
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <mutex>
#include <string>

#include "testbed/common/com_object.h"
#include "testbed/common/com_ptr.h"

namespace testbed {

class Pin;

class Filter : public ComObject, public IBaseFilter {
 public:
  TESTBED_IUNKNOWN

  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  // IMediaFilter
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeout_ms, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** pins) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

  // The pin at index, or nullptr past the last one. No reference is added.
  virtual Pin* PinAt(unsigned index) = 0;
  // Changes whenever the set of pins changes (enumerators go out of sync).
  virtual LONG PinVersion() { return 1; }

  std::recursive_mutex& Lock() { return lock_; }
  FILTER_STATE CurrentState();
  // The graph holds the filter, so the filter does not hold the graph.
  IFilterGraph* Graph();
  ComPtr<IReferenceClock> Clock();
  // Passes an event to the graph (IMediaEventSink::Notify) from any thread
  // that holds no filter lock; S_FALSE outside a graph.
  HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

 protected:
  explicit Filter(const CLSID& clsid);
  void* Interface(REFIID iid) override;

  // State transitions, called with the lock held, in this order:
  // InitStream (stopped -> paused), StartStream (-> running),
  // StopStream (running -> paused or stopped), CleanupStream (-> stopped).
  virtual HRESULT InitStream() { return S_OK; }
  virtual HRESULT StartStream(REFERENCE_TIME start) { (void)start; return S_OK; }
  virtual HRESULT StopStream() { return S_OK; }
  virtual HRESULT CleanupStream() { return S_OK; }
  // What GetState reports besides the state (live sources: VFW_S_CANT_CUE when paused).
  virtual HRESULT StateResult(FILTER_STATE state) { (void)state; return S_OK; }

 private:
  void ActivatePins(bool active);

  CLSID clsid_;
  std::recursive_mutex lock_;
  FILTER_STATE state_ = State_Stopped;
  ComPtr<IReferenceClock> clock_;
  IFilterGraph* graph_ = nullptr;
  // Weak like graph_, as the graph owns it; read by streaming threads.
  std::atomic<IMediaEventSink*> event_sink_{nullptr};
  std::wstring name_;
};

}  // namespace testbed
