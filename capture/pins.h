// Walks over a filter's pins. Every pin or filter returned holds a reference
// the caller releases.
#ifndef FERNWOODVIEW_PINS_H
#define FERNWOODVIEW_PINS_H

#include <windows.h>

#include <dshow.h>

#include <functional>

// The first pin that `wanted` accepts, or null; every pin when nothing is.
IPin* FindPin(IBaseFilter* filter, const std::function<bool(IPin*)>& wanted);

bool IsOutputPin(IPin* pin);
bool IsInputPin(IPin* pin);
bool IsConnected(IPin* pin);
// Whether some input pin of the filter is connected.
bool HasConnectedInput(IBaseFilter* filter);
IBaseFilter* PinOwner(IPin* pin);
// The filter at the other end of a connected pin, or null.
IBaseFilter* PeerOwner(IPin* pin);

IPin* FirstOutputPin(IBaseFilter* filter);
// The first output pin that is not connected.
IPin* FreeOutputPin(IBaseFilter* filter);
// Collects first: a tee deletes outputs as they are freed, which would put
// a running pin enumeration out of step.
int OutputPins(IBaseFilter* filter, IPin** out, int capacity);
// The position of `source`'s stream among the filter's connected inputs,
// or -1; a multiplexer's input order is its stream order.
int StreamIndexFedBy(IBaseFilter* filter, IBaseFilter* source);

// Whether two interface pointers belong to one COM object; false for a null one.
bool SameObject(IUnknown* a, IUnknown* b);

#endif
