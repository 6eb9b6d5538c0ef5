// The virtual HD capture card: a capture pin and (unless configured away) a
// preview pin that deliver the test pattern in the card's one current format
// at the exact frame rate of the graph's reference clock, from a fixed pool
// of buffers, counting lost frames. It can be unplugged in the middle of a run.
#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "testbed/common/com_object.h"
#include "testbed/common/com_ptr.h"
#include "testbed/common/delivery_queue.h"
#include "testbed/common/filter.h"
#include "testbed/common/live_stream.h"
#include "testbed/common/pin.h"
#include "testbed/testcard/audio_stream.h"
#include "testbed/testcard/config.h"
#include "testbed/testcard/device_claim.h"
#include "testbed/testcard/filters.h"
#include "testbed/testcard/pin_plumbing.h"
#include "testbed/testcard/portable/card_clock.h"
#include "testbed/testcard/portable/departure_log.h"
#include "testbed/testcard/portable/frame_clock.h"
#include "testbed/testcard/portable/stream_control.h"
#include "testbed/testcard/testcard_ids.h"
#include "testbed/testcard/video_types.h"

namespace testcard {
namespace {

using testbed::ComPtr;
using testbed::MediaType;
using Hold = std::lock_guard<std::recursive_mutex>;

// GetDroppedInfo reports the numbers of the first frames lost, up to this many.
const size_t kDroppedNumbersKept = 1000;
// Complete frames the card holds for a streaming thread that wakes late, as
// a card's buffer ring does: only frames older than these are lost.
const uint64_t kBufferedFrames = 4;
// The driver's buffer pools: fixed, whatever the downstream pin asks for, so
// a downstream filter that holds samples makes the card lose frames.
const long kCaptureBuffers = 8;
const long kPreviewBuffers = 3;
const size_t kDeparturesKept = 4096;

struct ProcAmpRange {
  long min, max, step, fallback;
};

// By VideoProcAmpProperty: brightness, contrast, hue, saturation; manual only.
const ProcAmpRange kProcAmp[] = {{0, 255, 1, 128}, {0, 255, 1, 128}, {-180, 180, 1, 0},
                                 {0, 255, 1, 128}};
const long kProcAmpCount = sizeof(kProcAmp) / sizeof(kProcAmp[0]);

bool SameLayout(const FrameLayout& a, const FrameLayout& b) {
  return a.format == b.format && a.width == b.width && a.height == b.height && a.bottom_up == b.bottom_up;
}

class VideoCapture;

// Both pins carry the card's one current format; they differ in category
// and in buffering. Either pin's IAMStreamConfig sets that card-wide format,
// unless the card's pins have formats of their own (PinFormats).
// Besides what every card pin has, Windows' capture pins offer stream
// control and (a live source's) seeking.
class VideoPin : public CapturePin, public LiveSeeking, public IAMStreamControl {
 public:
  VideoPin(VideoCapture& card, const wchar_t* name, const GUID& category);
  TESTBED_PIN_IUNKNOWN

  STDMETHODIMP StartAt(const REFERENCE_TIME* start, DWORD cookie) override;
  STDMETHODIMP StopAt(const REFERENCE_TIME* stop, BOOL send_extra, DWORD cookie) override;
  STDMETHODIMP GetInfo(AM_STREAM_INFO* info) override;
  // On the streaming thread: whether the frame covering [start, stop) of
  // reference time goes out, telling the graph when the stream starts or stops.
  bool Admit(REFERENCE_TIME start, REFERENCE_TIME stop);

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  HRESULT GetMediaType(unsigned index, MediaType* out) override;

  bool IsCapture() const { return IsEqualGUID(Category(), PIN_CATEGORY_CAPTURE) != 0; }

 protected:
  void* Interface(REFIID iid) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT ProposedType(unsigned index, MediaType* out) override;
  HRESULT CompleteConnect(IPin* peer) override;
  void BreakConnect() override;
  HRESULT ApplyFormat(const AM_MEDIA_TYPE& mt) override;
  MediaType CurrentFormat() override;
  size_t CapabilityCount() override;
  MediaType CapabilityType(size_t index, BYTE* caps) override;

