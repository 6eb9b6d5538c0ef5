// The test card's configuration under HKCU\Software\FernwoodTestbed
// (documented in testbed/README.md). Read when devices are registered and
// each time a device filter is bound, so a test can change it between runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "testbed/testcard/portable/device_config.h"

namespace testcard {

const wchar_t kConfigKey[] = L"Software\\FernwoodTestbed";
// More would not fit the two-digit instance names that keep devices in order.
const unsigned kMaxDevices = 99;

struct VideoDeviceConfig {
  std::wstring friendly_name;
  std::vector<Capability> capabilities;
  std::vector<uint32_t> drop_frames;
  bool missing = false;
  bool preview_pin = true;
  // Frames of a run after which the card is unplugged; 0 for never.
  uint32_t lose_after_frames = 0;
  // When it is plugged in again after that; 0 for never.
  DWORD return_after_ms = 0;
  // Every type in VIDEOINFOHEADER2 instead of VIDEOINFOHEADER.
  bool video_info2 = false;
  // The preview pin has a format of its own, set on its own IAMStreamConfig.
  bool independent_pin_formats = false;
  // An audio capture pin before the video pins.
  bool audio_pin = false;
  bool dropped_frames = true;
  // What leaving the stopped state fails with; S_OK for nothing.
  HRESULT run_result = S_OK;
  // A slow card: no frame of a run starts before this much stream time.
  uint32_t first_frame_delay_ms = 0;
  // The card's crystal against the PC's clock, parts per million (its audio
  // pin's sound runs on it too); a negative DWORD is slow.
  int32_t clock_ppm = 0;
};

// What an audio pin lists and takes: 16-bit stereo at the listed rates (the
// first the default), and what else its driver takes besides.
struct AudioFormats {
  std::vector<uint32_t> rates;
  // Also any rate from 8 to 192 kHz, unlisted.
  bool any_rate = false;
  // Also mono and 8 bits, listed after each rate's 16-bit stereo.
  bool mono_and_8bit = false;
};

struct AudioDeviceConfig {
  std::wstring friendly_name;
  AudioFormats formats;
  bool missing = false;
  // Buffers of a run after which the device is unplugged; 0 for never.
  uint32_t lose_after_buffers = 0;
  DWORD return_after_ms = 0;
  // The sound of video device video_index: unplugged and back with it.
  bool lose_with_video = false;
  unsigned video_index = 0;
  // The sound's own crystal against the PC's clock, parts per million.
  int32_t clock_ppm = 0;
};

// How a device's configured loss reaches its graph, and how often it can happen.
enum class LossEvent { kDeviceLost, kErrorAbortEx, kStreamErrorStopped };
struct LossReport {
  LossEvent event = LossEvent::kDeviceLost;
  // Losses per registration.
  DWORD times = 1;
};

unsigned VideoDeviceCount();
unsigned AudioDeviceCount();
VideoDeviceConfig ReadVideoDevice(unsigned index);
AudioDeviceConfig ReadAudioDevice(unsigned index);
// VideoN or AudioN: LossEvent and LoseDeviceTimes.
LossReport ReadLossReport(bool video, unsigned index);

}  // namespace testcard
