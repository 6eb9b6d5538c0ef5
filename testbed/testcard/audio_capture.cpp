// The test card's audio input: 16-bit stereo PCM at the rates the device is
// configured to accept, a tone with a click on every video flash, in 10 ms
// blocks time-stamped against the graph's reference clock.
#include <windows.h>
#include <dshow.h>
#include <mmreg.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "testbed/common/com_ptr.h"
#include "testbed/common/filter.h"
#include "testbed/common/live_stream.h"
#include "testbed/common/pin.h"
#include "testbed/testcard/config.h"
#include "testbed/testcard/filters.h"
#include "testbed/testcard/pin_plumbing.h"
#include "testbed/testcard/portable/audio_tone.h"
#include "testbed/testcard/portable/frame_clock.h"
#include "testbed/testcard/testcard_ids.h"

namespace testcard {
namespace {

using testbed::ComPtr;
using testbed::MediaType;
using Hold = std::lock_guard<std::recursive_mutex>;

const HRESULT kDeviceGone = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
const int64_t kBlockTime = 100000;  // 10 ms: a whole number of samples at 44.1 and 48 kHz
const uint64_t kMaxBacklogBlocks = 100;
const int kBytesPerFrame = 2 * kAudioChannels;

int BlockFrames(int rate) { return static_cast<int>(rate * kBlockTime / 10000000); }

MediaType MakeAudioType(int rate) {
  MediaType mt;
  mt->majortype = MEDIATYPE_Audio;
  mt->subtype = MEDIASUBTYPE_PCM;
  mt->formattype = FORMAT_WaveFormatEx;
  mt->bFixedSizeSamples = TRUE;
  mt->lSampleSize = kBytesPerFrame;
  auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormat(sizeof(WAVEFORMATEX)));
  if (!wfx) return mt;
  wfx->wFormatTag = WAVE_FORMAT_PCM;
  wfx->nChannels = kAudioChannels;
  wfx->nSamplesPerSec = static_cast<DWORD>(rate);
  wfx->nAvgBytesPerSec = static_cast<DWORD>(rate * kBytesPerFrame);
  wfx->nBlockAlign = kBytesPerFrame;
  wfx->wBitsPerSample = 16;
  return mt;
}

// The rate of a 16-bit stereo PCM type, or 0 for anything else.
int RateOf(const AM_MEDIA_TYPE& mt) {
  if (!IsEqualGUID(mt.majortype, MEDIATYPE_Audio) || !IsEqualGUID(mt.subtype, MEDIASUBTYPE_PCM) ||
      !IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx) || mt.cbFormat < sizeof(PCMWAVEFORMAT) ||
      !mt.pbFormat)
    return 0;
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
  int rate = static_cast<int>(wfx->nSamplesPerSec);
  bool pcm = wfx->wFormatTag == WAVE_FORMAT_PCM && wfx->nChannels == kAudioChannels &&
             wfx->wBitsPerSample == 16 && wfx->nBlockAlign == kBytesPerFrame &&
             wfx->nAvgBytesPerSec == static_cast<DWORD>(rate) * kBytesPerFrame;
  return pcm ? rate : 0;
}

class AudioCapture;

class AudioPin : public testbed::OutputPin, public IAMStreamConfig, public IKsPropertySet {
 public:
  explicit AudioPin(AudioCapture& source);
  TESTBED_PIN_IUNKNOWN

  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override;
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;

  STDMETHODIMP Set(REFGUID set, DWORD id, void* instance, DWORD instance_size, void* data,
                   DWORD size) override;
  STDMETHODIMP Get(REFGUID set, DWORD id, void* instance, DWORD instance_size, void* data,
                   DWORD size, DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  HRESULT GetMediaType(unsigned index, MediaType* out) override;

 protected:
  void* Interface(REFIID iid) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

 private:
  AudioCapture& source_;
};

class AudioCapture : public testbed::Filter,
                     public IPersistPropertyBag,
                     private testbed::LiveStream::Producer {
 public:
  AudioCapture() : Filter(CLSID_TestCardAudio), pin_(*this), stream_(*this) {
    Configure(ReadAudioDevice(0));
  }
  ~AudioCapture() override { stream_.Stop(); }
  TESTBED_IUNKNOWN

  STDMETHODIMP GetClassID(CLSID* clsid) override { return Filter::GetClassID(clsid); }
  STDMETHODIMP InitNew() override { return S_OK; }
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }

