#include "testcard_harness.h"

#include <windows.h>
#include <mmreg.h>

#include <chrono>

#include "testbed/testcard/portable/audio_tone.h"
#include "testbed/testcard/testcard_ids.h"

namespace testcard_test {

using testcard::FrameLayout;

namespace {

bool IsStereoPcm16(const AM_MEDIA_TYPE& mt) {
  if (!IsEqualGUID(mt.majortype, MEDIATYPE_Audio) || !IsEqualGUID(mt.subtype, MEDIASUBTYPE_PCM) ||
      !IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx) || mt.cbFormat < sizeof(WAVEFORMATEX))
    return false;
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
  return wfx->nChannels == 2 && wfx->wBitsPerSample == 16;
}

int holders = 0;

std::wstring BesideTest(const wchar_t* file) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder = path;
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + file;
}

}  // namespace

class SinkPin : public testbed::InputPin {
 public:
  SinkPin(SinkFilter& sink, REFGUID majortype) : InputPin(sink, L"In"), sink_(sink), majortype_(majortype) {}

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
    return IsEqualGUID(mt.majortype, majortype_) ? S_OK : S_FALSE;
  }
  HRESULT GetMediaType(unsigned, testbed::MediaType*) override { return VFW_S_NO_MORE_ITEMS; }
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override {
    if (!props) return E_POINTER;
    if (!sink_.WantedBuffers()) return E_NOTIMPL;
    *props = {sink_.WantedBuffers(), 0, 1, 0};
    return S_OK;
  }

 protected:
  HRESULT OnReceive(IMediaSample* sample) override {
    sink_.Record(sample);
    return S_OK;
  }

 private:
  SinkFilter& sink_;
  GUID majortype_;
};

SinkFilter::SinkFilter(REFGUID majortype) : Filter(GUID_NULL), pin_(new SinkPin(*this, majortype)) {}

SinkFilter::~SinkFilter() {
  held_.clear();
  delete pin_;
}

void SinkFilter::HoldSamples(size_t count) {
  std::lock_guard<std::mutex> hold(mutex_);
  to_hold_ = count;
}

void SinkFilter::ReleaseHeld() {
  std::vector<ComPtr<IMediaSample>> held;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    to_hold_ = 0;
    held.swap(held_);
  }
}

void SinkFilter::Block() {
  std::lock_guard<std::mutex> hold(mutex_);
  blocked_ = true;
}

void SinkFilter::Unblock() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    blocked_ = false;
  }
  unblocked_.notify_all();
}

HRESULT SinkFilter::CleanupStream() {
  Unblock();
  return S_OK;
}

testbed::Pin* SinkFilter::PinAt(unsigned index) { return index == 0 ? pin_ : nullptr; }

IPin* SinkFilter::Input() { return pin_; }

HRESULT SinkFilter::StartStream(REFERENCE_TIME start) {
  std::lock_guard<std::mutex> hold(mutex_);
  start_ = start;
  return S_OK;
}

void SinkFilter::Record(IMediaSample* sample) {
  {
    std::unique_lock<std::mutex> hold(mutex_);
    unblocked_.wait(hold, [this] { return !blocked_; });
  }
  Arrival arrival;
  arrival.thread = GetCurrentThreadId();
  HRESULT hr = sample->GetTime(&arrival.start, &arrival.stop);
  arrival.timed = hr == S_OK || hr == VFW_S_NO_STOP_TIME;
  arrival.discontinuity = sample->IsDiscontinuity() == S_OK;
  arrival.length = sample->GetActualDataLength();
  ComPtr<IReferenceClock> clock = Clock();
  REFERENCE_TIME now = 0;
  if (clock) clock->GetTime(&now);
  testcard::VideoFormat format;
  BYTE* data = nullptr;
  testbed::MediaType type = pin_->ConnectionType();
  if (SUCCEEDED(sample->GetPointer(&data)) && testcard::ParseVideoType(type.Get(), &format)) {
    FrameLayout layout = testcard::LayoutOf(format);
    arrival.numbered = testcard::ReadFrameNumber(
        data, layout, testcard::RowBytes(layout.format, layout.width), &arrival.frame_number);
  } else if (data && IsStereoPcm16(type.Get())) {
    arrival.clicks = static_cast<int>(
        testcard::FindClicks(reinterpret_cast<const int16_t*>(data), arrival.length / 4).size());
  }
  std::lock_guard<std::mutex> hold(mutex_);
  arrival.arrived = now - start_;
  arrivals_.push_back(arrival);
  if (to_hold_ > 0) {
    --to_hold_;
    held_.push_back(ComPtr<IMediaSample>(sample));
  }
  arrived_.notify_all();
}

bool SinkFilter::WaitForSamples(size_t count, DWORD timeout_ms) {
  std::unique_lock<std::mutex> hold(mutex_);
  return arrived_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                           [&] { return arrivals_.size() >= count; });
}

