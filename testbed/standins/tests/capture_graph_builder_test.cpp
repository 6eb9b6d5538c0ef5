// The Capture Graph Builder stand-in as the prefix serves it for
// CLSID_CaptureGraphBuilder2.
#include "dshow_util.h"
#include "testbed/tests_support/test_support.h"
#include "testbed/tests_support/stream_filters.h"

#include <gtest/gtest.h>

#include <dshow.h>

#include <cstdio>
#include <string>
#include <vector>

namespace fernwood::test {
namespace {

const DWORD kUyvy = mmioFOURCC('U', 'Y', 'V', 'Y');

ComPtr<IBaseFilter> PeerFilter(IPin* pin) {
    ComPtr<IPin> peer = PeerOf(pin);
    return peer ? FilterOf(peer.Get()) : nullptr;
}

TEST(CaptureGraphBuilderClass, IsTheStandInWithExactReferenceCounts) {
    ComApartment com;
    ASSERT_TRUE(ServedByStandins(CLSID_CaptureGraphBuilder2));

    ComPtr<IUnknown> unk;
    ASSERT_EQ(Create(CLSID_CaptureGraphBuilder2, IID_IUnknown, &unk), S_OK);
    EXPECT_EQ(RefCount(unk.Get()), 1u);
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(unk->QueryInterface(IID_ICaptureGraphBuilder2, builder.PutVoid()), S_OK);
    EXPECT_TRUE(SameObject(builder.Get(), unk.Get()));
    EXPECT_EQ(RefCount(unk.Get()), 2u);
    for (const IID* absent : {&IID_IBaseFilter, &IID_IGraphBuilder, &IID_IFilterGraph, &IID_IPersist,
                              &IID_IMediaFilter, &IID_IMediaControl}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(unk->QueryInterface(*absent, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(RefCount(unk.Get()), 2u);
    builder.Reset();
    EXPECT_EQ(unk->Release(), 0u);
    unk.Detach();

    ComPtr<IUnknown> inner;
    ComPtr<IUnknown> outer;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IUnknown, &outer), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, outer.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                               inner.PutVoid()),
              CLASS_E_NOAGGREGATION);
}

TEST(CaptureGraphBuilderClass, UsesTheGraphSetOnceOrMakesItsOwn) {
    ComApartment com;
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph), S_OK);
    const ULONG base = RefCount(graph.Get());
    {
        ComPtr<ICaptureGraphBuilder2> builder;
        ASSERT_EQ(Create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, &builder), S_OK);
        EXPECT_EQ(builder->SetFiltergraph(nullptr), E_POINTER);
        EXPECT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
        EXPECT_EQ(RefCount(graph.Get()), base + 1);
        EXPECT_EQ(builder->SetFiltergraph(graph.Get()), E_UNEXPECTED);
        ComPtr<IGraphBuilder> got;
        EXPECT_EQ(builder->GetFiltergraph(got.Put()), S_OK);
        EXPECT_TRUE(SameObject(got.Get(), graph.Get()));
        EXPECT_EQ(RefCount(graph.Get()), base + 2);
        EXPECT_EQ(builder->GetFiltergraph(nullptr), E_POINTER);
    }
    EXPECT_EQ(RefCount(graph.Get()), base);

    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(Create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, &builder), S_OK);
    ComPtr<IGraphBuilder> own, again;
    ASSERT_EQ(builder->GetFiltergraph(own.Put()), S_OK);
    ASSERT_TRUE(own);
    EXPECT_EQ(builder->GetFiltergraph(again.Put()), S_OK);
    EXPECT_TRUE(SameObject(own.Get(), again.Get()));
    EXPECT_EQ(builder->SetFiltergraph(graph.Get()), E_UNEXPECTED);
    // Filters of another graph are refused.
    ComPtr<IBaseFilter> renderer = AddNewFilter(graph.Get(), kClsidNullRenderer, L"Null Renderer");
    ASSERT_TRUE(renderer);
    EXPECT_EQ(builder->RenderStream(nullptr, nullptr, renderer.Get(), nullptr, renderer.Get()), VFW_E_NOT_IN_GRAPH);
    builder.Reset();
    again.Reset();
    EXPECT_EQ(own->Release(), 0u);
    own.Detach();
}

class CaptureGraphBuilderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.Result()));
        ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph_), S_OK);
        ASSERT_EQ(Create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, &builder_), S_OK);
        ASSERT_EQ(builder_->SetFiltergraph(graph_.Get()), S_OK);
        wchar_t dir[MAX_PATH], file[MAX_PATH];
        ASSERT_TRUE(GetTempPathW(MAX_PATH, dir));
        ASSERT_TRUE(GetTempFileNameW(dir, L"fwb", 0, file));
        DeleteFileW(file);
        path_ = std::wstring(file) + L".avi";
    }

    // Nothing the tests did may leave a reference to the test sources behind.
    void TearDown() override {
        ComPtr<IMediaControl> control;
        if (graph_ && SUCCEEDED(graph_->QueryInterface(IID_IMediaControl, control.PutVoid()))) control->Stop();
        control.Reset();
        builder_.Reset();
        graph_.Reset();
        for (PushSource* s : sources_) EXPECT_EQ(s->Release(), 0u);
        DeleteFileW(path_.c_str());
    }

    PushSource* AddSource(const testbed::MediaType& type, const std::vector<PinOffer>& pins,
                          const wchar_t* name = L"Source") {
        auto* source = new PushSource(type, type->lSampleSize, pins);
        sources_.push_back(source);
        EXPECT_EQ(graph_->AddFilter(source, name), S_OK);
        return source;
    }

    // Runs the graph, pushes frames from the source's first pin, stops.
    void Record(PushSource* source, int frames) {
        ComPtr<IMediaControl> control;
        ASSERT_EQ(graph_->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        ASSERT_TRUE(WaitFor([&] { return source->CurrentState() == State_Running; }));
        AM_MEDIA_TYPE mt{};
        ASSERT_EQ(source->Output()->ConnectionMediaType(&mt), S_OK);
        std::vector<uint8_t> frame(mt.lSampleSize, 0x80);
        testbed::FreeMediaType(&mt);
        for (int i = 0; i < frames; ++i)
            EXPECT_EQ(source->Push(frame.data(), frame.size(), i * 166833LL, (i + 1) * 166833LL, RunFrame(i)), S_OK);
        ASSERT_TRUE(SUCCEEDED(control->Stop()));
    }

    // The output file is a RIFF AVI of at least min_size bytes.
    void ExpectAviFile(size_t min_size) {
        const std::vector<uint8_t> file = ReadFileBytes(path_);
        EXPECT_GE(file.size(), min_size);
        ASSERT_GE(file.size(), 12u);
        EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
        EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 12), "AVI ");
    }

    ComPtr<IBaseFilter> OutputFile(ComPtr<IFileSinkFilter>* sink = nullptr) {
        ComPtr<IBaseFilter> mux;
        ComPtr<IFileSinkFilter> own_sink;
        EXPECT_EQ(builder_->SetOutputFileName(&MEDIASUBTYPE_Avi, path_.c_str(), mux.Put(),
                                              sink ? sink->Put() : own_sink.Put()),
                  S_OK);
        return mux;
    }

    ComApartment com_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<ICaptureGraphBuilder2> builder_;
    std::vector<PushSource*> sources_;
    std::wstring path_;
    const testbed::MediaType rgb32_ = VideoInfoType(MEDIASUBTYPE_RGB32, 64, 36, 32, BI_RGB, 166833);
    const testbed::MediaType uyvy_ = VideoInfoType(MEDIASUBTYPE_UYVY, 64, 36, 16, kUyvy, 166833);
};

