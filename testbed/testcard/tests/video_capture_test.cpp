// Conformance of the test card's video capture filter.
#include <windows.h>
#include <mmreg.h>

#include <algorithm>
#include <string>

#include "testbed/common/media_type.h"
#include "testbed/testcard/testcard_ids.h"
#include "testbed/testcard/testcard_setup.h"
#include "testcard_harness.h"

namespace testcard_test {
namespace {

using testcard::CLSID_TestCardVideo;

class VideoCaptureTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    CreateCard();
  }
  void TearDown() override {
    ReleaseCard();
    ComTest::TearDown();
  }
  // A new card (which reads the configuration as it is now) and its pins:
  // device 0, or the moniker's device.
  void CreateCard(IMoniker* moniker = nullptr) {
    if (moniker)
      ASSERT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter_.PutVoid()));
    else
      filter_ = CreateFilter(CLSID_TestCardVideo);
    ASSERT_TRUE(filter_);
    capture_ = Named(filter_.Get(), L"Capture");
    preview_ = Named(filter_.Get(), L"Preview");
    ASSERT_TRUE(capture_ && preview_);
    ASSERT_EQ(S_OK, capture_.As(&config_));
  }
  // The card must go with the fixture's last reference.
  void ReleaseCard() {
    config_.Reset();
    capture_.Reset();
    preview_.Reset();
    if (filter_) {
      EXPECT_EQ(0u, filter_.Detach()->Release());
    }
  }

  // The pin's current format (from IAMStreamConfig::GetFormat) and its subtype.
  VIDEOINFOHEADER FormatOfAny(IPin* pin, GUID* subtype = nullptr) {
    ComPtr<IAMStreamConfig> config;
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEOINFOHEADER vih = {};
    if (SUCCEEDED(ComPtr<IPin>(pin).As(&config)) && config->GetFormat(&mt) == S_OK) {
      if (subtype) *subtype = mt->subtype;
      vih = *reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
      testbed::DeleteMediaType(mt);
    }
    return vih;
  }
  // The same, which must be UYVY.
  VIDEOINFOHEADER FormatOf(IPin* pin) {
    GUID subtype = GUID_NULL;
    VIDEOINFOHEADER vih = FormatOfAny(pin, &subtype);
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, subtype));
    return vih;
  }

  ComPtr<IBaseFilter> filter_;
  ComPtr<IPin> capture_, preview_;
  ComPtr<IAMStreamConfig> config_;
};

bool Exposes(IUnknown* object, REFIID iid) {
  ComPtr<IUnknown> result;
  HRESULT hr = object->QueryInterface(iid, result.PutVoid());
  EXPECT_EQ(hr == S_OK, static_cast<bool>(result));
  return hr == S_OK;
}

// What Windows' capture filter and its pins expose (Wine's Windows-validated
// videocapture.c, test_filter_interfaces and test_pin_interfaces).
TEST_F(VideoCaptureTest, InterfacesPresentAndAbsent) {
  for (const IID* iid : {&IID_IUnknown, &IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist,
                         &IID_IAMDroppedFrames, &IID_IPersistPropertyBag, &IID_IAMFilterMiscFlags,
                         &IID_IAMVideoControl, &IID_IAMVideoProcAmp, &IID_IKsPropertySet,
                         &IID_IMediaSeeking, &testcard::IID_ITestCardFrameStats})
    EXPECT_TRUE(Exposes(filter_.Get(), *iid));
  for (const IID* iid : {&IID_IPin, &IID_IAMStreamConfig, &IID_IReferenceClock, &IID_IBasicVideo,
                         &IID_IQualProp, &IID_IAMCrossbar, &IID_IAMTVTuner, &IID_IAMPushSource})
    EXPECT_FALSE(Exposes(filter_.Get(), *iid));
  for (IPin* pin : {capture_.Get(), preview_.Get()}) {
    for (const IID* iid : {&IID_IUnknown, &IID_IPin, &IID_IAMStreamConfig, &IID_IKsPropertySet,
                           &IID_IAMBufferNegotiation, &IID_IAMStreamControl, &IID_IMediaSeeking,
                           &IID_IQualityControl})
      EXPECT_TRUE(Exposes(pin, *iid));
    for (const IID* iid : {&IID_IMemInputPin, &IID_IBaseFilter, &IID_IAsyncReader,
                           &IID_IAMDroppedFrames, &IID_IAMVideoProcAmp, &IID_IAMFilterMiscFlags,
                           &IID_IPersistPropertyBag})
      EXPECT_FALSE(Exposes(pin, *iid));
  }
  // One identity per object, whichever interface it is reached through.
  ComPtr<IUnknown> a, b;
  ComPtr<IAMDroppedFrames> dropped;
  ASSERT_EQ(S_OK, filter_.As(&dropped));
  ASSERT_EQ(S_OK, dropped->QueryInterface(IID_IUnknown, a.PutVoid()));
  ASSERT_EQ(S_OK, filter_->QueryInterface(IID_IUnknown, b.PutVoid()));
  EXPECT_EQ(a.Get(), b.Get());
  // A capture filter is a source to the graph.
  ComPtr<IAMFilterMiscFlags> flags;
  ASSERT_EQ(S_OK, filter_.As(&flags));
  EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_SOURCE), flags->GetMiscFlags());
}

TEST_F(VideoCaptureTest, PinsEnumerateWithExactReferenceCounts) {
  IBaseFilter* filter = filter_.Get();
  // The fixture holds the filter, two pins and the stream config: each pin
  // reference counts on the filter.
  EXPECT_EQ(4u, RefCount(filter));
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, filter->EnumPins(pins.Put()));
  EXPECT_EQ(5u, RefCount(filter));
  IPin* got[3] = {};
  ULONG fetched = 9;
  EXPECT_EQ(E_INVALIDARG, pins->Next(2, got, nullptr));
  EXPECT_EQ(S_FALSE, pins->Next(3, got, &fetched));
  EXPECT_EQ(2u, fetched);
  EXPECT_EQ(capture_.Get(), got[0]);
  EXPECT_EQ(preview_.Get(), got[1]);
  EXPECT_EQ(7u, RefCount(filter));
  got[0]->Release();
  got[1]->Release();
  EXPECT_EQ(S_FALSE, pins->Next(1, got, nullptr));
  EXPECT_EQ(S_OK, pins->Reset());
  EXPECT_EQ(S_OK, pins->Skip(2));
  EXPECT_EQ(S_FALSE, pins->Skip(1));
  ComPtr<IEnumPins> clone;
  EXPECT_EQ(S_OK, pins->Clone(clone.Put()));
  EXPECT_EQ(6u, RefCount(filter));
  clone.Reset();
  pins.Reset();
  EXPECT_EQ(4u, RefCount(filter));
}

TEST_F(VideoCaptureTest, PinInformationAndCategories) {
  PIN_INFO info;
  ASSERT_EQ(S_OK, capture_->QueryPinInfo(&info));
  EXPECT_EQ(filter_.Get(), info.pFilter);
  EXPECT_EQ(PINDIR_OUTPUT, info.dir);
  EXPECT_STREQ(L"Capture", info.achName);
  info.pFilter->Release();
  LPWSTR id = nullptr;
  ASSERT_EQ(S_OK, preview_->QueryId(&id));
  EXPECT_STREQ(L"Preview", id);
  CoTaskMemFree(id);
  ComPtr<IPin> none;
  EXPECT_EQ(VFW_E_NOT_FOUND, filter_->FindPin(L"Output", none.Put()));
  EXPECT_FALSE(none);

  for (IPin* pin : {capture_.Get(), preview_.Get()}) {
    ComPtr<IKsPropertySet> props;
    ASSERT_EQ(S_OK, ComPtr<IPin>(pin).As(&props));
    GUID category = GUID_NULL;
    DWORD size = 0;
    ASSERT_EQ(S_OK, props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                               sizeof(category), &size));
    EXPECT_EQ(sizeof(GUID), size);
    EXPECT_TRUE(IsEqualGUID(pin == capture_.Get() ? PIN_CATEGORY_CAPTURE : PIN_CATEGORY_PREVIEW,
                            category));
    EXPECT_EQ(E_PROP_SET_UNSUPPORTED,
              props->Get(GUID_NULL, 0, nullptr, 0, &category, sizeof(category), &size));
    EXPECT_EQ(E_UNEXPECTED, props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0,
                                       &category, 4, &size));
  }
}

TEST_F(VideoCaptureTest, CapabilitiesListUyvyBehindOtherFormats) {
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, config_->GetNumberOfCapabilities(&count, &size));
  EXPECT_EQ(7, count);
  EXPECT_EQ(static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)), size);
  VIDEO_STREAM_CONFIG_CAPS caps;
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(S_OK, config_->GetStreamCaps(0, &mt, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_YUY2, mt->subtype));
  testbed::DeleteMediaType(mt);
  ASSERT_EQ(S_OK, config_->GetStreamCaps(3, &mt, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, mt->subtype));
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
  EXPECT_EQ(1280, vih->bmiHeader.biWidth);
  EXPECT_EQ(720, vih->bmiHeader.biHeight);
  EXPECT_EQ(166833, vih->AvgTimePerFrame);
  EXPECT_EQ(1843200u, vih->bmiHeader.biSizeImage);
  EXPECT_EQ(166833, caps.MinFrameInterval);
  EXPECT_EQ(1280, caps.MaxOutputSize.cx);
  testbed::DeleteMediaType(mt);
  EXPECT_EQ(S_FALSE, config_->GetStreamCaps(7, &mt, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_EQ(S_FALSE, config_->GetStreamCaps(-1, &mt, reinterpret_cast<BYTE*>(&caps)));
}

TEST_F(VideoCaptureTest, CapabilitiesDescribeFixedSizesAndRatesDownToOneASecond) {
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    VIDEO_STREAM_CONFIG_CAPS caps;
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, config_->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)));
    const auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
    EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, caps.guid));
    EXPECT_EQ(vih->bmiHeader.biWidth, caps.MinOutputSize.cx);
    EXPECT_EQ(vih->bmiHeader.biWidth, caps.MaxOutputSize.cx);
    EXPECT_EQ(vih->bmiHeader.biHeight, caps.MinOutputSize.cy);
    EXPECT_EQ(vih->bmiHeader.biHeight, caps.MaxOutputSize.cy);
    EXPECT_EQ(0, caps.OutputGranularityX);
    EXPECT_EQ(0, caps.OutputGranularityY);
    EXPECT_EQ(vih->AvgTimePerFrame, caps.MinFrameInterval);
    EXPECT_EQ(10000000, caps.MaxFrameInterval);
    EXPECT_LT(caps.MinBitsPerSecond, caps.MaxBitsPerSecond);
    testbed::DeleteMediaType(mt);
  }
}

