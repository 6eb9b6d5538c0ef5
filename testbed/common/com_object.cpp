#include "testbed/common/com_object.h"

namespace testbed {
namespace {
std::atomic<long> g_live_objects{0};
std::atomic<long> g_server_locks{0};
}  // namespace

ComObject::ComObject() { ++g_live_objects; }

ComObject::~ComObject() { --g_live_objects; }

HRESULT ComObject::QueryObject(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = Interface(iid);
  if (!*out) return E_NOINTERFACE;
  AddRefObject();
  return S_OK;
}

ULONG ComObject::AddRefObject() { return ++refs_; }

ULONG ComObject::ReleaseObject() {
  ULONG refs = --refs_;
  if (refs == 0) delete this;
  return refs;
}

long ComObject::LiveObjects() { return g_live_objects; }

void LockModule(bool lock) {
  if (lock)
    ++g_server_locks;
  else
    --g_server_locks;
}

bool ModuleInUse() { return g_live_objects > 0 || g_server_locks > 0; }

}  // namespace testbed