TEST_F(CaptureGraphBuilderTest, SetOutputFileNameAddsAnAviMuxWritingToTheFile) {
    ComPtr<IFileSinkFilter> sink;
    ComPtr<IBaseFilter> mux = OutputFile(&sink);
    ASSERT_TRUE(mux && sink);
    EXPECT_TRUE(HasClassId(mux.Get(), CLSID_AviDest));
    EXPECT_TRUE(IsInGraph(mux.Get(), graph_.Get()));
    ComPtr<IBaseFilter> writer = FilterWithClsid(graph_.Get(), CLSID_FileWriter);
    ASSERT_TRUE(writer);
    EXPECT_TRUE(SameObject(sink.Get(), writer.Get()));
    ComPtr<IPin> mux_out = PinAt(mux.Get(), PINDIR_OUTPUT, 0);
    ASSERT_TRUE(mux_out);
    EXPECT_TRUE(SameObject(PeerFilter(mux_out.Get()).Get(), writer.Get()));
    EXPECT_EQ(FiltersIn(graph_.Get()).size(), 2u);
    // The builder leaves the multiplexer's interleaving as it comes.
    ComPtr<IConfigInterleaving> interleaving;
    ASSERT_EQ(mux->QueryInterface(IID_IConfigInterleaving, interleaving.PutVoid()), S_OK);
    InterleavingMode mode = INTERLEAVE_FULL;
    EXPECT_EQ(interleaving->get_Mode(&mode), S_OK);
    EXPECT_EQ(mode, INTERLEAVE_CAPTURE);
    interleaving.Reset();

    // Each call adds a pair of its own; the sink is optional.
    ComPtr<IBaseFilter> second;
    EXPECT_EQ(builder_->SetOutputFileName(&MEDIASUBTYPE_Avi, path_.c_str(), second.Put(), nullptr), S_OK);
    EXPECT_FALSE(SameObject(second.Get(), mux.Get()));
    EXPECT_EQ(FiltersIn(graph_.Get()).size(), 4u);

    ComPtr<IBaseFilter> none;
    EXPECT_EQ(builder_->SetOutputFileName(nullptr, path_.c_str(), none.Put(), nullptr), E_POINTER);
    EXPECT_EQ(builder_->SetOutputFileName(&MEDIASUBTYPE_Avi, nullptr, none.Put(), nullptr), E_POINTER);
    EXPECT_EQ(builder_->SetOutputFileName(&MEDIASUBTYPE_Avi, path_.c_str(), nullptr, nullptr), E_POINTER);
    EXPECT_EQ(builder_->SetOutputFileName(&MEDIASUBTYPE_Asf, path_.c_str(), none.Put(), nullptr), E_NOTIMPL);
    const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_TRUE(FAILED(builder_->SetOutputFileName(&unknown, path_.c_str(), none.Put(), nullptr)));
    EXPECT_FALSE(none);
    EXPECT_EQ(FiltersIn(graph_.Get()).size(), 4u);
    // Wine's AVI Mux cannot run without an input stream.
    ComPtr<IBaseFilter> second_writer = PeerFilter(PinAt(second.Get(), PINDIR_OUTPUT, 0).Get());
    ASSERT_TRUE(second_writer);
    EXPECT_EQ(graph_->RemoveFilter(second_writer.Get()), S_OK);
    EXPECT_EQ(graph_->RemoveFilter(second.Get()), S_OK);

    // The first pair writes the named file.
    PushSource* source = AddSource(rgb32_, {{L"Out", nullptr}});
    ASSERT_EQ(builder_->RenderStream(nullptr, nullptr, source->AsFilter(), nullptr, mux.Get()), S_OK);
    Record(source, 2);
    ExpectAviFile(2 * rgb32_->lSampleSize);
}

TEST_F(CaptureGraphBuilderTest, RendersAnOutputPinThroughAnIntermediateIntoTheFile) {
    PushSource* source = AddSource(uyvy_, {{L"Out", nullptr}});
    ComPtr<IBaseFilter> decoder = AddNewFilter(graph_.Get(), CLSID_AVIDec, L"AVI Decompressor");
    ASSERT_TRUE(decoder);
    ComPtr<IBaseFilter> mux = OutputFile();
    ASSERT_EQ(builder_->RenderStream(nullptr, nullptr, source->Output(), decoder.Get(), mux.Get()), S_OK);
    EXPECT_TRUE(SameObject(PeerFilter(source->Output()).Get(), decoder.Get()));
    ComPtr<IPin> decoded = PinAt(decoder.Get(), PINDIR_OUTPUT, 0);
    EXPECT_TRUE(SameObject(PeerFilter(decoded.Get()).Get(), mux.Get()));
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(decoded->ConnectionMediaType(&mt), S_OK);
    EXPECT_TRUE(IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB32) || IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB24));
    testbed::FreeMediaType(&mt);

    const int frames = 5;
    Record(source, frames);
    ExpectAviFile(static_cast<size_t>(frames) * 64 * 36 * 3);
}