TEST_F(VideoCaptureTest, SetFormatChangesWhatBothPinsOffer) {
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1920, 1080, 333667));
  for (IPin* pin : {capture_.Get(), preview_.Get()}) {
    VIDEOINFOHEADER vih = FormatOf(pin);
    EXPECT_EQ(1920, vih.bmiHeader.biWidth);
    EXPECT_EQ(1080, vih.bmiHeader.biHeight);
    EXPECT_EQ(333667, vih.AvgTimePerFrame);
    EXPECT_EQ(4147200u, vih.bmiHeader.biSizeImage);
    // Once set, the format is the only type a pin lists and accepts, as on
    // a driver's pins (Wine's Windows-validated videocapture.c).
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, pin->EnumMediaTypes(types.Put()));
    AM_MEDIA_TYPE* mt[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, types->Next(2, mt, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, mt[0]->subtype));
    EXPECT_EQ(1080, reinterpret_cast<VIDEOINFOHEADER*>(mt[0]->pbFormat)->bmiHeader.biHeight);
    EXPECT_EQ(S_OK, pin->QueryAccept(mt[0]));
    testbed::DeleteMediaType(mt[0]);
    VIDEO_STREAM_CONFIG_CAPS caps;
    for (int i : {0, 4}) {
      ASSERT_EQ(S_OK, config_->GetStreamCaps(i, &mt[0], reinterpret_cast<BYTE*>(&caps)));
      // YUY2 1280x720 is refused; UYVY 1920x1080 at 29.97 is the set format.
      EXPECT_EQ(i == 0 ? S_FALSE : S_OK, pin->QueryAccept(mt[0]));
      testbed::DeleteMediaType(mt[0]);
    }
  }
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1280, 720, 166833));
  EXPECT_EQ(1843200u, FormatOf(preview_.Get()).bmiHeader.biSizeImage);
}

TEST_F(VideoCaptureTest, SetFormatRefusesWhatTheCardCannotDeliver) {
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(S_OK, config_->GetFormat(&mt));
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
  VIDEOINFOHEADER original = *vih;
  // As a driver's pin: E_FAIL for whatever the capabilities' ranges exclude.
  mt->subtype = MEDIASUBTYPE_MJPG;
  EXPECT_EQ(E_FAIL, config_->SetFormat(mt));
  mt->subtype = MEDIASUBTYPE_YUY2;
  vih->bmiHeader.biWidth = 640;
  EXPECT_EQ(E_FAIL, config_->SetFormat(mt));
  vih->bmiHeader.biWidth = 1282;  // off the fixed size by a step
  EXPECT_EQ(E_FAIL, config_->SetFormat(mt));
  *vih = original;
  vih->bmiHeader.biHeight = 1080;  // 1280x1080 is no capability's size
  EXPECT_EQ(E_FAIL, config_->SetFormat(mt));
  *vih = original;
  vih->AvgTimePerFrame = 100000;  // faster than 59.94 fps
  EXPECT_EQ(E_FAIL, config_->SetFormat(mt));
  vih->AvgTimePerFrame = 0;  // no "listed rate" shorthand for a driver
  EXPECT_EQ(E_FAIL, config_->SetFormat(mt));
  vih->AvgTimePerFrame = 10000001;  // slower than a frame a second
  EXPECT_EQ(E_FAIL, config_->SetFormat(mt));
  vih->AvgTimePerFrame = 10000000;
  EXPECT_EQ(S_OK, config_->SetFormat(mt));
  vih->AvgTimePerFrame = 400000;  // 25 fps is a slower rate the card can do
  EXPECT_EQ(S_OK, config_->SetFormat(mt));
  EXPECT_EQ(E_POINTER, config_->SetFormat(nullptr));
  ASSERT_EQ(S_OK, filter_->Pause());
  EXPECT_EQ(VFW_E_NOT_STOPPED, config_->SetFormat(mt));
  ASSERT_EQ(S_OK, filter_->Stop());
  testbed::DeleteMediaType(mt);
}

TEST_F(VideoCaptureTest, SetFormatTakesWhatAnyCapabilityOfTheSubtypeAllows) {
  // UYVY at 1920x1080, 29.97 or 25 fps, is within a capability's ranges.
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1920, 1080, 333667));
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1920, 1080, 400000));
  // 1080 lines at 59.94 fps is in no UYVY capability's range.
  EXPECT_EQ(E_FAIL, SetUyvyFormat(config_.Get(), 1920, 1080, 166833));
  EXPECT_EQ(E_FAIL, SetUyvyFormat(config_.Get(), 1600, 900, 333667));
  // A card whose only 1080-line capability is YUY2 refuses 1080-line UYVY.
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetText(setup.Video(0), L"Capabilities", L"UYVY 1280x720, YUY2 1920x1080"));
  ComPtr<IBaseFilter> card = CreateFilter(CLSID_TestCardVideo);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(S_OK, Named(card.Get(), L"Capture").As(&config));
  EXPECT_EQ(E_FAIL, SetUyvyFormat(config.Get(), 1920, 1080, 333667));
  EXPECT_EQ(S_OK, SetUyvyFormat(config.Get(), 1280, 720, 333667));
}

// With no stream to cue, Windows' capture filter answers S_OK while paused
// (Wine's Windows-validated videocapture.c, test_unconnected_filter_state).
TEST_F(VideoCaptureTest, UnconnectedStateWalk) { ExpectStateWalk(filter_.Get(), S_OK); }

TEST_F(VideoCaptureTest, CardWithoutPreviewPinOffersTheCapturePinOnly) {
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetNumber(setup.Video(0), L"PreviewPin", 0));
  ComPtr<IBaseFilter> card = CreateFilter(CLSID_TestCardVideo);
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, card->EnumPins(pins.Put()));
  IPin* got[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, pins->Next(2, got, &fetched));
  ASSERT_EQ(1u, fetched);
  PIN_INFO info;
  ASSERT_EQ(S_OK, got[0]->QueryPinInfo(&info));
  EXPECT_STREQ(L"Capture", info.achName);
  info.pFilter->Release();
  got[0]->Release();
  ComPtr<IPin> none;
  EXPECT_EQ(VFW_E_NOT_FOUND, card->FindPin(L"Preview", none.Put()));
  pins.Reset();
  EXPECT_EQ(1u, RefCount(card.Get()));
  ExpectStateWalk(card.Get(), S_OK);
}

class VideoStreamTest : public VideoCaptureTest {
 protected:
  void SetUp() override {
    VideoCaptureTest::SetUp();
    graph_ = CreateGraph();
    ASSERT_TRUE(graph_);
    ASSERT_EQ(S_OK, graph_->AddFilter(filter_.Get(), L"キャプチャデバイス"));
    sink_ = CreateSink(MEDIATYPE_Video);
    ASSERT_EQ(S_OK, graph_->AddFilter(sink_.Get(), L"Sink"));
    ASSERT_EQ(S_OK, graph_.As(&control_));
  }
  void TearDown() override {
    if (control_) {
      EXPECT_EQ(S_OK, control_->Stop());
    }
    if (preview_sink_) {
      EXPECT_EQ(S_OK, graph_->RemoveFilter(preview_sink_.Get()));
    }
    preview_sink_.Reset();
    control_.Reset();
    sink_.Reset();
    graph_.Reset();
    VideoCaptureTest::TearDown();
  }

  // Replaces the card in the graph by a new one, for a configuration the
  // test has just written.
  void ReplaceCard(IMoniker* moniker = nullptr) {
    ASSERT_EQ(S_OK, graph_->RemoveFilter(filter_.Get()));
    ReleaseCard();
    CreateCard(moniker);
    ASSERT_EQ(S_OK, graph_->AddFilter(filter_.Get(), L"キャプチャデバイス"));
  }
  HRESULT ConnectToSink(IPin* pin) { return graph_->ConnectDirect(pin, sink_->Input(), nullptr); }
  // The capture pin to sink_, the preview pin to a sink of its own.
  void ConnectBothPins() {
    preview_sink_ = CreateSink(MEDIATYPE_Video);
    ASSERT_EQ(S_OK, graph_->AddFilter(preview_sink_.Get(), L"Preview sink"));
    ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
    ASSERT_EQ(S_OK, graph_->ConnectDirect(preview_.Get(), preview_sink_->Input(), nullptr));
  }
  // Disconnects the pin from the sink: S_OK when both ends were connected.
  HRESULT DisconnectFromSink(IPin* pin) {
    HRESULT hr = graph_->Disconnect(pin);
    HRESULT sink_hr = graph_->Disconnect(sink_->Input());
    return hr != S_OK ? hr : sink_hr;
  }
  struct FrameCounts {
    long lost = -1;
    long kept = -1;
  };
  // IAMDroppedFrames' counts since the last start.
  FrameCounts Counts() {
    ComPtr<IAMDroppedFrames> dropped;
    FrameCounts counts;
    EXPECT_EQ(S_OK, filter_.As(&dropped));
    if (!dropped) return counts;
    EXPECT_EQ(S_OK, dropped->GetNumDropped(&counts.lost));
    EXPECT_EQ(S_OK, dropped->GetNumNotDropped(&counts.kept));
    return counts;
  }