std::vector<Arrival> SinkFilter::Arrivals() {
  std::lock_guard<std::mutex> hold(mutex_);
  return arrivals_;
}

ComPtr<SinkFilter> CreateSink(REFGUID majortype) {
  return ComPtr<SinkFilter>::Adopt(new SinkFilter(majortype));
}

HoldingProgram::HoldingProgram(unsigned device)
    : device_(device),
      name_(L"FernwoodHold" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(++holders)),
      release_(CreateEventW(nullptr, TRUE, FALSE, name_.c_str())),
      running_(CreateEventW(nullptr, TRUE, FALSE, (name_ + L".running").c_str())),
      failed_(CreateEventW(nullptr, TRUE, FALSE, (name_ + L".failed").c_str())) {}

HoldingProgram::~HoldingProgram() {
  if (process_.hProcess) {
    SetEvent(release_);
    if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) Kill();
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
  for (HANDLE event : {release_, running_, failed_})
    if (event) CloseHandle(event);
}

bool HoldingProgram::Start() {
  std::wstring command = L"\"" + BesideTest(L"testcard_hold.exe") + L"\" " +
                         std::to_wstring(device_) + L" " + name_;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process_)) {
    ADD_FAILURE() << "cannot start testcard_hold.exe: " << GetLastError();
    return false;
  }
  HANDLE waits[] = {running_, failed_, process_.hProcess};
  return WaitForMultipleObjects(3, waits, FALSE, 20000) == WAIT_OBJECT_0;
}

DWORD HoldingProgram::Finish() {
  SetEvent(release_);
  return ExitCode();
}

void HoldingProgram::Kill() {
  TerminateProcess(process_.hProcess, 9);
  ExitCode();
}

DWORD HoldingProgram::ExitCode() {
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process_.hProcess, 20000) == WAIT_OBJECT_0)
    GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

HRESULT SetUyvyFormat(IAMStreamConfig* config, int width, int height, REFERENCE_TIME interval) {
  VIDEOINFOHEADER vih = {};
  vih.AvgTimePerFrame = interval;
  vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih.bmiHeader.biWidth = width;
  vih.bmiHeader.biHeight = height;
  vih.bmiHeader.biPlanes = 1;
  vih.bmiHeader.biBitCount = 16;
  vih.bmiHeader.biCompression = MAKEFOURCC('U', 'Y', 'V', 'Y');
  vih.bmiHeader.biSizeImage = static_cast<DWORD>(width) * height * 2;
  AM_MEDIA_TYPE mt = {};
  mt.majortype = MEDIATYPE_Video;
  mt.subtype = MEDIASUBTYPE_UYVY;
  mt.bFixedSizeSamples = TRUE;
  mt.lSampleSize = vih.bmiHeader.biSizeImage;
  mt.formattype = FORMAT_VideoInfo;
  mt.cbFormat = sizeof(vih);
  mt.pbFormat = reinterpret_cast<BYTE*>(&vih);
  return config->SetFormat(&mt);
}

namespace {

bool IsTestCard(const std::wstring& clsid_text) {
  CLSID id;
  return SUCCEEDED(CLSIDFromString(clsid_text.c_str(), &id)) &&
         (IsEqualGUID(id, testcard::CLSID_TestCardVideo) ||
          IsEqualGUID(id, testcard::CLSID_TestCardAudio));
}

}  // namespace

bool FailedAsUnplugged(HRESULT hr) {
  return hr == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) ||
         hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

std::vector<ListedDevice> ListDevices(REFCLSID category) {
  std::vector<ListedDevice> devices;
  ForEachDevice(category, [&devices](const DeviceEntry& entry, IMoniker* moniker) {
    if (!entry.friendly_name.empty() && IsTestCard(entry.clsid))
      devices.push_back({entry.friendly_name, entry.device_path, ComPtr<IMoniker>(moniker)});
    return false;
  });
  return devices;
}

bool WaitForEvent(IGraphBuilder* graph, long code, DWORD timeout_ms, LONG_PTR* param1,
                  LONG_PTR* param2) {
  ComPtr<IMediaEvent> events;
  if (FAILED(graph->QueryInterface(IID_IMediaEvent, events.PutVoid()))) return false;
  DWORD start = GetTickCount();
  for (;;) {
    DWORD waited = GetTickCount() - start;
    if (waited >= timeout_ms) return false;
    long got = 0;
    LONG_PTR p1 = 0, p2 = 0;
    HRESULT hr = events->GetEvent(&got, &p1, &p2, timeout_ms - waited);
    // Wine's graph answers E_ABORT at once when its queue has just run dry.
    if (hr == E_ABORT) continue;
    if (hr != S_OK) return false;
    events->FreeEventParams(got, p1, p2);
    if (got == code) {
      *param1 = p1;
      *param2 = p2;
      return true;
    }
  }
}

}  // namespace testcard_test
