#include "testbed/testcard/presence.h"

#include <oleauto.h>

#include <new>
#include <string>
#include <vector>

#include "testbed/testcard/config.h"
#include "testbed/testcard/pin_plumbing.h"

namespace testcard {
namespace {

const wchar_t kLosses[] = L"Losses";
const wchar_t kReturnAt[] = L"ReturnAt";
// How often a dead instance looks whether its device is back.
const DWORD kWatchPeriodMs = 20;

std::wstring StateKey(DeviceId id) {
  return std::wstring(kConfigKey) + L"\\Unplugged\\" +
         (id.type == DeviceType::kVideo ? L"Video" : L"Audio") + std::to_wstring(id.index);
}

struct State {
  DWORD losses = 0;
  bool unplugged = false;
  ULONGLONG return_at = 0;
};

State ReadState(DeviceId id) {
  State state;
  std::wstring key = StateKey(id);
  DWORD size = sizeof(state.losses);
  RegGetValueW(HKEY_CURRENT_USER, key.c_str(), kLosses, RRF_RT_REG_DWORD, nullptr, &state.losses,
               &size);
  size = sizeof(state.return_at);
  state.unplugged = RegGetValueW(HKEY_CURRENT_USER, key.c_str(), kReturnAt, RRF_RT_REG_QWORD,
                                 nullptr, &state.return_at, &size) == ERROR_SUCCESS;
  return state;
}

void WriteUnplugged(DeviceId id, DWORD losses, ULONGLONG return_at) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, StateKey(id).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, kLosses, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&losses), sizeof(losses));
  RegSetValueExW(key, kReturnAt, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&return_at),
                 sizeof(return_at));
  RegCloseKey(key);
}

// The filter mapper needs COM on whatever thread brings a device back.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

// Listed again before it is marked plugged in: whoever sees it back finds it listed.
void Replug(DeviceId id, const State& state) {
  {
    ComScope com;
    ListDevice(id);
  }
  if (ReadState(id).losses == state.losses)
    RegDeleteKeyValueW(HKEY_CURRENT_USER, StateKey(id).c_str(), kReturnAt);
}

void MarkUnplugged(DeviceId id, ULONGLONG return_at) {
  State state = ReadState(id);
  if (state.unplugged) return;
  WriteUnplugged(id, state.losses + 1, return_at);
  ComScope com;
  UnlistDevice(id);
}

// Brings the devices back at their time even when every instance that saw
// them go is gone; the thread keeps the DLL loaded until it is done.
struct Return {
  std::vector<DeviceId> devices;
  ULONGLONG at;
  HMODULE module;
};

DWORD WINAPI ReturnThread(void* param) {
  Return* pending = static_cast<Return*>(param);
  for (ULONGLONG now = GetTickCount64(); now < pending->at; now = GetTickCount64())
    Sleep(static_cast<DWORD>(pending->at - now));
  for (DeviceId id : pending->devices) ReadPresence(id);
  HMODULE module = pending->module;
  delete pending;
  FreeLibraryAndExitThread(module, 0);
}

// Any address inside the DLL names it to GetModuleHandleExW.
const char kInsideTheModule = 0;

void ScheduleReturn(std::vector<DeviceId> devices, ULONGLONG at) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&kInsideTheModule), &module))
    return;
  Return* pending = new (std::nothrow) Return{std::move(devices), at, module};
  HANDLE thread = pending ? CreateThread(nullptr, 0, ReturnThread, pending, 0, nullptr) : nullptr;
  if (thread) {
    CloseHandle(thread);
    return;
  }
  delete pending;
  FreeLibrary(module);
}

}  // namespace

Presence ReadPresence(DeviceId id) {
  State state = ReadState(id);
  if (state.unplugged && state.return_at != 0 && GetTickCount64() >= state.return_at) {
    Replug(id, state);
    state = ReadState(id);
  }
  return {state.losses, !state.unplugged};
}

