#include "testbed/testcard/audio_stream.h"

#include <mmreg.h>

#include <algorithm>
#include <numeric>
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

MediaType MakeAudioType(const AudioFormat& format) {
  MediaType mt;
  mt->majortype = MEDIATYPE_Audio;
  mt->subtype = MEDIASUBTYPE_PCM;
  mt->formattype = FORMAT_WaveFormatEx;
  mt->bFixedSizeSamples = TRUE;
  mt->lSampleSize = static_cast<ULONG>(format.BlockAlign());
  auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormat(sizeof(WAVEFORMATEX)));
  if (!wfx) return mt;
  wfx->wFormatTag = WAVE_FORMAT_PCM;
  wfx->nChannels = static_cast<WORD>(format.channels);
  wfx->nSamplesPerSec = static_cast<DWORD>(format.rate);
  wfx->nAvgBytesPerSec = static_cast<DWORD>(format.rate * format.BlockAlign());
  wfx->nBlockAlign = static_cast<WORD>(format.BlockAlign());
  wfx->wBitsPerSample = static_cast<WORD>(format.bits);
  return mt;
}

// The PCM format of an audio type; its subtype and sizes are not checked.
bool ParseAudioType(const AM_MEDIA_TYPE& mt, AudioFormat* format) {
  if (!IsEqualGUID(mt.majortype, MEDIATYPE_Audio) ||
      !IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx) || mt.cbFormat < sizeof(PCMWAVEFORMAT) ||
      !mt.pbFormat)
    return false;
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
  if (wfx->wFormatTag != WAVE_FORMAT_PCM) return false;
  *format = {static_cast<int>(wfx->nSamplesPerSec), wfx->nChannels, wfx->wBitsPerSample};
  return true;
}

bool operator==(const AudioFormat& a, const AudioFormat& b) {
  return a.rate == b.rate && a.channels == b.channels && a.bits == b.bits;
}

}  // namespace

// --- AudioPin ---

AudioPin::AudioPin(testbed::Filter& filter, AudioStream& stream, const wchar_t* name)
    : CapturePin(filter, name, PIN_CATEGORY_CAPTURE, sizeof(AUDIO_STREAM_CONFIG_CAPS)),
      stream_(stream) {}

HRESULT AudioPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  Hold hold(Owner().Lock());
  AudioFormat format;
  return ParseAudioType(mt, &format) && stream_.Accepts(format) ? S_OK : S_FALSE;
}

HRESULT AudioPin::GetMediaType(unsigned index, MediaType* out) {
  Hold hold(Owner().Lock());
  std::vector<AudioFormat> listed = stream_.Listed();
  if (index >= listed.size()) return VFW_S_NO_MORE_ITEMS;
  *out = MakeAudioType(listed[index]);
  return S_OK;
}

HRESULT AudioPin::ProposedType(unsigned index, MediaType* out) {
  Hold hold(Owner().Lock());
  if (!stream_.FormatSet()) return GetMediaType(index, out);
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  *out = MakeAudioType(stream_.Current());
  return S_OK;
}

// Once the application chose a format, the pin offers that one first.
bool AudioPin::PeerTypesFirst() {
  Hold hold(Owner().Lock());
  return !stream_.FormatSet();
}

HRESULT AudioPin::TypeRefused(const AM_MEDIA_TYPE& mt) {
  return IsEqualGUID(mt.majortype, MEDIATYPE_Audio) ? VFW_E_TYPE_NOT_ACCEPTED
                                                    : VFW_E_INVALIDMEDIATYPE;
}

// The pool is what the application suggested or the filter's default, not
// what the downstream pin asks for: a holder of buffers makes sound go lost.
HRESULT AudioPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  AudioFormat format;
  if (!ParseAudioType(mt_.Get(), &format)) return VFW_E_TYPE_NOT_ACCEPTED;
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt_->pbFormat);
  uint32_t frames =
      BufferFrames(static_cast<long>(wfx->nAvgBytesPerSec), format.BlockAlign(), Suggested().cbBuffer);
  if (frames == 0) return VFW_E_TYPE_NOT_ACCEPTED;
  long bytes = static_cast<long>(frames) * format.BlockAlign();
  *request = {DefaultBufferCount(frames, format.rate), bytes, 1, 0};
  ApplySuggestion(request);
  HRESULT hr = testbed::SetAllocatorAtLeast(allocator, *request, bytes);
  if (FAILED(hr)) return hr;
  buffer_frames_ = frames;
  return S_OK;
}

HRESULT AudioPin::ApplyFormat(const AM_MEDIA_TYPE& mt) {
  AudioFormat format;
  if (!ParseAudioType(mt, &format) || !stream_.Accepts(format)) return VFW_E_INVALIDMEDIATYPE;
  MediaType type = MakeAudioType(format);
  HRESULT hr = CheckPeerAccepts(type.Get());
  if (FAILED(hr)) return hr;
  stream_.SetFormat(format);
  return ReconnectIfChanged(type.Get());
}

MediaType AudioPin::CurrentFormat() { return peer_ ? mt_ : MakeAudioType(stream_.Current()); }

size_t AudioPin::CapabilityCount() { return stream_.Listed().size(); }