 private:
  VideoCapture& card_;
  std::mutex control_lock_;
  StreamControl control_;
};

// What Windows' capture filter answers besides the pins: video control,
// processing amplifier, the driver's property sets and a live source's seeking.
class VideoCapture : public DeviceFilter,
                     public IAMDroppedFrames,
                     public IAMVideoControl,
                     public IAMVideoProcAmp,
                     public IKsPropertySet,
                     public LiveSeeking,
                     public ITestCardFrameStats,
                     private testbed::LiveStream::Producer {
 public:
  VideoCapture()
      : DeviceFilter(CLSID_TestCardVideo),
        audio_(*this, Watch(), L"Audio"),
        capture_(*this, L"Capture", PIN_CATEGORY_CAPTURE),
        preview_(*this, L"Preview", PIN_CATEGORY_PREVIEW),
        preview_queue_(preview_, L"test card preview delivery"),
        stream_(*this) {
    Configure(ReadVideoDevice(0));
    Watch().Bind({DeviceType::kVideo, 0});
  }
  ~VideoCapture() override { stream_.Stop(); }
  TESTBED_IUNKNOWN

  STDMETHODIMP GetNumDropped(long* count) override;
  STDMETHODIMP GetNumNotDropped(long* count) override;
  STDMETHODIMP GetDroppedInfo(long size, long* frames, long* copied) override;
  STDMETHODIMP GetAverageFrameSize(long* size) override;

  STDMETHODIMP GetCaps(IPin* pin, long* flags) override;
  STDMETHODIMP SetMode(IPin* pin, long mode) override;
  STDMETHODIMP GetMode(IPin* pin, long* mode) override;
  STDMETHODIMP GetCurrentActualFrameRate(IPin* pin, LONGLONG* interval) override;
  STDMETHODIMP GetMaxAvailableFrameRate(IPin* pin, long index, SIZE dimensions,
                                        LONGLONG* interval) override;
  STDMETHODIMP GetFrameRateList(IPin* pin, long index, SIZE dimensions, long* count,
                                LONGLONG** intervals) override;

  STDMETHODIMP GetRange(long property, long* min, long* max, long* step, long* fallback,
                        long* flags) override;
  STDMETHODIMP Set(long property, long value, long flags) override;
  STDMETHODIMP Get(long property, long* value, long* flags) override;

  STDMETHODIMP Set(REFGUID set, DWORD id, void* instance, DWORD instance_size, void* data,
                   DWORD size) override;
  STDMETHODIMP Get(REFGUID set, DWORD id, void* instance, DWORD instance_size, void* data,
                   DWORD size, DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  STDMETHODIMP GetDepartures(LONG size, TestCardFrameDeparture* departures, LONG* copied) override;
  STDMETHODIMP GetStreamingThread(DWORD* thread_id) override;

  // Cards with sound put its pin first.
  testbed::Pin* PinAt(unsigned index) override {
    if (has_audio_ && index-- == 0) return &audio_.Pin();
    if (index == 0) return &capture_;
    return index == 1 && has_preview_ ? &preview_ : nullptr;
  }
  LONG PinVersion() override { return pin_version_; }

  // Called by the pins with the filter lock held.
  const std::vector<Capability>& Capabilities() const { return caps_; }
  const VideoFormat& Current(const VideoPin& pin) const { return StateOf(pin).current; }
  VideoHeader Header() const { return header_; }
  // Whether the pin is bound to Current(): by SetFormat or a connection.
  bool Chosen(const VideoPin& pin) const { return StateOf(pin).chosen; }
  // Whether SetFormat chose it: then it stays, whatever is disconnected.
  bool FormatSet(const VideoPin& pin) const { return StateOf(pin).set; }
  bool Resolve(VideoFormat* format) const;
  bool Accepts(const VideoPin& pin, const VideoFormat& format) const;
  HRESULT ApplyFormat(VideoPin& pin, const VideoFormat& format);
  void Connected(const VideoPin& pin, const VideoFormat& format) {
    PinFormat& state = StateOf(pin);
    state.current = format;
    state.chosen = true;
  }
  void Disconnecting(VideoPin& pin);

 protected:
  void* Interface(REFIID iid) override;
  HRESULT LoadDevice(unsigned index) override;
  HRESULT InitStream() override;
  HRESULT StartStream(REFERENCE_TIME start) override;
  HRESULT StopStream() override;
  HRESULT CleanupStream() override;
  // Windows' capture filter reports VFW_S_CANT_CUE only with a stream to cue
  // (Wine's Windows-validated videocapture.c: S_OK paused unconnected).
  HRESULT StateResult(FILTER_STATE state) override {
    return state == State_Paused && (capture_.IsConnected() || preview_.IsConnected())
               ? VFW_S_CANT_CUE
               : S_OK;
  }

 private:
  void Configure(const VideoDeviceConfig& config);
  // Which video pin `pin` is, or nullptr.
  VideoPin* VideoPinOf(IPin* pin);
  // The capability `index` of `pin` when it allows `dimensions`, or nullptr.
  const Capability* CapabilityFor(IPin* pin, long index, SIZE dimensions);
  VideoFormat DefaultFormat() const { return FormatOf(caps_.front()); }
  // The format state `pin` follows: the card's one, or the pin's own.
  struct PinFormat {
    VideoFormat current = {};
    bool chosen = false;
    bool set = false;
  };
  PinFormat& StateOf(const VideoPin& pin) { return formats_[independent_pins_ && &pin == &preview_]; }
  const PinFormat& StateOf(const VideoPin& pin) const {
    return formats_[independent_pins_ && &pin == &preview_];
  }
  // The pins a SetFormat on `pin` changes.
  std::vector<VideoPin*> SharingFormat(VideoPin& pin);
  // The format whose rate paces the frames.
  const VideoFormat& PacingFormat();
  HRESULT StartThreads();

  REFERENCE_TIME NextDue() override;
  void Produce(REFERENCE_TIME stream_now) override;
  REFERENCE_TIME Period() override { return clock_.ToStream(interval_); }
  // Frame `frame`'s start and stop in stream time, by the card's crystal.
  FrameTimes StreamTimesOf(uint64_t frame) const;
  bool Unplugged(uint64_t frame);
  void DeliverFrame(uint64_t frame);
  bool Admitted(VideoPin& pin, uint64_t frame);
  ComPtr<IMediaSample> FillCapture(uint64_t frame);
  void DeliverPreview(uint64_t frame, IMediaSample* captured);
  bool Draw(IMediaSample* sample, uint64_t frame, IMediaSample* copy_from, const FrameLayout& layout);
  void CountDropped(uint64_t frame);
  void CountDelivered(long bytes);
  void LogDeparture(uint64_t frame, uint32_t pin);

  std::vector<Capability> caps_;
  // The processing amplifier's settings, by VideoProcAmpProperty.
  std::vector<long> proc_amp_;
  std::vector<uint32_t> drop_frames_;
  uint32_t lose_after_ = 0;
  DWORD return_after_ms_ = 0;
  REFERENCE_TIME first_frame_delay_ = 0;
  VideoHeader header_ = VideoHeader::kVideoInfo;
  bool dropped_frames_ = true;
  HRESULT run_result_ = S_OK;
  unsigned device_index_ = 0;
  DeviceClaim claim_;
  // [0] the card's (the capture pin's), [1] the preview pin's own.
  PinFormat formats_[2];
  bool independent_pins_ = false;
  // Set while SetFormat has the graph reconnect the pins: their disconnection
  // is part of the change, not a reason to forget the format.
  bool reconnecting_ = false;
  bool has_preview_ = true;
  bool has_audio_ = false;
  LONG pin_version_ = 1;
  AudioStream audio_;
  VideoPin capture_;
  VideoPin preview_;
  // The preview is delivered on a thread of its own, as a driver's pins
  // are: a renderer slow over a frame costs the preview frames, never the
  // capture pin's.
  testbed::DeliveryQueue preview_queue_;

  // Fixed from pause to stop; used by the streaming thread, which never
  // takes the filter lock (the filter holds it while joining the thread).
  FrameLayout layout_ = {};
  FrameLayout preview_layout_ = {};
  int64_t interval_ = 0;
  CardClock clock_;
  uint32_t frames_per_flash_ = 1;
  bool capture_live_ = false;
  bool preview_live_ = false;
  uint64_t next_frame_ = 0;
  bool first_capture_ = true;
  bool first_preview_ = true;
  std::atomic<bool> resync_{true};

  std::mutex stats_lock_;
  long delivered_ = 0;
  long dropped_ = 0;
  long long delivered_bytes_ = 0;
  std::vector<long> dropped_numbers_;
  // The run's start and clock, for stamping departures on the streaming thread.
  REFERENCE_TIME run_start_ = 0;
  ComPtr<IReferenceClock> run_clock_;
  DepartureLog departures_{kDeparturesKept};
  std::atomic<DWORD> streaming_thread_{0};

  // Last member: its thread must stop before the rest goes away.
  testbed::LiveStream stream_;
};

// --- VideoPin ---

VideoPin::VideoPin(VideoCapture& card, const wchar_t* name, const GUID& category)
    : CapturePin(card, name, category, sizeof(VIDEO_STREAM_CONFIG_CAPS)), card_(card) {}

HRESULT VideoPin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  Hold hold(Owner().Lock());
  VideoFormat format;
  VideoHeader header;
  if (!ParseVideoType(mt, &format, &header) || header != card_.Header()) return S_FALSE;
  return card_.Accepts(*this, format) ? S_OK : S_FALSE;
}

// Like a driver's pin (Wine's Windows-validated videocapture.c,
// test_stream_config): the capabilities, the default first, until SetFormat
// is called; from then on the set format alone, even while connected in it.
HRESULT VideoPin::GetMediaType(unsigned index, MediaType* out) {
  Hold hold(Owner().Lock());
  if (card_.FormatSet(*this)) {
    if (index > 0) return VFW_S_NO_MORE_ITEMS;
    *out = MakeVideoType(card_.Current(*this), card_.Header());
    return S_OK;
  }
  const std::vector<Capability>& caps = card_.Capabilities();
  if (index >= caps.size()) return VFW_S_NO_MORE_ITEMS;
  *out = MakeVideoType(FormatOf(caps[index]), card_.Header());
  return S_OK;
}

// The capture pin picks the first capability its peer takes; the preview
// pin, and either pin once a format is chosen, proposes the current format.
HRESULT VideoPin::ProposedType(unsigned index, MediaType* out) {
  Hold hold(Owner().Lock());
  if (IsCapture() && !card_.Chosen(*this)) return GetMediaType(index, out);
  if (index > 0) return VFW_S_NO_MORE_ITEMS;
  *out = MakeVideoType(card_.Current(*this), card_.Header());
  return S_OK;
}

HRESULT VideoPin::CompleteConnect(IPin* peer) {
  (void)peer;
  VideoFormat format;
  if (ParseVideoType(mt_.Get(), &format) && card_.Resolve(&format)) card_.Connected(*this, format);
  return S_OK;
}

void VideoPin::BreakConnect() { card_.Disconnecting(*this); }

void* VideoPin::Interface(REFIID iid) {
  if (IsEqualGUID(iid, IID_IMediaSeeking)) return static_cast<IMediaSeeking*>(this);
  if (IsEqualGUID(iid, IID_IAMStreamControl)) return static_cast<IAMStreamControl*>(this);
  return CapturePin::Interface(iid);
}

// The driver's pool, unless the application suggested another through
// IAMBufferNegotiation before connecting, as the KS proxy honours it.
HRESULT VideoPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  VideoFormat format;
  if (!ParseVideoType(mt_.Get(), &format)) return VFW_E_TYPE_NOT_ACCEPTED;
  long bytes = static_cast<long>(FrameBytes(LayoutOf(format)));
  request->cBuffers = IsCapture() ? kCaptureBuffers : kPreviewBuffers;
  request->cbBuffer = std::max(bytes, Suggested().cbBuffer);
  ApplySuggestion(request);
  return testbed::SetAllocatorAtLeast(allocator, *request, bytes);
}

STDMETHODIMP VideoPin::StartAt(const REFERENCE_TIME* start, DWORD cookie) {
  std::lock_guard<std::mutex> hold(control_lock_);
  control_.StartAt(start ? *start : kNow, cookie);
  return S_OK;
}

STDMETHODIMP VideoPin::StopAt(const REFERENCE_TIME* stop, BOOL send_extra, DWORD cookie) {
  std::lock_guard<std::mutex> hold(control_lock_);
  control_.StopAt(stop ? *stop : kNow, send_extra != FALSE, cookie);
  return S_OK;
}

STDMETHODIMP VideoPin::GetInfo(AM_STREAM_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::mutex> hold(control_lock_);
  const StreamControlInfo& state = control_.Info();
  info->tStart = state.start;
  info->tStop = state.stop;
  info->dwStartCookie = state.start_cookie;
  info->dwStopCookie = state.stop_cookie;
  info->dwFlags = (state.start_defined ? AM_STREAM_INFO_START_DEFINED : 0) |
                  (state.stop_defined ? AM_STREAM_INFO_STOP_DEFINED : 0) |
                  (state.discarding ? AM_STREAM_INFO_DISCARDING : 0) |
                  (state.send_extra ? AM_STREAM_INFO_STOP_SEND_EXTRA : 0);
  return S_OK;
}

bool VideoPin::Admit(REFERENCE_TIME start, REFERENCE_TIME stop) {
  StreamVerdict verdict;
  {
    std::lock_guard<std::mutex> hold(control_lock_);
    verdict = control_.Admit(start, stop);
  }
  LONG_PTR self = reinterpret_cast<LONG_PTR>(static_cast<IPin*>(this));
  if (verdict.started) Owner().NotifyEvent(EC_STREAM_CONTROL_STARTED, self, verdict.start_cookie);
  if (verdict.stopped) Owner().NotifyEvent(EC_STREAM_CONTROL_STOPPED, self, verdict.stop_cookie);
  return verdict.deliver;
}

HRESULT VideoPin::ApplyFormat(const AM_MEDIA_TYPE& mt) {
  // As a driver's pin: the ranges of the capabilities decide, and a format
  // outside them is E_FAIL (no "listed rate" for an interval of 0 either).
  VideoFormat format;
  VideoHeader header;
  if (!ParseVideoType(mt, &format, &header) || header != card_.Header() ||
      !FormatAllowed(card_.Capabilities(), format))
    return E_FAIL;
  return card_.ApplyFormat(*this, format);
}

MediaType VideoPin::CurrentFormat() {
  return peer_ ? mt_ : MakeVideoType(card_.Current(*this), card_.Header());
}

size_t VideoPin::CapabilityCount() { return card_.Capabilities().size(); }

MediaType VideoPin::CapabilityType(size_t index, BYTE* caps) {
  const Capability& cap = card_.Capabilities()[index];
  FillStreamCaps(cap, card_.Header(), reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(caps));
  return MakeVideoType(FormatOf(cap), card_.Header());
}

// --- VideoCapture: configuration and format ---

void* VideoCapture::Interface(REFIID iid) {
  // Windows' capture filter offers it only for a driver with the dropped-frames property.
  if (IsEqualGUID(iid, IID_IAMDroppedFrames))
    return dropped_frames_ ? static_cast<IAMDroppedFrames*>(this) : nullptr;
  if (IsEqualGUID(iid, IID_IAMVideoControl)) return static_cast<IAMVideoControl*>(this);
  if (IsEqualGUID(iid, IID_IAMVideoProcAmp)) return static_cast<IAMVideoProcAmp*>(this);
  if (IsEqualGUID(iid, IID_IKsPropertySet)) return static_cast<IKsPropertySet*>(this);
  if (IsEqualGUID(iid, IID_IMediaSeeking)) return static_cast<IMediaSeeking*>(this);
  if (IsEqualGUID(iid, IID_ITestCardFrameStats)) return static_cast<ITestCardFrameStats*>(this);
  return DeviceFilter::Interface(iid);
}

void VideoCapture::Configure(const VideoDeviceConfig& config) {
  caps_ = config.capabilities;
  proc_amp_.clear();
  for (const ProcAmpRange& range : kProcAmp) proc_amp_.push_back(range.fallback);
  drop_frames_ = config.drop_frames;
  lose_after_ = config.lose_after_frames;
  return_after_ms_ = config.return_after_ms;
  first_frame_delay_ = static_cast<REFERENCE_TIME>(config.first_frame_delay_ms) * 10000;
  header_ = config.video_info2 ? VideoHeader::kVideoInfo2 : VideoHeader::kVideoInfo;
  dropped_frames_ = config.dropped_frames;
  run_result_ = config.run_result;
  clock_ = CardClock(config.clock_ppm);
  formats_[0] = formats_[1] = {DefaultFormat(), false, false};
  independent_pins_ = config.independent_pin_formats;
  if (has_preview_ != config.preview_pin || has_audio_ != config.audio_pin) {
    has_preview_ = config.preview_pin;
    has_audio_ = config.audio_pin;
    ++pin_version_;
  }
  // An HDMI card's sound: 16-bit stereo at 48 kHz only.
  audio_.Configure({{48000}, false, false}, {}, clock_);
}

HRESULT VideoCapture::LoadDevice(unsigned index) {
  if (index >= VideoDeviceCount()) return kDeviceGone;
  VideoDeviceConfig config = ReadVideoDevice(index);
  if (config.missing) return kDeviceGone;
  HRESULT hr = BindDevice({DeviceType::kVideo, index});
  if (FAILED(hr)) return hr;
  Configure(config);
  device_index_ = index;
  return S_OK;
}

// An interval of 0 in a connection's type means the capability's fastest rate.
bool VideoCapture::Resolve(VideoFormat* format) const {
  if (format->interval == 0) {
    for (const Capability& cap : caps_) {
      if (cap.format == format->format &&
          CapabilityAllows(cap, format->width, format->height, cap.interval)) {
        format->interval = cap.interval;
        break;
      }
    }
  }
  return FormatAllowed(caps_, *format);
}

bool VideoCapture::Accepts(const VideoPin& pin, const VideoFormat& format) const {
  VideoFormat resolved = format;
  if (!Resolve(&resolved)) return false;
  // Once a format is chosen, by SetFormat or a connection, it is the only one.
  const PinFormat& state = StateOf(pin);
  return !state.chosen || resolved == state.current;
}

std::vector<VideoPin*> VideoCapture::SharingFormat(VideoPin& pin) {
  if (independent_pins_) return {&pin};
  return {&capture_, &preview_};
}

// With formats of their own the pins still share the card's one frame clock:
// the capture pin's rate, or the preview pin's while it streams alone.
const VideoFormat& VideoCapture::PacingFormat() {
  return independent_pins_ && !capture_.IsConnected() ? formats_[1].current : formats_[0].current;
}

HRESULT VideoCapture::ApplyFormat(VideoPin& changed, const VideoFormat& format) {
  MediaType type = MakeVideoType(format);
  std::vector<VideoPin*> pins = SharingFormat(changed);
  for (VideoPin* pin : pins) {
    HRESULT hr = pin->CheckPeerAccepts(type.Get());
    if (FAILED(hr)) return hr;
  }
  StateOf(changed) = {format, true, true};
  reconnecting_ = true;
  HRESULT hr = S_OK;
  for (VideoPin* pin : pins) {
    hr = pin->ReconnectIfChanged(type.Get());
    if (FAILED(hr)) break;
  }
  reconnecting_ = false;
  return hr;
}

// Windows' capture pins forget a format that only a connection chose
// (videocapture.c, test_connect_pin): once no pin carries it any more, the
// card is back at its default. A format SetFormat chose stays.
void VideoCapture::Disconnecting(VideoPin& pin) {
  VideoPin& other = &pin == &capture_ ? preview_ : capture_;
  PinFormat& state = StateOf(pin);
  if (reconnecting_ || state.set || (!independent_pins_ && other.IsConnected())) return;
  state.current = DefaultFormat();
  state.chosen = false;
}

// --- VideoCapture: streaming ---

HRESULT VideoCapture::InitStream() {
  HRESULT hr = Watch().Usable();
  if (FAILED(hr)) return hr;
  if (FAILED(run_result_)) return run_result_;
  hr = claim_.Take(device_index_);
  if (SUCCEEDED(hr)) hr = StartThreads();
  if (FAILED(hr)) CleanupStream();
  return hr;
}

HRESULT VideoCapture::StartThreads() {
  layout_ = LayoutOf(PacingFormat());
  preview_layout_ = LayoutOf(StateOf(preview_).current);
  interval_ = PacingFormat().interval;
  frames_per_flash_ = FramesPerFlash(interval_);
  PublishFlashPeriod(clock_.ToStream(frames_per_flash_ * interval_));
  capture_live_ = capture_.IsConnected();
  preview_live_ = preview_.IsConnected();
  next_frame_ = 0;
  first_capture_ = first_preview_ = true;
  {
    std::lock_guard<std::mutex> hold(stats_lock_);
    delivered_ = dropped_ = 0;
    delivered_bytes_ = 0;
    dropped_numbers_.clear();
  }
  departures_.Clear();
  HRESULT hr = preview_live_ ? preview_queue_.Start() : S_OK;
  if (SUCCEEDED(hr)) hr = stream_.Start();
  if (SUCCEEDED(hr) && has_audio_) hr = audio_.InitStream();
  return hr;
}

HRESULT VideoCapture::StartStream(REFERENCE_TIME start) {
  resync_ = true;
  {
    std::lock_guard<std::mutex> hold(stats_lock_);
    run_start_ = start;
    run_clock_ = Clock();
  }
  stream_.Run(start, Clock().Get());
  if (has_audio_) audio_.StartStream(start, Clock().Get());
  return S_OK;
}

HRESULT VideoCapture::StopStream() {
  stream_.Pause();
  if (has_audio_) audio_.StopStream();
  return S_OK;
}

HRESULT VideoCapture::CleanupStream() {
  stream_.Stop();
  if (has_audio_) audio_.CleanupStream();
  preview_queue_.Stop();
  claim_.Release();
  // A stopped filter keeps no reference to a clock the graph may take away.
  std::lock_guard<std::mutex> hold(stats_lock_);
  run_clock_.Reset();
  return S_OK;
}

REFERENCE_TIME VideoCapture::NextDue() { return StreamTimesOf(next_frame_).stop; }

FrameTimes VideoCapture::StreamTimesOf(uint64_t frame) const {
  FrameTimes card = TimesOfFrame(frame, interval_);
  return {clock_.ToStream(card.start), clock_.ToStream(card.stop)};
}

void VideoCapture::Produce(REFERENCE_TIME stream_now) {
  stream_now = clock_.ToCard(stream_now);
  // A (re)started stream picks up at the current time without counting losses.
  if (resync_.exchange(false)) {
    uint64_t pending = FirstPendingFrame(stream_now, interval_);
    if (pending > next_frame_ + 1) next_frame_ = pending - 1;
  }
  CatchUp catch_up = CatchUpAt(next_frame_, stream_now, interval_, kBufferedFrames);
  for (uint64_t frame = next_frame_; frame < catch_up.first; ++frame)
    if (!Unplugged(frame)) CountDropped(frame);
  for (uint64_t frame = catch_up.first; frame <= catch_up.last; ++frame) DeliverFrame(frame);
  next_frame_ = catch_up.last + 1;
}

// Whether the card is gone by `frame`, its audio pin with it.
bool VideoCapture::Unplugged(uint64_t frame) {
  if (Watch().Gone()) return true;
  return lose_after_ != 0 && frame >= lose_after_ && Watch().Unplug(return_after_ms_);
}

void VideoCapture::DeliverFrame(uint64_t frame) {
  if (Unplugged(frame)) return;
  // Not yet streaming: nothing is made, so nothing is lost.
  if (TimesOfFrame(frame, interval_).start < first_frame_delay_) return;
  uint32_t number = static_cast<uint32_t>(frame);
  if (std::find(drop_frames_.begin(), drop_frames_.end(), number) != drop_frames_.end()) {
    CountDropped(frame);
    return;
  }
  ComPtr<IMediaSample> captured;
  if (capture_live_ && Admitted(capture_, frame)) {
    captured = FillCapture(frame);
    if (captured) LogDeparture(frame, 0);
    HRESULT hr = captured ? capture_.Deliver(captured.Get()) : E_FAIL;
    if (hr == S_OK)
      CountDelivered(captured->GetActualDataLength());
    else
      CountDropped(frame);
  }
  if (preview_live_ && Admitted(preview_, frame)) DeliverPreview(frame, captured.Get());
}

// Whether the pin's stream control lets the frame out, by its time on the graph clock.
bool VideoCapture::Admitted(VideoPin& pin, uint64_t frame) {
  REFERENCE_TIME start;
  {
    std::lock_guard<std::mutex> hold(stats_lock_);
    start = run_start_;
  }
  FrameTimes times = StreamTimesOf(frame);
  return pin.Admit(start + times.start, start + times.stop);
}

ComPtr<IMediaSample> VideoCapture::FillCapture(uint64_t frame) {
  IMediaSample* raw = nullptr;
  // No free buffer when the frame is due means the frame is lost, as on a card.
  if (FAILED(capture_.GetDeliveryBuffer(&raw, AM_GBF_NOWAIT))) return {};
  ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Adopt(raw);
  if (!Draw(sample.Get(), frame, nullptr, layout_)) return {};
  FrameTimes times = StreamTimesOf(frame);
  LONGLONG media_start = static_cast<LONGLONG>(frame), media_stop = media_start + 1;
  sample->SetTime(&times.start, &times.stop);
  sample->SetMediaTime(&media_start, &media_stop);
  sample->SetDiscontinuity(first_capture_);
  first_capture_ = false;
  return sample;
}

void VideoCapture::DeliverPreview(uint64_t frame, IMediaSample* captured) {
  IMediaSample* raw = nullptr;
  if (FAILED(preview_.GetDeliveryBuffer(&raw, AM_GBF_NOWAIT))) return;
  ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Adopt(raw);
  bool same = SameLayout(preview_layout_, layout_);
  if (!Draw(sample.Get(), frame, same ? captured : nullptr, preview_layout_)) return;
  // Untimed, as a preview stream is: renderers show it at once instead of
  // dropping every frame as late (a frame is stamped with its capture start).
  sample->SetTime(nullptr, nullptr);
  sample->SetDiscontinuity(first_preview_);
  first_preview_ = false;
  LogDeparture(frame, 1);
  preview_queue_.Push(sample.Get());
}

bool VideoCapture::Draw(IMediaSample* sample, uint64_t frame, IMediaSample* copy_from,
                        const FrameLayout& layout) {
  BYTE* pixels = nullptr;
  long bytes = static_cast<long>(FrameBytes(layout));
  if (FAILED(sample->GetPointer(&pixels)) || sample->GetSize() < bytes) return false;
  BYTE* source = nullptr;
  if (copy_from && SUCCEEDED(copy_from->GetPointer(&source)) &&
      copy_from->GetActualDataLength() == bytes)
    std::memcpy(pixels, source, bytes);
  else
    DrawTestFrame(layout, static_cast<uint32_t>(frame), frames_per_flash_, pixels);
  sample->SetActualDataLength(bytes);
  sample->SetSyncPoint(TRUE);
  sample->SetPreroll(FALSE);
  return true;
}

void VideoCapture::CountDropped(uint64_t frame) {
  if (!capture_live_) return;
  std::lock_guard<std::mutex> hold(stats_lock_);
  ++dropped_;
  if (dropped_numbers_.size() < kDroppedNumbersKept)
    dropped_numbers_.push_back(static_cast<long>(frame));
}

void VideoCapture::CountDelivered(long bytes) {
  std::lock_guard<std::mutex> hold(stats_lock_);
  ++delivered_;
  delivered_bytes_ += bytes;
}

void VideoCapture::LogDeparture(uint64_t frame, uint32_t pin) {
  streaming_thread_ = GetCurrentThreadId();
  REFERENCE_TIME start;
  ComPtr<IReferenceClock> clock;
  {
    std::lock_guard<std::mutex> hold(stats_lock_);
    start = run_start_;
    clock = run_clock_;
  }
  departures_.Add({static_cast<uint32_t>(frame), pin, start + StreamTimesOf(frame).stop,
                   testbed::LiveStream::Now(clock.Get())});
}

// --- IAMVideoControl: no flipping or triggering; the frame rates of a capability ---

VideoPin* VideoCapture::VideoPinOf(IPin* pin) {
  if (pin == static_cast<IPin*>(&capture_)) return &capture_;
  if (has_preview_ && pin == static_cast<IPin*>(&preview_)) return &preview_;
  return nullptr;
}

const Capability* VideoCapture::CapabilityFor(IPin* pin, long index, SIZE dimensions) {
  if (!VideoPinOf(pin) || index < 0 || static_cast<size_t>(index) >= caps_.size()) return nullptr;
  const Capability& cap = caps_[index];
  return CapabilityAllows(cap, dimensions.cx, dimensions.cy, cap.interval) ? &cap : nullptr;
}

STDMETHODIMP VideoCapture::GetCaps(IPin* pin, long* flags) {
  if (!flags) return E_POINTER;
  Hold hold(Lock());
  if (!VideoPinOf(pin)) return E_INVALIDARG;
  *flags = 0;
  return S_OK;
}

STDMETHODIMP VideoCapture::SetMode(IPin* pin, long mode) {
  Hold hold(Lock());
  return VideoPinOf(pin) && mode == 0 ? S_OK : E_INVALIDARG;
}

STDMETHODIMP VideoCapture::GetMode(IPin* pin, long* mode) { return GetCaps(pin, mode); }

STDMETHODIMP VideoCapture::GetCurrentActualFrameRate(IPin* pin, LONGLONG* interval) {
  if (!interval) return E_POINTER;
  Hold hold(Lock());
  VideoPin* video = VideoPinOf(pin);
  if (!video) return E_INVALIDARG;
  if (!video->IsConnected()) return VFW_E_NOT_CONNECTED;
  *interval = StateOf(*video).current.interval;
  return S_OK;
}

STDMETHODIMP VideoCapture::GetMaxAvailableFrameRate(IPin* pin, long index, SIZE dimensions,
                                                    LONGLONG* interval) {
  if (!interval) return E_POINTER;
  Hold hold(Lock());
  const Capability* cap = CapabilityFor(pin, index, dimensions);
  if (!cap) return E_INVALIDARG;
  *interval = cap->interval;
  return S_OK;
}

// The capability's fastest rate, then the usual slower ones its range allows.
STDMETHODIMP VideoCapture::GetFrameRateList(IPin* pin, long index, SIZE dimensions, long* count,
                                            LONGLONG** intervals) {
  if (!count) return E_POINTER;
  Hold hold(Lock());
  const Capability* cap = CapabilityFor(pin, index, dimensions);
  if (!cap) return E_INVALIDARG;
  std::vector<LONGLONG> list = {cap->interval};
  for (LONGLONG usual : {333333, 333667, 400000, 666667, 1000000, 2000000, 10000000})
    if (usual > cap->interval && usual <= cap->max_interval) list.push_back(usual);
  *count = static_cast<long>(list.size());
  if (!intervals) return S_OK;
  *intervals = static_cast<LONGLONG*>(CoTaskMemAlloc(list.size() * sizeof(LONGLONG)));
  if (!*intervals) return E_OUTOFMEMORY;
  std::copy(list.begin(), list.end(), *intervals);
  return S_OK;
}

// --- IAMVideoProcAmp: settings kept (not applied to the pattern) ---

STDMETHODIMP VideoCapture::GetRange(long property, long* min, long* max, long* step,
                                    long* fallback, long* flags) {
  if (!min || !max || !step || !fallback || !flags) return E_POINTER;
  if (property < 0 || property >= kProcAmpCount) return E_PROP_ID_UNSUPPORTED;
  const ProcAmpRange& range = kProcAmp[property];
  *min = range.min;
  *max = range.max;
  *step = range.step;
  *fallback = range.fallback;
  *flags = VideoProcAmp_Flags_Manual;
  return S_OK;
}

STDMETHODIMP VideoCapture::Set(long property, long value, long flags) {
  if (property < 0 || property >= kProcAmpCount) return E_PROP_ID_UNSUPPORTED;
  const ProcAmpRange& range = kProcAmp[property];
  if (flags != VideoProcAmp_Flags_Manual || value < range.min || value > range.max)
    return E_INVALIDARG;
  Hold hold(Lock());
  proc_amp_[property] = value;
  return S_OK;
}

STDMETHODIMP VideoCapture::Get(long property, long* value, long* flags) {
  if (!value || !flags) return E_POINTER;
  if (property < 0 || property >= kProcAmpCount) return E_PROP_ID_UNSUPPORTED;
  Hold hold(Lock());
  *value = proc_amp_[property];
  *flags = VideoProcAmp_Flags_Manual;
  return S_OK;
}

// --- IKsPropertySet: the driver's dropped-frames property (read-only) ---

// ksmedia.h's PROPSETID_VIDCAP_DROPPEDFRAMES and KSPROPERTY_DROPPEDFRAMES_CURRENT_S.
const GUID kDroppedFramesSet = {
    0xc6e13344, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
const DWORD kDroppedFramesCurrent = 0;
struct DroppedFramesCurrent {
  GUID set;
  ULONG id;
  ULONG flags;
  LONGLONG picture_number;
  LONGLONG drop_count;
  ULONG average_frame_size;
};

STDMETHODIMP VideoCapture::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
  return dropped_frames_ && IsEqualGUID(set, kDroppedFramesSet) ? E_PROP_ID_UNSUPPORTED
                                                                 : E_PROP_SET_UNSUPPORTED;
}

STDMETHODIMP VideoCapture::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD size,
                               DWORD* returned) {
  if (!dropped_frames_ || !IsEqualGUID(set, kDroppedFramesSet)) return E_PROP_SET_UNSUPPORTED;
  if (id != kDroppedFramesCurrent) return E_PROP_ID_UNSUPPORTED;
  if (returned) *returned = sizeof(DroppedFramesCurrent);
  if (!data) return returned ? S_OK : E_POINTER;
  if (size < sizeof(DroppedFramesCurrent)) return E_UNEXPECTED;
  DroppedFramesCurrent current = {kDroppedFramesSet, kDroppedFramesCurrent, 0, 0, 0, 0};
  {
    std::lock_guard<std::mutex> hold(stats_lock_);
    current.picture_number = delivered_ + dropped_;
    current.drop_count = dropped_;
    current.average_frame_size = delivered_ ? static_cast<ULONG>(delivered_bytes_ / delivered_) : 0;
  }
  std::memcpy(data, &current, sizeof(current));
  return S_OK;
}

