// In-process COM server plumbing shared by the testbed DLLs: a class factory
// and the registration of classes and of filters in device categories.
#pragma once

#include <windows.h>
#include <dshow.h>

namespace testbed {

// Creates a new object answering iid; outer is always null (no aggregation).
using CreateFunction = HRESULT (*)(REFIID iid, void** out);

HRESULT CreateClassFactory(CreateFunction create, REFIID iid, void** out);

// HKCR\CLSID\{clsid}: name and InprocServer32 = this module, ThreadingModel Both.
HRESULT RegisterInprocServer(HMODULE module, REFCLSID clsid, const wchar_t* name);
HRESULT UnregisterInprocServer(REFCLSID clsid);

// Lists a filter in a device category the way a driver does: through
// IFilterMapper2::RegisterFilter with an instance name of its own, so one
// class can appear as several devices. The moniker, when asked for, lets the
// caller add properties to the device's property bag.
HRESULT RegisterDeviceFilter(REFCLSID category, REFCLSID clsid, const wchar_t* instance,
                             const wchar_t* friendly_name, const REGFILTER2& data,
                             IMoniker** moniker);
HRESULT UnregisterDeviceFilter(REFCLSID category, REFCLSID clsid, const wchar_t* instance);

}  // namespace testbed
