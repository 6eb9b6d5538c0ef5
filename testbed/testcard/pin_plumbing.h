// What the card's video and audio filters answer alike: the pin category
// property and the device index their moniker hands them.
#pragma once

#include <dshow.h>

namespace testcard {

// IKsPropertySet of a pin whose only property is its read-only category.
HRESULT SetPinProperty(REFGUID set);
HRESULT GetPinCategory(REFGUID set, DWORD id, const GUID& category, void* data, DWORD size,
                       DWORD* returned);
HRESULT QueryPinProperty(REFGUID set, DWORD id, DWORD* support);

// The device index the moniker's property bag names, 0 when it names none.
unsigned ReadDeviceIndex(IPropertyBag* bag);

}  // namespace testcard
