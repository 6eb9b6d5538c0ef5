// DLL entry points: class objects and the registration of the configured
// devices in the video and audio input categories.
#include <windows.h>
#include <dshow.h>

#include <cwchar>

#include "testbed/common/com_object.h"
#include "testbed/common/com_ptr.h"
#include "testbed/common/server.h"
#include "testbed/testcard/config.h"
#include "testbed/testcard/filters.h"
#include "testbed/testcard/presence.h"
#include "testbed/testcard/testcard_ids.h"

namespace testcard {
namespace {

HMODULE g_module = nullptr;

struct DeviceKind {
  const CLSID* category;
  const CLSID* clsid;
  const wchar_t* server_name;
  // Two-digit suffixes keep the registry's (alphabetical) order the device order.
  const wchar_t* instance_format;
  unsigned (*count)();
  std::wstring (*name)(unsigned index);
  // The device's pins as the filter mapper lists them.
  REGFILTER2 (*data)(unsigned index);
};

std::wstring VideoName(unsigned index) { return ReadVideoDevice(index).friendly_name; }
std::wstring AudioName(unsigned index) { return ReadAudioDevice(index).friendly_name; }

const REGPINTYPES kVideoTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_UYVY},
                                   {&MEDIATYPE_Video, &MEDIASUBTYPE_YUY2},
                                   {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24},
                                   {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32}};
const REGPINTYPES kAudioTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};

// In the filter's order: the optional audio pin, capture, the optional preview.
const REGFILTERPINS2 kVideoPins[] = {
    {REG_PINFLAG_B_OUTPUT, 1, 1, kAudioTypes, 0, nullptr, &PIN_CATEGORY_CAPTURE},
    {REG_PINFLAG_B_OUTPUT, 1, 4, kVideoTypes, 0, nullptr, &PIN_CATEGORY_CAPTURE},
    {REG_PINFLAG_B_OUTPUT, 1, 4, kVideoTypes, 0, nullptr, &PIN_CATEGORY_PREVIEW}};
const REGFILTERPINS2 kAudioPins[] = {
    {REG_PINFLAG_B_OUTPUT, 1, 1, kAudioTypes, 0, nullptr, &PIN_CATEGORY_CAPTURE}};

REGFILTER2 FilterData(const REGFILTERPINS2* pins, ULONG count) {
  REGFILTER2 data = {};
  data.dwVersion = 2;
  data.dwMerit = MERIT_DO_NOT_USE;
  data.cPins2 = count;
  data.rgPins2 = pins;
  return data;
}

REGFILTER2 VideoData(unsigned index) {
  VideoDeviceConfig config = ReadVideoDevice(index);
  const REGFILTERPINS2* first = config.audio_pin ? kVideoPins : kVideoPins + 1;
  return FilterData(first, 1 + config.audio_pin + config.preview_pin);
}
REGFILTER2 AudioData(unsigned) { return FilterData(kAudioPins, 1); }

const DeviceKind kKinds[] = {
    {&CLSID_VideoInputDeviceCategory, &CLSID_TestCardVideo, L"Fernwood HD Test Card",
     L"FernwoodTestCardVideo%02u", VideoDeviceCount, VideoName, VideoData},
    {&CLSID_AudioInputDeviceCategory, &CLSID_TestCardAudio, L"Fernwood HD Test Card Audio",
     L"FernwoodTestCardAudio%02u", AudioDeviceCount, AudioName, AudioData},
};

std::wstring InstanceName(const DeviceKind& kind, unsigned index) {
  wchar_t name[64];
  std::swprintf(name, 64, kind.instance_format, index);
  return name;
}

// The symbolic link of a root-enumerated device's KSCATEGORY_CAPTURE
// interface, as Windows puts it in a video capture device's property bag;
// the same whenever the device is listed, also after it was replugged.
std::wstring VideoDevicePath(unsigned index) {
  wchar_t path[96];
  std::swprintf(path, 96, L"\\\\?\\root#fernwood_testcard#%04u#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
                index);
  return path;
}

