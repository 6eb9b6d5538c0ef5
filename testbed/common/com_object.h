// Reference-counted COM object base with one flat QueryInterface shape.
//
// A concrete class derives from ComObject and from its interfaces, lists
// the interfaces it answers in Interface() (falling back to its base's),
// and puts TESTBED_IUNKNOWN in its body so that every interface's
// IUnknown methods land on the one reference count.
#pragma once

#include <unknwn.h>

#include <atomic>

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

}  // namespace testbed

#define TESTBED_IUNKNOWN                                                   \
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {           \
    return QueryObject(iid, out);                                          \
  }                                                                        \
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }       \
  STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }
