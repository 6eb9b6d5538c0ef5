// A capture card that is unplugged and plugged back in while the viewer runs.
#ifndef FERNWOODVIEW_DEVICE_LOSS_H
#define FERNWOODVIEW_DEVICE_LOSS_H

#include <windows.h>

#include <unknwn.h>

// EC_DEVICE_LOST with 0: `filter` is the device filter that reported it.
void OnDeviceLost(IUnknown* filter);
// EC_DEVICE_LOST with 1, WM_DEVICECHANGE, or TIMER_DEVICE_RETURN: rebuilds
// what was lost once its device is listed again.
void LookForLostDevice();

#endif
