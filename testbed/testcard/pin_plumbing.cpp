#include "testbed/testcard/pin_plumbing.h"

#include <cstring>
#include <mutex>

#include "testbed/common/media_type.h"
#include "testbed/testcard/testcard_ids.h"

namespace testcard {
namespace {

using Hold = std::lock_guard<std::recursive_mutex>;

// The device index the moniker's property bag names, 0 when it names none.
unsigned ReadDeviceIndex(IPropertyBag* bag) {
  VARIANT value;
  VariantInit(&value);
  unsigned index = 0;
  if (SUCCEEDED(bag->Read(kDeviceIndexProperty, &value, nullptr)) &&
      SUCCEEDED(VariantChangeType(&value, &value, 0, VT_I4)))
    index = static_cast<unsigned>(V_I4(&value));
  VariantClear(&value);
  return index;
}

}  // namespace

// --- CapturePin ---

CapturePin::CapturePin(testbed::Filter& filter, const wchar_t* name, const GUID& category,
                       int caps_size)
    : OutputPin(filter, name), category_(category), caps_size_(caps_size) {}

void* CapturePin::Interface(REFIID iid) {
  if (IsEqualGUID(iid, IID_IAMStreamConfig)) return static_cast<IAMStreamConfig*>(this);
  if (IsEqualGUID(iid, IID_IKsPropertySet)) return static_cast<IKsPropertySet*>(this);
  if (IsEqualGUID(iid, IID_IAMBufferNegotiation)) return static_cast<IAMBufferNegotiation*>(this);
  if (IsEqualGUID(iid, IID_IQualityControl)) return static_cast<IQualityControl*>(this);
  return OutputPin::Interface(iid);
}

STDMETHODIMP CapturePin::SetFormat(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  Hold hold(Owner().Lock());
  if (Owner().CurrentState() != State_Stopped) return VFW_E_NOT_STOPPED;
  return ApplyFormat(*mt);
}

STDMETHODIMP CapturePin::GetFormat(AM_MEDIA_TYPE** mt) {
  if (!mt) return E_POINTER;
  Hold hold(Owner().Lock());
  *mt = testbed::CreateMediaType(CurrentFormat().Get());
  return *mt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  Hold hold(Owner().Lock());
  *count = static_cast<int>(CapabilityCount());
  *size = caps_size_;
  return S_OK;
}

// Past the last capability the answer is S_FALSE, whatever the pointers
// (Wine's Windows-validated videocapture.c, test_stream_config).
STDMETHODIMP CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
  Hold hold(Owner().Lock());
  if (index < 0 || static_cast<size_t>(index) >= CapabilityCount()) return S_FALSE;
  if (!mt || !caps) return E_POINTER;
  std::memset(caps, 0, caps_size_);
  *mt = testbed::CreateMediaType(CapabilityType(static_cast<size_t>(index), caps).Get());
  return *mt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CapturePin::Set(REFGUID set, DWORD, void*, DWORD, void*, DWORD) {
  // The category is read-only.
  return IsEqualGUID(set, AMPROPSETID_Pin) ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

STDMETHODIMP CapturePin::Get(REFGUID set, DWORD id, void*, DWORD, void* data, DWORD size,
                             DWORD* returned) {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (returned) *returned = sizeof(GUID);
  if (!data) return returned ? S_OK : E_POINTER;
  if (size < sizeof(GUID)) return E_UNEXPECTED;
  std::memcpy(data, &category_, sizeof(GUID));
  return S_OK;
}

STDMETHODIMP CapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

STDMETHODIMP CapturePin::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* props) {
  if (!props) return E_POINTER;
  Hold hold(Owner().Lock());
  if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
  suggested_ = *props;
  return S_OK;
}

STDMETHODIMP CapturePin::GetAllocatorProperties(ALLOCATOR_PROPERTIES* props) {
  if (!props) return E_POINTER;
  return AllocatorProperties(props);
}

void CapturePin::ApplySuggestion(ALLOCATOR_PROPERTIES* request) const {
  if (suggested_.cBuffers > 0) request->cBuffers = suggested_.cBuffers;
  if (suggested_.cbAlign > 0) request->cbAlign = suggested_.cbAlign;
  if (suggested_.cbPrefix >= 0) request->cbPrefix = suggested_.cbPrefix;
}

STDMETHODIMP CapturePin::Notify(IBaseFilter* sender, Quality quality) {
  (void)quality;
  return sender ? S_OK : E_POINTER;
}

STDMETHODIMP CapturePin::SetSink(IQualityControl* sink) {
  // The pin sends no quality messages of its own, so it keeps no sink.
  (void)sink;
  return S_OK;
}

// --- LiveSeeking ---

STDMETHODIMP LiveSeeking::GetCapabilities(DWORD* caps) {
  if (!caps) return E_POINTER;
  *caps = 0;
  return S_OK;
}

STDMETHODIMP LiveSeeking::CheckCapabilities(DWORD* caps) {
  if (!caps) return E_POINTER;
  HRESULT hr = *caps ? E_FAIL : S_OK;
  *caps = 0;
  return hr;
}

STDMETHODIMP LiveSeeking::IsFormatSupported(const GUID* format) {
  if (!format) return E_POINTER;
  return IsEqualGUID(*format, TIME_FORMAT_MEDIA_TIME) ? S_OK : S_FALSE;
}

STDMETHODIMP LiveSeeking::QueryPreferredFormat(GUID* format) { return GetTimeFormat(format); }

STDMETHODIMP LiveSeeking::GetTimeFormat(GUID* format) {
  if (!format) return E_POINTER;
  *format = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

STDMETHODIMP LiveSeeking::IsUsingTimeFormat(const GUID* format) { return IsFormatSupported(format); }

STDMETHODIMP LiveSeeking::SetTimeFormat(const GUID* format) {
  if (!format) return E_POINTER;
  return IsFormatSupported(format) == S_OK ? S_OK : E_INVALIDARG;
}

// --- DeviceFilter ---

void* DeviceFilter::Interface(REFIID iid) {
  if (IsEqualGUID(iid, IID_IPersistPropertyBag)) return static_cast<IPersistPropertyBag*>(this);
  if (IsEqualGUID(iid, IID_IAMFilterMiscFlags)) return static_cast<IAMFilterMiscFlags*>(this);
  return Filter::Interface(iid);
}

STDMETHODIMP DeviceFilter::Load(IPropertyBag* bag, IErrorLog*) {
  if (!bag) return E_POINTER;
  unsigned index = ReadDeviceIndex(bag);
  Hold hold(Lock());
  if (CurrentState() != State_Stopped) return VFW_E_WRONG_STATE;
  for (unsigned i = 0; testbed::Pin* pin = PinAt(i); ++i)
    if (pin->IsConnected()) return VFW_E_WRONG_STATE;
  return LoadDevice(index);
}

HRESULT DeviceFilter::BindDevice(DeviceId id) {
  if (!ReadPresence(id).plugged) return kDeviceGone;
  watch_.Bind(id);
  return S_OK;
}

}  // namespace testcard
