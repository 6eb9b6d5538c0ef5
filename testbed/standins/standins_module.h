// fernwood_standins.dll: COM classes that stand in for pieces the test
// platform lacks. Each class is one row of the table in standins_module.cpp;
// the class factory and registration are testbed/common's.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "testbed/common/com_object.h"
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

using testbed::CreateObject;

// Lists (install) or removes a filter in the legacy filter category, as the
// platform's own transform filters are listed.
HRESULT RegisterLegacyFilter(bool install, REFCLSID clsid, const wchar_t* name, DWORD merit,
                             const REGFILTERPINS2 (&pins)[2]);

}  // namespace fernwood