  ComPtr<IGraphBuilder> graph_;
  ComPtr<SinkFilter> sink_;
  ComPtr<SinkFilter> preview_sink_;
  ComPtr<IMediaControl> control_;
};

TEST_F(VideoStreamTest, CapturePinDeliversTimedFramesAtTheSetRate) {
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1280, 720, 166833));
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  AM_MEDIA_TYPE mt;
  ASSERT_EQ(S_OK, capture_->ConnectionMediaType(&mt));
  EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, mt.majortype));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, mt.subtype));
  EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, mt.formattype));
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat);
  EXPECT_EQ(1280, vih->bmiHeader.biWidth);
  EXPECT_EQ(166833, vih->AvgTimePerFrame);
  EXPECT_EQ(1843200u, vih->bmiHeader.biSizeImage);
  testbed::FreeMediaType(&mt);
  ComPtr<IPin> peer;
  ASSERT_EQ(S_OK, capture_->ConnectedTo(peer.Put()));
  EXPECT_EQ(sink_->Input(), peer.Get());
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, capture_->Connect(sink_->Input(), nullptr));

  ASSERT_EQ(S_OK, control_->Run());
  ASSERT_TRUE(sink_->WaitForSamples(30, 20000));
  EXPECT_EQ(VFW_E_NOT_STOPPED, capture_->Disconnect());
  ASSERT_EQ(S_OK, control_->Stop());

  std::vector<Arrival> arrivals = sink_->Arrivals();
  ASSERT_GE(arrivals.size(), 30u);
  EXPECT_TRUE(arrivals[0].discontinuity);
  for (size_t i = 0; i < arrivals.size(); ++i) {
    const Arrival& a = arrivals[i];
    SCOPED_TRACE(i);
    ASSERT_TRUE(a.timed && a.numbered);
    EXPECT_EQ(1843200, a.length);
    // Frame n covers [n T, (n + 1) T) of stream time and leaves the card
    // only once that time has passed on the graph's clock.
    EXPECT_EQ(static_cast<REFERENCE_TIME>(a.frame_number) * 166833, a.start);
    EXPECT_EQ(a.start + 166833, a.stop);
    EXPECT_GE(a.arrived, a.stop);
    if (i > 0) {
      EXPECT_GT(a.frame_number, arrivals[i - 1].frame_number);
      EXPECT_FALSE(a.discontinuity);
    }
  }
  // Every frame between the first and the last arrived or was counted lost.
  const FrameCounts counts = Counts();
  EXPECT_EQ(static_cast<long>(arrivals.size()), counts.kept);
  long span = static_cast<long>(arrivals.back().frame_number - arrivals.front().frame_number) + 1;
  EXPECT_LE(span - counts.kept, counts.lost);
  ComPtr<IAMDroppedFrames> dropped;
  ASSERT_EQ(S_OK, filter_.As(&dropped));
  long average = 0;
  EXPECT_EQ(S_OK, dropped->GetAverageFrameSize(&average));
  EXPECT_EQ(1843200, average);

  EXPECT_EQ(S_OK, capture_->Disconnect());
  EXPECT_EQ(S_OK, sink_->Input()->Disconnect());
  EXPECT_EQ(S_FALSE, capture_->Disconnect());
  EXPECT_EQ(VFW_E_NOT_CONNECTED, capture_->ConnectedTo(peer.Put()));
  EXPECT_FALSE(peer);
}

TEST_F(VideoStreamTest, PreviewPinFollowsTheCaptureFormatUntimed) {
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1920, 1080, 333667));
  ConnectBothPins();
  AM_MEDIA_TYPE mt;
  ASSERT_EQ(S_OK, preview_->ConnectionMediaType(&mt));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, mt.subtype));
  EXPECT_EQ(1920, reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth);
  testbed::FreeMediaType(&mt);

  ASSERT_EQ(S_OK, control_->Run());
  ASSERT_TRUE(preview_sink_->WaitForSamples(10, 20000));
  ASSERT_TRUE(sink_->WaitForSamples(10, 20000));
  ASSERT_EQ(S_OK, control_->Stop());
  for (const Arrival& a : preview_sink_->Arrivals()) {
    EXPECT_FALSE(a.timed);
    EXPECT_TRUE(a.numbered);
    EXPECT_EQ(4147200, a.length);
  }
  EXPECT_TRUE(preview_sink_->Arrivals().front().discontinuity);
  EXPECT_EQ(333667, sink_->Arrivals().front().stop - sink_->Arrivals().front().start);
}

// The departures name each frame the pins delivered, stamped on the graph's
// clock between the end of the frame and its arrival downstream.
TEST_F(VideoStreamTest, DeparturesTraceEveryDeliveredFrameOnTheGraphClock) {
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1280, 720, 166833));
  ConnectBothPins();
  // A clock of the test's own, to see that no reference to it outlives the run.
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IReferenceClock, clock.PutVoid()));
  ComPtr<IMediaFilter> graph_filter;
  ASSERT_EQ(S_OK, graph_.As(&graph_filter));
  ASSERT_EQ(S_OK, graph_filter->SetSyncSource(clock.Get()));
  ComPtr<testcard::ITestCardFrameStats> stats;
  ASSERT_EQ(S_OK, filter_.As(&stats));
  testcard::TestCardFrameDeparture departures[256];
  LONG copied = -1;
  EXPECT_EQ(E_POINTER, stats->GetDepartures(256, nullptr, &copied));
  EXPECT_EQ(E_INVALIDARG, stats->GetDepartures(0, departures, &copied));
  ASSERT_EQ(S_OK, stats->GetDepartures(256, departures, &copied));
  EXPECT_EQ(0, copied);

  ASSERT_EQ(S_OK, control_->Run());
  ASSERT_TRUE(sink_->WaitForSamples(20, 20000));
  ASSERT_TRUE(preview_sink_->WaitForSamples(20, 20000));
  ASSERT_EQ(S_OK, control_->Stop());
  DWORD thread = 0;
  ASSERT_EQ(S_OK, stats->GetStreamingThread(&thread));
  EXPECT_NE(0u, thread);
  EXPECT_NE(GetCurrentThreadId(), thread);
  ASSERT_EQ(S_OK, stats->GetDepartures(256, departures, &copied));

  std::vector<Arrival> arrivals = sink_->Arrivals();
  ASSERT_GE(arrivals.size(), 20u);
  ASSERT_GE(copied, 40);
  int matched = 0, previews = 0, captures = 0;
  for (LONG i = 0; i < copied; ++i) {
    const testcard::TestCardFrameDeparture& d = departures[i];
    SCOPED_TRACE(d.frame_number);
    ASSERT_LE(d.pin, 1u);
    EXPECT_LE(d.frame_end, d.delivered);
    previews += d.pin == 1;
    if (d.pin != 0) continue;
    ++captures;
    for (const Arrival& a : arrivals) {
      if (a.frame_number != d.frame_number) continue;
      const REFERENCE_TIME run_start = d.frame_end - a.stop;
      EXPECT_LE(d.delivered - run_start, a.arrived);
      ++matched;
    }
  }
  EXPECT_EQ(captures, matched);
  if (copied < 256) {
    EXPECT_EQ(static_cast<int>(arrivals.size()), matched);
  }
  EXPECT_GE(previews, 20);
  // A new run starts a new log.
  ASSERT_EQ(S_OK, control_->Pause());
  ASSERT_EQ(S_OK, stats->GetDepartures(256, departures, &copied));
  EXPECT_EQ(0, copied);
  ASSERT_EQ(S_OK, control_->Stop());
  ASSERT_EQ(S_OK, graph_filter->SetSyncSource(nullptr));
  EXPECT_EQ(1u, RefCount(clock.Get()));
}

// A renderer busy over a frame (as one is with its first after a new
// connection) holds up the preview only: the capture pin goes on delivering
// from the card's own thread.
TEST_F(VideoStreamTest, AStalledPreviewHoldsUpNoCaptureFrame) {
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1280, 720, 166833));
  ConnectBothPins();
  preview_sink_->Block();
  ASSERT_EQ(S_OK, control_->Run());
  EXPECT_TRUE(sink_->WaitForSamples(60, 20000));
  EXPECT_TRUE(preview_sink_->Arrivals().empty());
  preview_sink_->Unblock();
  ASSERT_TRUE(preview_sink_->WaitForSamples(5, 20000));
  ASSERT_EQ(S_OK, control_->Stop());

  const std::vector<Arrival> captured = sink_->Arrivals(), previewed = preview_sink_->Arrivals();
  ASSERT_GE(captured.size(), 60u);
  for (size_t i = 1; i < captured.size(); ++i) EXPECT_EQ(captured[0].thread, captured[i].thread);
  for (const Arrival& a : previewed) EXPECT_NE(captured[0].thread, a.thread);
  DWORD card_thread = 0;
  ComPtr<testcard::ITestCardFrameStats> stats;
  ASSERT_EQ(S_OK, filter_.As(&stats));
  ASSERT_EQ(S_OK, stats->GetStreamingThread(&card_thread));
  EXPECT_EQ(card_thread, captured[0].thread);
}

TEST_F(VideoStreamTest, FramesConfiguredToDropNeverArriveAndAreCounted) {
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetText(setup.Video(0), L"DropFrames", L"12, 13, 20"));
  // The configuration is read when a card is created.
  ReplaceCard();
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1280, 720, 166833));
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  ASSERT_EQ(S_OK, control_->Run());
  // Frame 25 or later has arrived once the sink holds 25 - 3 frames.
  ASSERT_TRUE(sink_->WaitForSamples(22, 20000));
  ASSERT_EQ(S_OK, control_->Stop());

  std::vector<uint32_t> seen;
  for (const Arrival& a : sink_->Arrivals()) seen.push_back(a.frame_number);
  for (uint32_t n : {12u, 13u, 20u}) EXPECT_EQ(seen.end(), std::find(seen.begin(), seen.end(), n));
  ComPtr<IAMDroppedFrames> dropped;
  ASSERT_EQ(S_OK, filter_.As(&dropped));
  long lost = 0, copied = 0;
  long numbers[8] = {};
  ASSERT_EQ(S_OK, dropped->GetNumDropped(&lost));
  ASSERT_GE(lost, 3);
  ASSERT_EQ(S_OK, dropped->GetDroppedInfo(8, numbers, &copied));
  EXPECT_EQ(std::min(lost, 8L), copied);
  for (long n : {12L, 13L, 20L}) EXPECT_NE(numbers + copied, std::find(numbers, numbers + copied, n));
}

VIDEOINFOHEADER ConnectionFormat(IPin* pin, GUID* subtype) {
  AM_MEDIA_TYPE mt;
  VIDEOINFOHEADER vih = {};
  if (pin->ConnectionMediaType(&mt) != S_OK) return vih;
  *subtype = mt.subtype;
  vih = *reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat);
  testbed::FreeMediaType(&mt);
  return vih;
}

// The type of capability `index`, which the caller frees.
AM_MEDIA_TYPE* CapabilityType(IAMStreamConfig* config, int index) {
  VIDEO_STREAM_CONFIG_CAPS caps;
  AM_MEDIA_TYPE* mt = nullptr;
  EXPECT_EQ(S_OK, config->GetStreamCaps(index, &mt, reinterpret_cast<BYTE*>(&caps)));
  return mt;
}

// As Windows' capture pins (Wine's Windows-validated videocapture.c,
// test_connect_pin and test_stream_config): a format that only a connection
// chose is forgotten once no pin carries it; a format SetFormat chose stays
// until the filter goes.
TEST_F(VideoStreamTest, DisconnectedPinsForgetOnlyAFormatTheirConnectionChose) {
  GUID subtype = GUID_NULL;
  for (IPin* pin : {capture_.Get(), preview_.Get()}) {
    AM_MEDIA_TYPE* uyvy1080 = CapabilityType(config_.Get(), 4);
    ASSERT_TRUE(uyvy1080);
    HRESULT hr = graph_->ConnectDirect(pin, sink_->Input(), uyvy1080);
    testbed::DeleteMediaType(uyvy1080);
    ASSERT_EQ(S_OK, hr);
    EXPECT_EQ(1920, ConnectionFormat(pin, &subtype).bmiHeader.biWidth);
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, subtype));
    EXPECT_EQ(1920, FormatOfAny(pin).bmiHeader.biWidth);
    // Even while connected, the capabilities are listed, the default first.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, pin->EnumMediaTypes(types.Put()));
    AM_MEDIA_TYPE* listed[8] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, types->Next(8, listed, &fetched));
    ASSERT_EQ(7u, fetched);
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_YUY2, listed[0]->subtype));
    for (ULONG i = 0; i < fetched; ++i) testbed::DeleteMediaType(listed[i]);

    ASSERT_EQ(S_OK, DisconnectFromSink(pin));
    GUID now = GUID_NULL;
    EXPECT_EQ(1280, FormatOfAny(pin, &now).bmiHeader.biWidth);
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_YUY2, now));
  }
  // Connected again without a type: the default format.
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  VIDEOINFOHEADER vih = ConnectionFormat(capture_.Get(), &subtype);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_YUY2, subtype));
  EXPECT_EQ(1280, vih.bmiHeader.biWidth);
  EXPECT_EQ(166833, vih.AvgTimePerFrame);
  EXPECT_EQ(S_OK, DisconnectFromSink(capture_.Get()));
}

TEST_F(VideoStreamTest, ASetFormatOutlivesDisconnection) {
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1920, 1080, 333667));
  GUID subtype = GUID_NULL;
  for (IPin* pin : {capture_.Get(), preview_.Get()}) {
    ASSERT_EQ(S_OK, ConnectToSink(pin));
    EXPECT_EQ(1920, ConnectionFormat(pin, &subtype).bmiHeader.biWidth);
    ASSERT_EQ(S_OK, DisconnectFromSink(pin));
    for (IPin* either : {capture_.Get(), preview_.Get()}) {
      VIDEOINFOHEADER vih = FormatOf(either);
      EXPECT_EQ(1920, vih.bmiHeader.biWidth);
      EXPECT_EQ(333667, vih.AvgTimePerFrame);
      ComPtr<IEnumMediaTypes> types;
      ASSERT_EQ(S_OK, either->EnumMediaTypes(types.Put()));
      EXPECT_EQ(S_OK, types->Skip(1));
      EXPECT_EQ(S_FALSE, types->Skip(1));
    }
  }
  // Reconnected without SetFormat: still the set format.
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  VIDEOINFOHEADER vih = ConnectionFormat(capture_.Get(), &subtype);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, subtype));
  EXPECT_EQ(1080, vih.bmiHeader.biHeight);
  EXPECT_EQ(S_OK, DisconnectFromSink(capture_.Get()));
}

TEST_F(VideoStreamTest, SetFormatOnAConnectedPinReconnectsInTheNewFormat) {
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  GUID subtype = GUID_NULL;
  EXPECT_EQ(1280, ConnectionFormat(capture_.Get(), &subtype).bmiHeader.biWidth);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_YUY2, subtype));
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1920, 1080, 333667));
  VIDEOINFOHEADER vih = ConnectionFormat(capture_.Get(), &subtype);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, subtype));
  EXPECT_EQ(1080, vih.bmiHeader.biHeight);
  EXPECT_EQ(333667, vih.AvgTimePerFrame);
  EXPECT_EQ(S_OK, DisconnectFromSink(capture_.Get()));

  // Only the preview connected: the capture pin's SetFormat moves it too.
  ASSERT_EQ(S_OK, ConnectToSink(preview_.Get()));
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1280, 720, 166833));
  vih = ConnectionFormat(preview_.Get(), &subtype);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, subtype));
  EXPECT_EQ(720, vih.bmiHeader.biHeight);
}

TEST_F(VideoStreamTest, DownstreamThatHoldsSamplesMakesTheCardLoseFrames) {
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1280, 720, 166833));
  sink_->AskForBuffers(30);  // more than the card's pool: it does not grow
  sink_->HoldSamples(1000);
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  ComPtr<IMemAllocator> allocator;
  ComPtr<IMemInputPin> input;
  ASSERT_EQ(S_OK, ComPtr<IPin>(sink_->Input()).As(&input));
  ASSERT_EQ(S_OK, input->GetAllocator(allocator.Put()));
  ALLOCATOR_PROPERTIES props = {};
  ASSERT_EQ(S_OK, allocator->GetProperties(&props));
  EXPECT_EQ(8, props.cBuffers);
  EXPECT_GE(props.cbBuffer, 1843200);

  ComPtr<IAMDroppedFrames> dropped;
  ASSERT_EQ(S_OK, filter_.As(&dropped));
  ASSERT_EQ(S_OK, control_->Run());
  long lost = 0;
  ASSERT_TRUE(WaitFor([&] { return dropped->GetNumDropped(&lost) == S_OK && lost >= 20; }, 20000));
  // The pool's eight buffers arrived and stayed; every later frame was lost.
  EXPECT_EQ(8, Counts().kept);
  EXPECT_EQ(8u, sink_->Arrivals().size());
  // Buffers given back are used again.
  sink_->ReleaseHeld();
  EXPECT_TRUE(sink_->WaitForSamples(20, 20000));
  ASSERT_EQ(S_OK, control_->Stop());
  std::vector<Arrival> arrivals = sink_->Arrivals();
  ASSERT_GE(arrivals.size(), 20u);
  EXPECT_GT(arrivals[8].frame_number, arrivals[7].frame_number + 19);
}

// The card pulled out at frame 10 of a run, as a PnP device (Device Removal
// Notification): it leaves the device list and cannot be bound, and the
// instance that saw it go never streams again; plugged back in (when the
// case says so) it is listed as before and a new instance works in full.
struct UnplugCase {
  const char* name;
  DWORD return_after_ms;
};

class VideoUnplugTest : public VideoStreamTest, public ::testing::WithParamInterface<UnplugCase> {
 protected:
  int CapabilityCount() {
    int count = 0, size = 0;
    EXPECT_EQ(S_OK, config_->GetNumberOfCapabilities(&count, &size));
    return count;
  }
};

const HRESULT kGone = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);

