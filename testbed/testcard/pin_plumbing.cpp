#include "testbed/testcard/pin_plumbing.h"

#include <cstring>

#include "testbed/testcard/testcard_ids.h"

namespace testcard {

HRESULT SetPinProperty(REFGUID set) {
  return IsEqualGUID(set, AMPROPSETID_Pin) ? E_PROP_ID_UNSUPPORTED : E_PROP_SET_UNSUPPORTED;
}

HRESULT GetPinCategory(REFGUID set, DWORD id, const GUID& category, void* data, DWORD size,
                       DWORD* returned) {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (returned) *returned = sizeof(GUID);
  if (!data) return returned ? S_OK : E_POINTER;
  if (size < sizeof(GUID)) return E_UNEXPECTED;
  std::memcpy(data, &category, sizeof(GUID));
  return S_OK;
}

HRESULT QueryPinProperty(REFGUID set, DWORD id, DWORD* support) {
  if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

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

}  // namespace testcard
