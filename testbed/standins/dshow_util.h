// Small helpers over the DirectShow pin and filter interfaces, shared by the
// stand-ins.
#pragma once

#include <dshow.h>

#include "testbed/common/com_ptr.h"
#include "testbed/common/media_type.h"

#include <vector>

namespace fernwood {

using testbed::ComPtr;

// Identity comparison of two COM objects through their IUnknown.
bool SameObject(IUnknown* a, IUnknown* b);

// The filter's pins in enumeration order (restarting once the enumerator
// reports that the pin set changed under it).
std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter);

ComPtr<IPin> PeerOf(IPin* pin);          // null when unconnected
ComPtr<IBaseFilter> FilterOf(IPin* pin);  // the pin's owner
bool IsConnected(IPin* pin);
bool HasDirection(IPin* pin, PIN_DIRECTION dir);

// The pin's category from the AMPROPSETID_Pin property set.
bool HasCategory(IPin* pin, const GUID& category);
// Whether any of the pin's preferred media types has this major type.
bool HasMajorType(IPin* pin, const GUID& majortype);

// Null category or type match anything.
bool PinMatches(IPin* pin, PIN_DIRECTION dir, const GUID* category, const GUID* majortype,
                bool unconnected_only);

// The index-th matching pin of a filter, or the pin itself when source is a
// pin that matches. E_FAIL when there is none, E_NOINTERFACE when source is
// neither a pin nor a filter.
HRESULT FindMatchingPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category, const GUID* majortype,
                        bool unconnected_only, int index, ComPtr<IPin>* out);

bool IsInGraph(IBaseFilter* filter, IUnknown* graph);
bool HasClassId(IBaseFilter* filter, const CLSID& clsid);

}  // namespace fernwood
