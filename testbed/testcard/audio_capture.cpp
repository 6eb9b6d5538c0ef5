// The test card's audio input: one capture pin of 16-bit stereo PCM at the
// rates the device is configured to accept (the sound is audio_stream.h's).
#include <windows.h>
#include <dshow.h>

#include "testbed/common/com_object.h"
#include "testbed/testcard/audio_stream.h"
#include "testbed/testcard/config.h"
#include "testbed/testcard/filters.h"
#include "testbed/testcard/pin_plumbing.h"
#include "testbed/testcard/testcard_ids.h"

namespace testcard {
namespace {

class AudioCapture : public DeviceFilter, public ITestCardAudioStats {
 public:
  AudioCapture() : DeviceFilter(CLSID_TestCardAudio), audio_(*this, Watch(), L"Capture") {
    Configure(ReadAudioDevice(0));
    Watch().Bind({DeviceType::kAudio, 0});
  }
  TESTBED_IUNKNOWN

  STDMETHODIMP GetDeliveryStats(LONG* buffers, LONG* largest_bytes, LONG* smallest_bytes) override;
  STDMETHODIMP GetLostBuffers(LONG* lost) override;

  testbed::Pin* PinAt(unsigned index) override { return index == 0 ? &audio_.Pin() : nullptr; }

 protected:
  void* Interface(REFIID iid) override;
  HRESULT LoadDevice(unsigned index) override;
  HRESULT InitStream() override {
    HRESULT hr = Watch().Usable();
    return SUCCEEDED(hr) ? audio_.InitStream() : hr;
  }
  HRESULT StartStream(REFERENCE_TIME start) override {
    audio_.StartStream(start, Clock().Get());
    return S_OK;
  }
  HRESULT StopStream() override {
    audio_.StopStream();
    return S_OK;
  }
  HRESULT CleanupStream() override {
    audio_.CleanupStream();
    return S_OK;
  }
  HRESULT StateResult(FILTER_STATE state) override {
    return state == State_Paused ? VFW_S_CANT_CUE : S_OK;
  }

 private:
  void Configure(const AudioDeviceConfig& config) {
    audio_.Configure(config.formats,
                     {config.lose_after_buffers, config.return_after_ms, config.lose_with_video},
                     CardClock(config.clock_ppm));
  }

  AudioStream audio_;
};

void* AudioCapture::Interface(REFIID iid) {
  if (IsEqualGUID(iid, IID_ITestCardAudioStats)) return static_cast<ITestCardAudioStats*>(this);
  return DeviceFilter::Interface(iid);
}

HRESULT AudioCapture::LoadDevice(unsigned index) {
  if (index >= AudioDeviceCount()) return kDeviceGone;
  AudioDeviceConfig config = ReadAudioDevice(index);
  if (config.missing) return kDeviceGone;
  HRESULT hr = BindDevice({DeviceType::kAudio, index});
  if (FAILED(hr)) return hr;
  Configure(config);
  return S_OK;
}

STDMETHODIMP AudioCapture::GetDeliveryStats(LONG* buffers, LONG* largest_bytes,
                                            LONG* smallest_bytes) {
  if (!buffers || !largest_bytes || !smallest_bytes) return E_POINTER;
  audio_.GetDeliveryStats(buffers, largest_bytes, smallest_bytes);
  return S_OK;
}

STDMETHODIMP AudioCapture::GetLostBuffers(LONG* lost) {
  if (!lost) return E_POINTER;
  *lost = audio_.LostBuffers();
  return S_OK;
}

}  // namespace

HRESULT CreateAudioCapture(REFIID iid, void** out) {
  return testbed::CreateObject<AudioCapture>(iid, out);
}

}  // namespace testcard
