// The card's sound: a capture pin of 16-bit stereo PCM and the streaming
// that fills it, a tone with a click on every video flash, in buffers of half
// a second (or of the size suggested through IAMBufferNegotiation), paced
// and counted on the device's own crystal and stamped with the stream time
// each buffer was complete at. The audio filter has
// one; the video filter has one for its audio pin, as many HDMI cards do.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "testbed/common/filter.h"
#include "testbed/common/live_stream.h"
#include "testbed/testcard/config.h"
#include "testbed/testcard/portable/card_clock.h"
#include "testbed/testcard/pin_plumbing.h"

namespace testcard {

class AudioStream;

// When a device is pulled out and whether it comes back (0 ms: never).
struct Unplugging {
  uint32_t after_buffers = 0;
  DWORD return_after_ms = 0;
  // Gone whenever another device goes (the video of the same card).
  bool with_other = false;
};

struct AudioFormat {
  int rate;
  int channels;
  int bits;
  int BlockAlign() const { return channels * bits / 8; }
};

// Takes and lists PCM as Windows' audio capture filter does (Wine's
// Windows-validated audiorecord.c): only the wave format's tag, rate,
// channels and depth count; every format stays listed and accepted after
// SetFormat, the set one first; the peer's types are tried first; its own
// allocator, whatever the peer offers; buffers cut from the type's bytes
// per second; a type of another major type is an invalid one.
class AudioPin : public CapturePin {
 public:
  AudioPin(testbed::Filter& filter, AudioStream& stream, const wchar_t* name);

  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  HRESULT GetMediaType(unsigned index, testbed::MediaType* out) override;

  // Sample frames per buffer of the current connection.
  uint32_t BufferFrameCount() const { return buffer_frames_; }

 protected:
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT ProposedType(unsigned index, testbed::MediaType* out) override;
  bool PeerTypesFirst() override;
  bool TakesPeerAllocator() override { return false; }
  HRESULT TypeRefused(const AM_MEDIA_TYPE& mt) override;
  HRESULT ApplyFormat(const AM_MEDIA_TYPE& mt) override;
  testbed::MediaType CurrentFormat() override;
  size_t CapabilityCount() override;
  testbed::MediaType CapabilityType(size_t index, BYTE* caps) override;

 private:
  AudioStream& stream_;
  uint32_t buffer_frames_ = 0;
};

// The filter calls the stream's transitions from its own, with its lock held.
class AudioStream : private testbed::LiveStream::Producer {
 public:
  // The sound stops for good once `watch`'s device is gone.
  AudioStream(testbed::Filter& filter, DeviceWatch& watch, const wchar_t* pin_name);
  ~AudioStream() override;
  AudioStream(const AudioStream&) = delete;
  AudioStream& operator=(const AudioStream&) = delete;

  AudioPin& Pin() { return pin_; }

  // What the device takes and when it is unplugged.
  void Configure(const AudioFormats& formats, const Unplugging& unplugging = {},
                 CardClock clock = CardClock());
  const AudioFormats& Formats() const { return formats_; }
  bool Accepts(const AudioFormat& format) const;
  // The listed formats, the current one first once SetFormat chose it.
  std::vector<AudioFormat> Listed() const;
  const AudioFormat& Current() const { return current_; }
  bool FormatSet() const { return format_set_; }
  void SetFormat(const AudioFormat& format) {
    current_ = format;
    format_set_ = true;
  }

  HRESULT InitStream();
  void StartStream(REFERENCE_TIME start, IReferenceClock* clock);
  void StopStream() { stream_.Pause(); }
  void CleanupStream() { stream_.Stop(); }

  void GetDeliveryStats(LONG* buffers, LONG* largest_bytes, LONG* smallest_bytes);
  LONG LostBuffers();

 private:
  REFERENCE_TIME NextDue() override;
  REFERENCE_TIME Period() override;
  void Produce(REFERENCE_TIME stream_now) override;
  bool Unplugged(uint64_t buffer);
  bool DeliverBuffer(uint64_t buffer);
  void CountDelivered(LONG bytes);
  void CountLost(uint64_t buffers);

  DeviceWatch& watch_;
  AudioFormats formats_;
  AudioFormat current_ = {48000, 2, 16};
  bool format_set_ = false;
  Unplugging unplugging_;
  CardClock clock_;
  AudioPin pin_;

  // Fixed from pause to stop, for the streaming thread, which never takes
  // the filter lock (the filter holds it while joining the thread).
  bool live_ = false;
  AudioFormat stream_format_ = {48000, 2, 16};
  int stream_rate_ = 0;
  uint32_t frames_ = 0;
  uint64_t max_backlog_ = 1;
  uint64_t next_buffer_ = 0;
  bool discontinuity_ = true;
  std::atomic<bool> resync_{true};

  std::mutex stats_lock_;
  LONG delivered_ = 0;
  LONG largest_ = 0;
  LONG smallest_ = 0;
  LONG lost_ = 0;

  // Last member: its thread must stop before the rest goes away.
  testbed::LiveStream stream_;
};

}  // namespace testcard
