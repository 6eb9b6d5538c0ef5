// The Infinite Pin Tee stand-in as the prefix serves it for CLSID_InfTee.
#include <dshow.h>
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "dshow_util.h"
#include "stream_filters.h"
#include "test_graph.h"

namespace fernwood::test {
namespace {

void ExpectInterfaces(IUnknown* object, std::initializer_list<const IID*> present,
                      std::initializer_list<const IID*> absent, const char* what) {
    const ULONG base = RefCount(object);
    for (const IID* iid : present) {
        ComPtr<IUnknown> got;
        EXPECT_EQ(object->QueryInterface(*iid, got.PutVoid()), S_OK) << what;
        if (got) {
            EXPECT_EQ(RefCount(object), base + 1) << what;
        }
    }
    for (const IID* iid : absent) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(object->QueryInterface(*iid, &out), E_NOINTERFACE) << what;
        EXPECT_EQ(out, nullptr) << what;
    }
    EXPECT_EQ(RefCount(object), base) << what;
}

std::wstring IdOf(IPin* pin) {
    LPWSTR id = nullptr;
    if (FAILED(pin->QueryId(&id))) return L"";
    std::wstring text = id;
    CoTaskMemFree(id);
    return text;
}

// The pins' ids in enumeration order.
std::vector<std::wstring> PinIds(IBaseFilter* filter) {
    std::vector<std::wstring> ids;
    for (auto& pin : PinsOf(filter)) ids.push_back(IdOf(pin.Get()));
    return ids;
}

ComPtr<IPin> Named(IBaseFilter* filter, const wchar_t* id) {
    ComPtr<IPin> pin;
    filter->FindPin(id, pin.Put());
    return pin;
}

// A graph with a PCM push source and the tee, the source connected.
struct TeeGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    PushSource* source = nullptr;
    ComPtr<IBaseFilter> source_filter, tee;

    TeeGraph() {
        Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph);
        graph->QueryInterface(IID_IMediaControl, control.PutVoid());
        source = new PushSource(PcmType(48000, 2), 256);
        source_filter = ComPtr<IBaseFilter>::Adopt(source);
        graph->AddFilter(source_filter.Get(), L"source");
        tee = AddNewFilter(graph.Get(), CLSID_InfTee, L"tee");
    }
    HRESULT ConnectSource() {
        return graph->ConnectDirect(source->Output(), Named(tee.Get(), L"Input").Get(), nullptr);
    }
    ComPtr<IBaseFilter> AddSink(RecordingSink** sink) {
        *sink = new RecordingSink;
        auto filter = ComPtr<IBaseFilter>::Adopt(*sink);
        graph->AddFilter(filter.Get(), nullptr);
        return filter;
    }
    HRESULT ConnectOutput(const wchar_t* id, RecordingSink* sink) {
        return graph->ConnectDirect(Named(tee.Get(), id).Get(), sink->Input(), nullptr);
    }
    void DisconnectBoth(IPin* pin) {
        ComPtr<IPin> peer = PeerOf(pin);
        graph->Disconnect(pin);
        if (peer) graph->Disconnect(peer.Get());
    }
    // Empties the graph and checks that it goes with its last reference.
    void TearDown() {
        if (control) control->Stop();
        for (auto& f : FiltersIn(graph.Get())) graph->RemoveFilter(f.Get());
        control.Reset();
        EXPECT_EQ(graph.Detach()->Release(), 0u);
    }
};

TEST(InfTee, IsTheStandInWithItsInterfacesAndExactReferenceCounts) {
    ComApartment com;
    wchar_t server[MAX_PATH] = {};
    DWORD bytes = sizeof server - sizeof(wchar_t);
    ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, L"CLSID\\{F8388A40-D5BB-11d0-BE5A-0080C706568E}\\InprocServer32", nullptr,
                           RRF_RT_REG_SZ, nullptr, server, &bytes),
              ERROR_SUCCESS);
    EXPECT_NE(wcsstr(server, L"fernwood_standins.dll"), nullptr);

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

