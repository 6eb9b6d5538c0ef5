#include "audio_playout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace fernwood::playout {

PcmRing::PcmRing(uint32_t capacity, uint32_t frame_bytes, int rate, uint8_t silence)
    : capacity_(capacity), frame_bytes_(frame_bytes), rate_(rate), silence_(silence),
      data_(static_cast<size_t>(capacity) * frame_bytes, silence) {}

uint32_t PcmRing::Copy(const uint8_t* frames, uint32_t count) {
  count = std::min(count, Free());
  for (uint32_t done = 0; done < count;) {
    const uint32_t at = static_cast<uint32_t>((written_ + done) % capacity_);
    const uint32_t run = std::min(count - done, capacity_ - at);
    uint8_t* to = data_.data() + static_cast<size_t>(at) * frame_bytes_;
    if (frames)
      std::memcpy(to, frames + static_cast<size_t>(done) * frame_bytes_, static_cast<size_t>(run) * frame_bytes_);
    else
      std::memset(to, silence_, static_cast<size_t>(run) * frame_bytes_);
    done += run;
  }
  return count;
}

uint32_t PcmRing::Write(const uint8_t* frames, uint32_t count, int64_t stamp) {
  const uint64_t first = written_;
  count = Copy(frames, count);
  if (count) {
    segments_.push_back({first, stamp});
    written_ += count;
  }
  return count;
}

uint32_t PcmRing::WriteSilence(uint32_t count) { return Write(nullptr, count, kNoStamp); }

uint32_t PcmRing::Read(uint8_t* out, uint32_t count) {
  const uint64_t start = read_;
  const uint32_t queued = std::min(count, Queued());
  for (uint32_t done = 0; done < queued;) {
    const uint32_t at = static_cast<uint32_t>((read_ + done) % capacity_);
    const uint32_t run = std::min(queued - done, capacity_ - at);
    std::memcpy(out + static_cast<size_t>(done) * frame_bytes_, data_.data() + static_cast<size_t>(at) * frame_bytes_,
                static_cast<size_t>(run) * frame_bytes_);
    done += run;
  }
  std::memset(out + static_cast<size_t>(queued) * frame_bytes_, silence_,
              static_cast<size_t>(count - queued) * frame_bytes_);
  read_ += queued;
  // The frames just read keep their stamps until the next read.
  while (segments_.size() > 1 && segments_[1].first <= start) segments_.pop_front();
  return queued;
}

int64_t PcmRing::StampAt(uint64_t index) const {
  auto it = std::upper_bound(segments_.begin(), segments_.end(), index,
                             [](uint64_t i, const Segment& s) { return i < s.first; });
  if (it == segments_.begin() || index >= written_) return kNoStamp;
  --it;
  if (it->stamp == kNoStamp) return kNoStamp;
  return it->stamp + SpanOf(index - it->first, rate_);
}

void PcmRing::Clear() {
  written_ = read_ = 0;
  segments_.clear();
}

void PlayPosition::Start(int64_t now, double frames_per_second) {
  last_ = now;
  rate_ = frames_per_second;
  fraction_ = 0;
}

void PlayPosition::SetRate(int64_t now, double frames_per_second) {
  fraction_ += static_cast<double>(now - last_) * rate_ / kUnitsPerSecond;
  last_ = now;
  rate_ = frames_per_second;
}

uint32_t PlayPosition::Advance(int64_t now) {
  if (now > last_) fraction_ += static_cast<double>(now - last_) * rate_ / kUnitsPerSecond;
  last_ = std::max(last_, now);
  const double whole = std::floor(fraction_);
  fraction_ -= whole;
  return static_cast<uint32_t>(whole);
}

uint32_t FramesIn(int64_t span, int rate) {
  if (span <= 0) return 0;
  return static_cast<uint32_t>((span * rate + kUnitsPerSecond / 2) / kUnitsPerSecond);
}

int64_t SpanOf(uint64_t frames, int rate) {
  return static_cast<int64_t>(frames) * kUnitsPerSecond / rate;
}

// Within the tolerance the rate alone plays the error away; past it, a
// buffer that would be heard too late loses its start and one that would be
// heard too early waits behind silence, each by the whole error, so that the
// sound is back on its stamps at once.
Decision Decide(int64_t error, uint32_t buffer_frames, int rate, const SlaveSettings& settings) {
  Decision d;
  if (error > settings.tolerance) {
    d.kind = Decision::kDrop;
    d.frames = std::min(buffer_frames, FramesIn(error, rate));
  } else if (error < -settings.tolerance) {
    d.kind = Decision::kInsertSilence;
    d.frames = FramesIn(-error, rate);
  } else {
    const double seconds = static_cast<double>(error) / kUnitsPerSecond;
    d.rate_adjust = std::clamp(seconds / settings.time_constant, -settings.max_adjust, settings.max_adjust);
  }
  return d;
}

// The card's tone stays below this; its clicks are full scale.
const int kClickThreshold = 20000;
const int kQuietAfterClick = 16;

bool ClickDetector::Feed(int16_t left) {
  const bool loud = left > kClickThreshold || left < -kClickThreshold;
  const bool starts = loud && !in_click_;
  if (loud) {
    in_click_ = true;
    quiet_ = 0;
  } else if (in_click_ && ++quiet_ > kQuietAfterClick) {
    in_click_ = false;
  }
  return starts;
}

int16_t LeftSample(const uint8_t* frame, int bits) {
  if (bits == 8) return static_cast<int16_t>((frame[0] - 128) * 256);
  int16_t v;
  std::memcpy(&v, frame, sizeof v);
  return v;
}

}  // namespace fernwood::playout