  testbed::Pin* PinAt(unsigned index) override { return index == 0 ? &pin_ : nullptr; }

  // Called by the pin with the filter lock held.
  const std::vector<uint32_t>& Rates() const { return rates_; }
  int Rate() const { return rate_; }
  bool Accepts(int rate) const {
    return std::find(rates_.begin(), rates_.end(), static_cast<uint32_t>(rate)) != rates_.end();
  }
  void SetRate(int rate) { rate_ = rate; }

 protected:
  void* Interface(REFIID iid) override;
  HRESULT InitStream() override;
  HRESULT StartStream(REFERENCE_TIME start) override;
  HRESULT StopStream() override;
  HRESULT CleanupStream() override;
  HRESULT StateResult(FILTER_STATE state) override {
    return state == State_Paused ? VFW_S_CANT_CUE : S_OK;
  }

 private:
  void Configure(const AudioDeviceConfig& config) {
    rates_ = config.rates;
    rate_ = static_cast<int>(rates_.front());
  }
  REFERENCE_TIME NextDue() override { return TimesOfFrame(next_block_, kBlockTime).stop; }
  void Produce(REFERENCE_TIME stream_now) override;
  bool DeliverBlock(uint64_t block);

  std::vector<uint32_t> rates_;
  int rate_ = 48000;
  AudioPin pin_;

  // Fixed from pause to stop, for the streaming thread (see the video card).
  bool live_ = false;
  int stream_rate_ = 0;
  uint64_t next_block_ = 0;
  bool discontinuity_ = true;
  std::atomic<bool> resync_{true};

  testbed::LiveStream stream_;
};

// --- AudioPin ---

AudioPin::AudioPin(AudioCapture& source) : OutputPin(source, L"Capture"), source_(source) {}

void* AudioPin::Interface(REFIID iid) {
  if (IsEqualGUID(iid, IID_IAMStreamConfig)) return static_cast<IAMStreamConfig*>(this);
  if (IsEqualGUID(iid, IID_IKsPropertySet)) return static_cast<IKsPropertySet*>(this);
  return OutputPin::Interface(iid);
}

HRESULT AudioPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  Hold hold(Owner().Lock());
  return RateOf(mt) == source_.Rate() ? S_OK : S_FALSE;
}

HRESULT AudioPin::GetMediaType(unsigned index, MediaType* out) {
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  Hold hold(Owner().Lock());
  *out = MakeAudioType(source_.Rate());
  return S_OK;
}

HRESULT AudioPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  long bytes = BlockFrames(RateOf(mt_.Get())) * kBytesPerFrame;
  if (bytes <= 0) return VFW_E_TYPE_NOT_ACCEPTED;
  if (request->cBuffers < 16) request->cBuffers = 16;
  if (request->cbBuffer < bytes) request->cbBuffer = bytes;
  if (request->cbAlign < 1) request->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual;
  HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer >= bytes ? S_OK : E_FAIL;
}

STDMETHODIMP AudioPin::SetFormat(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  Hold hold(Owner().Lock());
  if (Owner().CurrentState() != State_Stopped) return VFW_E_NOT_STOPPED;
  int rate = RateOf(*mt);
  if (!rate || !source_.Accepts(rate)) return VFW_E_INVALIDMEDIATYPE;
  MediaType type = MakeAudioType(rate);
  HRESULT hr = CheckPeerAccepts(type.Get());
  if (FAILED(hr)) return hr;
  source_.SetRate(rate);
  return ReconnectIfChanged(type.Get());
}

STDMETHODIMP AudioPin::GetFormat(AM_MEDIA_TYPE** mt) {
  if (!mt) return E_POINTER;
  Hold hold(Owner().Lock());
  *mt = testbed::CreateMediaType(MakeAudioType(source_.Rate()).Get());
  return *mt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP AudioPin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  Hold hold(Owner().Lock());
  *count = static_cast<int>(source_.Rates().size());
  *size = sizeof(AUDIO_STREAM_CONFIG_CAPS);
  return S_OK;
}

