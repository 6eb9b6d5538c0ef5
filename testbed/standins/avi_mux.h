#pragma once

#include <unknwn.h>

namespace fernwood {

// The AVI Mux stand-in (CLSID_AviDest): Wine's own refuses audio input, so
// its recordings carry no sound. Writes OpenDML AVI through IStream on the
// pin downstream (the File Writer's).
HRESULT CreateAviMux(REFIID iid, void** out);

}  // namespace fernwood