TEST_P(VideoUnplugTest, CardLeavesTheSystemAndComesBackAsConfigured) {
  const DWORD return_after_ms = GetParam().return_after_ms;
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetNumber(setup.Video(0), L"LoseDeviceAfterFrames", 10));
  ASSERT_TRUE(setup.SetNumber(setup.Video(0), L"ReturnAfterMs", return_after_ms));
  ASSERT_EQ(S_OK, setup.Register());
  const std::vector<ListedDevice> before = ListDevices(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(1u, before.size());
  ASSERT_FALSE(before[0].path.empty());
  ReplaceCard(before[0].moniker.Get());
  const int capabilities = CapabilityCount();
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  ASSERT_EQ(S_OK, control_->Run());
  LONG_PTR param1 = 0, param2 = -1;
  ASSERT_TRUE(WaitForEvent(graph_.Get(), EC_DEVICE_LOST, 20000, &param1, &param2));
  ComPtr<IUnknown> identity;
  ASSERT_EQ(S_OK, filter_->QueryInterface(IID_IUnknown, identity.PutVoid()));
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(identity.Get()), param1);
  EXPECT_EQ(0, param2);
  EXPECT_TRUE(testcard::TestCardSetup::Unplugged(setup.Video(0)));
  ASSERT_EQ(S_OK, control_->Stop());

  // Frames 0 to 9 of the run, delivered or counted lost; none after.
  const FrameCounts counts = Counts();
  EXPECT_GT(counts.kept, 0);
  // Fewer only when the run's first wake-up came frames late.
  EXPECT_LE(counts.lost + counts.kept, 10);
  const std::vector<Arrival> arrivals = sink_->Arrivals();
  EXPECT_EQ(static_cast<size_t>(counts.kept), arrivals.size());
  for (const Arrival& a : arrivals) EXPECT_LT(a.frame_number, 10u);

  // Out of the system: not listed, the moniker from before binds nothing,
  // and neither that instance nor a new one leaves the stopped state (the
  // filter itself, not the graph: Wine's graph never releases a sink left
  // paused by a refused Run).
  EXPECT_TRUE(ListDevices(CLSID_VideoInputDeviceCategory).empty());
  ComPtr<IBaseFilter> rebound;
  EXPECT_TRUE(FailedAsUnplugged(
      before[0].moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, rebound.PutVoid())));
  EXPECT_FALSE(rebound);
  ComPtr<IBaseFilter> created = CreateFilter(CLSID_TestCardVideo);
  ASSERT_TRUE(created);
  EXPECT_EQ(kGone, created->Pause());
  EXPECT_EQ(0u, created.Detach()->Release());
  EXPECT_EQ(kGone, filter_->Pause());
  EXPECT_EQ(kGone, filter_->Run(0));
  FILTER_STATE state = State_Running;
  EXPECT_EQ(S_OK, filter_->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);

  if (!return_after_ms) {
    EXPECT_FALSE(WaitForEvent(graph_.Get(), EC_DEVICE_LOST, 1000, &param1, &param2));
    EXPECT_TRUE(ListDevices(CLSID_VideoInputDeviceCategory).empty());
    EXPECT_TRUE(testcard::TestCardSetup::Unplugged(setup.Video(0)));
    return;
  }
  // Back: the instance in the graph says so once, and stays dead.
  param2 = -1;
  ASSERT_TRUE(WaitForEvent(graph_.Get(), EC_DEVICE_LOST, return_after_ms + 20000, &param1, &param2));
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(identity.Get()), param1);
  EXPECT_EQ(1, param2);
  EXPECT_FALSE(testcard::TestCardSetup::Unplugged(setup.Video(0)));
  const std::vector<ListedDevice> after = ListDevices(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(1u, after.size());
  EXPECT_EQ(before[0].name, after[0].name);
  EXPECT_EQ(before[0].path, after[0].path);
  EXPECT_EQ(kGone, filter_->Pause());
  EXPECT_FALSE(WaitForEvent(graph_.Get(), EC_DEVICE_LOST, 500, &param1, &param2));
  identity.Reset();

  // The moniker from before the loss names the same device again.
  ASSERT_EQ(S_OK, before[0].moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                  rebound.PutVoid()));
  EXPECT_EQ(0u, rebound.Detach()->Release());
  // A new instance delivers, and keeps delivering past the frame of the
  // loss: a device is pulled out once.
  ReplaceCard(after[0].moniker.Get());
  EXPECT_EQ(capabilities, CapabilityCount());
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  ASSERT_EQ(S_OK, control_->Run());
  ASSERT_TRUE(sink_->WaitForSamples(arrivals.size() + 20, 20000));
  ASSERT_EQ(S_OK, control_->Stop());
  const std::vector<Arrival> resumed = sink_->Arrivals();
  EXPECT_TRUE(resumed[arrivals.size()].numbered);
  EXPECT_GE(resumed.back().frame_number, 10u);
  EXPECT_GT(Counts().kept, 0);
}

INSTANTIATE_TEST_SUITE_P(Returns, VideoUnplugTest,
                         ::testing::Values(UnplugCase{"Never", 0}, UnplugCase{"After1500ms", 1500}),
                         [](const ::testing::TestParamInfo<UnplugCase>& info) {
                           return std::string(info.param.name);
                         });

// What the card's media types carry: a VIDEOINFOHEADER, or only a
// VIDEOINFOHEADER2 as some drivers offer.
struct FormatTypeCase {
  const wchar_t* value;
  const GUID* formattype;
  ULONG format_size;
  testcard::VideoHeader header, other;
};

class VideoFormatTypeTest : public VideoStreamTest,
                            public ::testing::WithParamInterface<FormatTypeCase> {};

TEST_P(VideoFormatTypeTest, EveryTypeCarriesTheConfiguredFormatBlock) {
  const FormatTypeCase& param = GetParam();
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetText(setup.Video(0), L"FormatType", param.value));
  ReplaceCard();
  auto expect_type = [&](const AM_MEDIA_TYPE& mt) {
    EXPECT_TRUE(IsEqualGUID(*param.formattype, mt.formattype));
    EXPECT_EQ(param.format_size, mt.cbFormat);
  };
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    VIDEO_STREAM_CONFIG_CAPS caps;
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, config_->GetStreamCaps(i, &mt, reinterpret_cast<BYTE*>(&caps)));
    expect_type(*mt);
    EXPECT_TRUE(IsEqualGUID(*param.formattype, caps.guid));
    testbed::DeleteMediaType(mt);
  }
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(S_OK, capture_->EnumMediaTypes(types.Put()));
  AM_MEDIA_TYPE* listed = nullptr;
  int count = 0;
  for (; types->Next(1, &listed, nullptr) == S_OK; ++count) {
    expect_type(*listed);
    testbed::DeleteMediaType(listed);
  }
  EXPECT_EQ(7, count);
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(S_OK, config_->GetFormat(&current));
  expect_type(*current);
  testbed::DeleteMediaType(current);

  // The same format in the other block is refused; in its own it is taken.
  const testcard::VideoFormat uyvy720 = {testcard::PixelFormat::kUyvy, 1280, 720, 166833};
  testbed::MediaType other = testcard::MakeVideoType(uyvy720, param.other);
  testbed::MediaType own = testcard::MakeVideoType(uyvy720, param.header);
  EXPECT_EQ(S_FALSE, capture_->QueryAccept(&other.Get()));
  EXPECT_EQ(E_FAIL, config_->SetFormat(const_cast<AM_MEDIA_TYPE*>(&other.Get())));
  EXPECT_EQ(S_OK, capture_->QueryAccept(&own.Get()));
  ASSERT_EQ(S_OK, config_->SetFormat(const_cast<AM_MEDIA_TYPE*>(&own.Get())));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, capture_->Connect(sink_->Input(), &other.Get()));

  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  AM_MEDIA_TYPE mt;
  ASSERT_EQ(S_OK, capture_->ConnectionMediaType(&mt));
  expect_type(mt);
  EXPECT_TRUE(testbed::SameMediaType(own.Get(), mt));
  testbed::FreeMediaType(&mt);
  ASSERT_EQ(S_OK, control_->Run());
  ASSERT_TRUE(sink_->WaitForSamples(5, 20000));
  ASSERT_EQ(S_OK, control_->Stop());
  for (const Arrival& a : sink_->Arrivals()) {
    EXPECT_TRUE(a.numbered);
    EXPECT_EQ(1843200, a.length);
  }
}

INSTANTIATE_TEST_SUITE_P(
    FormatTypes, VideoFormatTypeTest,
    ::testing::Values(FormatTypeCase{L"VideoInfo", &FORMAT_VideoInfo, sizeof(VIDEOINFOHEADER),
                                     testcard::VideoHeader::kVideoInfo,
                                     testcard::VideoHeader::kVideoInfo2},
                      FormatTypeCase{L"VideoInfo2", &FORMAT_VideoInfo2, sizeof(VIDEOINFOHEADER2),
                                     testcard::VideoHeader::kVideoInfo2,
                                     testcard::VideoHeader::kVideoInfo}));