TEST_F(CaptureGraphBuilderTest, PreviewOfACaptureOnlySourceGoesThroughASmartTee) {
    PushSource* source = AddSource(rgb32_, {{L"Capture", &PIN_CATEGORY_CAPTURE}});
    ComPtr<IBaseFilter> renderer = AddNewFilter(graph_.Get(), kClsidNullRenderer, L"Preview renderer");
    ComPtr<IBaseFilter> spare = AddNewFilter(graph_.Get(), kClsidNullRenderer, L"Spare renderer");
    ASSERT_TRUE(renderer && spare);
    EXPECT_EQ(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, source->AsFilter(), nullptr, renderer.Get()),
              VFW_S_NOPREVIEWPIN);
    ComPtr<IBaseFilter> tee = FilterWithClsid(graph_.Get(), CLSID_SmartTee);
    ASSERT_TRUE(tee);
    EXPECT_TRUE(SameObject(PeerFilter(source->Output()).Get(), tee.Get()));
    EXPECT_TRUE(SameObject(PeerFilter(Named(tee.Get(), L"Preview").Get()).Get(), renderer.Get()));

    // The capture stream then comes from the same tee.
    ComPtr<IBaseFilter> mux = OutputFile();
    EXPECT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, source->AsFilter(), nullptr, mux.Get()), S_OK);
    EXPECT_TRUE(SameObject(PeerFilter(Named(tee.Get(), L"Capture").Get()).Get(), mux.Get()));
    int tees = 0;
    for (auto& f : FiltersIn(graph_.Get())) tees += HasClassId(f.Get(), CLSID_SmartTee);
    EXPECT_EQ(tees, 1);
    // Both streams are taken now.
    EXPECT_EQ(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, source->AsFilter(), nullptr, spare.Get()), E_INVALIDARG);
    EXPECT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, source->AsFilter(), nullptr, spare.Get()), E_INVALIDARG);
    EXPECT_FALSE(IsConnected(PinAt(spare.Get(), PINDIR_INPUT, 0).Get()));
}

// Wine's own Smart Tee carries the stream: the capture output into the file,
// the preview output to a renderer, both from one capture pin.
TEST_F(CaptureGraphBuilderTest, ACaptureOnlySourceRecordsAndPreviewsThroughTheSmartTee) {
    PushSource* source = AddSource(rgb32_, {{L"Capture", &PIN_CATEGORY_CAPTURE}});
    auto* preview = new RecordingSink;
    ComPtr<IBaseFilter> preview_filter = ComPtr<IBaseFilter>::Adopt(preview);
    ASSERT_EQ(graph_->AddFilter(preview_filter.Get(), L"Preview"), S_OK);
    EXPECT_EQ(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, source->AsFilter(), nullptr,
                                     preview_filter.Get()),
              VFW_S_NOPREVIEWPIN);
    ComPtr<IBaseFilter> mux = OutputFile();
    ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source->AsFilter(), nullptr, mux.Get()),
              S_OK);
    const int frames = 4;
    Record(source, frames);
    ExpectAviFile(frames * rgb32_->lSampleSize);
    EXPECT_TRUE(preview->WaitForCount(1));
    const std::vector<Received> shown = preview->Samples();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0].data.size(), rgb32_->lSampleSize);
    ASSERT_TRUE(SUCCEEDED(graph_->RemoveFilter(preview_filter.Get())));
    EXPECT_EQ(preview_filter.Detach()->Release(), 0u);
}

TEST_F(CaptureGraphBuilderTest, SourcesWithAPreviewPinAreRenderedWithoutATee) {
    PushSource* source =
        AddSource(rgb32_, {{L"Capture", &PIN_CATEGORY_CAPTURE}, {L"Preview", &PIN_CATEGORY_PREVIEW}});
    ComPtr<IBaseFilter> preview = AddNewFilter(graph_.Get(), kClsidNullRenderer, L"Preview renderer");
    ComPtr<IBaseFilter> capture = AddNewFilter(graph_.Get(), kClsidNullRenderer, L"Capture renderer");
    ASSERT_TRUE(preview && capture);
    EXPECT_EQ(builder_->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, source->AsFilter(), nullptr, preview.Get()), S_OK);
    EXPECT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, source->AsFilter(), nullptr, capture.Get()), S_OK);
    EXPECT_TRUE(SameObject(PeerFilter(source->Output(1)).Get(), preview.Get()));
    EXPECT_TRUE(SameObject(PeerFilter(source->Output()).Get(), capture.Get()));
    EXPECT_FALSE(FilterWithClsid(graph_.Get(), CLSID_SmartTee));
    EXPECT_EQ(builder_->RenderStream(&PIN_CATEGORY_CC, nullptr, source->AsFilter(), nullptr, preview.Get()), E_INVALIDARG);
}

