// Class ids of the test card's filters. Every configured device of a kind
// shares its class; the device's index travels in its moniker's property bag.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace testcard {

// {5BC01229-BE08-4C93-A6B7-69265C6B7F0F}
inline const CLSID CLSID_TestCardVideo = {
    0x5bc01229, 0xbe08, 0x4c93, {0xa6, 0xb7, 0x69, 0x26, 0x5c, 0x6b, 0x7f, 0x0f}};
// {D348706D-55BD-48D7-B15C-5E8A60873623}
inline const CLSID CLSID_TestCardAudio = {
    0xd348706d, 0x55bd, 0x48d7, {0xb1, 0x5c, 0x5e, 0x8a, 0x60, 0x87, 0x36, 0x23}};

// Property-bag value (VT_I4) naming the configured device a moniker stands for.
inline const wchar_t kDeviceIndexProperty[] = L"FernwoodDeviceIndex";

// {8E1C3D52-2F6A-4B0E-9C57-3A41D0B6E2F4}
inline const IID IID_ITestCardAudioStats = {
    0x8e1c3d52, 0x2f6a, 0x4b0e, {0x9c, 0x57, 0x3a, 0x41, 0xd0, 0xb6, 0xe2, 0xf4}};

// On the audio filter, for tests in the same process: what its pin really
// delivered since the filter last left the stopped state.
struct ITestCardAudioStats : public IUnknown {
  // Buffers delivered (Receive answered S_OK) and the largest and smallest
  // of them in bytes (0 and 0 before the first).
  virtual HRESULT STDMETHODCALLTYPE GetDeliveryStats(LONG* buffers, LONG* largest_bytes,
                                                     LONG* smallest_bytes) = 0;
  // Buffers of sound lost because the pool had no free buffer when they
  // were complete, or because the downstream pin refused them.
  virtual HRESULT STDMETHODCALLTYPE GetLostBuffers(LONG* lost) = 0;
};

// {4F7B0C2E-93D1-4A6C-B8E5-1D2C7A90F3B6}
inline const IID IID_ITestCardFrameStats = {
    0x4f7b0c2e, 0x93d1, 0x4a6c, {0xb8, 0xe5, 0x1d, 0x2c, 0x7a, 0x90, 0xf3, 0xb6}};

struct TestCardFrameDeparture {
  DWORD frame_number;   // the number drawn into the frame
  DWORD pin;            // 0 capture, 1 preview
  LONGLONG frame_end;   // reference-clock time (100 ns) at which the frame was complete
  LONGLONG delivered;   // reference-clock time just before the capture pin's Deliver, or
                        // the preview frame's hand-over to that pin's delivery thread
};

// On the video filter, for tests in the same process: when each numbered
// frame left the card, to trace a frame seen on the screen back to it.
struct ITestCardFrameStats : public IUnknown {
  // Copies up to `size` of the latest departures since the filter last left
  // the stopped state, oldest first (the card keeps the last 4096).
  virtual HRESULT STDMETHODCALLTYPE GetDepartures(LONG size, TestCardFrameDeparture* departures,
                                                  LONG* copied) = 0;
  // The thread that draws the frames and delivers the capture pin's (the
  // preview pin has a thread of its own); 0 before the first frame.
  virtual HRESULT STDMETHODCALLTYPE GetStreamingThread(DWORD* thread_id) = 0;
};

}  // namespace testcard

#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(testcard::ITestCardFrameStats, 0x4f7b0c2e, 0x93d1, 0x4a6c, 0xb8, 0xe5, 0x1d, 0x2c,
                0x7a, 0x90, 0xf3, 0xb6)
__CRT_UUID_DECL(testcard::ITestCardAudioStats, 0x8e1c3d52, 0x2f6a, 0x4b0e, 0x9c, 0x57, 0x3a, 0x41,
                0xd0, 0xb6, 0xe2, 0xf4)
#endif