STDMETHODIMP VideoCapture::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (!dropped_frames_ || !IsEqualGUID(set, kDroppedFramesSet)) return E_PROP_SET_UNSUPPORTED;
  if (id != kDroppedFramesCurrent) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

// --- ITestCardFrameStats ---

STDMETHODIMP VideoCapture::GetDepartures(LONG size, TestCardFrameDeparture* departures,
                                         LONG* copied) {
  if (!departures || !copied) return E_POINTER;
  if (size <= 0) return E_INVALIDARG;
  std::vector<FrameDeparture> latest(static_cast<size_t>(size));
  size_t n = departures_.Latest(latest.data(), latest.size());
  for (size_t i = 0; i < n; ++i)
    departures[i] = {latest[i].frame_number, latest[i].pin, latest[i].frame_end,
                     latest[i].delivered};
  *copied = static_cast<LONG>(n);
  return S_OK;
}

STDMETHODIMP VideoCapture::GetStreamingThread(DWORD* thread_id) {
  if (!thread_id) return E_POINTER;
  *thread_id = streaming_thread_;
  return S_OK;
}

// --- IAMDroppedFrames ---

STDMETHODIMP VideoCapture::GetNumDropped(long* count) {
  if (!count) return E_POINTER;
  std::lock_guard<std::mutex> hold(stats_lock_);
  *count = dropped_;
  return S_OK;
}

STDMETHODIMP VideoCapture::GetNumNotDropped(long* count) {
  if (!count) return E_POINTER;
  std::lock_guard<std::mutex> hold(stats_lock_);
  *count = delivered_;
  return S_OK;
}

STDMETHODIMP VideoCapture::GetDroppedInfo(long size, long* frames, long* copied) {
  if (!frames || !copied) return E_POINTER;
  if (size <= 0) return E_INVALIDARG;
  std::lock_guard<std::mutex> hold(stats_lock_);
  long n = std::min(size, static_cast<long>(dropped_numbers_.size()));
  std::copy(dropped_numbers_.begin(), dropped_numbers_.begin() + n, frames);
  *copied = n;
  return S_OK;
}

STDMETHODIMP VideoCapture::GetAverageFrameSize(long* size) {
  if (!size) return E_POINTER;
  std::lock_guard<std::mutex> hold(stats_lock_);
  *size = delivered_ ? static_cast<long>(delivered_bytes_ / delivered_) : 0;
  return S_OK;
}

}  // namespace

HRESULT CreateVideoCapture(REFIID iid, void** out) {
  return testbed::CreateObject<VideoCapture>(iid, out);
}

}  // namespace testcard
