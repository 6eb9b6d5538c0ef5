// Conformance of the test card's video capture filter.
#include <algorithm>

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
    filter_ = CreateFilter(CLSID_TestCardVideo);
    ASSERT_TRUE(filter_);
    capture_ = PinNamed(filter_.Get(), L"Capture");
    preview_ = PinNamed(filter_.Get(), L"Preview");
    ASSERT_TRUE(capture_ && preview_);
    ASSERT_EQ(S_OK, capture_.As(&config_));
  }
  void TearDown() override {
    config_.Reset();
    capture_.Reset();
    preview_.Reset();
    if (filter_) {
      EXPECT_EQ(0u, filter_.Detach()->Release());
    }
    ComTest::TearDown();
  }

  VIDEOINFOHEADER FormatOf(IPin* pin) {
    ComPtr<IAMStreamConfig> config;
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEOINFOHEADER vih = {};
    if (SUCCEEDED(ComPtr<IPin>(pin).As(&config)) && config->GetFormat(&mt) == S_OK) {
      EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, mt->subtype));
      vih = *reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
      testbed::DeleteMediaType(mt);
    }
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

TEST_F(VideoCaptureTest, InterfacesPresentAndAbsent) {
  for (const IID* iid : {&IID_IUnknown, &IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist,
                         &IID_IAMDroppedFrames, &IID_IPersistPropertyBag})
    EXPECT_TRUE(Exposes(filter_.Get(), *iid));
  for (const IID* iid : {&IID_IPin, &IID_IAMStreamConfig, &IID_IKsPropertySet, &IID_IMediaSeeking,
                         &IID_IReferenceClock, &IID_IBasicVideo, &IID_IQualProp})
    EXPECT_FALSE(Exposes(filter_.Get(), *iid));
  for (IPin* pin : {capture_.Get(), preview_.Get()}) {
    for (const IID* iid : {&IID_IUnknown, &IID_IPin, &IID_IAMStreamConfig, &IID_IKsPropertySet})
      EXPECT_TRUE(Exposes(pin, *iid));
    for (const IID* iid : {&IID_IMemInputPin, &IID_IMediaSeeking, &IID_IBaseFilter,
                           &IID_IAsyncReader, &IID_IAMDroppedFrames})
      EXPECT_FALSE(Exposes(pin, *iid));
  }
  // One identity per object, whichever interface it is reached through.
  ComPtr<IUnknown> a, b;
  ComPtr<IAMDroppedFrames> dropped;
  ASSERT_EQ(S_OK, filter_.As(&dropped));
  ASSERT_EQ(S_OK, dropped->QueryInterface(IID_IUnknown, a.PutVoid()));
  ASSERT_EQ(S_OK, filter_->QueryInterface(IID_IUnknown, b.PutVoid()));
  EXPECT_EQ(a.Get(), b.Get());
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

TEST_F(VideoCaptureTest, SetFormatChangesWhatBothPinsOffer) {
  int index = -1;
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1920, 1080, 333667, &index));
  EXPECT_EQ(3, index);
  for (IPin* pin : {capture_.Get(), preview_.Get()}) {
    VIDEOINFOHEADER vih = FormatOf(pin);
    EXPECT_EQ(1920, vih.bmiHeader.biWidth);
    EXPECT_EQ(1080, vih.bmiHeader.biHeight);
    EXPECT_EQ(333667, vih.AvgTimePerFrame);
    EXPECT_EQ(4147200u, vih.bmiHeader.biSizeImage);
    // Once set, the format is the only one a pin offers.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, pin->EnumMediaTypes(types.Put()));
    AM_MEDIA_TYPE* mt[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, types->Next(2, mt, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(S_OK, pin->QueryAccept(mt[0]));
    testbed::DeleteMediaType(mt[0]);
  }
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1280, 720, 166833, nullptr));
  EXPECT_EQ(1843200u, FormatOf(preview_.Get()).bmiHeader.biSizeImage);
}

TEST_F(VideoCaptureTest, SetFormatRefusesWhatTheCardCannotDeliver) {
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(S_OK, config_->GetFormat(&mt));
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
  VIDEOINFOHEADER original = *vih;
  mt->subtype = MEDIASUBTYPE_MJPG;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config_->SetFormat(mt));
  mt->subtype = MEDIASUBTYPE_YUY2;
  vih->bmiHeader.biWidth = 640;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config_->SetFormat(mt));
  *vih = original;
  vih->AvgTimePerFrame = 100000;  // faster than 59.94 fps
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config_->SetFormat(mt));
  vih->AvgTimePerFrame = 400000;  // 25 fps is a slower rate the card can do
  EXPECT_EQ(S_OK, config_->SetFormat(mt));
  EXPECT_EQ(E_POINTER, config_->SetFormat(nullptr));
  ASSERT_EQ(S_OK, filter_->Pause());
  EXPECT_EQ(VFW_E_NOT_STOPPED, config_->SetFormat(mt));
  ASSERT_EQ(S_OK, filter_->Stop());
  testbed::DeleteMediaType(mt);
}

