#include "testbed/common/enumerators.h"

#include <new>
#include <utility>

#include "testbed/common/com_object.h"
#include "testbed/common/com_ptr.h"
#include "testbed/common/filter.h"
#include "testbed/common/pin.h"

namespace testbed {
namespace {

// Next() may only leave `fetched` out when it asks for a single item.
HRESULT CheckNextArgs(ULONG count, void* items, ULONG* fetched) {
  if (!items) return E_POINTER;
  if (count > 1 && !fetched) return E_INVALIDARG;
  return S_OK;
}

class PinEnumerator : public ComObject, public IEnumPins {
 public:
  PinEnumerator(Filter& filter, unsigned index)
      : filter_(&filter), index_(index), version_(filter.PinVersion()) {}
  TESTBED_IUNKNOWN

  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
    HRESULT hr = CheckNextArgs(count, pins, fetched);
    if (FAILED(hr)) return hr;
    if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG n = 0;
    for (; n < count; ++n) {
      Pin* pin = filter_->PinAt(index_);
      if (!pin) break;
      pins[n] = pin;
      pin->AddRef();
      ++index_;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }

  STDMETHODIMP Skip(ULONG count) override {
    if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    unsigned pins = 0;
    while (filter_->PinAt(pins)) ++pins;
    if (index_ + count > pins) return S_FALSE;
    index_ += count;
    return S_OK;
  }

  STDMETHODIMP Reset() override {
    index_ = 0;
    version_ = filter_->PinVersion();
    return S_OK;
  }

  STDMETHODIMP Clone(IEnumPins** out) override {
    if (!out) return E_POINTER;
    if (OutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    auto* clone = new (std::nothrow) PinEnumerator(*filter_.Get(), index_);
    if (!clone) return E_OUTOFMEMORY;
    *out = clone;
    return S_OK;
  }

 protected:
  void* Interface(REFIID iid) override {
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IEnumPins))
      return static_cast<IEnumPins*>(this);
    return nullptr;
  }

 private:
  bool OutOfSync() { return version_ != filter_->PinVersion(); }

  ComPtr<Filter> filter_;
  unsigned index_;
  LONG version_;
};

class MediaTypeEnumerator : public ComObject, public IEnumMediaTypes {
 public:
  MediaTypeEnumerator(Pin& pin, std::vector<MediaType> types, size_t index)
      : pin_(&pin), types_(std::move(types)), index_(index) {}
  TESTBED_IUNKNOWN

  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    HRESULT hr = CheckNextArgs(count, types, fetched);
    if (FAILED(hr)) return hr;
    ULONG n = 0;
    for (; n < count && index_ < types_.size(); ++n, ++index_) {
      types[n] = CreateMediaType(types_[index_].Get());
      if (!types[n]) {
        while (n > 0) DeleteMediaType(types[--n]);
        return E_OUTOFMEMORY;
      }
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }

  STDMETHODIMP Skip(ULONG count) override {
    size_t left = types_.size() - index_;
    if (count > left) {
      index_ = types_.size();
      return S_FALSE;
    }
    index_ += count;
    return S_OK;
  }

  STDMETHODIMP Reset() override {
    index_ = 0;
    return S_OK;
  }

  STDMETHODIMP Clone(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    auto* clone = new (std::nothrow) MediaTypeEnumerator(*pin_.Get(), types_, index_);
    if (!clone) return E_OUTOFMEMORY;
    *out = clone;
    return S_OK;
  }

 protected:
  void* Interface(REFIID iid) override {
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IEnumMediaTypes))
      return static_cast<IEnumMediaTypes*>(this);
    return nullptr;
  }

 private:
  ComPtr<Pin> pin_;
  std::vector<MediaType> types_;
  size_t index_;
};

}  // namespace

HRESULT CreatePinEnumerator(Filter& filter, IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) PinEnumerator(filter, 0);
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CreateMediaTypeEnumerator(Pin& pin, IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  std::vector<MediaType> types;
  MediaType mt;
  for (unsigned i = 0; pin.GetMediaType(i, &mt) == S_OK; ++i) types.push_back(mt);
  *out = new (std::nothrow) MediaTypeEnumerator(pin, std::move(types), 0);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace testbed
