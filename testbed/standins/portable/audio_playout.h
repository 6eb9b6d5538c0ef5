// The arithmetic of the audio renderer stand-in's sound device, without any
// Windows API: the ring of frames the device plays from (with the stamp of
// every frame in it), the device's play position on the PC's clock, the
// rate-matching decisions of a renderer slaved to another clock, and the
// detection of the test card's clicks in what is played.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

namespace fernwood::playout {

const int64_t kUnitsPerSecond = 10000000;  // 100 ns units
// The stamp of a frame that came from no sample (inserted silence).
const int64_t kNoStamp = INT64_MIN;

// A ring of `capacity` frames. Frames are numbered from 0 since the last
// Clear; written frames carry the stamp of their first frame, and frame i of
// a write is stamped i / rate later.
class PcmRing {
 public:
  PcmRing(uint32_t capacity, uint32_t frame_bytes, int rate, uint8_t silence);
  uint32_t Capacity() const { return capacity_; }
  uint32_t Queued() const { return static_cast<uint32_t>(written_ - read_); }
  uint32_t Free() const { return capacity_ - Queued(); }
  uint64_t Written() const { return written_; }
  uint64_t ReadPosition() const { return read_; }

  // Copies up to Free() frames in; returns the frames taken.
  uint32_t Write(const uint8_t* frames, uint32_t count, int64_t stamp);
  uint32_t WriteSilence(uint32_t count);
  // Copies `count` frames out (silence past the queued ones); returns how
  // many of them were queued.
  uint32_t Read(uint8_t* out, uint32_t count);
  // The stamp of frame `index`, from the first frame of the last read up to
  // Written(), or kNoStamp.
  int64_t StampAt(uint64_t index) const;
  void Clear();

 private:
  struct Segment {
    uint64_t first;
    int64_t stamp;
  };
  uint32_t Copy(const uint8_t* frames, uint32_t count);

  uint32_t capacity_, frame_bytes_;
  int rate_;
  uint8_t silence_;
  std::vector<uint8_t> data_;
  uint64_t written_ = 0, read_ = 0;
  std::deque<Segment> segments_;
};

// Frames due from a device that plays `frames_per_second` (which may change)
// from a start time on, keeping the fraction of a frame between calls.
class PlayPosition {
 public:
  void Start(int64_t now, double frames_per_second);
  void SetRate(int64_t now, double frames_per_second);
  double Rate() const { return rate_; }
  // Whole frames that became due since the last call.
  uint32_t Advance(int64_t now);
  int64_t LastUpdate() const { return last_; }

 private:
  int64_t last_ = 0;
  double rate_ = 0, fraction_ = 0;
};

// What a renderer slaved to another clock does with the next buffer, given
// `error`: how much later (100 ns; negative: earlier) than its stamp plus the
// renderer's fixed latency its first frame would be heard.
struct Decision {
  enum Kind { kPlay, kDrop, kInsertSilence } kind = kPlay;
  uint32_t frames = 0;      // dropped from the buffer's start, or silence before it
  double rate_adjust = 0;   // the playback rate is nominal * (1 + rate_adjust)
};

struct SlaveSettings {
  int64_t tolerance = 0;       // 100 ns
  double max_adjust = 0.01;    // the range of the playback rate
  double time_constant = 1.0;  // seconds in which an error is played away
};

Decision Decide(int64_t error, uint32_t buffer_frames, int rate, const SlaveSettings& settings);

// Frames for a time span, rounded to the nearest.
uint32_t FramesIn(int64_t span, int rate);
int64_t SpanOf(uint64_t frames, int rate);

// The start of the test card's clicks (a run of samples louder than the
// card's tone), fed the left channel one sample at a time as it is played.
class ClickDetector {
 public:
  // True when a click starts at this sample.
  bool Feed(int16_t left);
  void Reset() { in_click_ = false; quiet_ = 0; }

 private:
  bool in_click_ = false;
  int quiet_ = 0;
};

// The left channel of one PCM frame (8- or 16-bit) as a signed 16-bit value.
int16_t LeftSample(const uint8_t* frame, int bits);

}  // namespace fernwood::playout
