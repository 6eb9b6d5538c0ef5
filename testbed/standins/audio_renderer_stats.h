// For tests only, never for the viewer: what the audio renderer stand-in
// (CLSID_DSoundRender in test prefixes) made its sound device play since it
// last left the stopped state.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <strmif.h>

namespace fernwood {

// {5B0E7C2A-8D14-4F3B-A6E9-2C71D4F08B93}
inline const IID IID_ITestAudioRendererStats = {
    0x5b0e7c2a, 0x8d14, 0x4f3b, {0xa6, 0xe9, 0x2c, 0x71, 0xd4, 0xf0, 0x8b, 0x93}};

// One of the test card's clicks as it was heard, both in stream time (the
// graph's clock less the run's start): when the device played its first
// sample, and the time stamp that sample carried.
struct HeardClick {
  REFERENCE_TIME played;
  REFERENCE_TIME stamp;
};

struct RendererGlitches {
  LONG dropped_runs;                 // runs of samples dropped for being too late
  REFERENCE_TIME longest_drop;
  LONG silences;                     // silences inserted before samples that came too early
  REFERENCE_TIME longest_silence;
  LONG underruns;                    // the device found nothing to play
  REFERENCE_TIME longest_underrun;
};

struct ITestAudioRendererStats : public IUnknown {
  // Up to `size` of the latest clicks heard (the last 4096 are kept), oldest
  // first; E_POINTER for null pointers, E_INVALIDARG for a size under 1.
  virtual HRESULT STDMETHODCALLTYPE GetClicks(LONG size, HeardClick* clicks, LONG* copied) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetGlitches(RendererGlitches* glitches) = 0;
};

}  // namespace fernwood

#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(fernwood::ITestAudioRendererStats, 0x5b0e7c2a, 0x8d14, 0x4f3b, 0xa6, 0xe9, 0x2c, 0x71, 0xd4,
                0xf0, 0x8b, 0x93)
#endif
