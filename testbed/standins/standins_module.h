// fernwood_standins.dll: COM classes that stand in for pieces the test
// platform lacks. Each class is one row of the table in standins_module.cpp;
// the class factory and registration are testbed/common's.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>

#include "testbed/common/server.h"

namespace fernwood {

struct StandinClass {
    const CLSID* clsid;
    const wchar_t* name;  // the registry's description of the class
    testbed::CreateFunction create;
    // Further registration (e.g. a filter's pins and merit with the filter
    // mapper); may be null.
    HRESULT (*register_extra)(bool install);
};

// A new T (which starts with one reference, as testbed::ComObject does)
// handing out its iid interface.
template <class T>
HRESULT CreateObject(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* object = new (std::nothrow) T;
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

}  // namespace fernwood
