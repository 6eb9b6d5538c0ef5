#include "testbed/testcard/config.h"

#include <windows.h>

namespace testcard {
namespace {

std::wstring DeviceKey(const wchar_t* kind, unsigned index) {
  return std::wstring(kConfigKey) + L"\\" + kind + std::to_wstring(index);
}

bool ReadDword(const std::wstring& key, const wchar_t* name, DWORD* value) {
  DWORD size = sizeof(*value);
  return RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, value,
                      &size) == ERROR_SUCCESS;
}

bool ReadString(const std::wstring& key, const wchar_t* name, std::wstring* value) {
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
      ERROR_SUCCESS)
    return false;
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, &text[0], &size) !=
      ERROR_SUCCESS)
    return false;
  text.resize(wcsnlen(text.c_str(), text.size()));
  *value = text;
  return true;
}

// The settings texts are ASCII; anything else becomes '?' and fails to parse.
bool ReadAscii(const std::wstring& key, const wchar_t* name, std::string* value) {
  std::wstring wide;
  if (!ReadString(key, name, &wide)) return false;
  value->clear();
  for (wchar_t c : wide) value->push_back(c < 128 ? static_cast<char>(c) : '?');
  return true;
}

unsigned DeviceCount(const wchar_t* name) {
  DWORD count = 1;
  ReadDword(kConfigKey, name, &count);
  return count > kMaxDevices ? kMaxDevices : count;
}

std::wstring DefaultName(const wchar_t* base, unsigned index) {
  return index == 0 ? base : std::wstring(base) + L" " + std::to_wstring(index + 1);
}

bool ReadMissing(const std::wstring& key) {
  DWORD missing = 0;
  return ReadDword(key, L"Missing", &missing) && missing != 0;
}

}  // namespace

unsigned VideoDeviceCount() { return DeviceCount(L"VideoDevices"); }

unsigned AudioDeviceCount() { return DeviceCount(L"AudioDevices"); }

VideoDeviceConfig ReadVideoDevice(unsigned index) {
  std::wstring key = DeviceKey(L"Video", index);
  VideoDeviceConfig config;
  if (!ReadString(key, L"FriendlyName", &config.friendly_name) || config.friendly_name.empty())
    config.friendly_name = DefaultName(L"Fernwood HD Test Card", index);
  std::string text;
  if (!ReadAscii(key, L"Capabilities", &text) || !ParseCapabilities(text, &config.capabilities))
    config.capabilities = DefaultCapabilities();
  if (ReadAscii(key, L"DropFrames", &text)) ParseNumberList(text, &config.drop_frames);
  config.missing = ReadMissing(key);
  DWORD value = 1;
  if (ReadDword(key, L"PreviewPin", &value)) config.preview_pin = value != 0;
  value = 0;
  if (ReadDword(key, L"LoseDeviceAfterFrames", &value)) config.lose_after_frames = value;
  ReadDword(key, L"ReturnAfterMs", &config.return_after_ms);
  std::wstring format_type;
  config.video_info2 = ReadString(key, L"FormatType", &format_type) && format_type == L"VideoInfo2";
  std::wstring pin_formats;
  config.independent_pin_formats = ReadString(key, L"PinFormats", &pin_formats) && pin_formats == L"Independent";
  value = 0;
  config.audio_pin = ReadDword(key, L"AudioPin", &value) && value != 0;
  value = 1;
  if (ReadDword(key, L"DroppedFrames", &value)) config.dropped_frames = value != 0;
  value = 0;
  if (ReadDword(key, L"RunResult", &value)) config.run_result = static_cast<HRESULT>(value);
  value = 0;
  if (ReadDword(key, L"FirstFrameDelayMs", &value)) config.first_frame_delay_ms = value;
  value = 0;
  if (ReadDword(key, L"ClockPpm", &value)) config.clock_ppm = static_cast<int32_t>(value);
  return config;
}

AudioDeviceConfig ReadAudioDevice(unsigned index) {
  std::wstring key = DeviceKey(L"Audio", index);
  AudioDeviceConfig config;
  if (!ReadString(key, L"FriendlyName", &config.friendly_name) || config.friendly_name.empty())
    config.friendly_name = DefaultName(L"Fernwood HD Test Card Audio", index);
  std::string text;
  std::vector<uint32_t> rates;
  if (ReadAscii(key, L"Rates", &text) && ParseNumberList(text, &rates)) {
    for (uint32_t rate : rates)
      if (rate >= 8000 && rate <= 192000 && rate % 100 == 0) config.formats.rates.push_back(rate);
  }
  // Unconfigured, the device is what Windows' audio capture filter shows over
  // a usual sound card (Wine's Windows-validated audiorecord.c): the classic
  // wave-in formats listed, 44.1 kHz 16-bit stereo first, and any rate,
  // channel count and depth of those taken.
  if (config.formats.rates.empty()) config.formats = {{44100, 22050, 11025}, true, true};
  config.missing = ReadMissing(key);
  DWORD value = 0;
  if (ReadDword(key, L"LoseDeviceAfterBuffers", &value)) config.lose_after_buffers = value;
  ReadDword(key, L"ReturnAfterMs", &config.return_after_ms);
  config.lose_with_video = ReadDword(key, L"LoseWithVideo", &value);
  if (config.lose_with_video) config.video_index = value;
  value = 0;
  if (ReadDword(key, L"ClockPpm", &value)) config.clock_ppm = static_cast<int32_t>(value);
  return config;
}

LossReport ReadLossReport(bool video, unsigned index) {
  std::wstring key = DeviceKey(video ? L"Video" : L"Audio", index);
  LossReport report;
  std::wstring event;
  if (ReadString(key, L"LossEvent", &event)) {
    if (event == L"ErrorAbortEx") report.event = LossEvent::kErrorAbortEx;
    if (event == L"StreamErrorStopped") report.event = LossEvent::kStreamErrorStopped;
  }
  ReadDword(key, L"LoseDeviceTimes", &report.times);
  return report;
}

}  // namespace testcard