// Every entry describes the whole device, as Windows' audio capture filter's do.
MediaType AudioPin::CapabilityType(size_t index, BYTE* caps) {
  const AudioFormats& formats = stream_.Formats();
  auto* audio = reinterpret_cast<AUDIO_STREAM_CONFIG_CAPS*>(caps);
  audio->guid = MEDIATYPE_Audio;
  audio->MinimumChannels = formats.mono_and_8bit ? 1 : 2;
  audio->MaximumChannels = 2;
  audio->ChannelsGranularity = 1;
  audio->MinimumBitsPerSample = formats.mono_and_8bit ? 8 : 16;
  audio->MaximumBitsPerSample = 16;
  audio->BitsPerSampleGranularity = 8;
  audio->MinimumSampleFrequency = *std::min_element(formats.rates.begin(), formats.rates.end());
  audio->MaximumSampleFrequency = *std::max_element(formats.rates.begin(), formats.rates.end());
  DWORD step = 0;
  for (uint32_t rate : formats.rates) step = std::gcd(step, static_cast<DWORD>(rate));
  audio->SampleFrequencyGranularity = step;
  return MakeAudioType(stream_.Listed()[index]);
}

// --- AudioStream ---

AudioStream::AudioStream(testbed::Filter& filter, DeviceWatch& watch, const wchar_t* pin_name)
    : watch_(watch), pin_(filter, *this, pin_name), stream_(*this) {}

AudioStream::~AudioStream() { stream_.Stop(); }

void AudioStream::Configure(const AudioFormats& formats, const Unplugging& unplugging,
                            CardClock clock) {
  formats_ = formats;
  clock_ = clock;
  current_ = {static_cast<int>(formats_.rates.front()), 2, 16};
  format_set_ = false;
  unplugging_ = unplugging;
}

bool AudioStream::Accepts(const AudioFormat& format) const {
  bool listed = std::find(formats_.rates.begin(), formats_.rates.end(),
                          static_cast<uint32_t>(format.rate)) != formats_.rates.end();
  bool rate = listed || (formats_.any_rate && format.rate >= 8000 && format.rate <= 192000);
  bool layout = (format.channels == 2 && format.bits == 16) ||
                (formats_.mono_and_8bit && (format.channels == 1 || format.channels == 2) &&
                 (format.bits == 8 || format.bits == 16));
  return rate && layout;
}

std::vector<AudioFormat> AudioStream::Listed() const {
  std::vector<AudioFormat> listed;
  if (format_set_) listed.push_back(current_);
  for (uint32_t rate : formats_.rates) {
    const int r = static_cast<int>(rate);
    std::vector<AudioFormat> layouts = {{r, 2, 16}};
    if (formats_.mono_and_8bit) layouts.insert(layouts.end(), {{r, 1, 16}, {r, 2, 8}, {r, 1, 8}});
    for (const AudioFormat& format : layouts)
      if (!format_set_ || !(format == current_)) listed.push_back(format);
  }
  return listed;
}

REFERENCE_TIME AudioStream::NextDue() {
  return clock_.ToStream(BufferEnd(next_buffer_, frames_, stream_rate_));
}

REFERENCE_TIME AudioStream::Period() { return clock_.ToStream(BufferEnd(0, frames_, stream_rate_)); }

HRESULT AudioStream::InitStream() {
  live_ = pin_.IsConnected();
  stream_format_ = current_;
  if (live_) ParseAudioType(pin_.ConnectionType().Get(), &stream_format_);
  stream_rate_ = stream_format_.rate;
  frames_ = live_ ? pin_.BufferFrameCount() : 0;
  if (frames_ == 0) frames_ = static_cast<uint32_t>(stream_rate_ / 2);
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
  uint64_t pending = FirstPendingBuffer(clock_.ToCard(stream_now), frames_, stream_rate_);
  // Catch up on late wake-ups as a sound card's buffer would, but start
  // afresh (with a discontinuity) after a start or a long stall.
  bool restart = resync_.exchange(false);
  if ((restart || pending > next_buffer_ + max_backlog_) && pending > next_buffer_ + 1) {
    if (!restart && live_ && !watch_.Gone()) CountLost(pending - 1 - next_buffer_);
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

// Whether the device is gone by `buffer`: pulled out by its own
// configuration, or with the card it belongs to.
bool AudioStream::Unplugged(uint64_t buffer) {
  if (watch_.Gone() || (unplugging_.with_other && watch_.Poll())) return true;
  return unplugging_.after_buffers != 0 && buffer >= unplugging_.after_buffers &&
         watch_.Unplug(unplugging_.return_after_ms);
}

bool AudioStream::DeliverBuffer(uint64_t buffer) {
  IMediaSample* raw = nullptr;
  // With every buffer downstream, a sound card overruns and the sound is lost.
  if (FAILED(pin_.GetDeliveryBuffer(&raw, AM_GBF_NOWAIT))) return false;
  ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Adopt(raw);
  LONG bytes = static_cast<LONG>(frames_) * stream_format_.BlockAlign();
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < bytes) return false;
  uint64_t first = buffer * frames_;
  // The click goes where the flash is on the PC's clock, which on a
  // crystal of its own is a flash period of its own.
  RenderPcm(data, frames_, first, stream_rate_, stream_format_.channels, stream_format_.bits,
            clock_.ToCard(FlashPeriod()));
  REFERENCE_TIME start = clock_.ToStream(SampleTime(first, stream_rate_));
  REFERENCE_TIME stop = clock_.ToStream(SampleTime(first + frames_, stream_rate_));
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
