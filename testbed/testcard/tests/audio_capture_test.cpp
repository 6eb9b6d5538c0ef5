// Conformance of the test card's audio capture filter.
#include <windows.h>
#include <mmreg.h>

#include "testbed/common/media_type.h"
#include "testbed/testcard/testcard_ids.h"
#include "testbed/testcard/testcard_setup.h"
#include "testcard_harness.h"

namespace testcard_test {
namespace {

using testcard::CLSID_TestCardAudio;

class AudioCaptureTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    Create();
  }
  void TearDown() override {
    Release();
    ComTest::TearDown();
  }
  void Create() {
    filter_ = CreateFilter(CLSID_TestCardAudio);
    ASSERT_TRUE(filter_);
    pin_ = PinAt(filter_.Get(), 0);
    ASSERT_TRUE(pin_);
    ASSERT_EQ(S_OK, pin_.As(&config_));
  }
  void Release() {
    config_.Reset();
    pin_.Reset();
    if (filter_) {
      EXPECT_EQ(0u, filter_.Detach()->Release());
    }
  }

  // The viewer's way: take the current format and write 16-bit stereo PCM at `rate` into it.
  HRESULT SetRate(DWORD rate, WORD channels = 2) {
    AM_MEDIA_TYPE* mt = nullptr;
    HRESULT hr = config_->GetFormat(&mt);
    if (FAILED(hr)) return hr;
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat);
    wfx->wFormatTag = WAVE_FORMAT_PCM;
    wfx->nChannels = channels;
    wfx->nSamplesPerSec = rate;
    wfx->nAvgBytesPerSec = rate * 2 * channels;
    wfx->nBlockAlign = static_cast<WORD>(2 * channels);
    wfx->wBitsPerSample = 16;
    wfx->cbSize = 0;
    hr = config_->SetFormat(mt);
    testbed::DeleteMediaType(mt);
    return hr;
  }

  DWORD CurrentRate() {
    AM_MEDIA_TYPE* mt = nullptr;
    if (config_->GetFormat(&mt) != S_OK) return 0;
    DWORD rate = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat)->nSamplesPerSec;
    testbed::DeleteMediaType(mt);
    return rate;
  }

  ComPtr<IBaseFilter> filter_;
  ComPtr<IPin> pin_;
  ComPtr<IAMStreamConfig> config_;
};

bool Exposes(IUnknown* object, REFIID iid) {
  ComPtr<IUnknown> result;
  return object->QueryInterface(iid, result.PutVoid()) == S_OK;
}

TEST_F(AudioCaptureTest, InterfacesPinAndReferenceCounts) {
  for (const IID* iid : {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, &IID_IPersistPropertyBag})
    EXPECT_TRUE(Exposes(filter_.Get(), *iid));
  for (const IID* iid : {&IID_IAMStreamConfig, &IID_IAMDroppedFrames, &IID_IPin, &IID_IMediaSeeking})
    EXPECT_FALSE(Exposes(filter_.Get(), *iid));
  EXPECT_TRUE(Exposes(pin_.Get(), IID_IAMStreamConfig));
  EXPECT_TRUE(Exposes(pin_.Get(), IID_IKsPropertySet));
  EXPECT_FALSE(Exposes(pin_.Get(), IID_IMemInputPin));
  EXPECT_FALSE(PinAt(filter_.Get(), 1));
  EXPECT_EQ(3u, RefCount(filter_.Get()));
  PIN_INFO info;
  ASSERT_EQ(S_OK, pin_->QueryPinInfo(&info));
  EXPECT_EQ(4u, RefCount(filter_.Get()));
  EXPECT_EQ(PINDIR_OUTPUT, info.dir);
  EXPECT_STREQ(L"Capture", info.achName);
  info.pFilter->Release();
  ComPtr<IKsPropertySet> props;
  ASSERT_EQ(S_OK, pin_.As(&props));
  GUID category = GUID_NULL;
  DWORD size = 0;
  ASSERT_EQ(S_OK, props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                             sizeof(category), &size));
  EXPECT_TRUE(IsEqualGUID(PIN_CATEGORY_CAPTURE, category));
}

