#include "testbed/testcard/audio_stream.h"

#include <mmreg.h>

#include <algorithm>
#include <cstring>

#include "testbed/common/com_ptr.h"
#include "testbed/common/media_type.h"
#include "testbed/testcard/filters.h"
#include "testbed/testcard/portable/audio_buffers.h"
#include "testbed/testcard/portable/audio_tone.h"

namespace testcard {
namespace {

using testbed::ComPtr;
using testbed::MediaType;
using Hold = std::lock_guard<std::recursive_mutex>;

const int kBytesPerFrame = 2 * kAudioChannels;

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

}  // namespace

// --- AudioPin ---

AudioPin::AudioPin(testbed::Filter& filter, AudioStream& stream, const wchar_t* name)
    : CapturePin(filter, name, PIN_CATEGORY_CAPTURE, sizeof(AUDIO_STREAM_CONFIG_CAPS)),
      stream_(stream) {}

void* AudioPin::Interface(REFIID iid) {
  if (IsEqualGUID(iid, IID_IAMBufferNegotiation)) return static_cast<IAMBufferNegotiation*>(this);
  return CapturePin::Interface(iid);
}

HRESULT AudioPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  Hold hold(Owner().Lock());
  return RateOf(mt) == stream_.Rate() ? S_OK : S_FALSE;
}

HRESULT AudioPin::GetMediaType(unsigned index, MediaType* out) {
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  Hold hold(Owner().Lock());
  *out = MakeAudioType(stream_.Rate());
  return S_OK;
}

// The pool is what the application suggested or the filter's default, not
// what the downstream pin asks for: a holder of buffers makes sound go lost.
HRESULT AudioPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  int rate = RateOf(mt_.Get());
  uint32_t frames = BufferFrames(rate, kBytesPerFrame, suggested_.cbBuffer);
  if (frames == 0) return VFW_E_TYPE_NOT_ACCEPTED;
  long bytes = static_cast<long>(frames) * kBytesPerFrame;
  request->cBuffers = suggested_.cBuffers > 0 ? suggested_.cBuffers : DefaultBufferCount(frames, rate);
  request->cbBuffer = bytes;
  if (suggested_.cbAlign > 0) request->cbAlign = suggested_.cbAlign;
  if (suggested_.cbPrefix >= 0) request->cbPrefix = suggested_.cbPrefix;
  HRESULT hr = testbed::SetAllocatorAtLeast(allocator, *request, bytes);
  if (FAILED(hr)) return hr;
  buffer_frames_ = frames;
  return S_OK;
}

STDMETHODIMP AudioPin::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* props) {
  if (!props) return E_POINTER;
  Hold hold(Owner().Lock());
  if (peer_) return VFW_E_ALREADY_CONNECTED;
  suggested_ = *props;
  return S_OK;
}

STDMETHODIMP AudioPin::GetAllocatorProperties(ALLOCATOR_PROPERTIES* props) {
  if (!props) return E_POINTER;
  return AllocatorProperties(props);
}

HRESULT AudioPin::ApplyFormat(const AM_MEDIA_TYPE& mt) {
  int rate = RateOf(mt);
  if (!rate || !stream_.Accepts(rate)) return VFW_E_INVALIDMEDIATYPE;
  MediaType type = MakeAudioType(rate);
  HRESULT hr = CheckPeerAccepts(type.Get());
  if (FAILED(hr)) return hr;
  stream_.SetRate(rate);
  return ReconnectIfChanged(type.Get());
}

MediaType AudioPin::CurrentFormat() { return MakeAudioType(stream_.Rate()); }

size_t AudioPin::CapabilityCount() { return stream_.Rates().size(); }

MediaType AudioPin::CapabilityType(size_t index, BYTE* caps) {
  const uint32_t rate = stream_.Rates()[index];
  auto* audio = reinterpret_cast<AUDIO_STREAM_CONFIG_CAPS*>(caps);
  audio->guid = MEDIATYPE_Audio;
  audio->MinimumChannels = audio->MaximumChannels = kAudioChannels;
  audio->ChannelsGranularity = 1;
  audio->MinimumBitsPerSample = audio->MaximumBitsPerSample = 16;
  audio->BitsPerSampleGranularity = 16;
  audio->MinimumSampleFrequency = audio->MaximumSampleFrequency = rate;
  audio->SampleFrequencyGranularity = 1;
  return MakeAudioType(static_cast<int>(rate));
}

// --- AudioStream ---

AudioStream::AudioStream(testbed::Filter& filter, const wchar_t* pin_name)
    : filter_(filter), pin_(filter, *this, pin_name), stream_(*this) {}

AudioStream::~AudioStream() { stream_.Stop(); }

void AudioStream::Configure(const std::vector<uint32_t>& rates, uint32_t lose_after_buffers) {
  rates_ = rates;
  rate_ = static_cast<int>(rates_.front());
  lose_after_ = lose_after_buffers;
}