// A driver's list may run long, give frame-interval ranges and scale.
TEST_F(VideoStreamTest, LongListsAndRangesAreHonouredExactly) {
  std::wstring list;
  for (int i = 0; i < 22; ++i)
    list += (i % 2 ? L"RGB24 " : L"YUY2 ") + std::to_wstring(640 + 16 * i) + L"x480, ";
  list += L"UYVY 640x480-1920x1080/8 166834-333667, UYVY 1280x720 166667-166667";
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetText(setup.Video(0), L"Capabilities", list));
  ReplaceCard();
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, config_->GetNumberOfCapabilities(&count, &size));
  ASSERT_EQ(24, count);
  VIDEO_STREAM_CONFIG_CAPS caps;
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(S_OK, config_->GetStreamCaps(22, &mt, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, mt->subtype));
  const auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
  // The range's type carries its largest size at its fastest rate.
  EXPECT_EQ(1920, vih->bmiHeader.biWidth);
  EXPECT_EQ(1080, vih->bmiHeader.biHeight);
  EXPECT_EQ(166834, vih->AvgTimePerFrame);
  EXPECT_EQ(640, caps.MinOutputSize.cx);
  EXPECT_EQ(480, caps.MinOutputSize.cy);
  EXPECT_EQ(1920, caps.MaxOutputSize.cx);
  EXPECT_EQ(1080, caps.MaxOutputSize.cy);
  EXPECT_EQ(8, caps.OutputGranularityX);
  EXPECT_EQ(8, caps.OutputGranularityY);
  EXPECT_EQ(166834, caps.MinFrameInterval);
  EXPECT_EQ(333667, caps.MaxFrameInterval);
  testbed::DeleteMediaType(mt);
  ASSERT_EQ(S_OK, config_->GetStreamCaps(23, &mt, reinterpret_cast<BYTE*>(&caps)));
  EXPECT_EQ(166667, caps.MinFrameInterval);
  EXPECT_EQ(166667, caps.MaxFrameInterval);
  EXPECT_EQ(0, caps.OutputGranularityX);
  testbed::DeleteMediaType(mt);
  EXPECT_EQ(S_FALSE, config_->GetStreamCaps(24, &mt, reinterpret_cast<BYTE*>(&caps)));

  struct Request {
    int width, height;
    REFERENCE_TIME interval;
    HRESULT expected;
  };
  for (const Request& r : {Request{648, 488, 333667, S_OK}, Request{1280, 720, 166667, S_OK},
                           Request{1280, 720, 166834, S_OK}, Request{1280, 720, 166700, E_FAIL},
                           Request{1280, 720, 333668, E_FAIL}, Request{1284, 720, 200000, E_FAIL},
                           Request{632, 480, 200000, E_FAIL}, Request{1928, 1080, 200000, E_FAIL},
                           Request{1920, 1080, 166833, E_FAIL}, Request{1280, 720, 200000, S_OK}}) {
    SCOPED_TRACE(testing::Message() << r.width << "x" << r.height << " " << r.interval);
    testbed::MediaType type =
        testcard::MakeVideoType({testcard::PixelFormat::kUyvy, r.width, r.height, r.interval});
    // Before anything is chosen, the pin accepts what the ranges allow.
    ComPtr<IBaseFilter> fresh = CreateFilter(CLSID_TestCardVideo);
    EXPECT_EQ(r.expected == S_OK ? S_OK : S_FALSE,
              Named(fresh.Get(), L"Capture")->QueryAccept(&type.Get()));
    EXPECT_EQ(r.expected, config_->SetFormat(const_cast<AM_MEDIA_TYPE*>(&type.Get())));
  }
  // The last one taken: 1280x720 at 50 fps.
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  GUID subtype = GUID_NULL;
  VIDEOINFOHEADER connected = ConnectionFormat(capture_.Get(), &subtype);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, subtype));
  EXPECT_EQ(1280, connected.bmiHeader.biWidth);
  EXPECT_EQ(720, connected.bmiHeader.biHeight);
  EXPECT_EQ(200000, connected.AvgTimePerFrame);
  ASSERT_EQ(S_OK, control_->Run());
  ASSERT_TRUE(sink_->WaitForSamples(5, 20000));
  ASSERT_EQ(S_OK, control_->Stop());
  for (const Arrival& a : sink_->Arrivals()) {
    EXPECT_TRUE(a.numbered);
    EXPECT_EQ(1843200, a.length);
    EXPECT_EQ(200000, a.stop - a.start);
  }
}

// Many HDMI cards put their sound on the video filter, as its first pin.
TEST_F(VideoStreamTest, AudioPinComesFirstAndDeliversTheCardsSound) {
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetNumber(setup.Video(0), L"AudioPin", 1));
  ReplaceCard();
  ComPtr<IPin> audio = PinAt(filter_.Get(), 0);
  ASSERT_TRUE(audio);
  EXPECT_EQ(capture_.Get(), PinAt(filter_.Get(), 1).Get());
  EXPECT_EQ(preview_.Get(), PinAt(filter_.Get(), 2).Get());
  EXPECT_FALSE(PinAt(filter_.Get(), 3));
  PIN_INFO info;
  ASSERT_EQ(S_OK, audio->QueryPinInfo(&info));
  EXPECT_STREQ(L"Audio", info.achName);
  EXPECT_EQ(PINDIR_OUTPUT, info.dir);
  info.pFilter->Release();
  ComPtr<IKsPropertySet> props;
  ASSERT_EQ(S_OK, audio.As(&props));
  GUID category = GUID_NULL;
  DWORD returned = 0;
  ASSERT_EQ(S_OK, props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                             sizeof(category), &returned));
  EXPECT_TRUE(IsEqualGUID(PIN_CATEGORY_CAPTURE, category));

  ComPtr<IAMStreamConfig> audio_config;
  ASSERT_EQ(S_OK, audio.As(&audio_config));
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, audio_config->GetNumberOfCapabilities(&count, &size));
  EXPECT_EQ(1, count);
  EXPECT_EQ(static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)), size);
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(S_OK, audio_config->GetFormat(&mt));
  EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Audio, mt->majortype));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_PCM, mt->subtype));
  ASSERT_TRUE(IsEqualGUID(FORMAT_WaveFormatEx, mt->formattype));
  auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat);
  EXPECT_EQ(WAVE_FORMAT_PCM, wfx->wFormatTag);
  EXPECT_EQ(2, wfx->nChannels);
  EXPECT_EQ(48000u, wfx->nSamplesPerSec);
  EXPECT_EQ(16, wfx->wBitsPerSample);
  wfx->nSamplesPerSec = 44100;
  wfx->nAvgBytesPerSec = 44100 * 4;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, audio_config->SetFormat(mt));
  testbed::DeleteMediaType(mt);

  ComPtr<SinkFilter> audio_sink = CreateSink(MEDIATYPE_Audio);
  ASSERT_EQ(S_OK, graph_->AddFilter(audio_sink.Get(), L"Audio sink"));
  ASSERT_EQ(S_OK, graph_->ConnectDirect(audio.Get(), audio_sink->Input(), nullptr));
  AM_MEDIA_TYPE connected;
  ASSERT_EQ(S_OK, audio->ConnectionMediaType(&connected));
  EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Audio, connected.majortype));
  EXPECT_EQ(48000u, reinterpret_cast<WAVEFORMATEX*>(connected.pbFormat)->nSamplesPerSec);
  testbed::FreeMediaType(&connected);
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  ASSERT_EQ(S_OK, control_->Run());
  ASSERT_TRUE(audio_sink->WaitForSamples(3, 20000));
  ASSERT_EQ(S_OK, control_->Stop());
  EXPECT_FALSE(sink_->Arrivals().empty());
  std::vector<Arrival> sound = audio_sink->Arrivals();
  EXPECT_TRUE(sound[0].discontinuity);
  int clicks = 0;
  for (size_t i = 0; i < sound.size(); ++i) {
    SCOPED_TRACE(i);
    // Half a second of 48 kHz 16-bit stereo.
    EXPECT_EQ(96000, sound[i].length);
    EXPECT_EQ(5000000, sound[i].stop - sound[i].start);
    EXPECT_GE(sound[i].arrived, sound[i].stop);
    clicks += sound[i].clicks;
  }
  // The tone clicks once a flash period: 60 frames of 59.94 fps, 1.001 s.
  const REFERENCE_TIME heard = sound.back().stop - sound.front().start;
  EXPECT_GE(clicks, static_cast<int>(heard / 10010000));
  EXPECT_LE(clicks, static_cast<int>(heard / 10010000) + 1);
  EXPECT_EQ(S_OK, graph_->RemoveFilter(audio_sink.Get()));
}

using DeviceEvents = std::vector<std::pair<LONG_PTR, LONG_PTR>>;

DeviceEvents Sorted(DeviceEvents events) {
  std::sort(events.begin(), events.end());
  return events;
}

// The next `count` EC_DEVICE_LOST events (bounded), as (filter, param2), sorted.
DeviceEvents DeviceLostEvents(IGraphBuilder* graph, size_t count) {
  DeviceEvents events;
  LONG_PTR param1 = 0, param2 = 0;
  while (events.size() < count && WaitForEvent(graph, EC_DEVICE_LOST, 20000, &param1, &param2))
    events.push_back({param1, param2});
  return Sorted(events);
}

LONG_PTR Identity(IBaseFilter* filter) {
  ComPtr<IUnknown> identity;
  EXPECT_EQ(S_OK, filter->QueryInterface(IID_IUnknown, identity.PutVoid()));
  return reinterpret_cast<LONG_PTR>(identity.Get());  // the filter holds it
}

HRESULT SuggestBufferBytes(IPin* pin, long bytes) {
  ComPtr<IAMBufferNegotiation> negotiation;
  ALLOCATOR_PROPERTIES props = {-1, bytes, -1, -1};
  HRESULT hr = ComPtr<IPin>(pin).As(&negotiation);
  return SUCCEEDED(hr) ? negotiation->SuggestAllocatorProperties(&props) : hr;
}

