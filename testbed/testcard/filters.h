// The test card's two filters and what they share inside the DLL.
#pragma once

#include <windows.h>

#include <cstdint>

namespace testcard {

// Creation functions for the class factory (device 0 until the moniker's
// property bag names another through IPersistPropertyBag::Load).
HRESULT CreateVideoCapture(REFIID iid, void** out);
HRESULT CreateAudioCapture(REFIID iid, void** out);

// The video flash period (flash frames x frame interval, 100 ns) of the
// card that last started streaming; the audio source clicks on it. Before
// any video has streamed it is that of the default first capability.
void PublishFlashPeriod(int64_t period);
int64_t FlashPeriod();

}  // namespace testcard