bool AudioStream::Accepts(int rate) const {
  return std::find(rates_.begin(), rates_.end(), static_cast<uint32_t>(rate)) != rates_.end();
}

REFERENCE_TIME AudioStream::NextDue() { return BufferEnd(next_buffer_, frames_, stream_rate_); }

REFERENCE_TIME AudioStream::Period() { return BufferEnd(0, frames_, stream_rate_); }

HRESULT AudioStream::InitStream() {
  live_ = pin_.IsConnected();
  stream_rate_ = rate_;
  frames_ = live_ ? pin_.BufferFrameCount() : 0;
  if (frames_ == 0) frames_ = BufferFrames(rate_, kBytesPerFrame, -1);
  // Starting afresh after a stall of over a second (two buffers at least).
  max_backlog_ = std::max<uint64_t>(2, static_cast<uint64_t>(stream_rate_) / frames_);
  next_buffer_ = 0;
  discontinuity_ = true;
  {
    std::lock_guard<std::mutex> hold(stats_lock_);
    delivered_ = largest_ = smallest_ = lost_ = 0;
  }
  return stream_.Start();
}

void AudioStream::StartStream(REFERENCE_TIME start, IReferenceClock* clock) {
  resync_ = true;
  stream_.Run(start, clock);
}

void AudioStream::Produce(REFERENCE_TIME stream_now) {
  uint64_t pending = FirstPendingBuffer(stream_now, frames_, stream_rate_);
  // Catch up on late wake-ups as a sound card's buffer would, but start
  // afresh (with a discontinuity) after a start or a long stall.
  bool restart = resync_.exchange(false);
  if ((restart || pending > next_buffer_ + max_backlog_) && pending > next_buffer_ + 1) {
    if (!restart && live_ && !unplugged_) CountLost(pending - 1 - next_buffer_);
    next_buffer_ = pending - 1;
    discontinuity_ = true;
  }
  for (; next_buffer_ < pending; ++next_buffer_) {
    if (!live_ || Unplugged(next_buffer_)) continue;
    if (!DeliverBuffer(next_buffer_)) {
      discontinuity_ = true;
      CountLost(1);
    }
  }
}

// Whether the device is gone by `buffer`; the graph hears of it once (see the video card).
bool AudioStream::Unplugged(uint64_t buffer) {
  if (unplugged_) return true;
  if (lose_after_ == 0 || buffer < lose_after_) return false;
  unplugged_ = true;
  auto* self = static_cast<IUnknown*>(static_cast<IBaseFilter*>(&filter_));
  filter_.NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(self), 0);
  return true;
}

bool AudioStream::DeliverBuffer(uint64_t buffer) {
  IMediaSample* raw = nullptr;
  // With every buffer downstream, a sound card overruns and the sound is lost.
  if (FAILED(pin_.GetDeliveryBuffer(&raw, AM_GBF_NOWAIT))) return false;
  ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Adopt(raw);
  LONG bytes = static_cast<LONG>(frames_) * kBytesPerFrame;
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < bytes) return false;
  uint64_t first = buffer * frames_;
  RenderTone(reinterpret_cast<int16_t*>(data), frames_, first, stream_rate_, FlashPeriod());
  REFERENCE_TIME start = SampleTime(first, stream_rate_);
  REFERENCE_TIME stop = SampleTime(first + frames_, stream_rate_);
  LONGLONG media_start = static_cast<LONGLONG>(first), media_stop = media_start + frames_;
  sample->SetActualDataLength(bytes);
  sample->SetTime(&start, &stop);
  sample->SetMediaTime(&media_start, &media_stop);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(discontinuity_);
  if (pin_.Deliver(sample.Get()) != S_OK) return false;
  discontinuity_ = false;
  CountDelivered(bytes);
  return true;
}

void AudioStream::CountDelivered(LONG bytes) {
  std::lock_guard<std::mutex> hold(stats_lock_);
  largest_ = std::max(largest_, bytes);
  smallest_ = delivered_ ? std::min(smallest_, bytes) : bytes;
  ++delivered_;
}

void AudioStream::CountLost(uint64_t buffers) {
  std::lock_guard<std::mutex> hold(stats_lock_);
  lost_ += static_cast<LONG>(std::min<uint64_t>(buffers, 0x7fffffff - lost_));
}

void AudioStream::GetDeliveryStats(LONG* buffers, LONG* largest_bytes, LONG* smallest_bytes) {
  std::lock_guard<std::mutex> hold(stats_lock_);
  *buffers = delivered_;
  *largest_bytes = largest_;
  *smallest_bytes = smallest_;
}

LONG AudioStream::LostBuffers() {
  std::lock_guard<std::mutex> hold(stats_lock_);
  return lost_;
}

}  // namespace testcard