STDMETHODIMP AudioPin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
  if (!mt || !caps) return E_POINTER;
  Hold hold(Owner().Lock());
  const std::vector<uint32_t>& rates = source_.Rates();
  if (index < 0 || static_cast<size_t>(index) >= rates.size()) return S_FALSE;
  *mt = testbed::CreateMediaType(MakeAudioType(static_cast<int>(rates[index])).Get());
  if (!*mt) return E_OUTOFMEMORY;
  auto* audio = reinterpret_cast<AUDIO_STREAM_CONFIG_CAPS*>(caps);
  std::memset(audio, 0, sizeof(*audio));
  audio->guid = MEDIATYPE_Audio;
  audio->MinimumChannels = audio->MaximumChannels = kAudioChannels;
  audio->ChannelsGranularity = 1;
  audio->MinimumBitsPerSample = audio->MaximumBitsPerSample = 16;
  audio->BitsPerSampleGranularity = 16;
  audio->MinimumSampleFrequency = audio->MaximumSampleFrequency = rates[index];
  audio->SampleFrequencyGranularity = 1;
  return S_OK;
}

STDMETHODIMP AudioPin::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
  return SetPinProperty(set);  // the category is read-only
}

STDMETHODIMP AudioPin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD size,
                           DWORD* returned) {
  return GetPinCategory(set, id, PIN_CATEGORY_CAPTURE, data, size, returned);
}

STDMETHODIMP AudioPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  return QueryPinProperty(set, id, support);
}

// --- AudioCapture ---

void* AudioCapture::Interface(REFIID iid) {
  if (IsEqualGUID(iid, IID_IPersistPropertyBag)) return static_cast<IPersistPropertyBag*>(this);
  return Filter::Interface(iid);
}

STDMETHODIMP AudioCapture::Load(IPropertyBag* bag, IErrorLog* log) {
  (void)log;
  if (!bag) return E_POINTER;
  unsigned index = ReadDeviceIndex(bag);
  Hold hold(Lock());
  if (CurrentState() != State_Stopped || pin_.IsConnected()) return VFW_E_WRONG_STATE;
  if (index >= AudioDeviceCount()) return kDeviceGone;
  AudioDeviceConfig config = ReadAudioDevice(index);
  if (config.missing) return kDeviceGone;
  Configure(config);
  return S_OK;
}

HRESULT AudioCapture::InitStream() {
  live_ = pin_.IsConnected();
  stream_rate_ = rate_;
  next_block_ = 0;
  discontinuity_ = true;
  return stream_.Start();
}

HRESULT AudioCapture::StartStream(REFERENCE_TIME start) {
  resync_ = true;
  stream_.Run(start, Clock().Get());
  return S_OK;
}

HRESULT AudioCapture::StopStream() {
  stream_.Pause();
  return S_OK;
}

HRESULT AudioCapture::CleanupStream() {
  stream_.Stop();
  return S_OK;
}

void AudioCapture::Produce(REFERENCE_TIME stream_now) {
  uint64_t pending = FirstPendingFrame(stream_now, kBlockTime);
  // Catch up on late wake-ups as a sound card's buffer would, but start
  // afresh (with a discontinuity) after a start or a long stall.
  if (resync_.exchange(false) || pending > next_block_ + kMaxBacklogBlocks) {
    if (pending > next_block_ + 1) {
      next_block_ = pending - 1;
      discontinuity_ = true;
    }
  }
  while (next_block_ < pending) {
    if (live_ && !DeliverBlock(next_block_)) discontinuity_ = true;
    ++next_block_;
  }
}

bool AudioCapture::DeliverBlock(uint64_t block) {
  IMediaSample* raw = nullptr;
  if (FAILED(pin_.GetDeliveryBuffer(&raw, 0))) return false;
  ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Adopt(raw);
  int frames = BlockFrames(stream_rate_);
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < frames * kBytesPerFrame)
    return false;
  uint64_t first = block * frames;
  RenderTone(reinterpret_cast<int16_t*>(data), frames, first, stream_rate_, FlashPeriod());
  REFERENCE_TIME start = SampleTime(first, stream_rate_);
  REFERENCE_TIME stop = SampleTime(first + frames, stream_rate_);
  LONGLONG media_start = static_cast<LONGLONG>(first), media_stop = media_start + frames;
  sample->SetActualDataLength(frames * kBytesPerFrame);
  sample->SetTime(&start, &stop);
  sample->SetMediaTime(&media_start, &media_stop);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(discontinuity_);
  discontinuity_ = false;
  return pin_.Deliver(sample.Get()) == S_OK;
}

}  // namespace

HRESULT CreateAudioCapture(REFIID iid, void** out) {
  auto* source = new (std::nothrow) AudioCapture();
  if (!source) return E_OUTOFMEMORY;
  HRESULT hr = source->QueryInterface(iid, out);
  source->Release();
  return hr;
}

}  // namespace testcard
