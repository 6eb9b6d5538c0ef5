#pragma once

#include <unknwn.h>

namespace fernwood {

// The Capture Graph Builder stand-in (CLSID_CaptureGraphBuilder2).
HRESULT CreateCaptureGraphBuilder(REFIID iid, void** out);

}  // namespace fernwood