// One card, its sound on the video filter's audio pin and on an audio
// device of its own (AudioN\LoseWithVideo): pulled out, all of it goes at
// once, and it comes back together.
TEST_F(VideoStreamTest, CardsSoundGoesAndComesBackWithIt) {
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetNumber(setup.Video(0), L"AudioPin", 1));
  ASSERT_TRUE(setup.SetNumber(setup.Video(0), L"LoseDeviceAfterFrames", 30));
  ASSERT_TRUE(setup.SetNumber(setup.Video(0), L"ReturnAfterMs", 1000));
  ASSERT_TRUE(setup.SetNumber(setup.Audio(0), L"LoseWithVideo", 0));
  ASSERT_EQ(S_OK, setup.Register());
  const std::vector<ListedDevice> sound = ListDevices(CLSID_AudioInputDeviceCategory);
  ASSERT_EQ(1u, sound.size());
  ReplaceCard(ListDevices(CLSID_VideoInputDeviceCategory).at(0).moniker.Get());
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(S_OK, sound[0].moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, source.PutVoid()));
  ASSERT_EQ(S_OK, graph_->AddFilter(source.Get(), L"Audio capture"));
  ComPtr<IPin> card_audio = PinAt(filter_.Get(), 0), source_audio = PinAt(source.Get(), 0);
  ComPtr<SinkFilter> card_sound = CreateSink(MEDIATYPE_Audio), source_sound = CreateSink(MEDIATYPE_Audio);
  ASSERT_EQ(S_OK, graph_->AddFilter(card_sound.Get(), L"Card sound"));
  ASSERT_EQ(S_OK, graph_->AddFilter(source_sound.Get(), L"Source sound"));
  // About 10 ms per buffer, so that a sound going on would show at once.
  ASSERT_EQ(S_OK, SuggestBufferBytes(card_audio.Get(), 1920));
  ASSERT_EQ(S_OK, SuggestBufferBytes(source_audio.Get(), 1920));
  ASSERT_EQ(S_OK, graph_->ConnectDirect(card_audio.Get(), card_sound->Input(), nullptr));
  ASSERT_EQ(S_OK, graph_->ConnectDirect(source_audio.Get(), source_sound->Input(), nullptr));
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  const LONG_PTR card = Identity(filter_.Get()), audio = Identity(source.Get());

  ASSERT_EQ(S_OK, control_->Run());
  EXPECT_EQ(Sorted({{card, 0}, {audio, 0}}), DeviceLostEvents(graph_.Get(), 2));
  const size_t card_sound_at_loss = card_sound->Arrivals().size();
  const size_t source_sound_at_loss = source_sound->Arrivals().size();
  EXPECT_GT(card_sound_at_loss, 0u);
  EXPECT_GT(source_sound_at_loss, 0u);
  EXPECT_TRUE(ListDevices(CLSID_VideoInputDeviceCategory).empty());
  EXPECT_TRUE(ListDevices(CLSID_AudioInputDeviceCategory).empty());
  EXPECT_TRUE(testcard::TestCardSetup::Unplugged(setup.Audio(0)));
  ComPtr<IBaseFilter> rebound;
  EXPECT_TRUE(FailedAsUnplugged(
      sound[0].moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, rebound.PutVoid())));

  // Back together, the graph running all the while; neither sound went on
  // (but for a buffer already on its way).
  EXPECT_EQ(Sorted({{card, 1}, {audio, 1}}), DeviceLostEvents(graph_.Get(), 2));
  EXPECT_LE(card_sound->Arrivals().size(), card_sound_at_loss + 1);
  EXPECT_LE(source_sound->Arrivals().size(), source_sound_at_loss + 1);
  const std::vector<ListedDevice> listed = ListDevices(CLSID_AudioInputDeviceCategory);
  ASSERT_EQ(1u, listed.size());
  EXPECT_EQ(sound[0].name, listed[0].name);
  EXPECT_EQ(1u, ListDevices(CLSID_VideoInputDeviceCategory).size());
  ASSERT_EQ(S_OK, control_->Stop());
  EXPECT_EQ(kGone, source->Pause());
  EXPECT_EQ(S_OK, graph_->RemoveFilter(source.Get()));
  source_audio.Reset();
  EXPECT_EQ(0u, source.Detach()->Release());
}

// Windows' capture filter offers IAMDroppedFrames only when the driver has
// the dropped-frames property.
class VideoDroppedFramesTest : public VideoCaptureTest,
                               public ::testing::WithParamInterface<DWORD> {};

TEST_P(VideoDroppedFramesTest, TheInterfaceFollowsTheDriversProperty) {
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetNumber(setup.Video(0), L"DroppedFrames", GetParam()));
  ReleaseCard();
  CreateCard();
  ComPtr<IAMDroppedFrames> dropped;
  EXPECT_EQ(GetParam() ? S_OK : E_NOINTERFACE, filter_.As(&dropped));
  EXPECT_EQ(GetParam() != 0, static_cast<bool>(dropped));
  for (IPin* pin : {capture_.Get(), preview_.Get()})
    EXPECT_EQ(E_NOINTERFACE, ComPtr<IPin>(pin).As(&dropped));
  // The interface stands for the driver's property, which the filter's
  // IKsPropertySet answers (ksmedia.h's PROPSETID_VIDCAP_DROPPEDFRAMES).
  const GUID dropped_set = {0xc6e13344, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
  ComPtr<IKsPropertySet> props;
  ASSERT_EQ(S_OK, filter_.As(&props));
  DWORD support = 0;
  EXPECT_EQ(GetParam() ? S_OK : E_PROP_SET_UNSUPPORTED, props->QuerySupported(dropped_set, 0, &support));
  struct {
    GUID set;
    ULONG id, flags;
    LONGLONG picture_number, drop_count;
    ULONG average_frame_size;
  } current = {};
  DWORD returned = 0;
  HRESULT hr = props->Get(dropped_set, 0, nullptr, 0, &current, sizeof(current), &returned);
  EXPECT_EQ(GetParam() ? S_OK : E_PROP_SET_UNSUPPORTED, hr);
  if (GetParam()) {
    EXPECT_EQ(static_cast<DWORD>(KSPROPERTY_SUPPORT_GET), support);
    EXPECT_EQ(sizeof(current), returned);
    EXPECT_EQ(0, current.drop_count);
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, props->Set(dropped_set, 0, nullptr, 0, &current, sizeof(current)));
  }
}

INSTANTIATE_TEST_SUITE_P(Property, VideoDroppedFramesTest, ::testing::Values(0u, 1u));

// A card that refuses to start, as with Windows' camera privacy switch.
class VideoRunResultTest : public VideoStreamTest,
                           public ::testing::WithParamInterface<HRESULT> {};

TEST_P(VideoRunResultTest, EveryStartFailsWithTheConfiguredResult) {
  // Made before the configuration changes, so it can start.
  ComPtr<IBaseFilter> unrefused = CreateFilter(CLSID_TestCardVideo);
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetNumber(setup.Video(0), L"RunResult", static_cast<DWORD>(GetParam())));
  ReplaceCard();
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  FILTER_STATE state = State_Running;
  EXPECT_EQ(GetParam(), filter_->Pause());
  EXPECT_EQ(GetParam(), filter_->Run(0));
  EXPECT_EQ(S_OK, filter_->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);
  EXPECT_EQ(GetParam(), control_->Run());
  // Wine's graph leaves the sink, which it paused before the card refused,
  // paused, and its Stop does nothing; such a graph never finishes releasing.
  EXPECT_EQ(S_OK, sink_->Stop());
  EXPECT_EQ(S_OK, control_->Stop());
  EXPECT_TRUE(sink_->Arrivals().empty());
  // A refused start holds no device.
  EXPECT_EQ(S_OK, unrefused->Pause());
  EXPECT_EQ(S_OK, unrefused->Stop());
}

INSTANTIATE_TEST_SUITE_P(Results, VideoRunResultTest,
                         ::testing::Values(E_ACCESSDENIED, HRESULT_FROM_WIN32(ERROR_NOT_READY)));

const HRESULT kDeviceBusy = HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);

// One graph at a time per device, as a real device (Wine's Windows-validated
// videocapture.c, test_multiple_objects, allows exactly this refusal).
TEST_F(VideoStreamTest, ASecondInstanceCannotStartWhileTheFirstHoldsTheDevice) {
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  ComPtr<IBaseFilter> second = CreateFilter(CLSID_TestCardVideo);
  ASSERT_EQ(S_OK, control_->Run());
  EXPECT_EQ(kDeviceBusy, second->Pause());
  EXPECT_EQ(kDeviceBusy, second->Run(0));
  FILTER_STATE state = State_Running;
  EXPECT_EQ(S_OK, second->GetState(0, &state));
  EXPECT_EQ(State_Stopped, state);
  EXPECT_TRUE(sink_->WaitForSamples(1, 20000));
  // Paused, the first still holds it.
  ASSERT_EQ(S_OK, control_->Pause());
  EXPECT_EQ(kDeviceBusy, second->Pause());
  ASSERT_EQ(S_OK, control_->Stop());
  // Stopped, it lets go; now the second holds the device against the first.
  EXPECT_EQ(S_OK, second->Pause());
  EXPECT_EQ(kDeviceBusy, control_->Run());
  EXPECT_EQ(S_OK, sink_->Stop());  // left paused by Wine's graph (see above)
  EXPECT_EQ(S_OK, control_->Stop());
  // A filter released while paused lets go too.
  second.Reset();
  EXPECT_EQ(S_OK, control_->Run());
  EXPECT_EQ(S_OK, control_->Stop());
}

