#include "testbed/common/media_type.h"

#include <cstring>
#include <utility>

namespace testbed {

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE& src) {
  *dst = src;
  dst->pbFormat = nullptr;
  dst->cbFormat = 0;
  if (src.cbFormat && src.pbFormat) {
    dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src.cbFormat));
    if (!dst->pbFormat) return E_OUTOFMEMORY;
    std::memcpy(dst->pbFormat, src.pbFormat, src.cbFormat);
    dst->cbFormat = src.cbFormat;
  }
  if (dst->pUnk) dst->pUnk->AddRef();
  return S_OK;
}

void FreeMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  CoTaskMemFree(mt->pbFormat);
  mt->pbFormat = nullptr;
  mt->cbFormat = 0;
  if (mt->pUnk) {
    mt->pUnk->Release();
    mt->pUnk = nullptr;
  }
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE& src) {
  auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!mt) return nullptr;
  if (FAILED(CopyMediaType(mt, src))) {
    CoTaskMemFree(mt);
    return nullptr;
  }
  return mt;
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
  FreeMediaType(mt);
  CoTaskMemFree(mt);
}

bool MatchesPartial(const AM_MEDIA_TYPE& mt, const AM_MEDIA_TYPE& partial) {
  auto open_or_equal = [](REFGUID want, REFGUID have) {
    return IsEqualGUID(want, GUID_NULL) || IsEqualGUID(want, have);
  };
  return open_or_equal(partial.majortype, mt.majortype) &&
         open_or_equal(partial.subtype, mt.subtype) &&
         open_or_equal(partial.formattype, mt.formattype);
}

bool IsFullySpecified(const AM_MEDIA_TYPE& mt) {
  return !IsEqualGUID(mt.majortype, GUID_NULL) && !IsEqualGUID(mt.subtype, GUID_NULL) &&
         !IsEqualGUID(mt.formattype, GUID_NULL);
}

bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  return IsEqualGUID(a.majortype, b.majortype) && IsEqualGUID(a.subtype, b.subtype) &&
         IsEqualGUID(a.formattype, b.formattype) && a.cbFormat == b.cbFormat &&
         (a.cbFormat == 0 || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}

MediaType::MediaType() { std::memset(&mt_, 0, sizeof(mt_)); }

MediaType::MediaType(const AM_MEDIA_TYPE& mt) : MediaType() { CopyMediaType(&mt_, mt); }

MediaType::MediaType(const MediaType& other) : MediaType(other.mt_) {}

MediaType::MediaType(MediaType&& other) noexcept : mt_(other.mt_) {
  std::memset(&other.mt_, 0, sizeof(other.mt_));
}

MediaType& MediaType::operator=(MediaType other) noexcept {
  std::swap(mt_, other.mt_);
  return *this;
}

MediaType::~MediaType() { FreeMediaType(&mt_); }

BYTE* MediaType::AllocFormat(ULONG size) {
  CoTaskMemFree(mt_.pbFormat);
  mt_.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(size));
  mt_.cbFormat = mt_.pbFormat ? size : 0;
  if (mt_.pbFormat) std::memset(mt_.pbFormat, 0, size);
  return mt_.pbFormat;
}

}  // namespace testbed
