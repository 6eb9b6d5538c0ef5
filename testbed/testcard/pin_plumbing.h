// What the card's video and audio filters answer alike: IAMStreamConfig over
// a list of capabilities, the pin category property, and the device a
// moniker's property bag picks.
#pragma once

#include <dshow.h>

#include <cstddef>

#include "testbed/common/filter.h"
#include "testbed/common/pin.h"
#include "testbed/testcard/presence.h"

namespace testcard {

// An output pin of the card. IAMStreamConfig checks its arguments, takes the
// filter lock and leaves the formats to the derived pin; IKsPropertySet
// answers only the pin's read-only category (AMPROPSETID_Pin);
// IAMBufferNegotiation keeps the application's wishes for the derived pin's
// DecideBufferSize; IQualityControl takes quality messages and drops them,
// as a live source cannot change its pace.
class CapturePin : public testbed::OutputPin,
                   public IAMStreamConfig,
                   public IKsPropertySet,
                   public IAMBufferNegotiation,
                   public IQualityControl {
 public:
  TESTBED_PIN_IUNKNOWN

  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override;
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;

  STDMETHODIMP Set(REFGUID set, DWORD id, void* instance, DWORD instance_size, void* data,
                   DWORD size) override;
  STDMETHODIMP Get(REFGUID set, DWORD id, void* instance, DWORD instance_size, void* data,
                   DWORD size, DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  STDMETHODIMP SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* props) override;
  STDMETHODIMP GetAllocatorProperties(ALLOCATOR_PROPERTIES* props) override;

  STDMETHODIMP Notify(IBaseFilter* sender, Quality quality) override;
  STDMETHODIMP SetSink(IQualityControl* sink) override;

  const GUID& Category() const { return category_; }

 protected:
  // caps_size: the size of one capability structure GetStreamCaps fills.
  CapturePin(testbed::Filter& filter, const wchar_t* name, const GUID& category, int caps_size);
  void* Interface(REFIID iid) override;

  // Called with the filter lock held; SetFormat calls Apply only while the
  // filter is stopped.
  virtual HRESULT ApplyFormat(const AM_MEDIA_TYPE& mt) = 0;
  virtual testbed::MediaType CurrentFormat() = 0;
  virtual size_t CapabilityCount() = 0;
  // The index-th capability's type; fills caps, which arrives zeroed.
  virtual testbed::MediaType CapabilityType(size_t index, BYTE* caps) = 0;

  // What SuggestAllocatorProperties asked for: negative fields mean no
  // wish, and so do zero cbBuffer, cBuffers and cbAlign.
  const ALLOCATOR_PROPERTIES& Suggested() const { return suggested_; }
  // The request with the application's wishes for count, alignment and prefix applied.
  void ApplySuggestion(ALLOCATOR_PROPERTIES* request) const;

 private:
  GUID category_;
  int caps_size_;
  ALLOCATOR_PROPERTIES suggested_ = {-1, -1, -1, -1};
};

// IMediaSeeking of a live source, as Windows' capture pins and filter offer
// it: media time is the only format, and a live stream has no duration,
// positions or rate to set (E_NOTIMPL).
class LiveSeeking : public IMediaSeeking {
 public:
  STDMETHODIMP GetCapabilities(DWORD* caps) override;
  STDMETHODIMP CheckCapabilities(DWORD* caps) override;
  STDMETHODIMP IsFormatSupported(const GUID* format) override;
  STDMETHODIMP QueryPreferredFormat(GUID* format) override;
  STDMETHODIMP GetTimeFormat(GUID* format) override;
  STDMETHODIMP IsUsingTimeFormat(const GUID* format) override;
  STDMETHODIMP SetTimeFormat(const GUID* format) override;
  STDMETHODIMP GetDuration(LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetStopPosition(LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentPosition(LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetPositions(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetAvailable(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP SetRate(double) override { return E_NOTIMPL; }
  STDMETHODIMP GetRate(double*) override { return E_NOTIMPL; }
  STDMETHODIMP GetPreroll(LONGLONG*) override { return E_NOTIMPL; }
};

// A capture device filter: a source (IAMFilterMiscFlags) that its moniker
// binds to one configured device through IPersistPropertyBag::Load, and
// which dies with that device when it is unplugged.
class DeviceFilter : public testbed::Filter, public IAMFilterMiscFlags, public IPersistPropertyBag {
 public:
  STDMETHODIMP GetClassID(CLSID* clsid) override { return Filter::GetClassID(clsid); }
  STDMETHODIMP InitNew() override { return S_OK; }
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }

  STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

  DeviceWatch& Watch() { return watch_; }

 protected:
  using Filter::Filter;
  void* Interface(REFIID iid) override;
  // Takes device `index`'s configuration (called with the lock held, while
  // stopped and unconnected); kDeviceGone when there is no such device.
  virtual HRESULT LoadDevice(unsigned index) = 0;
  // Binds the instance to the device; kDeviceGone while it is unplugged.
  HRESULT BindDevice(DeviceId id);

 private:
  DeviceWatch watch_{*this};
};

// What binding a device that is configured missing, or not at all, or is
// unplugged, fails with, and what an instance whose device was unplugged
// fails to leave the stopped state with: "the device is not connected", the
// Win32 form of STATUS_DEVICE_NOT_CONNECTED in Windows' status-to-error
// mapping (RtlNtStatusToDosError). What the KS proxy passes on for a
// removed device is not documented; a failure is the stricter choice.
const HRESULT kDeviceGone = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);

}  // namespace testcard