// Across processes: testcard_hold.exe stands for another program using the card.
TEST_F(VideoCaptureTest, AnotherProgramHoldingTheDeviceKeepsItFromStarting) {
  {
    HoldingProgram other(0);
    ASSERT_TRUE(other.Start());
    EXPECT_EQ(kDeviceBusy, filter_->Pause());
    EXPECT_EQ(0u, other.Finish());
  }
  EXPECT_EQ(S_OK, filter_->Pause());
  {
    HoldingProgram other(0);
    EXPECT_FALSE(other.Start());
    EXPECT_EQ(static_cast<DWORD>(kDeviceBusy), other.ExitCode());
  }
  EXPECT_EQ(S_OK, filter_->Stop());
  // A program that dies holding the device does not keep it.
  HoldingProgram crashing(0);
  ASSERT_TRUE(crashing.Start());
  EXPECT_EQ(kDeviceBusy, filter_->Run(0));
  crashing.Kill();
  EXPECT_EQ(S_OK, filter_->Run(0));
  EXPECT_EQ(S_OK, filter_->Stop());
}

// IAMVideoControl: no flipping or triggering, and each capability's frame
// rates within its range (videocapture.c, test_frame_rate_list).
TEST_F(VideoStreamTest, VideoControlListsEachCapabilitysFrameRates) {
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetText(setup.Video(0), L"Capabilities",
                            L"UYVY 1280x720 166667-166667, UYVY 640x480-1920x1080/8 166834-333667, "
                            L"YUY2 1920x1080"));
  ReplaceCard();
  ComPtr<IAMVideoControl> control;
  ASSERT_EQ(S_OK, filter_.As(&control));
  long flags = -1;
  EXPECT_EQ(S_OK, control->GetCaps(capture_.Get(), &flags));
  EXPECT_EQ(0, flags);
  EXPECT_EQ(S_OK, control->SetMode(preview_.Get(), 0));
  EXPECT_EQ(E_INVALIDARG, control->SetMode(capture_.Get(), VideoControlFlag_FlipHorizontal));
  EXPECT_EQ(E_INVALIDARG, control->GetCaps(sink_->Input(), &flags));
  struct Case {
    long index;
    SIZE size;
    std::vector<LONGLONG> rates;
  };
  for (const Case& c : {Case{0, {1280, 720}, {166667}},
                        Case{1, {640, 480}, {166834, 333333, 333667}},
                        Case{2, {1920, 1080}, {333667, 400000, 666667, 1000000, 2000000, 10000000}}}) {
    SCOPED_TRACE(c.index);
    long count = 0;
    LONGLONG* rates = nullptr;
    ASSERT_EQ(S_OK, control->GetFrameRateList(capture_.Get(), c.index, c.size, &count, &rates));
    EXPECT_EQ(c.rates, std::vector<LONGLONG>(rates, rates + count));
    CoTaskMemFree(rates);
    LONGLONG fastest = 0;
    EXPECT_EQ(S_OK, control->GetMaxAvailableFrameRate(capture_.Get(), c.index, c.size, &fastest));
    EXPECT_EQ(c.rates.front(), fastest);
  }
  long count = 0;
  LONGLONG* rates = nullptr;
  EXPECT_EQ(E_INVALIDARG, control->GetFrameRateList(capture_.Get(), 1, {644, 480}, &count, &rates));
  EXPECT_EQ(E_INVALIDARG, control->GetFrameRateList(capture_.Get(), 3, {1920, 1080}, &count, &rates));
  LONGLONG actual = 0;
  EXPECT_EQ(VFW_E_NOT_CONNECTED, control->GetCurrentActualFrameRate(capture_.Get(), &actual));
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  EXPECT_EQ(S_OK, control->GetCurrentActualFrameRate(capture_.Get(), &actual));
  EXPECT_EQ(166667, actual);
}

// IAMVideoProcAmp: manual settings within their ranges, kept by the filter.
TEST_F(VideoCaptureTest, ProcessingAmplifierKeepsSettingsWithinTheirRanges) {
  ComPtr<IAMVideoProcAmp> amp;
  ASSERT_EQ(S_OK, filter_.As(&amp));
  for (long property : {VideoProcAmp_Brightness, VideoProcAmp_Contrast, VideoProcAmp_Hue,
                        VideoProcAmp_Saturation}) {
    SCOPED_TRACE(property);
    long min = 0, max = 0, step = 0, fallback = 0, flags = 0, value = -1;
    ASSERT_EQ(S_OK, amp->GetRange(property, &min, &max, &step, &fallback, &flags));
    EXPECT_LT(min, max);
    EXPECT_EQ(static_cast<long>(VideoProcAmp_Flags_Manual), flags);
    ASSERT_EQ(S_OK, amp->Get(property, &value, &flags));
    EXPECT_EQ(fallback, value);
    EXPECT_EQ(S_OK, amp->Set(property, max, VideoProcAmp_Flags_Manual));
    EXPECT_EQ(E_INVALIDARG, amp->Set(property, max + 1, VideoProcAmp_Flags_Manual));
    EXPECT_EQ(E_INVALIDARG, amp->Set(property, min, VideoProcAmp_Flags_Auto));
    ASSERT_EQ(S_OK, amp->Get(property, &value, &flags));
    EXPECT_EQ(max, value);
  }
  long value = 0, flags = 0;
  EXPECT_EQ(E_PROP_ID_UNSUPPORTED, amp->Get(VideoProcAmp_Gain, &value, &flags));
  EXPECT_EQ(E_PROP_ID_UNSUPPORTED, amp->Set(VideoProcAmp_Gain, 0, VideoProcAmp_Flags_Manual));
}

// Seeking as a live source offers it: media time only, nothing to position.
TEST_F(VideoCaptureTest, SeekingKnowsOnlyMediaTime) {
  ComPtr<IMediaSeeking> filter_seeking, pin_seeking;
  ASSERT_EQ(S_OK, filter_.As(&filter_seeking));
  ASSERT_EQ(S_OK, capture_.As(&pin_seeking));
  for (IMediaSeeking* seeking : {filter_seeking.Get(), pin_seeking.Get()}) {
    DWORD caps = 1;
    EXPECT_EQ(S_OK, seeking->GetCapabilities(&caps));
    EXPECT_EQ(0u, caps);
    EXPECT_EQ(S_OK, seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(S_FALSE, seeking->IsFormatSupported(&TIME_FORMAT_FRAME));
    EXPECT_EQ(E_INVALIDARG, seeking->SetTimeFormat(&TIME_FORMAT_FRAME));
    LONGLONG duration = 0;
    EXPECT_EQ(E_NOTIMPL, seeking->GetDuration(&duration));
  }
}

// IAMStreamControl on a running pin: it stops and starts at the times asked
// for on the graph clock and tells the graph with the cookies given; and
// IAMBufferNegotiation sets the pool.
TEST_F(VideoStreamTest, StreamControlStopsAndStartsThePinOnTheGraphClock) {
  ComPtr<IAMBufferNegotiation> negotiation;
  ASSERT_EQ(S_OK, capture_.As(&negotiation));
  ALLOCATOR_PROPERTIES wish = {5, -1, -1, -1};
  ASSERT_EQ(S_OK, negotiation->SuggestAllocatorProperties(&wish));
  ASSERT_EQ(S_OK, ConnectToSink(capture_.Get()));
  ALLOCATOR_PROPERTIES props = {};
  ASSERT_EQ(S_OK, negotiation->GetAllocatorProperties(&props));
  EXPECT_EQ(5, props.cBuffers);
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, negotiation->SuggestAllocatorProperties(&wish));

  ComPtr<IAMStreamControl> control;
  ASSERT_EQ(S_OK, capture_.As(&control));
  AM_STREAM_INFO info = {};
  ASSERT_EQ(S_OK, control->GetInfo(&info));
  EXPECT_EQ(0u, info.dwFlags);
  ASSERT_EQ(S_OK, control_->Run());
  ASSERT_TRUE(sink_->WaitForSamples(3, 20000));
  ComPtr<IMediaFilter> graph_filter;
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(S_OK, graph_.As(&graph_filter));
  ASSERT_EQ(S_OK, graph_filter->GetSyncSource(clock.Put()));
  REFERENCE_TIME now = 0;
  ASSERT_TRUE(SUCCEEDED(clock->GetTime(&now)));  // S_FALSE when the time repeats
  const REFERENCE_TIME stop = now + 2000000;
  ASSERT_EQ(S_OK, control->StopAt(&stop, FALSE, 41));
  ASSERT_EQ(S_OK, control->GetInfo(&info));
  EXPECT_EQ(static_cast<DWORD>(AM_STREAM_INFO_STOP_DEFINED), info.dwFlags);
  EXPECT_EQ(stop, info.tStop);
  EXPECT_EQ(41u, info.dwStopCookie);
  LONG_PTR param1 = 0, param2 = 0;
  ASSERT_TRUE(WaitForEvent(graph_.Get(), EC_STREAM_CONTROL_STOPPED, 20000, &param1, &param2));
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(capture_.Get()), param1);
  EXPECT_EQ(41, param2);
  ASSERT_EQ(S_OK, control->GetInfo(&info));
  EXPECT_EQ(static_cast<DWORD>(AM_STREAM_INFO_DISCARDING), info.dwFlags);
  const size_t before = sink_->Arrivals().size();
  Sleep(300);
  EXPECT_EQ(before, sink_->Arrivals().size());
  ASSERT_EQ(S_OK, control->StartAt(nullptr, 42));
  ASSERT_TRUE(WaitForEvent(graph_.Get(), EC_STREAM_CONTROL_STARTED, 20000, &param1, &param2));
  EXPECT_EQ(42, param2);
  EXPECT_TRUE(sink_->WaitForSamples(before + 3, 20000));
  ASSERT_EQ(S_OK, control_->Stop());
}

}  // namespace
}  // namespace testcard_test
