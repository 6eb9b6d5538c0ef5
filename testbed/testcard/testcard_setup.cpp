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

TestCardSetup::TestCardSetup() { ClearTestCardConfig(); }

TestCardSetup::~TestCardSetup() {
  ClearTestCardConfig();
  if (registered_) RegisterTestCard();
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

void ClearTestCardConfig() { RegDeleteTreeW(HKEY_CURRENT_USER, kKey); }

}  // namespace testcard
