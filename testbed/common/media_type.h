// AM_MEDIA_TYPE helpers: copying and freeing format blocks, and an owning wrapper.
#pragma once

#include <windows.h>
#include <dshow.h>

namespace testbed {

// Deep copy; the format block is allocated with CoTaskMemAlloc.
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE& src);
// Frees the format block and the pUnk reference, leaving the struct itself.
void FreeMediaType(AM_MEDIA_TYPE* mt);
// A CoTaskMemAlloc'd copy, as IEnumMediaTypes::Next and GetStreamCaps return them.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE& src);
// Frees what CreateMediaType (or a COM method) handed out.
void DeleteMediaType(AM_MEDIA_TYPE* mt);

// Whether mt agrees with a partial type: GUID_NULL fields match anything.
bool MatchesPartial(const AM_MEDIA_TYPE& mt, const AM_MEDIA_TYPE& partial);
// Whether a partial type leaves nothing open (no GUID_NULL in the three GUIDs).
bool IsFullySpecified(const AM_MEDIA_TYPE& mt);
// Same GUIDs, same format block.
bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

class MediaType {
 public:
  MediaType();
  MediaType(const AM_MEDIA_TYPE& mt);
  MediaType(const MediaType& other);
  MediaType(MediaType&& other) noexcept;
  MediaType& operator=(MediaType other) noexcept;
  ~MediaType();

  const AM_MEDIA_TYPE& Get() const { return mt_; }
  AM_MEDIA_TYPE* operator->() { return &mt_; }
  const AM_MEDIA_TYPE* operator->() const { return &mt_; }

  // Replaces the format block with size zeroed bytes and returns it.
  BYTE* AllocFormat(ULONG size);
  template <class T>
  T* Format() const {
    return mt_.cbFormat >= sizeof(T) ? reinterpret_cast<T*>(mt_.pbFormat) : nullptr;
  }

 private:
  AM_MEDIA_TYPE mt_;
};

}  // namespace testbed
