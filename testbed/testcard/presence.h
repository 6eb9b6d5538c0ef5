// Whether a device of the card is plugged in, as every process of the
// prefix sees it. Windows lists a removed PnP device nowhere and opens it for
// no one until it comes back; the state therefore lives beside the
// configuration, under HKCU\Software\FernwoodTestbed\Unplugged\VideoN (or
// AudioN): Losses (DWORD), how often the device was unplugged since it was
// registered, and ReturnAt (QWORD, GetTickCount64 milliseconds, 0 for
// never), present only while it is unplugged.
#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

#include "testbed/common/filter.h"
#include "testbed/testcard/config.h"

namespace testcard {

enum class DeviceType { kVideo, kAudio };

struct DeviceId {
  DeviceType type;
  unsigned index;
};

struct Presence {
  DWORD losses = 0;
  bool plugged = true;
};

// The device's state now; a device whose return is due is brought back
// (listed again) first, by whichever process asks.
Presence ReadPresence(DeviceId id);
// Unlists the device (and any audio device configured to go with a video
// device) and, after return_after_ms (0: never), lists it again.
void UnplugDevice(DeviceId id, DWORD return_after_ms);
// Every device plugged in and never lost, as after registration.
void ForgetPresence();

// The device's entry in its category, as registration writes it (module.cpp).
HRESULT ListDevice(DeviceId id);
void UnlistDevice(DeviceId id);

// What one filter instance knows of its device. An instance that saw its
// device go stays dead, as a KS filter whose device was removed ("the
// previous state of the capture filter is no longer valid", Device Removal
// Notification): it never streams again, and it tells its graph once when
// the device is back (EC_DEVICE_LOST, 1).
class DeviceWatch {
 public:
  explicit DeviceWatch(testbed::Filter& filter) : filter_(filter) {}
  ~DeviceWatch();
  DeviceWatch(const DeviceWatch&) = delete;
  DeviceWatch& operator=(const DeviceWatch&) = delete;

  // At binding: the instance is for this device as it is now.
  void Bind(DeviceId id);
  // Whether the bound device can stream: kDeviceGone when it is unplugged
  // or was unplugged since the binding.
  HRESULT Usable();
  bool Gone() const { return gone_; }

  // On the streaming thread. The instance pulls the plug itself (its
  // configured loss, which a device suffers once per registration):
  // whether it did.
  bool Unplug(DWORD return_after_ms);
  // Notices the device going from elsewhere (another filter of the same
  // card, another process): whether it is gone.
  bool Poll();

 private:
  void Lost();
  void TellGraphOfLoss();
  void WatchForReturn();

  testbed::Filter& filter_;
  DeviceId id_ = {DeviceType::kVideo, 0};
  DWORD bound_losses_ = 0;
  LossReport report_;
  std::atomic<bool> gone_{false};
  HANDLE stop_ = nullptr;
  std::thread watcher_;
};

}  // namespace testcard
