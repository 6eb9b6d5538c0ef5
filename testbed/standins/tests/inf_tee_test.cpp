// The Infinite Pin Tee stand-in as the prefix serves it for CLSID_InfTee.
#include <dshow.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dshow_util.h"
#include "testbed/tests_support/test_support.h"
#include "testbed/tests_support/stream_filters.h"

namespace fernwood::test {
namespace {

// A graph with a PCM push source and the tee, and sinks added as a test
// needs them. At the end the graph is emptied and everything in it must go
// with its last reference.
class InfTeeGraph : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph), S_OK);
        ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
        source = AddSource(PcmType(48000, 2));
        tee = AddNewFilter(graph.Get(), CLSID_InfTee, L"tee");
        ASSERT_TRUE(tee);
    }
    void TearDown() override {
        if (!graph || !tee) return;  // SetUp failed
        control->Stop();
        for (auto& f : FiltersIn(graph.Get())) graph->RemoveFilter(f.Get());
        control.Reset();
        EXPECT_EQ(graph.Detach()->Release(), 0u);
        for (auto& f : others) EXPECT_EQ(f.Detach()->Release(), 0u);
        EXPECT_EQ(tee.Detach()->Release(), 0u);
    }

    PushSource* AddSource(const testbed::MediaType& type) {
        auto* added = new PushSource(type, 256);
        others.push_back(ComPtr<IBaseFilter>::Adopt(added));
        graph->AddFilter(others.back().Get(), nullptr);
        return added;
    }
    RecordingSink* AddSink() {
        auto* sink = new RecordingSink;
        others.push_back(ComPtr<IBaseFilter>::Adopt(sink));
        graph->AddFilter(others.back().Get(), nullptr);
        return sink;
    }
    HRESULT ConnectSource() { return graph->ConnectDirect(source->Output(), Input().Get(), nullptr); }
    HRESULT ConnectOutput(const wchar_t* id, RecordingSink* sink) {
        return graph->ConnectDirect(Named(tee.Get(), id).Get(), sink->Input(), nullptr);
    }
    ComPtr<IPin> Input() { return Named(tee.Get(), L"Input"); }

    ComApartment com;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> tee;
    PushSource* source = nullptr;
    std::vector<ComPtr<IBaseFilter>> others;  // sources and sinks
};

