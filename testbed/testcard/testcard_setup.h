// Gives one test its own test card configuration: writes the values of
// testbed/README.md under HKCU\Software\FernwoodTestbed and, when asked,
// re-registers the devices. On destruction the configuration returns to the
// default (one video card, one audio source), registered again if it had
// been changed or a device was left unplugged.
#pragma once

#include <windows.h>

#include <string>

namespace testcard {

class TestCardSetup {
 public:
  TestCardSetup();
  TestCardSetup(const TestCardSetup&) = delete;
  TestCardSetup& operator=(const TestCardSetup&) = delete;
  ~TestCardSetup();

  // Top-level values (subkey empty) or per device ("Video0", "Audio2", ...).
  bool SetNumber(const std::wstring& subkey, const wchar_t* name, DWORD value);
  bool SetText(const std::wstring& subkey, const wchar_t* name, const std::wstring& text);

  static std::wstring Video(unsigned index) { return L"Video" + std::to_wstring(index); }
  static std::wstring Audio(unsigned index) { return L"Audio" + std::to_wstring(index); }

  // Whether the device ("Video0", "Audio1", ...) is unplugged now, lost
  // through LoseDeviceAfterFrames or LoseDeviceAfterBuffers and not back
  // yet: Wine sends no WM_DEVICECHANGE for the card, so a test that waits
  // for the return polls this (or the device enumerator).
  static bool Unplugged(const std::wstring& device);

  // Lists the devices of the current configuration in the device categories
  // (the destructor then lists the default ones again).
  HRESULT Register();

 private:
  bool registered_ = false;
};

// Calls DllRegisterServer of the fernwood_testcard.dll beside the running
// executable, so that the prefix lists the devices of the configuration.
HRESULT RegisterTestCard();
// Deletes the whole configuration (the defaults apply again); whether a
// device was unplugged, and so needs registering again to be listed.
bool ClearTestCardConfig();

}  // namespace testcard