TEST_F(VideoCaptureTest, UnconnectedStateWalk) { ExpectStateWalk(filter_.Get()); }

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
    control_.Reset();
    sink_.Reset();
    graph_.Reset();
    VideoCaptureTest::TearDown();
  }

  ComPtr<IGraphBuilder> graph_;
  ComPtr<SinkFilter> sink_;
  ComPtr<IMediaControl> control_;
};

TEST_F(VideoStreamTest, CapturePinDeliversTimedFramesAtTheSetRate) {
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1280, 720, 166833, nullptr));
  ASSERT_EQ(S_OK, graph_->ConnectDirect(capture_.Get(), sink_->Input(), nullptr));
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
  ComPtr<IAMDroppedFrames> dropped;
  ASSERT_EQ(S_OK, filter_.As(&dropped));
  long lost = -1, kept = -1;
  ASSERT_EQ(S_OK, dropped->GetNumDropped(&lost));
  ASSERT_EQ(S_OK, dropped->GetNumNotDropped(&kept));
  EXPECT_EQ(static_cast<long>(arrivals.size()), kept);
  long span = static_cast<long>(arrivals.back().frame_number - arrivals.front().frame_number) + 1;
  EXPECT_LE(span - kept, lost);
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
  ASSERT_EQ(S_OK, SetUyvyFormat(config_.Get(), 1920, 1080, 333667, nullptr));
  ComPtr<SinkFilter> capture_sink = CreateSink(MEDIATYPE_Video);
  ASSERT_EQ(S_OK, graph_->AddFilter(capture_sink.Get(), L"Capture sink"));
  ASSERT_EQ(S_OK, graph_->ConnectDirect(preview_.Get(), sink_->Input(), nullptr));
  ASSERT_EQ(S_OK, graph_->ConnectDirect(capture_.Get(), capture_sink->Input(), nullptr));
  AM_MEDIA_TYPE mt;
  ASSERT_EQ(S_OK, preview_->ConnectionMediaType(&mt));
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_UYVY, mt.subtype));
  EXPECT_EQ(1920, reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth);
  testbed::FreeMediaType(&mt);

  ASSERT_EQ(S_OK, control_->Run());
  ASSERT_TRUE(sink_->WaitForSamples(10, 20000));
  ASSERT_TRUE(capture_sink->WaitForSamples(10, 20000));
  ASSERT_EQ(S_OK, control_->Stop());
  for (const Arrival& a : sink_->Arrivals()) {
    EXPECT_FALSE(a.timed);
    EXPECT_TRUE(a.numbered);
    EXPECT_EQ(4147200, a.length);
  }
  EXPECT_TRUE(sink_->Arrivals().front().discontinuity);
  EXPECT_EQ(333667, capture_sink->Arrivals().front().stop - capture_sink->Arrivals().front().start);
  ASSERT_EQ(S_OK, graph_->RemoveFilter(capture_sink.Get()));
}

TEST_F(VideoStreamTest, FramesConfiguredToDropNeverArriveAndAreCounted) {
  testcard::TestCardSetup setup;
  ASSERT_TRUE(setup.SetText(setup.Video(0), L"DropFrames", L"12, 13, 20"));
  // The configuration is read when a card is created.
  ComPtr<IBaseFilter> card = CreateFilter(CLSID_TestCardVideo);
  ASSERT_EQ(S_OK, graph_->RemoveFilter(filter_.Get()));
  ASSERT_EQ(S_OK, graph_->AddFilter(card.Get(), L"キャプチャデバイス"));
  ComPtr<IPin> capture = PinNamed(card.Get(), L"Capture");
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(S_OK, capture.As(&config));
  ASSERT_EQ(S_OK, SetUyvyFormat(config.Get(), 1280, 720, 166833, nullptr));
  ASSERT_EQ(S_OK, graph_->ConnectDirect(capture.Get(), sink_->Input(), nullptr));
  ASSERT_EQ(S_OK, control_->Run());
  // Frame 25 or later has arrived once the sink holds 25 - 3 frames.
  ASSERT_TRUE(sink_->WaitForSamples(22, 20000));
  ASSERT_EQ(S_OK, control_->Stop());

  std::vector<uint32_t> seen;
  for (const Arrival& a : sink_->Arrivals()) seen.push_back(a.frame_number);
  for (uint32_t n : {12u, 13u, 20u}) EXPECT_EQ(seen.end(), std::find(seen.begin(), seen.end(), n));
  ComPtr<IAMDroppedFrames> dropped;
  ASSERT_EQ(S_OK, card.As(&dropped));
  long lost = 0, copied = 0;
  long numbers[8] = {};
  ASSERT_EQ(S_OK, dropped->GetNumDropped(&lost));
  ASSERT_GE(lost, 3);
  ASSERT_EQ(S_OK, dropped->GetDroppedInfo(8, numbers, &copied));
  EXPECT_EQ(std::min(lost, 8L), copied);
  for (long n : {12L, 13L, 20L}) EXPECT_NE(numbers + copied, std::find(numbers, numbers + copied, n));
  ASSERT_EQ(S_OK, graph_->RemoveFilter(card.Get()));
  dropped.Reset();
  config.Reset();
  capture.Reset();
  EXPECT_EQ(0u, card.Detach()->Release());
}

}  // namespace
}  // namespace testcard_test