TEST(InfTee, OutputsCarryExactlyTheInputTypeAndWaitForTheInput) {
    ComApartment com;
    TeeGraph g;
    ASSERT_TRUE(g.tee);
    RecordingSink* sink = nullptr;
    ComPtr<IBaseFilter> sink_filter = g.AddSink(&sink);
    ComPtr<IPin> input = Named(g.tee.Get(), L"Input"), output = Named(g.tee.Get(), L"Output1");

    ComPtr<IEnumMediaTypes> types;
    EXPECT_EQ(output->EnumMediaTypes(types.Put()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(g.ConnectOutput(L"Output1", sink), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(input->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_EQ(types->Next(1, &mt, nullptr), S_FALSE);

    ASSERT_EQ(g.ConnectSource(), S_OK);
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
    EXPECT_EQ(g.graph->ConnectDirect(output.Get(), sink->Input(), &other.Get()), VFW_E_TYPE_NOT_ACCEPTED);

    ASSERT_EQ(g.ConnectOutput(L"Output1", sink), S_OK);
    AM_MEDIA_TYPE connected = {};
    ASSERT_EQ(output->ConnectionMediaType(&connected), S_OK);
    EXPECT_TRUE(testbed::SameMediaType(connected, pcm.Get()));
    testbed::FreeMediaType(&connected);
    ASSERT_EQ(sink->Input()->ConnectionMediaType(&connected), S_OK);
    EXPECT_TRUE(testbed::SameMediaType(connected, pcm.Get()));
    testbed::FreeMediaType(&connected);

    // With an output connected, the input takes its type again and no other.
    g.DisconnectBoth(input.Get());
    EXPECT_EQ(input->QueryAccept(&other.Get()), S_FALSE);
    EXPECT_EQ(input->QueryAccept(&pcm.Get()), S_OK);
    auto* second = new PushSource(other, 256);
    auto second_filter = ComPtr<IBaseFilter>::Adopt(second);
    g.graph->AddFilter(second_filter.Get(), L"second");
    EXPECT_NE(g.graph->ConnectDirect(second->Output(), input.Get(), nullptr), S_OK);
    EXPECT_EQ(g.ConnectSource(), S_OK);

    types.Reset();
    input.Reset();
    output.Reset();
    g.TearDown();
    EXPECT_EQ(second_filter.Detach()->Release(), 0u);
    EXPECT_EQ(sink_filter.Detach()->Release(), 0u);
    EXPECT_EQ(g.source_filter.Detach()->Release(), 0u);
    EXPECT_EQ(g.tee.Detach()->Release(), 0u);
}

TEST(InfTee, KeepsOneFreeOutputAsOutputsConnectAndDisconnect) {
    ComApartment com;
    TeeGraph g;
    ASSERT_TRUE(g.tee);
    ASSERT_EQ(g.ConnectSource(), S_OK);
    RecordingSink *a = nullptr, *b = nullptr;
    ComPtr<IBaseFilter> fa = g.AddSink(&a), fb = g.AddSink(&b);
    using Ids = std::vector<std::wstring>;
    EXPECT_EQ(PinIds(g.tee.Get()), (Ids{L"Input", L"Output1"}));

    ASSERT_EQ(g.ConnectOutput(L"Output1", a), S_OK);
    EXPECT_EQ(PinIds(g.tee.Get()), (Ids{L"Input", L"Output1", L"Output2"}));
    ASSERT_EQ(g.ConnectOutput(L"Output2", b), S_OK);
    EXPECT_EQ(PinIds(g.tee.Get()), (Ids{L"Input", L"Output1", L"Output2", L"Output3"}));

    // The disconnected output goes; a reference held to it stays usable.
    ComPtr<IPin> first = Named(g.tee.Get(), L"Output1");
    const ULONG before = RefCount(g.tee.Get());
    g.DisconnectBoth(first.Get());
    EXPECT_EQ(PinIds(g.tee.Get()), (Ids{L"Input", L"Output2", L"Output3"}));
    EXPECT_EQ(RefCount(g.tee.Get()), before - 1);  // only the sink's reference to its peer went
    PIN_INFO info = {};
    ASSERT_EQ(first->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Output1");
    info.pFilter->Release();
    EXPECT_EQ(first->Disconnect(), S_FALSE);
    first.Reset();
    ComPtr<IPin> gone;
    EXPECT_EQ(g.tee->FindPin(L"Output1", gone.Put()), VFW_E_NOT_FOUND);
    // The first output now is the one that feeds the second sink.
    ComPtr<IPin> now_first = PinAt(g.tee.Get(), PINDIR_OUTPUT, 0);
    ASSERT_TRUE(now_first);
    EXPECT_EQ(IdOf(now_first.Get()), L"Output2");
    EXPECT_TRUE(SameObject(PeerOf(now_first.Get()).Get(), b->Input()));
    now_first.Reset();
    // Disconnecting the one free output leaves it in place.
    EXPECT_EQ(g.graph->Disconnect(Named(g.tee.Get(), L"Output3").Get()), S_FALSE);
    EXPECT_EQ(PinIds(g.tee.Get()), (Ids{L"Input", L"Output2", L"Output3"}));

    // The free output is the one to connect next; numbering goes on.
    ASSERT_EQ(g.ConnectOutput(L"Output3", a), S_OK);
    EXPECT_EQ(PinIds(g.tee.Get()), (Ids{L"Input", L"Output2", L"Output3", L"Output4"}));
    g.DisconnectBoth(Named(g.tee.Get(), L"Output2").Get());
    g.DisconnectBoth(Named(g.tee.Get(), L"Output3").Get());
    EXPECT_EQ(PinIds(g.tee.Get()), (Ids{L"Input", L"Output4"}));
    EXPECT_FALSE(IsConnected(Named(g.tee.Get(), L"Output4").Get()));

    // Disconnecting needs a stopped graph.
    ASSERT_EQ(g.ConnectOutput(L"Output4", a), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    EXPECT_EQ(Named(g.tee.Get(), L"Output4")->Disconnect(), VFW_E_NOT_STOPPED);
    EXPECT_EQ(PinIds(g.tee.Get()), (Ids{L"Input", L"Output4", L"Output5"}));

    g.TearDown();
    EXPECT_EQ(fa.Detach()->Release(), 0u);
    EXPECT_EQ(fb.Detach()->Release(), 0u);
    EXPECT_EQ(g.source_filter.Detach()->Release(), 0u);
    EXPECT_EQ(g.tee.Detach()->Release(), 0u);
}

TEST(InfTee, PassesEachSampleAndStreamEventToEveryConnectedOutput) {
    ComApartment com;
    TeeGraph g;
    ASSERT_TRUE(g.tee);
    ASSERT_EQ(g.ConnectSource(), S_OK);
    RecordingSink *a = nullptr, *b = nullptr;
    ComPtr<IBaseFilter> fa = g.AddSink(&a), fb = g.AddSink(&b);
    ASSERT_EQ(g.ConnectOutput(L"Output1", a), S_OK);
    ASSERT_EQ(g.ConnectOutput(L"Output2", b), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));

    std::vector<uint8_t> data(200);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    PushFlags flags;
    flags.preroll = flags.discontinuity = true;
    flags.with_media_time = true;
    flags.media_start = 10000;
    flags.media_stop = 20000;
    ASSERT_EQ(g.source->Push(data.data(), data.size(), 30000, 40000, flags), S_OK);
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
    ComPtr<IPin> input = Named(g.tee.Get(), L"Input");
    EXPECT_EQ(input->NewSegment(0, 50000, 1.0), S_OK);
    EXPECT_EQ(input->EndOfStream(), S_OK);
    EXPECT_EQ(input->BeginFlush(), S_OK);
    EXPECT_EQ(g.source->Push(data.data(), 10, 0, 1), S_FALSE);
    EXPECT_EQ(input->EndOfStream(), S_OK);  // not passed on while flushing
    EXPECT_EQ(input->EndFlush(), S_OK);
    flags = PushFlags();
    flags.sync = false;
    ASSERT_EQ(g.source->Push(data.data() + 100, 100, 50000, 60000, flags), S_OK);
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
    ASSERT_EQ(g.control->Stop(), S_OK);
    EXPECT_EQ(input->EndOfStream(), S_OK);
    EXPECT_EQ(a->EndOfStreams(), 1);
    EXPECT_EQ(a->Count(), 2u);
    EXPECT_EQ(b->Count(), 2u);

    input.Reset();
    g.TearDown();
    EXPECT_EQ(fa.Detach()->Release(), 0u);
    EXPECT_EQ(fb.Detach()->Release(), 0u);
    EXPECT_EQ(g.source_filter.Detach()->Release(), 0u);
    EXPECT_EQ(g.tee.Detach()->Release(), 0u);
}

// The input's allocator goes to every peer read-only and the samples are the
// source's own; a peer that refuses it keeps its allocator and gets copies.
TEST(InfTee, SharesTheSourcesSamplesAndCopiesOnlyForAPeerWithBuffersOfItsOwn) {
    ComApartment com;
    TeeGraph g;
    ASSERT_TRUE(g.tee);
    ASSERT_EQ(g.ConnectSource(), S_OK);
    RecordingSink *shared = nullptr, *own = nullptr;
    ComPtr<IBaseFilter> fs = g.AddSink(&shared), fo = g.AddSink(&own);
    own->InsistOnOwnAllocator();
    ASSERT_EQ(g.ConnectOutput(L"Output1", shared), S_OK);
    ASSERT_EQ(g.ConnectOutput(L"Output2", own), S_OK);

    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> source_allocator;
    ASSERT_EQ(Named(g.tee.Get(), L"Input")->QueryInterface(IID_IMemInputPin, input.PutVoid()), S_OK);
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
        ASSERT_TRUE(SUCCEEDED(g.control->Run()));
        ASSERT_EQ(g.source->Push(data.data(), data.size(), 0, 10000), S_OK);
        ASSERT_TRUE(shared->WaitForCount(run));
        ASSERT_TRUE(own->WaitForCount(run));
        const Received s = shared->Samples()[run - 1], o = own->Samples()[run - 1];
        EXPECT_EQ(s.object, g.source->LastSample());
        EXPECT_NE(o.object, g.source->LastSample());
        EXPECT_EQ(s.data, data);
        EXPECT_EQ(o.data, data);
        EXPECT_EQ(o.start, 0);
        EXPECT_EQ(o.stop, 10000);
        ASSERT_EQ(g.control->Stop(), S_OK);
    }

    input.Reset();
    source_allocator.Reset();
    g.TearDown();
    EXPECT_EQ(fs.Detach()->Release(), 0u);
    EXPECT_EQ(fo.Detach()->Release(), 0u);
    EXPECT_EQ(g.source_filter.Detach()->Release(), 0u);
    EXPECT_EQ(g.tee.Detach()->Release(), 0u);
}

}  // namespace
}  // namespace fernwood::test
