#include "testbed/testcard/testcard_setup.h"

namespace testcard {
namespace {

const wchar_t kKey[] = L"Software\\FernwoodTestbed";

std::wstring KeyPath(const std::wstring& subkey) {
  return subkey.empty() ? std::wstring(kKey) : std::wstring(kKey) + L"\\" + subkey;
}

bool SetValue(const std::wstring& subkey, const wchar_t* name, DWORD type, const void* data,
              DWORD size) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath(subkey).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  LONG err = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return err == ERROR_SUCCESS;
}

}  // namespace

TestCardSetup::TestCardSetup() {
  if (ClearTestCardConfig()) RegisterTestCard();
}

TestCardSetup::~TestCardSetup() {
  if (ClearTestCardConfig() || registered_) RegisterTestCard();
}

// The card's own record (testbed/testcard/presence.h): ReturnAt is there
// while the device is out.
bool TestCardSetup::Unplugged(const std::wstring& device) {
  return RegGetValueW(HKEY_CURRENT_USER, KeyPath(L"Unplugged\\" + device).c_str(), L"ReturnAt",
                      RRF_RT_REG_QWORD, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool TestCardSetup::SetNumber(const std::wstring& subkey, const wchar_t* name, DWORD value) {
  return SetValue(subkey, name, REG_DWORD, &value, sizeof(value));
}

bool TestCardSetup::SetText(const std::wstring& subkey, const wchar_t* name,
                            const std::wstring& text) {
  return SetValue(subkey, name, REG_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

HRESULT TestCardSetup::Register() {
  registered_ = true;
  return RegisterTestCard();
}

HRESULT RegisterTestCard() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return E_FAIL;
  std::wstring dll(path, length);
  dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"fernwood_testcard.dll";
  HMODULE module = LoadLibraryW(dll.c_str());
  if (!module) return HRESULT_FROM_WIN32(GetLastError());
  using Entry = HRESULT(STDAPICALLTYPE*)();
  auto entry = reinterpret_cast<Entry>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
  HRESULT hr = entry ? entry() : E_NOINTERFACE;
  FreeLibrary(module);
  return hr;
}

bool ClearTestCardConfig() {
  HKEY unplugged;
  bool any = RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(L"Unplugged").c_str(), 0, KEY_READ,
                           &unplugged) == ERROR_SUCCESS;
  if (any) RegCloseKey(unplugged);
  RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
  return any;
}

}  // namespace testcard