TEST_F(CaptureGraphBuilderTest, FindInterfaceReachesTheCaptureFilterUpstreamOfTheMux) {
    PushSource* source = AddSource(uyvy_, {{L"Capture", &PIN_CATEGORY_CAPTURE}});
    source->SetDroppedCount(3);
    ComPtr<IBaseFilter> decoder = AddNewFilter(graph_.Get(), CLSID_AVIDec, L"AVI Decompressor");
    ASSERT_TRUE(decoder);
    ComPtr<IBaseFilter> mux = OutputFile();
    ASSERT_EQ(builder_->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, source->AsFilter(), decoder.Get(), mux.Get()), S_OK);

    for (const GUID* category : {&LOOK_UPSTREAM_ONLY, static_cast<const GUID*>(nullptr)}) {
        ComPtr<IAMDroppedFrames> dropped;
        ASSERT_EQ(builder_->FindInterface(category, nullptr, mux.Get(), IID_IAMDroppedFrames, dropped.PutVoid()),
                  S_OK);
        EXPECT_TRUE(SameObject(dropped.Get(), static_cast<IBaseFilter*>(source)));
        long count = 0;
        EXPECT_EQ(dropped->GetNumDropped(&count), S_OK);
        EXPECT_EQ(count, 3);
    }
    ComPtr<IAMDroppedFrames> none;
    EXPECT_EQ(builder_->FindInterface(&LOOK_DOWNSTREAM_ONLY, nullptr, mux.Get(), IID_IAMDroppedFrames,
                                      none.PutVoid()),
              E_FAIL);
    EXPECT_FALSE(none);
    ComPtr<IFileSinkFilter> sink;
    EXPECT_EQ(builder_->FindInterface(&LOOK_DOWNSTREAM_ONLY, nullptr, source->AsFilter(), IID_IFileSinkFilter, sink.PutVoid()),
              S_OK);
    EXPECT_TRUE(SameObject(sink.Get(), FilterWithClsid(graph_.Get(), CLSID_FileWriter).Get()));
    ComPtr<IAMDroppedFrames> own;
    EXPECT_EQ(builder_->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, source->AsFilter(), IID_IAMDroppedFrames, own.PutVoid()),
              S_OK);
    EXPECT_EQ(builder_->FindInterface(&PIN_CATEGORY_PREVIEW, nullptr, decoder.Get(), IID_IAMDroppedFrames,
                                      none.PutVoid()),
              E_NOINTERFACE);
    EXPECT_EQ(builder_->FindInterface(nullptr, nullptr, nullptr, IID_IAMDroppedFrames, none.PutVoid()), E_POINTER);
}

TEST_F(CaptureGraphBuilderTest, RenderStreamFromAFilterTakesItsFreeOutputsInTurn) {
    PushSource* source = AddSource(rgb32_, {{L"First", nullptr}, {L"Second", nullptr}});
    ComPtr<IBaseFilter> sinks[3];
    for (auto& s : sinks) {
        s = AddNewFilter(graph_.Get(), kClsidNullRenderer, nullptr);
        ASSERT_TRUE(s);
    }
    EXPECT_EQ(builder_->RenderStream(nullptr, nullptr, source->AsFilter(), nullptr, sinks[0].Get()), S_OK);
    EXPECT_EQ(builder_->RenderStream(nullptr, nullptr, source->AsFilter(), nullptr, sinks[1].Get()), S_OK);
    EXPECT_TRUE(SameObject(PeerFilter(source->Output()).Get(), sinks[0].Get()));
    EXPECT_TRUE(SameObject(PeerFilter(source->Output(1)).Get(), sinks[1].Get()));
    EXPECT_TRUE(FAILED(builder_->RenderStream(nullptr, nullptr, source->AsFilter(), nullptr, sinks[2].Get())));
    EXPECT_FALSE(IsConnected(PinAt(sinks[2].Get(), PINDIR_INPUT, 0).Get()));

    ComPtr<IBaseFilter> outside;
    ASSERT_EQ(Create(kClsidNullRenderer, IID_IBaseFilter, &outside), S_OK);
    EXPECT_EQ(builder_->RenderStream(nullptr, nullptr, source->AsFilter(), nullptr, outside.Get()), VFW_E_NOT_IN_GRAPH);
    EXPECT_EQ(builder_->RenderStream(nullptr, nullptr, nullptr, nullptr, sinks[2].Get()), E_POINTER);
}

