#pragma once

#include <unknwn.h>

namespace fernwood {

// The DirectSound Renderer stand-in (CLSID_DSoundRender): one PCM input
// played by a sound device of its own on the PC's clock, a reference clock
// from that device, and rate matching when the graph runs on another clock.
HRESULT CreateAudioRenderer(REFIID iid, void** out);

// Lists it as the platform lists its renderer: "Default DirectSound Device",
// MERIT_PREFERRED, in the audio renderer and legacy filter categories.
HRESULT RegisterAudioRendererFilter(bool install);

}  // namespace fernwood
