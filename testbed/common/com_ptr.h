// Owning COM reference: releases on destruction, AddRefs on copy.
#pragma once

#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace testbed {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to p (p keeps its own).
  ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ~ComPtr() { Reset(); }

  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  // Adopts a reference the caller already owns (e.g. one returned by CoCreateInstance).
  static ComPtr Adopt(T* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // For out parameters: drops the current reference first.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  void Reset() {
    if (p_) {
      T* p = p_;
      p_ = nullptr;
      p->Release();
    }
  }

  // Hands the reference to the caller (an out parameter of a COM method).
  T* Detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(__uuidof(U), out->PutVoid());
  }

 private:
  T* p_ = nullptr;
};

// Copies a reference into a COM out parameter; null stays null.
template <class T>
HRESULT CopyOut(T* p, T** out) {
  if (!out) return E_POINTER;
  *out = p;
  if (p) p->AddRef();
  return p ? S_OK : S_FALSE;
}

}  // namespace testbed
