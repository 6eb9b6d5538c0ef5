#include "testbed/testcard/device_claim.h"

#include <string>

namespace testcard {
namespace {

// Every process of the user sees the same temporary folder.
std::wstring LockPath(unsigned index) {
  wchar_t folder[MAX_PATH + 1] = {};
  DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  std::wstring path = length > 0 && length <= MAX_PATH ? folder : L".\\";
  return path + L"fernwood-testcard-video" + std::to_wstring(index) + L".lock";
}

}  // namespace

HRESULT DeviceClaim::Take(unsigned index) {
  if (file_ != INVALID_HANDLE_VALUE) return S_OK;
  // No share mode: every other open fails with a sharing violation while this one lasts.
  file_ = CreateFileW(LockPath(index).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_TEMPORARY, nullptr);
  return file_ != INVALID_HANDLE_VALUE ? S_OK : HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
}

void DeviceClaim::Release() {
  if (file_ == INVALID_HANDLE_VALUE) return;
  CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}

}  // namespace testcard
