#include "testbed/common/filter.h"

#include <cwchar>

#include "testbed/common/enumerators.h"
#include "testbed/common/pin.h"

namespace testbed {

Filter::Filter(const CLSID& clsid) : clsid_(clsid) {}

void* Filter::Interface(REFIID iid) {
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IPersist) ||
      IsEqualGUID(iid, IID_IMediaFilter) || IsEqualGUID(iid, IID_IBaseFilter))
    return static_cast<IBaseFilter*>(this);
  return nullptr;
}

STDMETHODIMP Filter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = clsid_;
  return S_OK;
}

void Filter::ActivatePins(bool active) {
  for (unsigned i = 0; Pin* pin = PinAt(i); ++i) {
    if (active)
      pin->Activate();
    else
      pin->Deactivate();
  }
}

STDMETHODIMP Filter::Stop() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  HRESULT hr = S_OK;
  if (state_ == State_Running) hr = StopStream();
  if (state_ != State_Stopped) {
    // Decommitting first releases a streaming thread waiting for a buffer.
    ActivatePins(false);
    HRESULT cleanup = CleanupStream();
    if (SUCCEEDED(hr)) hr = cleanup;
  }
  state_ = State_Stopped;
  return hr;
}

STDMETHODIMP Filter::Pause() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  HRESULT hr = S_OK;
  if (state_ == State_Stopped) {
    ActivatePins(true);
    hr = InitStream();
    // A filter that cannot leave the stopped state keeps nothing committed.
    if (FAILED(hr)) ActivatePins(false);
  } else if (state_ == State_Running) {
    hr = StopStream();
  }
  if (SUCCEEDED(hr)) state_ = State_Paused;
  return hr;
}

STDMETHODIMP Filter::Run(REFERENCE_TIME start) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (state_ == State_Running) return S_OK;
  if (state_ == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = StartStream(start);
  if (SUCCEEDED(hr)) state_ = State_Running;
  return hr;
}

STDMETHODIMP Filter::GetState(DWORD timeout_ms, FILTER_STATE* state) {
  (void)timeout_ms;
  if (!state) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  *state = state_;
  return StateResult(state_);
}

STDMETHODIMP Filter::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  clock_ = clock;
  return S_OK;
}

STDMETHODIMP Filter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  CopyOut(clock_.Get(), clock);
  return S_OK;
}

STDMETHODIMP Filter::EnumPins(IEnumPins** pins) { return CreatePinEnumerator(*this, pins); }

STDMETHODIMP Filter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  for (unsigned i = 0; Pin* p = PinAt(i); ++i) {
    if (p->Name() == id) {
      CopyOut<IPin>(p, pin);
      return S_OK;
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP Filter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  // JoinFilterGraph keeps the name within MAX_FILTER_NAME - 1 characters.
  std::wmemcpy(info->achName, name_.c_str(), name_.size() + 1);
  CopyOut(graph_, &info->pGraph);
  return S_OK;
}

STDMETHODIMP Filter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  graph_ = graph;
  IMediaEventSink* sink = nullptr;
  if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))))
    sink->Release();  // holding it would keep the graph alive through its own filter
  event_sink_ = sink;
  name_ = name ? std::wstring(name).substr(0, MAX_FILTER_NAME - 1) : std::wstring();
  return S_OK;
}

STDMETHODIMP Filter::QueryVendorInfo(LPWSTR* info) {
  (void)info;
  return E_NOTIMPL;
}

FILTER_STATE Filter::CurrentState() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return state_;
}

IFilterGraph* Filter::Graph() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return graph_;
}

ComPtr<IReferenceClock> Filter::Clock() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return clock_;
}

HRESULT Filter::NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
  IMediaEventSink* sink = event_sink_;
  return sink ? sink->Notify(code, param1, param2) : S_FALSE;
}

}  // namespace testbed
