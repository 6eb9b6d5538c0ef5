// A small owning COM pointer for the stand-ins. Private to testbed/standins
// until the shared testbed base offers one; the shape is meant to match so
// that the swap is mechanical.
#pragma once

#include <unknwn.h>

#include <utility>

namespace fernwood {

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference.
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    // Adopts a reference the caller already owns.
    static ComPtr Adopt(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }

    void Reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }
    T* Detach() { return std::exchange(p_, nullptr); }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For out-parameters: releases what is held, then exposes the slot.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    template <typename U>
    HRESULT As(REFIID iid, ComPtr<U>* out) const {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(iid, out->PutVoid());
    }

private:
    T* p_ = nullptr;
};

// Identity comparison of two COM objects through their IUnknown.
inline bool SameObject(IUnknown* a, IUnknown* b) {
    if (!a || !b) return a == b;
    ComPtr<IUnknown> ua, ub;
    if (FAILED(a->QueryInterface(IID_IUnknown, ua.PutVoid())) ||
        FAILED(b->QueryInterface(IID_IUnknown, ub.PutVoid())))
        return false;
    return ua.Get() == ub.Get();
}

}  // namespace fernwood
