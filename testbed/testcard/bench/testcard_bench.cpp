// Prints how steadily the test card delivers: frames per second at
// 720p59.94 and 1080p29.97, and how late each frame leaves the card against
// the graph clock (0 would be exactly at the end of its frame interval).
//   testcard_bench.exe [seconds per format, default 30]
#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "testbed/common/com_ptr.h"
#include "testbed/common/filter.h"
#include "testbed/common/pin.h"
#include "testbed/testcard/testcard_ids.h"

namespace {

using testbed::ComPtr;

struct Delivery {
  REFERENCE_TIME stop;
  REFERENCE_TIME arrived;
};

class CountingSink;

class CountingPin : public testbed::InputPin {
 public:
  explicit CountingPin(CountingSink& sink);
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
    return IsEqualGUID(mt.majortype, MEDIATYPE_Video) ? S_OK : S_FALSE;
  }
  HRESULT GetMediaType(unsigned, testbed::MediaType*) override { return VFW_S_NO_MORE_ITEMS; }

 protected:
  HRESULT OnReceive(IMediaSample* sample) override;

 private:
  CountingSink& sink_;
};

class CountingSink : public testbed::Filter {
 public:
  CountingSink() : Filter(GUID_NULL), pin_(*this) {}
  testbed::Pin* PinAt(unsigned index) override { return index == 0 ? &pin_ : nullptr; }
  IPin* Input() { return &pin_; }

  void Record(IMediaSample* sample) {
    REFERENCE_TIME start = 0, stop = 0, now = 0;
    ComPtr<IReferenceClock> clock = Clock();
    if (FAILED(sample->GetTime(&start, &stop)) || !clock || FAILED(clock->GetTime(&now))) return;
    std::lock_guard<std::mutex> hold(mutex_);
    deliveries_.push_back({stop, now - start_});
  }
  std::vector<Delivery> Deliveries() {
    std::lock_guard<std::mutex> hold(mutex_);
    return deliveries_;
  }

 protected:
  HRESULT StartStream(REFERENCE_TIME start) override {
    std::lock_guard<std::mutex> hold(mutex_);
    start_ = start;
    return S_OK;
  }

 private:
  CountingPin pin_;
  std::mutex mutex_;
  std::vector<Delivery> deliveries_;
  REFERENCE_TIME start_ = 0;
};

CountingPin::CountingPin(CountingSink& sink) : InputPin(sink, L"In"), sink_(sink) {}

HRESULT CountingPin::OnReceive(IMediaSample* sample) {
  sink_.Record(sample);
  return S_OK;
}

HRESULT SetFormat(IPin* capture, int width, int height, REFERENCE_TIME interval) {
  ComPtr<IAMStreamConfig> config;
  AM_MEDIA_TYPE* mt = nullptr;
  HRESULT hr = capture->QueryInterface(IID_IAMStreamConfig, config.PutVoid());
  if (SUCCEEDED(hr)) hr = config->GetFormat(&mt);
  if (FAILED(hr)) return hr;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
  mt->subtype = MEDIASUBTYPE_UYVY;
  vih->bmiHeader.biCompression = MAKEFOURCC('U', 'Y', 'V', 'Y');
  vih->bmiHeader.biBitCount = 16;
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  vih->bmiHeader.biSizeImage = width * 2 * height;
  vih->AvgTimePerFrame = interval;
  hr = config->SetFormat(mt);
  testbed::DeleteMediaType(mt);
  return hr;
}

void Report(const char* name, REFERENCE_TIME interval, const std::vector<Delivery>& got,
            long dropped, double seconds) {
  std::vector<double> late_ms;
  for (const Delivery& d : got) late_ms.push_back((d.arrived - d.stop) / 10000.0);
  double mean = 0, deviation = 0;
  for (double v : late_ms) mean += v;
  mean /= late_ms.empty() ? 1 : late_ms.size();
  for (double v : late_ms) deviation += (v - mean) * (v - mean);
  deviation = std::sqrt(deviation / (late_ms.empty() ? 1 : late_ms.size()));
  std::sort(late_ms.begin(), late_ms.end());
  auto pick = [&](double q) { return late_ms.empty() ? 0.0 : late_ms[static_cast<size_t>(q * (late_ms.size() - 1))]; };
  double span = got.size() > 1 ? (got.back().stop - got.front().stop) / 1e7 : 0;
  std::printf("%s: %zu frames in %.1f s of stream time = %.3f fps (nominal %.3f), %ld lost\n",
              name, got.size(), span, span > 0 ? (got.size() - 1) / span : 0.0, 1e7 / interval,
              dropped);
  std::printf("  delivery after the frame's end, ms: mean %.3f, sd %.3f, min %.3f, median %.3f, "
              "p99 %.3f, max %.3f (wall %.1f s)\n",
              mean, deviation, pick(0), pick(0.5), pick(0.99), pick(1), seconds);
}

bool RunFormat(const char* name, int width, int height, REFERENCE_TIME interval, DWORD seconds) {
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> card;
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              graph.PutVoid())) ||
      FAILED(CoCreateInstance(testcard::CLSID_TestCardVideo, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IBaseFilter, card.PutVoid()))) {
    std::printf("%s: cannot create the graph or the test card (is it registered?)\n", name);
    return false;
  }
  ComPtr<CountingSink> sink = ComPtr<CountingSink>::Adopt(new CountingSink());
  ComPtr<IPin> capture;
  card->FindPin(L"Capture", capture.Put());
  ComPtr<IMediaControl> control;
  graph->QueryInterface(IID_IMediaControl, control.PutVoid());
  if (!capture || !control || FAILED(graph->AddFilter(card.Get(), L"Card")) ||
      FAILED(graph->AddFilter(sink.Get(), L"Sink")) ||
      FAILED(SetFormat(capture.Get(), width, height, interval)) ||
      FAILED(graph->ConnectDirect(capture.Get(), sink->Input(), nullptr)) || FAILED(control->Run())) {
    std::printf("%s: cannot build and run the graph\n", name);
    if (control) control->Stop();
    return false;
  }
  DWORD begin = GetTickCount();
  Sleep(seconds * 1000);  // the measurement itself: a fixed stretch of wall time
  control->Stop();
  double wall = (GetTickCount() - begin) / 1000.0;
  long dropped = 0;
  ComPtr<IAMDroppedFrames> frames;
  if (SUCCEEDED(card->QueryInterface(IID_IAMDroppedFrames, frames.PutVoid())))
    frames->GetNumDropped(&dropped);
  Report(name, interval, sink->Deliveries(), dropped, wall);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  DWORD seconds = argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : 30;
  if (seconds == 0 || seconds > 3600) seconds = 30;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  bool ok = RunFormat("UYVY 1280x720 59.94", 1280, 720, 166833, seconds) &&
            RunFormat("UYVY 1920x1080 29.97", 1920, 1080, 333667, seconds);
  CoUninitialize();
  return ok ? 0 : 1;
}
