#pragma once

#include <unknwn.h>

namespace fernwood {

// The File Writer stand-in (CLSID_FileWriter): Wine's own offers no IStream
// on its input pin, which the platform's AVI Mux writes through, and it
// truncates its file on every run even when unconnected.
HRESULT CreateFileWriter(REFIID iid, void** out);

}  // namespace fernwood