TEST_F(CaptureGraphBuilderTest, RenderStreamWithoutASinkAddsTheDefaultVideoRenderer) {
    PushSource* source = AddSource(rgb32_, {{L"Out", nullptr}});
    EXPECT_EQ(builder_->RenderStream(nullptr, &MEDIATYPE_Video, source->AsFilter(), nullptr, nullptr), S_OK);
    EXPECT_TRUE(IsConnected(source->Output()));
    EXPECT_TRUE(FilterWithClsid(graph_.Get(), CLSID_VideoRenderer));
    // No pin of the type: S_OK and nothing connected, as Windows' builder answers.
    EXPECT_EQ(builder_->RenderStream(nullptr, &MEDIATYPE_Audio, source->AsFilter(), nullptr, nullptr), S_OK);
    EXPECT_FALSE(FilterWithClsid(graph_.Get(), CLSID_DSoundRender));
}

TEST_F(CaptureGraphBuilderTest, FindPinSelectsByDirectionCategoryTypeConnectionAndIndex) {
    PushSource* source = AddSource(
        rgb32_, {{L"Capture", &PIN_CATEGORY_CAPTURE}, {L"Preview", &PIN_CATEGORY_PREVIEW}, {L"Plain", nullptr}});
    auto find = [&](IUnknown* from, PIN_DIRECTION dir, const GUID* cat, const GUID* type, BOOL free, int n,
                    HRESULT* hr) {
        IPin* pin = nullptr;
        *hr = builder_->FindPin(from, dir, cat, type, free, n, &pin);
        ComPtr<IPin> owned = ComPtr<IPin>::Adopt(pin);
        return owned;
    };
    HRESULT hr;
    EXPECT_EQ(find(source->AsFilter(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0, &hr).Get(), source->Output());
    EXPECT_EQ(hr, S_OK);
    EXPECT_FALSE(find(source->AsFilter(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 1, &hr));
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(find(source->AsFilter(), PINDIR_OUTPUT, nullptr, nullptr, FALSE, 2, &hr).Get(), source->Output(2));
    EXPECT_FALSE(find(source->AsFilter(), PINDIR_OUTPUT, nullptr, nullptr, FALSE, 3, &hr));
    EXPECT_FALSE(find(source->AsFilter(), PINDIR_INPUT, nullptr, nullptr, FALSE, 0, &hr));
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_FALSE(find(source->AsFilter(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Audio, FALSE, 0, &hr));
    EXPECT_EQ(find(source->AsFilter(), PINDIR_OUTPUT, nullptr, &MEDIATYPE_Video, FALSE, 0, &hr).Get(), source->Output());

    ComPtr<IBaseFilter> renderer = AddNewFilter(graph_.Get(), kClsidNullRenderer, L"Renderer");
    ASSERT_EQ(graph_->Connect(source->Output(), PinAt(renderer.Get(), PINDIR_INPUT, 0).Get()), S_OK);
    EXPECT_EQ(find(source->AsFilter(), PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0, &hr).Get(), source->Output(1));

    EXPECT_EQ(find(source->Output(1), PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr, FALSE, 0, &hr).Get(),
              source->Output(1));
    EXPECT_FALSE(find(source->Output(1), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, FALSE, 0, &hr));
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_FALSE(find(graph_.Get(), PINDIR_OUTPUT, nullptr, nullptr, FALSE, 0, &hr));
    EXPECT_EQ(hr, E_NOINTERFACE);
    EXPECT_EQ(builder_->FindPin(nullptr, PINDIR_OUTPUT, nullptr, nullptr, FALSE, 0, nullptr), E_POINTER);
}

}  // namespace
}  // namespace fernwood::test
