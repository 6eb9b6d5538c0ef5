// fernwood_standins.dll: COM classes that stand in for pieces the test
// platform lacks. Each class is one row of the table in standins_module.cpp.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace fernwood {

struct StandinClass {
    const CLSID* clsid;
    const wchar_t* name;  // the registry's description of the class
    HRESULT (*create)(IUnknown* outer, REFIID iid, void** out);
    // Further registration (e.g. a filter's pins and merit with the filter
    // mapper); may be null.
    HRESULT (*register_extra)(bool install);
};

// Objects and server locks keep the DLL loaded.
void ModuleLock();
void ModuleUnlock();

}  // namespace fernwood