TEST_F(AudioCaptureTest, DefaultDeviceAcceptsBothRates) {
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, config_->GetNumberOfCapabilities(&count, &size));
  EXPECT_EQ(2, count);
  EXPECT_EQ(static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)), size);
  AUDIO_STREAM_CONFIG_CAPS caps;
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(S_OK, config_->GetStreamCaps(1, &mt, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_PCM, mt->subtype));
  EXPECT_EQ(48000u, caps.MaximumSampleFrequency);
  testbed::DeleteMediaType(mt);
  EXPECT_EQ(S_OK, SetRate(44100));
  EXPECT_EQ(44100u, CurrentRate());
  EXPECT_EQ(S_OK, SetRate(48000));
  EXPECT_EQ(48000u, CurrentRate());
  // Anything else fails with an error and leaves the rate alone.
  EXPECT_TRUE(FAILED(SetRate(32000)));
  EXPECT_TRUE(FAILED(SetRate(44100, 1)));
  EXPECT_EQ(48000u, CurrentRate());
}

TEST_F(AudioCaptureTest, ConfiguredRatesAreTheOnlyOnesAccepted) {
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetText(setup.Audio(0), L"Rates", L"48000"));
  Release();
  Create();
  EXPECT_TRUE(FAILED(SetRate(44100)));
  EXPECT_EQ(S_OK, SetRate(48000));
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, config_->GetNumberOfCapabilities(&count, &size));
  EXPECT_EQ(1, count);
}

TEST_F(AudioCaptureTest, UnconnectedStateWalk) { ExpectStateWalk(filter_.Get()); }

TEST_F(AudioCaptureTest, DeliversContiguousTenMillisecondBlocks) {
  ASSERT_EQ(S_OK, SetRate(44100));
  ComPtr<IGraphBuilder> graph = CreateGraph();
  ComPtr<SinkFilter> sink = CreateSink(MEDIATYPE_Audio);
  ASSERT_EQ(S_OK, graph->AddFilter(filter_.Get(), L"オーディオデバイス"));
  ASSERT_EQ(S_OK, graph->AddFilter(sink.Get(), L"Sink"));
  ASSERT_EQ(S_OK, graph->ConnectDirect(pin_.Get(), sink->Input(), nullptr));
  AM_MEDIA_TYPE mt;
  ASSERT_EQ(S_OK, pin_->ConnectionMediaType(&mt));
  ASSERT_TRUE(IsEqualGUID(FORMAT_WaveFormatEx, mt.formattype));
  auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat);
  EXPECT_EQ(WAVE_FORMAT_PCM, wfx->wFormatTag);
  EXPECT_EQ(2, wfx->nChannels);
  EXPECT_EQ(44100u, wfx->nSamplesPerSec);
  EXPECT_EQ(16, wfx->wBitsPerSample);
  testbed::FreeMediaType(&mt);
  GraphRun run(graph.Get());
  ASSERT_EQ(S_OK, run.Start());
  ASSERT_TRUE(sink->WaitForSamples(50, 20000));
  ASSERT_EQ(S_OK, run.Stop());

  std::vector<Arrival> arrivals = sink->Arrivals();
  EXPECT_TRUE(arrivals[0].discontinuity);
  for (size_t i = 0; i < arrivals.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(arrivals[i].timed);
    EXPECT_EQ(441 * 4, arrivals[i].length);
    EXPECT_EQ(100000, arrivals[i].stop - arrivals[i].start);
    EXPECT_EQ(0, arrivals[i].start % 100000);
    EXPECT_GE(arrivals[i].arrived, arrivals[i].stop);
    if (i > 0) {
      EXPECT_EQ(arrivals[i - 1].stop, arrivals[i].start);
    }
  }
  EXPECT_EQ(S_OK, graph->RemoveFilter(sink.Get()));
  EXPECT_EQ(S_OK, graph->RemoveFilter(filter_.Get()));
}

}  // namespace
}  // namespace testcard_test