TEST(InfTee, IsTheStandInWithItsInterfacesAndExactReferenceCounts) {
    ComApartment com;
    ASSERT_TRUE(ServedByStandins(CLSID_InfTee));

    ComPtr<IBaseFilter> tee;
    ASSERT_EQ(Create(CLSID_InfTee, IID_IBaseFilter, &tee), S_OK);
    EXPECT_EQ(RefCount(tee.Get()), 1u);
    CLSID clsid = {};
    EXPECT_EQ(tee->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_InfTee));
    ExpectInterfaces(
        tee.Get(), {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, &IID_IUnknown},
        {&IID_IAMFilterMiscFlags, &IID_IBasicAudio, &IID_IKsPropertySet, &IID_IMediaPosition, &IID_IMediaSeeking,
         &IID_IMemInputPin, &IID_IPin, &IID_IQualityControl, &IID_IReferenceClock, &IID_IVideoWindow},
        "filter");

    ComPtr<IEnumPins> pins;
    ASSERT_EQ(tee->EnumPins(pins.Put()), S_OK);
    EXPECT_EQ(RefCount(tee.Get()), 2u);
    IPin* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(pins->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(RefCount(tee.Get()), 4u);
    PIN_INFO info = {};
    ASSERT_EQ(got[0]->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    EXPECT_STREQ(info.achName, L"Input");
    EXPECT_EQ(info.pFilter, tee.Get());
    info.pFilter->Release();
    ASSERT_EQ(got[1]->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    EXPECT_STREQ(info.achName, L"Output1");
    info.pFilter->Release();
    ExpectInterfaces(got[0], {&IID_IMemInputPin, &IID_IPin, &IID_IQualityControl, &IID_IUnknown},
                     {&IID_IKsPropertySet, &IID_IMediaPosition, &IID_IMediaSeeking}, "input");
    ExpectInterfaces(got[1], {&IID_IMediaPosition, &IID_IMediaSeeking, &IID_IPin, &IID_IQualityControl, &IID_IUnknown},
                     {&IID_IAsyncReader, &IID_IKsPropertySet, &IID_IMemInputPin}, "output");
    // Nothing upstream to seek yet.
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(got[1]->QueryInterface(IID_IMediaSeeking, seeking.PutVoid()), S_OK);
    DWORD caps = 0;
    EXPECT_EQ(seeking->GetCapabilities(&caps), E_NOTIMPL);
    seeking.Reset();
    got[0]->Release();
    got[1]->Release();
    pins.Reset();
    EXPECT_EQ(RefCount(tee.Get()), 1u);

    ComPtr<IUnknown> outer, inner;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IUnknown, &outer), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_InfTee, outer.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown, inner.PutVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(tee.Detach()->Release(), 0u);
}

TEST(InfTee, WalksItsStatesUnconnected) {
    ComApartment com;
    ComPtr<IBaseFilter> tee;
    ASSERT_EQ(Create(CLSID_InfTee, IID_IBaseFilter, &tee), S_OK);
    ExpectStateWalk(tee.Get());
    EXPECT_EQ(tee.Detach()->Release(), 0u);
}

TEST_F(InfTeeGraph, OutputsCarryExactlyTheInputTypeAndWaitForTheInput) {
    RecordingSink* sink = AddSink();
    ComPtr<IPin> input = Input(), output = Named(tee.Get(), L"Output1");

    ComPtr<IEnumMediaTypes> types;
    EXPECT_EQ(output->EnumMediaTypes(types.Put()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(ConnectOutput(L"Output1", sink), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(input->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_EQ(types->Next(1, &mt, nullptr), S_FALSE);

    ASSERT_EQ(ConnectSource(), S_OK);
    const testbed::MediaType pcm = PcmType(48000, 2), other = PcmType(44100, 2);
    ASSERT_EQ(output->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* offered[2] = {};
    ULONG count = 0;
    EXPECT_EQ(types->Next(2, offered, &count), S_FALSE);
    ASSERT_EQ(count, 1u);
    EXPECT_TRUE(testbed::SameMediaType(*offered[0], pcm.Get()));
    testbed::DeleteMediaType(offered[0]);
    EXPECT_EQ(output->QueryAccept(&pcm.Get()), S_OK);
    EXPECT_EQ(output->QueryAccept(&other.Get()), S_FALSE);
    EXPECT_EQ(graph->ConnectDirect(output.Get(), sink->Input(), &other.Get()), VFW_E_TYPE_NOT_ACCEPTED);

    ASSERT_EQ(ConnectOutput(L"Output1", sink), S_OK);
    AM_MEDIA_TYPE connected = {};
    ASSERT_EQ(output->ConnectionMediaType(&connected), S_OK);
    EXPECT_TRUE(testbed::SameMediaType(connected, pcm.Get()));
    testbed::FreeMediaType(&connected);
    ASSERT_EQ(sink->Input()->ConnectionMediaType(&connected), S_OK);
    EXPECT_TRUE(testbed::SameMediaType(connected, pcm.Get()));
    testbed::FreeMediaType(&connected);

    // With an output connected, the input takes its type again and no other.
    DisconnectBoth(graph.Get(), input.Get());
    EXPECT_EQ(input->QueryAccept(&other.Get()), S_FALSE);
    EXPECT_EQ(input->QueryAccept(&pcm.Get()), S_OK);
    PushSource* second = AddSource(other);
    EXPECT_NE(graph->ConnectDirect(second->Output(), input.Get(), nullptr), S_OK);
    EXPECT_EQ(ConnectSource(), S_OK);
}

TEST_F(InfTeeGraph, KeepsOneFreeOutputAsOutputsConnectAndDisconnect) {
    ASSERT_EQ(ConnectSource(), S_OK);
    RecordingSink *a = AddSink(), *b = AddSink();
    using Ids = std::vector<std::wstring>;
    EXPECT_EQ(PinIds(tee.Get()), (Ids{L"Input", L"Output1"}));

    ASSERT_EQ(ConnectOutput(L"Output1", a), S_OK);
    EXPECT_EQ(PinIds(tee.Get()), (Ids{L"Input", L"Output1", L"Output2"}));
    ASSERT_EQ(ConnectOutput(L"Output2", b), S_OK);
    EXPECT_EQ(PinIds(tee.Get()), (Ids{L"Input", L"Output1", L"Output2", L"Output3"}));

    // The disconnected output goes; a reference held to it stays usable.
    ComPtr<IPin> first = Named(tee.Get(), L"Output1");
    const ULONG before = RefCount(tee.Get());
    DisconnectBoth(graph.Get(), first.Get());
    EXPECT_EQ(PinIds(tee.Get()), (Ids{L"Input", L"Output2", L"Output3"}));
    EXPECT_EQ(RefCount(tee.Get()), before - 1);  // only the sink's reference to its peer went
    PIN_INFO info = {};
    ASSERT_EQ(first->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Output1");
    info.pFilter->Release();
    EXPECT_EQ(first->Disconnect(), S_FALSE);
    first.Reset();
    ComPtr<IPin> gone;
    EXPECT_EQ(tee->FindPin(L"Output1", gone.Put()), VFW_E_NOT_FOUND);
    // The first output now is the one that feeds the second sink.
    ComPtr<IPin> now_first = PinAt(tee.Get(), PINDIR_OUTPUT, 0);
    ASSERT_TRUE(now_first);
    EXPECT_EQ(IdOf(now_first.Get()), L"Output2");
    EXPECT_TRUE(SameObject(PeerOf(now_first.Get()).Get(), b->Input()));
    now_first.Reset();
    // Disconnecting the one free output leaves it in place.
    EXPECT_EQ(graph->Disconnect(Named(tee.Get(), L"Output3").Get()), S_FALSE);
    EXPECT_EQ(PinIds(tee.Get()), (Ids{L"Input", L"Output2", L"Output3"}));

    // The free output is the one to connect next; numbering goes on.
    ASSERT_EQ(ConnectOutput(L"Output3", a), S_OK);
    EXPECT_EQ(PinIds(tee.Get()), (Ids{L"Input", L"Output2", L"Output3", L"Output4"}));
    DisconnectBoth(graph.Get(), Named(tee.Get(), L"Output2").Get());
    DisconnectBoth(graph.Get(), Named(tee.Get(), L"Output3").Get());
    EXPECT_EQ(PinIds(tee.Get()), (Ids{L"Input", L"Output4"}));
    EXPECT_FALSE(IsConnected(Named(tee.Get(), L"Output4").Get()));

    // Disconnecting needs a stopped graph.
    ASSERT_EQ(ConnectOutput(L"Output4", a), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Pause()));
    EXPECT_EQ(Named(tee.Get(), L"Output4")->Disconnect(), VFW_E_NOT_STOPPED);
    EXPECT_EQ(PinIds(tee.Get()), (Ids{L"Input", L"Output4", L"Output5"}));
}

TEST_F(InfTeeGraph, PassesEachSampleAndStreamEventToEveryConnectedOutput) {
    ASSERT_EQ(ConnectSource(), S_OK);
    RecordingSink *a = AddSink(), *b = AddSink();
    ASSERT_EQ(ConnectOutput(L"Output1", a), S_OK);
    ASSERT_EQ(ConnectOutput(L"Output2", b), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));

    std::vector<uint8_t> data(200);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    PushFlags flags;
    flags.preroll = flags.discontinuity = true;
    flags.with_media_time = true;
    flags.media_start = 10000;
    flags.media_stop = 20000;
    ASSERT_EQ(source->Push(data.data(), data.size(), 30000, 40000, flags), S_OK);
    for (RecordingSink* sink : {a, b}) {
        ASSERT_TRUE(sink->WaitForCount(1));
        const Received r = sink->Samples()[0];
        EXPECT_EQ(r.data, data);
        EXPECT_EQ(r.buffer_size, 256);
        EXPECT_EQ(r.time_result, S_OK);
        EXPECT_EQ(r.start, 30000);
        EXPECT_EQ(r.stop, 40000);
        EXPECT_TRUE(r.has_media_time);
        EXPECT_EQ(r.media_start, 10000);
        EXPECT_EQ(r.media_stop, 20000);
        EXPECT_TRUE(r.sync);
        EXPECT_TRUE(r.preroll);
        EXPECT_TRUE(r.discontinuity);
    }
    ComPtr<IPin> input = Input();
    EXPECT_EQ(input->NewSegment(0, 50000, 1.0), S_OK);
    EXPECT_EQ(input->EndOfStream(), S_OK);
    EXPECT_EQ(input->BeginFlush(), S_OK);
    EXPECT_EQ(source->Push(data.data(), 10, 0, 1), S_FALSE);
    EXPECT_EQ(input->EndOfStream(), S_OK);  // not passed on while flushing
    EXPECT_EQ(input->EndFlush(), S_OK);
    flags = PushFlags();
    flags.sync = false;
    ASSERT_EQ(source->Push(data.data() + 100, 100, 50000, 60000, flags), S_OK);
    for (RecordingSink* sink : {a, b}) {
        ASSERT_TRUE(sink->WaitForCount(2));
        const Received r = sink->Samples()[1];
        EXPECT_EQ(r.data, std::vector<uint8_t>(data.begin() + 100, data.end()));
        EXPECT_FALSE(r.sync);
        EXPECT_FALSE(r.preroll);
        EXPECT_FALSE(r.discontinuity);
        EXPECT_FALSE(r.has_media_time);
        EXPECT_EQ(sink->Segments(), 1);
        EXPECT_EQ(sink->EndOfStreams(), 1);
        EXPECT_EQ(sink->BeginFlushes(), 1);
        EXPECT_EQ(sink->EndFlushes(), 1);
    }
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(input->EndOfStream(), S_OK);
    EXPECT_EQ(a->EndOfStreams(), 1);
    EXPECT_EQ(a->Count(), 2u);
    EXPECT_EQ(b->Count(), 2u);
}

// The input's allocator goes to every peer read-only and the samples are the
// source's own; a peer that refuses it keeps its allocator and gets copies.
TEST_F(InfTeeGraph, SharesTheSourcesSamplesAndCopiesOnlyForAPeerWithBuffersOfItsOwn) {
    ASSERT_EQ(ConnectSource(), S_OK);
    RecordingSink *shared = AddSink(), *own = AddSink();
    own->InsistOnOwnAllocator();
    ASSERT_EQ(ConnectOutput(L"Output1", shared), S_OK);
    ASSERT_EQ(ConnectOutput(L"Output2", own), S_OK);

    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> source_allocator;
    ASSERT_EQ(Input()->QueryInterface(IID_IMemInputPin, input.PutVoid()), S_OK);
    ASSERT_EQ(input->GetAllocator(source_allocator.Put()), S_OK);
    EXPECT_EQ(shared->NotifiedAllocator(), source_allocator.Get());
    EXPECT_TRUE(shared->NotifiedReadOnly());
    EXPECT_EQ(own->NotifiedAllocator(), own->OwnAllocator());
    EXPECT_NE(own->NotifiedAllocator(), source_allocator.Get());
    EXPECT_FALSE(own->NotifiedReadOnly());

    // Twice, so that a second run shares the allocator again.
    std::vector<uint8_t> data(200);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(3 * i);
    for (size_t run = 1; run <= 2; ++run) {
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        ASSERT_EQ(source->Push(data.data(), data.size(), 0, 10000), S_OK);
        ASSERT_TRUE(shared->WaitForCount(run));
        ASSERT_TRUE(own->WaitForCount(run));
        const Received s = shared->Samples()[run - 1], o = own->Samples()[run - 1];
        EXPECT_EQ(s.object, source->LastSample());
        EXPECT_NE(o.object, source->LastSample());
        EXPECT_EQ(s.data, data);
        EXPECT_EQ(o.data, data);
        EXPECT_EQ(o.start, 0);
        EXPECT_EQ(o.stop, 10000);
        ASSERT_EQ(control->Stop(), S_OK);
    }
}

}  // namespace
}  // namespace fernwood::test