HRESULT WriteText(IPropertyBag* bag, const wchar_t* name, const std::wstring& text) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_BSTR;
  V_BSTR(&value) = SysAllocString(text.c_str());
  HRESULT hr = V_BSTR(&value) ? bag->Write(name, &value) : E_OUTOFMEMORY;
  VariantClear(&value);
  return hr;
}

// Audio devices also carry the wave-in device number, as Windows lists
// them; video devices their device path.
HRESULT WriteDeviceIndex(IMoniker* moniker, const DeviceKind& kind, unsigned index) {
  testbed::ComPtr<IPropertyBag> bag;
  HRESULT hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid());
  if (FAILED(hr)) return hr;
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = static_cast<LONG>(index);
  hr = bag->Write(kDeviceIndexProperty, &value);
  if (SUCCEEDED(hr) && IsEqualGUID(*kind.category, CLSID_AudioInputDeviceCategory))
    hr = bag->Write(L"WaveInId", &value);
  else if (SUCCEEDED(hr))
    hr = WriteText(bag.Get(), L"DevicePath", VideoDevicePath(index));
  return hr;
}

// Removes every instance this DLL may have listed, whatever the configuration was then.
void UnregisterDevices(const DeviceKind& kind) {
  for (unsigned i = 0; i < kMaxDevices; ++i)
    testbed::UnregisterDeviceFilter(*kind.category, *kind.clsid, InstanceName(kind, i).c_str());
}

HRESULT RegisterDevice(const DeviceKind& kind, unsigned index) {
  testbed::ComPtr<IMoniker> moniker;
  HRESULT hr = testbed::RegisterDeviceFilter(*kind.category, *kind.clsid,
                                             InstanceName(kind, index).c_str(),
                                             kind.name(index).c_str(), kind.data(index),
                                             moniker.Put());
  if (SUCCEEDED(hr)) hr = moniker ? WriteDeviceIndex(moniker.Get(), kind, index) : E_FAIL;
  return hr;
}

HRESULT RegisterDevices(const DeviceKind& kind) {
  unsigned count = kind.count();
  for (unsigned i = 0; i < count; ++i) {
    HRESULT hr = RegisterDevice(kind, i);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

const DeviceKind& KindOf(DeviceId id) { return kKinds[id.type == DeviceType::kVideo ? 0 : 1]; }

// COM is needed for the filter mapper; regsvr32 does not always initialise it.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }

 private:
  HRESULT hr_;
};

}  // namespace

HRESULT ListDevice(DeviceId id) {
  const DeviceKind& kind = KindOf(id);
  return id.index < kind.count() ? RegisterDevice(kind, id.index) : S_FALSE;
}

void UnlistDevice(DeviceId id) {
  const DeviceKind& kind = KindOf(id);
  testbed::UnregisterDeviceFilter(*kind.category, *kind.clsid, InstanceName(kind, id.index).c_str());
}

}  // namespace testcard

using namespace testcard;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualGUID(clsid, CLSID_TestCardVideo))
    return testbed::CreateClassFactory(CreateVideoCapture, iid, out);
  if (IsEqualGUID(clsid, CLSID_TestCardAudio))
    return testbed::CreateClassFactory(CreateAudioCapture, iid, out);
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return testbed::ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
  ComScope com;
  ForgetPresence();
  for (const DeviceKind& kind : kKinds) {
    HRESULT hr = testbed::RegisterInprocServer(g_module, *kind.clsid, kind.server_name);
    if (FAILED(hr)) return hr;
    UnregisterDevices(kind);
    hr = RegisterDevices(kind);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  ComScope com;
  for (const DeviceKind& kind : kKinds) {
    UnregisterDevices(kind);
    testbed::UnregisterInprocServer(*kind.clsid);
  }
  return S_OK;
}
