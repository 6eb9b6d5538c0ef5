// IEnumPins over a filter's pins and IEnumMediaTypes over a pin's types.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <vector>

#include "testbed/common/media_type.h"

namespace testbed {

class Filter;
class Pin;

HRESULT CreatePinEnumerator(Filter& filter, IEnumPins** out);
// Takes a snapshot of the pin's types; the enumerator keeps the pin's filter alive.
HRESULT CreateMediaTypeEnumerator(Pin& pin, IEnumMediaTypes** out);

}  // namespace testbed
