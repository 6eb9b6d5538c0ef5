// Another program holding the card, for tests of what a program sees when
// the device is busy:
//   testcard_hold.exe DEVICE_INDEX EVENT_NAME
// binds the video device whose moniker names DEVICE_INDEX, runs its capture
// pin into a sink that discards everything, sets the event EVENT_NAME.running
// and waits for the event EVENT_NAME before stopping and exiting 0. When Run
// fails it sets EVENT_NAME.failed instead and exits with the HRESULT. The
// events live only while someone holds them, so a caller creates them before
// starting the program.
#include <windows.h>
#include <dshow.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "testbed/common/com_ptr.h"
#include "testbed/common/filter.h"
#include "testbed/common/pin.h"
#include "testbed/testcard/testcard_ids.h"

namespace {

using testbed::ComPtr;

class DiscardPin : public testbed::InputPin {
 public:
  explicit DiscardPin(testbed::Filter& filter) : InputPin(filter, L"In") {}
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
    return IsEqualGUID(mt.majortype, MEDIATYPE_Video) ? S_OK : S_FALSE;
  }
  HRESULT GetMediaType(unsigned, testbed::MediaType*) override { return VFW_S_NO_MORE_ITEMS; }

 protected:
  HRESULT OnReceive(IMediaSample*) override { return S_OK; }
};

class DiscardSink : public testbed::Filter {
 public:
  DiscardSink() : Filter(GUID_NULL), pin_(*this) {}
  testbed::Pin* PinAt(unsigned index) override { return index == 0 ? &pin_ : nullptr; }

 private:
  DiscardPin pin_;
};

bool NamesDevice(IMoniker* moniker, long index) {
  ComPtr<IPropertyBag> bag;
  if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid()))) return false;
  VARIANT value;
  VariantInit(&value);
  bool match = SUCCEEDED(bag->Read(testcard::kDeviceIndexProperty, &value, nullptr)) &&
               SUCCEEDED(VariantChangeType(&value, &value, 0, VT_I4)) && V_I4(&value) == index;
  VariantClear(&value);
  return match;
}

HRESULT BindDevice(long index, ComPtr<IBaseFilter>* card) {
  ComPtr<ICreateDevEnum> devices;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, devices.PutVoid());
  ComPtr<IEnumMoniker> monikers;
  if (SUCCEEDED(hr)) hr = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Put(), 0);
  if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_NOT_FOUND;
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
    if (NamesDevice(moniker.Get(), index))
      return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, card->PutVoid());
  }
  return VFW_E_NOT_FOUND;
}

HRESULT BuildGraph(long index, ComPtr<IGraphBuilder>* graph) {
  ComPtr<IBaseFilter> card;
  HRESULT hr = BindDevice(index, &card);
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                          graph->PutVoid());
  ComPtr<IBaseFilter> sink = ComPtr<IBaseFilter>::Adopt(new DiscardSink);
  if (SUCCEEDED(hr)) hr = (*graph)->AddFilter(card.Get(), L"Card");
  if (SUCCEEDED(hr)) hr = (*graph)->AddFilter(sink.Get(), L"Sink");
  ComPtr<IPin> capture, input;
  if (SUCCEEDED(hr)) hr = card->FindPin(L"Capture", capture.Put());
  if (SUCCEEDED(hr)) hr = sink->FindPin(L"In", input.Put());
  if (SUCCEEDED(hr)) hr = (*graph)->ConnectDirect(capture.Get(), input.Get(), nullptr);
  return hr;
}

// A refused Run leaves the graph stopped but may leave filters that paused
// before the card refused; the graph's Stop then has nothing to do, so each
// filter is stopped itself.
void StopFilters(IGraphBuilder* graph) {
  ComPtr<IEnumFilters> filters;
  if (FAILED(graph->EnumFilters(filters.Put()))) return;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, filter.Put(), nullptr) == S_OK) filter->Stop();
}

void Signal(const std::wstring& name) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (!event) return;
  SetEvent(event);
  CloseHandle(event);
}

int Hold(long index, const std::wstring& event_name) {
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
  if (!release) return static_cast<int>(HRESULT_FROM_WIN32(GetLastError()));
  ComPtr<IGraphBuilder> graph;
  HRESULT hr = BuildGraph(index, &graph);
  ComPtr<IMediaControl> control;
  if (SUCCEEDED(hr)) hr = graph.As(&control);
  if (SUCCEEDED(hr)) hr = control->Run();
  if (FAILED(hr)) {
    std::fwprintf(stderr, L"testcard_hold: device %ld: 0x%08lx\n", index, static_cast<unsigned long>(hr));
    if (graph) StopFilters(graph.Get());
    Signal(event_name + L".failed");
    return static_cast<int>(hr);
  }
  Signal(event_name + L".running");
  WaitForSingleObject(release, INFINITE);
  control->Stop();
  // Releasing a graph that ran can hang in Wine 8's system clock (its advise
  // thread loses a wake-up); the process ends instead, which frees it all.
  ExitProcess(0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: testcard_hold DEVICE_INDEX EVENT_NAME\n");
    return 2;
  }
  wchar_t* end = nullptr;
  long index = std::wcstol(argv[1], &end, 10);
  if (!end || *end || index < 0) {
    std::fwprintf(stderr, L"testcard_hold: not a device index: %ls\n", argv[1]);
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int result = Hold(index, argv[2]);
  CoUninitialize();
  return result;
}
