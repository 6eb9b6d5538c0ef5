// Reference-counted COM object base with one flat QueryInterface shape.
//
// A concrete class derives from ComObject and from its interfaces, lists
// the interfaces it answers in Interface() (falling back to its base's),
// and puts TESTBED_IUNKNOWN in its body so that every interface's
// IUnknown methods land on the one reference count.
#pragma once

#include <unknwn.h>

#include <atomic>
#include <new>

namespace testbed {

class ComObject {
 public:
  ComObject();
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
  virtual ~ComObject();

  HRESULT QueryObject(REFIID iid, void** out);
  ULONG AddRefObject();
  ULONG ReleaseObject();

  // Live objects of the module, for DllCanUnloadNow.
  static long LiveObjects();

 protected:
  // The interface pointer for iid (already cast to it), or nullptr.
  virtual void* Interface(REFIID iid) = 0;

 private:
  std::atomic<ULONG> refs_{1};
};

// Server lock count of the module (IClassFactory::LockServer).
void LockModule(bool lock);
bool ModuleInUse();

// A new T (which starts with one reference, as ComObject does) handing out
// its iid interface; what a class factory's CreateInstance needs.
template <class T, class... Args>
HRESULT CreateObject(REFIID iid, void** out, Args&&... args) {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* object = new (std::nothrow) T(static_cast<Args&&>(args)...);
  if (!object) return E_OUTOFMEMORY;
  HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

}  // namespace testbed

#define TESTBED_IUNKNOWN                                                   \
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {           \
    return QueryObject(iid, out);                                          \
  }                                                                        \
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }       \
  STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }
