// One graph at a time per video device, across processes, as a real
// device: a claim is a lock file held open without sharing, so the system
// lets go of it with the handle, also when the holding process dies.
#pragma once

#include <windows.h>

namespace testcard {

class DeviceClaim {
 public:
  DeviceClaim() = default;
  DeviceClaim(const DeviceClaim&) = delete;
  DeviceClaim& operator=(const DeviceClaim&) = delete;
  ~DeviceClaim() { Release(); }

  // S_OK once this claim holds video device `index` (also when it already
  // did); HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES) while another holds it.
  HRESULT Take(unsigned index);
  void Release();

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace testcard