// A card's sound goes with its picture: the audio devices configured to go
// with the video device are pulled out with it and come back with it.
void UnplugDevice(DeviceId id, DWORD return_after_ms) {
  ULONGLONG at = return_after_ms ? GetTickCount64() + return_after_ms : 0;
  std::vector<DeviceId> devices = {id};
  if (id.type == DeviceType::kVideo) {
    for (unsigned i = 0, count = AudioDeviceCount(); i < count; ++i) {
      AudioDeviceConfig audio = ReadAudioDevice(i);
      if (audio.lose_with_video && audio.video_index == id.index)
        devices.push_back({DeviceType::kAudio, i});
    }
  }
  for (DeviceId device : devices) MarkUnplugged(device, at);
  if (at) ScheduleReturn(std::move(devices), at);
}

void ForgetPresence() {
  RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(kConfigKey) + L"\\Unplugged").c_str());
}

// --- DeviceWatch ---

DeviceWatch::~DeviceWatch() {
  if (watcher_.joinable()) {
    SetEvent(stop_);
    watcher_.join();
  }
  if (stop_) CloseHandle(stop_);
}

// An instance created while its device is out never gets it, and a dead
// instance stays bound to the device it saw go.
void DeviceWatch::Bind(DeviceId id) {
  if (gone_) return;
  id_ = id;
  Presence presence = ReadPresence(id);
  bound_losses_ = presence.losses;
  report_ = ReadLossReport(id.type == DeviceType::kVideo, id.index);
  if (!presence.plugged) gone_ = true;
}

// A stopped instance hears of the removal too (the KS proxy is told by Plug
// and Play, not by its stream): it says so when asked to start.
HRESULT DeviceWatch::Usable() {
  return Poll() ? kDeviceGone : S_OK;
}

bool DeviceWatch::Unplug(DWORD return_after_ms) {
  if (gone_) return true;
  if (bound_losses_ >= report_.times) return false;
  // Unless it went from elsewhere meanwhile.
  if (ReadPresence(id_).losses == bound_losses_) UnplugDevice(id_, return_after_ms);
  Lost();
  return true;
}

bool DeviceWatch::Poll() {
  if (gone_) return true;
  Presence presence = ReadPresence(id_);
  if (presence.plugged && presence.losses == bound_losses_) return false;
  Lost();
  return true;
}

// The graph hears of it once, as of a PnP device removed (EC_DEVICE_LOST,
// the filter, 0), and once more when it is back (1); a driver whose stream
// fails instead says so with the error alone, and nothing when it is back.
void DeviceWatch::Lost() {
  if (gone_.exchange(true)) return;
  TellGraphOfLoss();
  if (report_.event != LossEvent::kDeviceLost) return;
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!stop_) return;
  try {
    watcher_ = std::thread(&DeviceWatch::WatchForReturn, this);
  } catch (...) {
  }
}

// EC_STREAM_ERROR_STOPPED: the failure code, a minor code of 0;
// EC_ERRORABORTEX: the failure code and a BSTR that FreeEventParams frees.
void DeviceWatch::TellGraphOfLoss() {
  auto* self = static_cast<IUnknown*>(static_cast<IBaseFilter*>(&filter_));
  switch (report_.event) {
    case LossEvent::kDeviceLost:
      filter_.NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(self), 0);
      return;
    case LossEvent::kStreamErrorStopped:
      filter_.NotifyEvent(EC_STREAM_ERROR_STOPPED, kDeviceGone, 0);
      return;
    case LossEvent::kErrorAbortEx: {
      BSTR text = SysAllocString(L"The device was removed.");
      if (filter_.NotifyEvent(EC_ERRORABORTEX, kDeviceGone, reinterpret_cast<LONG_PTR>(text)) != S_OK)
        SysFreeString(text);
      return;
    }
  }
}

void DeviceWatch::WatchForReturn() {
  while (WaitForSingleObject(stop_, kWatchPeriodMs) == WAIT_TIMEOUT) {
    if (ReadPresence(id_).plugged) {
      auto* self = static_cast<IUnknown*>(static_cast<IBaseFilter*>(&filter_));
      filter_.NotifyEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(self), 1);
      return;
    }
  }
}

}  // namespace testcard
