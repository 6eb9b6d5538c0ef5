// The AVI Mux stand-in as the prefix serves it for CLSID_AviDest: its
// interfaces, pins and connections, and recordings read back byte for byte.
#include <dshow.h>
#include <gtest/gtest.h>
#include <mmreg.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <atomic>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "avi_layout.h"
#include "avi_parse.h"
#include "dshow_util.h"
#include "testbed/tests_support/test_support.h"
#include "testbed/tests_support/stream_filters.h"
#include "testbed/common/filter.h"
#include "testbed/common/pin.h"

namespace fernwood::test {
namespace {

using avi::ParsedAvi;
using avi::ParsedChunk;

constexpr uint32_t Fcc(char a, char b, char c, char d) { return avi::FourCC(a, b, c, d); }

// A VIDEOINFOHEADER type of w x h with the given compression.
testbed::MediaType VideoType(DWORD compression, WORD bits, int w, int h, REFERENCE_TIME frame, bool temporal) {
    GUID subtype = MEDIASUBTYPE_UYVY;
    subtype.Data1 = compression;
    testbed::MediaType mt = VideoInfoType(subtype, w, h, bits, compression, frame);
    mt->bFixedSizeSamples = !temporal;
    mt->bTemporalCompression = temporal;
    return mt;
}

// An audio type that is not PCM: 1 KiB blocks, ten a second.
testbed::MediaType BlockAudioType() {
    testbed::MediaType mt = PcmType(44100, 2);
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt->pbFormat);
    wfx->wFormatTag = WAVE_FORMAT_ADPCM;
    wfx->nBlockAlign = 1024;
    wfx->nAvgBytesPerSec = 10240;
    wfx->wBitsPerSample = 4;
    mt->subtype.Data1 = WAVE_FORMAT_ADPCM;
    return mt;
}

std::vector<uint8_t> Pattern(size_t size, int seed) {
    std::vector<uint8_t> v(size);
    for (size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(seed * 31 + i * 7);
    return v;
}

std::wstring TempFile() {
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, dir) || !GetTempFileNameW(dir, L"mux", 0, file)) return L"";
    return file;
}

std::vector<uint8_t> DataOf(const std::vector<uint8_t>& file, const ParsedChunk& c) {
    return std::vector<uint8_t>(file.begin() + static_cast<long>(c.offset + 8),
                                file.begin() + static_cast<long>(c.offset + 8 + c.size));
}

std::vector<ParsedChunk> ChunksOf(const ParsedAvi& avi, int stream) {
    std::vector<ParsedChunk> out;
    for (const auto& c : avi.chunks)
        if (avi::StreamOfChunk(c.id) == stream) out.push_back(c);
    return out;
}

// Every chunk of a stream is named, in order, by its standard index.
void ExpectIndexMatchesChunks(const ParsedAvi& avi, int stream) {
    const std::vector<ParsedChunk> chunks = ChunksOf(avi, stream);
    const auto& index = avi.streams[static_cast<size_t>(stream)].index;
    ASSERT_EQ(index.size(), chunks.size()) << stream;
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(index[i].data, chunks[i].offset + 8) << stream << " " << i;
        EXPECT_EQ(index[i].size, chunks[i].size) << stream << " " << i;
    }
}

// A graph with the multiplexer and push sources of the given types.
struct MuxGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<IBaseFilter> mux;
    std::vector<PushSource*> sources;
    std::vector<ComPtr<IBaseFilter>> source_filters;

    MuxGraph() {
        Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph);
        graph->QueryInterface(IID_IMediaControl, control.PutVoid());
        graph->QueryInterface(IID_IMediaEvent, events.PutVoid());
        mux = AddNewFilter(graph.Get(), CLSID_AviDest, L"Mux");
    }
    PushSource* AddSource(const testbed::MediaType& type, long buffer) {
        auto* source = new PushSource(type, buffer);
        source_filters.push_back(ComPtr<IBaseFilter>::Adopt(source));
        graph->AddFilter(source_filters.back().Get(), nullptr);
        sources.push_back(source);
        return source;
    }
    HRESULT ConnectInput(PushSource* source, const wchar_t* input) {
        return graph->ConnectDirect(source->Output(), Named(mux.Get(), input).Get(), nullptr);
    }
    // A File Writer stand-in writing to path, connected to the mux output.
    ComPtr<IBaseFilter> AddWriter(const std::wstring& path) {
        ComPtr<IBaseFilter> writer = AddNewFilter(graph.Get(), CLSID_FileWriter, L"File Writer");
        ComPtr<IFileSinkFilter> sink;
        if (!writer || FAILED(writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid())) ||
            FAILED(sink->SetFileName(path.c_str(), nullptr)))
            return nullptr;
        return writer;
    }
    HRESULT ConnectOutput(IBaseFilter* writer) {
        return graph->ConnectDirect(Named(mux.Get(), L"AVI Out").Get(), PinAt(writer, PINDIR_INPUT, 0).Get(),
                                    nullptr);
    }
    // Empties the graph; the graph, the sources and the mux go with their last references.
    void TearDown() {
        control->Stop();
        for (auto& f : FiltersIn(graph.Get())) graph->RemoveFilter(f.Get());
        control.Reset();
        events.Reset();
        EXPECT_EQ(graph.Detach()->Release(), 0u);
        for (auto& f : source_filters) EXPECT_EQ(f.Detach()->Release(), 0u);
        EXPECT_EQ(mux.Detach()->Release(), 0u);
    }
};

// A push from a thread of its own, as a source's streaming thread makes it,
// so that the test can watch it block.
class BackgroundPush {
public:
    BackgroundPush(PushSource* source, size_t size, REFERENCE_TIME start, REFERENCE_TIME stop)
        : source_(source), entered_before_(source->ReceivesEntered()), data_(size, 0x55),
          thread_([this, source, start, stop] {
              result_ = source->Push(data_.data(), data_.size(), start, stop);
              done_ = true;
          }) {}
    ~BackgroundPush() { thread_.join(); }
    // Whether the push returns within the bound.
    bool Returns(DWORD timeout_ms = 15000) const { return WaitFor([&] { return done_.load(); }, timeout_ms); }
    // Whether the push reached the mux's Receive and stays there: a thread
    // that has not yet run would look blocked too.
    bool BlocksInReceive() const {
        return WaitFor([&] { return source_->ReceivesEntered() > entered_before_; }) && !Returns(300);
    }
    HRESULT Result() const { return result_; }

private:
    PushSource* source_;
    int entered_before_;
    std::vector<uint8_t> data_;
    std::atomic<bool> done_{false};
    std::atomic<HRESULT> result_{E_PENDING};
    std::thread thread_;
};

// Video and 8 kHz mono audio into the mux and a writer of a temporary file,
// running in `mode`.
struct InterleavedGraph : MuxGraph {
    static constexpr REFERENCE_TIME kFrame = 166833;
    static constexpr size_t kHalfSecond = 8000;  // bytes of audio
    const std::wstring path = TempFile();
    PushSource* video = nullptr;
    PushSource* audio = nullptr;
    ComPtr<IBaseFilter> writer;

    explicit InterleavedGraph(InterleavingMode mode) {
        video = AddSource(VideoType(MAKEFOURCC('U', 'Y', 'V', 'Y'), 16, 16, 16, kFrame, false), 512);
        audio = AddSource(PcmType(8000, 1), 16384);
        writer = AddWriter(path);
        ComPtr<IConfigInterleaving> interleaving;
        if (!writer || FAILED(ConnectOutput(writer.Get())) || FAILED(ConnectInput(video, L"Input 01")) ||
            FAILED(ConnectInput(audio, L"Input 02")) ||
            FAILED(mux->QueryInterface(IID_IConfigInterleaving, interleaving.PutVoid())) ||
            FAILED(interleaving->put_Mode(mode)))
            writer.Reset();
    }
    HRESULT Frame(REFERENCE_TIME start) { return video->Push(std::vector<uint8_t>(512).data(), 512, start, start + kFrame); }
    HRESULT Audio(REFERENCE_TIME start, size_t bytes) {
        const std::vector<uint8_t> block(bytes, 0x11);
        return audio->Push(block.data(), bytes, start, start + static_cast<REFERENCE_TIME>(bytes) * 625);  // 16000 bytes a second
    }
    // Empties the graph (see TearDown) and reads back what was written.
    ParsedAvi Finish() {
        writer.Reset();
        TearDown();
        const std::vector<uint8_t> file = ReadFileBytes(path);
        return avi::ParseAvi(file.data(), file.size());
    }
    ~InterleavedGraph() { DeleteFileW(path.c_str()); }
};

TEST(AviMux, FullInterleavingHoldsAStreamUntilTheOthersCatchUp) {
    ComApartment com;
    InterleavedGraph g(INTERLEAVE_FULL);
    ASSERT_TRUE(g.writer);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_EQ(g.Frame(0), S_OK);
    ASSERT_EQ(g.Audio(0, g.kHalfSecond), S_OK);  // 0.5 s at once, as a large audio buffer comes

    // A frame past the audio's half second waits for the next audio buffer.
    {
        BackgroundPush late(g.video, 512, 6000000, 6000000 + g.kFrame);
        EXPECT_TRUE(late.BlocksInReceive());
        ASSERT_EQ(g.Audio(5000000, g.kHalfSecond), S_OK);
        ASSERT_TRUE(late.Returns());
        EXPECT_EQ(late.Result(), S_OK);
    }
    // The end of the other stream releases a waiting frame too.
    {
        BackgroundPush late(g.video, 512, 12000000, 12000000 + g.kFrame);
        EXPECT_TRUE(late.BlocksInReceive());
        ASSERT_EQ(Named(g.mux.Get(), L"Input 02")->EndOfStream(), S_OK);
        ASSERT_TRUE(late.Returns());
        EXPECT_EQ(late.Result(), S_OK);
    }
    ASSERT_EQ(Named(g.mux.Get(), L"Input 02")->BeginFlush(), S_OK);
    ASSERT_EQ(Named(g.mux.Get(), L"Input 02")->EndFlush(), S_OK);  // the audio may end again
    // And a stop releases it without writing it.
    {
        BackgroundPush late(g.audio, 100, 30000000, 30125000);
        EXPECT_TRUE(late.BlocksInReceive());
        ASSERT_TRUE(SUCCEEDED(g.control->Stop()));
        ASSERT_TRUE(late.Returns());
        EXPECT_EQ(late.Result(), VFW_E_WRONG_STATE);
    }

    // Chunks went out in the order they were let through: the frame at 0.6 s
    // after the second audio buffer.
    const ParsedAvi avi = g.Finish();
    ASSERT_TRUE(avi.ok) << avi.error;
    const std::vector<ParsedChunk> video = ChunksOf(avi, 0), audio = ChunksOf(avi, 1);
    ASSERT_EQ(audio.size(), 2u);
    ASSERT_EQ(video.size(), 73u);  // frames at 0, 0.6 s and 1.2 s with the empty slots between
    EXPECT_LT(video[0].offset, audio[0].offset);
    EXPECT_LT(audio[1].offset, video[36].offset);
    EXPECT_EQ(video[36].size, 512u);
    EXPECT_EQ(video[35].size, 0u);
}

TEST(AviMux, CaptureInterleavingLetsAStreamRunAheadByTheInterleaveTime) {
    ComApartment com;
    InterleavedGraph g(INTERLEAVE_CAPTURE);
    ASSERT_TRUE(g.writer);
    ComPtr<IConfigInterleaving> interleaving;
    ASSERT_EQ(g.mux->QueryInterface(IID_IConfigInterleaving, interleaving.PutVoid()), S_OK);
    const REFERENCE_TIME every = 5000000, preroll = 0;  // half a second
    ASSERT_EQ(interleaving->put_Interleaving(&every, &preroll), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    {
        BackgroundPush ahead(g.video, 512, 4000000, 4000000 + g.kFrame);
        ASSERT_TRUE(ahead.Returns());
        EXPECT_EQ(ahead.Result(), S_OK);
    }
    {
        BackgroundPush too_far(g.video, 512, 7000000, 7000000 + g.kFrame);
        EXPECT_TRUE(too_far.BlocksInReceive());
        ASSERT_EQ(g.Audio(0, 2000), S_OK);  // up to 0.125 s: not yet
        EXPECT_TRUE(too_far.BlocksInReceive());
        ASSERT_EQ(g.Audio(1250000, 2000), S_OK);  // up to 0.25 s
        ASSERT_TRUE(too_far.Returns());
        EXPECT_EQ(too_far.Result(), S_OK);
    }
    ASSERT_TRUE(SUCCEEDED(g.control->Stop()));
    interleaving.Reset();
    EXPECT_TRUE(g.Finish().ok);
}

TEST(AviMux, NoInterleavingNeverWaits) {
    ComApartment com;
    for (InterleavingMode mode : {INTERLEAVE_NONE, INTERLEAVE_NONE_BUFFERED}) {
        InterleavedGraph g(mode);
        ASSERT_TRUE(g.writer);
        ASSERT_TRUE(SUCCEEDED(g.control->Run()));
        BackgroundPush distant(g.video, 512, 50000000, 50000000 + g.kFrame);
        ASSERT_TRUE(distant.Returns());
        EXPECT_EQ(distant.Result(), S_OK);
        ASSERT_TRUE(SUCCEEDED(g.control->Stop()));
        EXPECT_TRUE(g.Finish().ok);
    }
}

// An audio device whose clock runs 0.2 % fast delivers 1.002 s of sound in
// one second of the graph's clock; with the audio as master the video's
// frames are stretched as much, so that they play in step with the sound.
// Audio and video that merely end apart are no drift and change nothing.
TEST(AviMux, AMasterStreamCompensatesTheOtherStreamsDrift) {
    for (bool drifting : {true, false}) {
        ComApartment com;
        InterleavedGraph g(INTERLEAVE_NONE);
        ASSERT_TRUE(g.writer);
        ComPtr<IConfigAviMux> config;
        ASSERT_EQ(g.mux->QueryInterface(IID_IConfigAviMux, config.PutVoid()), S_OK);
        ASSERT_EQ(config->SetMasterStream(1), S_OK);
        ASSERT_TRUE(SUCCEEDED(g.control->Run()));
        for (int i = 0; i < 60; ++i) ASSERT_EQ(g.Frame(i * g.kFrame), S_OK);
        const size_t bytes = 2 * g.kHalfSecond + 32;  // 1.002 s at the nominal rate
        const std::vector<uint8_t> block(bytes, 0x11);
        const REFERENCE_TIME stop = drifting ? 10000000 : static_cast<REFERENCE_TIME>(bytes) * 625;
        ASSERT_EQ(g.audio->Push(block.data(), bytes, 0, stop), S_OK);
        ASSERT_TRUE(SUCCEEDED(g.control->Stop()));
        config.Reset();
        const ParsedAvi avi = g.Finish();
        ASSERT_TRUE(avi.ok) << avi.error;
        ASSERT_EQ(avi.streams.size(), 2u);
        EXPECT_EQ(avi.streams[0].scale, drifting ? 167167u : 166833u) << drifting;
        EXPECT_EQ(avi.streams[0].rate, 10000000u);
        EXPECT_EQ(avi.micro_sec_per_frame, drifting ? 16717u : 16683u);
        EXPECT_EQ(avi.streams[1].scale, 2u) << "the master keeps its rate";
        EXPECT_EQ(avi.streams[1].rate, 16000u);
    }
}

TEST(AviMux, IsTheStandInWithItsInterfacesAndExactReferenceCounts) {
    ComApartment com;
    ASSERT_TRUE(ServedByStandins(CLSID_AviDest));

    ComPtr<IBaseFilter> mux;
    ASSERT_EQ(Create(CLSID_AviDest, IID_IBaseFilter, &mux), S_OK);
    EXPECT_EQ(RefCount(mux.Get()), 1u);
    EXPECT_TRUE(HasClassId(mux.Get(), CLSID_AviDest));
    ExpectInterfaces(mux.Get(),
                     {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, &IID_IUnknown, &IID_IConfigAviMux,
                      &IID_IConfigInterleaving},
                     {&IID_IFileSinkFilter, &IID_IAMFilterMiscFlags, &IID_IAMDroppedFrames, &IID_IMediaSeeking,
                      &IID_IMediaPosition, &IID_IPersistMediaPropertyBag, &IID_ISpecifyPropertyPages, &IID_IPin,
                      &IID_IMemInputPin, &IID_IStream},
                     "filter");

    ComPtr<IEnumPins> pins;
    ASSERT_EQ(mux->EnumPins(pins.Put()), S_OK);
    EXPECT_EQ(RefCount(mux.Get()), 2u);
    IPin* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(pins->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(RefCount(mux.Get()), 4u);
    PIN_INFO info = {};
    ASSERT_EQ(got[0]->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    EXPECT_STREQ(info.achName, L"AVI Out");
    EXPECT_EQ(info.pFilter, mux.Get());
    info.pFilter->Release();
    ASSERT_EQ(got[1]->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    EXPECT_STREQ(info.achName, L"Input 01");
    info.pFilter->Release();
    ExpectInterfaces(got[0], {&IID_IPin, &IID_IUnknown},
                     {&IID_IMemInputPin, &IID_IMediaSeeking, &IID_IStream, &IID_IQualityControl}, "output");
    ExpectInterfaces(got[1], {&IID_IPin, &IID_IMemInputPin, &IID_IUnknown},
                     {&IID_IAMStreamControl, &IID_IMediaSeeking, &IID_IStream, &IID_IKsPropertySet}, "input");

    // The output offers one type: an AVI byte stream.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(got[0]->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* offered[2] = {};
    ULONG count = 0;
    EXPECT_EQ(types->Next(2, offered, &count), S_FALSE);
    ASSERT_EQ(count, 1u);
    EXPECT_TRUE(IsEqualGUID(offered[0]->majortype, MEDIATYPE_Stream));
    EXPECT_TRUE(IsEqualGUID(offered[0]->subtype, MEDIASUBTYPE_Avi));
    testbed::DeleteMediaType(offered[0]);
    ASSERT_EQ(got[1]->EnumMediaTypes(types.Put()), S_OK);
    EXPECT_EQ(types->Next(1, offered, nullptr), S_FALSE);
    types.Reset();

    // Inputs take video described by VIDEOINFOHEADER and audio by WAVEFORMATEX.
    const testbed::MediaType uyvy = VideoType(MAKEFOURCC('U', 'Y', 'V', 'Y'), 16, 64, 48, 166833, false);
    const testbed::MediaType rgb = RgbVideoType(MEDIASUBTYPE_RGB24, 64, -48);
    const testbed::MediaType pcm = PcmType(44100, 2), blocks = BlockAudioType();
    for (const auto* mt : {&uyvy, &rgb, &pcm, &blocks}) EXPECT_EQ(got[1]->QueryAccept(&mt->Get()), S_OK);
    testbed::MediaType other = uyvy;
    other->formattype = FORMAT_VideoInfo2;
    EXPECT_EQ(got[1]->QueryAccept(&other.Get()), S_FALSE);
    other = pcm;
    other->cbFormat = 8;
    EXPECT_EQ(got[1]->QueryAccept(&other.Get()), S_FALSE);
    other = pcm;
    other->majortype = MEDIATYPE_Stream;
    EXPECT_EQ(got[1]->QueryAccept(&other.Get()), S_FALSE);
    EXPECT_EQ(got[0]->QueryAccept(&uyvy.Get()), S_FALSE);

    got[0]->Release();
    got[1]->Release();
    pins.Reset();
    EXPECT_EQ(RefCount(mux.Get()), 1u);

    ComPtr<IUnknown> outer, inner;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IUnknown, &outer), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_AviDest, outer.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown, inner.PutVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(mux.Detach()->Release(), 0u);
}

TEST(AviMux, ConfigurationInterfacesKeepWhatTheyAreGiven) {
    ComApartment com;
    ComPtr<IConfigInterleaving> interleaving;
    ASSERT_EQ(Create(CLSID_AviDest, IID_IConfigInterleaving, &interleaving), S_OK);
    ComPtr<IConfigAviMux> config;
    ASSERT_EQ(interleaving->QueryInterface(IID_IConfigAviMux, config.PutVoid()), S_OK);

    InterleavingMode mode = INTERLEAVE_NONE;
    ASSERT_EQ(interleaving->get_Mode(&mode), S_OK);
    EXPECT_EQ(mode, INTERLEAVE_CAPTURE);
    for (InterleavingMode m : {INTERLEAVE_NONE, INTERLEAVE_FULL, INTERLEAVE_NONE_BUFFERED, INTERLEAVE_CAPTURE}) {
        EXPECT_EQ(interleaving->put_Mode(m), S_OK);
        EXPECT_EQ(interleaving->get_Mode(&mode), S_OK);
        EXPECT_EQ(mode, m);
    }
    EXPECT_EQ(interleaving->put_Mode(static_cast<InterleavingMode>(INTERLEAVE_NONE_BUFFERED + 1)), E_INVALIDARG);
    EXPECT_EQ(interleaving->get_Mode(&mode), S_OK);
    EXPECT_EQ(mode, INTERLEAVE_CAPTURE);
    EXPECT_EQ(interleaving->get_Mode(nullptr), E_POINTER);

    REFERENCE_TIME every = 0, preroll = -1;
    ASSERT_EQ(interleaving->get_Interleaving(&every, &preroll), S_OK);
    EXPECT_EQ(every, 10000000);
    EXPECT_EQ(preroll, 0);
    const REFERENCE_TIME half = 5000000, fifth = 2000000;
    EXPECT_EQ(interleaving->put_Interleaving(&half, &fifth), S_OK);
    ASSERT_EQ(interleaving->get_Interleaving(&every, &preroll), S_OK);
    EXPECT_EQ(every, half);
    EXPECT_EQ(preroll, fifth);
    EXPECT_EQ(interleaving->put_Interleaving(nullptr, &fifth), E_POINTER);
    EXPECT_EQ(interleaving->get_Interleaving(&every, nullptr), E_POINTER);

    LONG master = 0;
    ASSERT_EQ(config->GetMasterStream(&master), S_OK);
    EXPECT_EQ(master, -1);
    EXPECT_EQ(config->SetMasterStream(1), S_OK);
    EXPECT_EQ(config->SetMasterStream(-2), E_INVALIDARG);
    ASSERT_EQ(config->GetMasterStream(&master), S_OK);
    EXPECT_EQ(master, 1);
    EXPECT_EQ(config->SetMasterStream(-1), S_OK);
    ASSERT_EQ(config->GetMasterStream(&master), S_OK);
    EXPECT_EQ(master, -1);
    EXPECT_EQ(config->GetMasterStream(nullptr), E_POINTER);

    BOOL old_index = FALSE;
    ASSERT_EQ(config->GetOutputCompatibilityIndex(&old_index), S_OK);
    EXPECT_TRUE(old_index);
    EXPECT_EQ(config->SetOutputCompatibilityIndex(FALSE), S_OK);
    ASSERT_EQ(config->GetOutputCompatibilityIndex(&old_index), S_OK);
    EXPECT_FALSE(old_index);
    EXPECT_EQ(config->GetOutputCompatibilityIndex(nullptr), E_POINTER);

    config.Reset();
    EXPECT_EQ(interleaving.Detach()->Release(), 0u);
}

TEST(AviMux, WalksItsStatesUnconnected) {
    ComApartment com;
    ComPtr<IBaseFilter> mux;
    ASSERT_EQ(Create(CLSID_AviDest, IID_IBaseFilter, &mux), S_OK);
    ExpectStateWalk(mux.Get());
    EXPECT_EQ(mux.Detach()->Release(), 0u);
}

TEST(AviMux, KeepsOneFreeInputAsStreamsConnectAndDisconnect) {
    ComApartment com;
    MuxGraph g;
    ASSERT_TRUE(g.mux);
    const testbed::MediaType uyvy = VideoType(MAKEFOURCC('U', 'Y', 'V', 'Y'), 16, 64, 48, 166833, false);
    const testbed::MediaType pcm = PcmType(48000, 2);
    PushSource* video = g.AddSource(uyvy, 6144);
    PushSource* audio = g.AddSource(pcm, 1920);
    const testbed::MediaType rgb32 = RgbVideoType(MEDIASUBTYPE_RGB32, 16, 16);
    PushSource* second = g.AddSource(rgb32, 1024);
    using Ids = std::vector<std::wstring>;
    EXPECT_EQ(PinIds(g.mux.Get()), (Ids{L"AVI Out", L"Input 01"}));

    // Inputs before the output this time.
    ASSERT_EQ(g.ConnectInput(video, L"Input 01"), S_OK);
    EXPECT_EQ(PinIds(g.mux.Get()), (Ids{L"AVI Out", L"Input 01", L"Input 02"}));
    ASSERT_EQ(g.ConnectInput(audio, L"Input 02"), S_OK);
    EXPECT_EQ(PinIds(g.mux.Get()), (Ids{L"AVI Out", L"Input 01", L"Input 02", L"Input 03"}));
    AM_MEDIA_TYPE connected = {};
    ASSERT_EQ(Named(g.mux.Get(), L"Input 01")->ConnectionMediaType(&connected), S_OK);
    EXPECT_TRUE(testbed::SameMediaType(connected, uyvy.Get()));
    testbed::FreeMediaType(&connected);
    ASSERT_EQ(Named(g.mux.Get(), L"Input 02")->ConnectionMediaType(&connected), S_OK);
    EXPECT_TRUE(testbed::SameMediaType(connected, pcm.Get()));
    testbed::FreeMediaType(&connected);
    EXPECT_EQ(Named(g.mux.Get(), L"Input 01")->ReceiveConnection(second->Output(), &rgb32.Get()),
              VFW_E_ALREADY_CONNECTED);

    // A disconnected input stays, free, and takes the next connection.
    DisconnectBoth(g.graph.Get(), Named(g.mux.Get(), L"Input 01").Get());
    EXPECT_EQ(PinIds(g.mux.Get()), (Ids{L"AVI Out", L"Input 01", L"Input 02", L"Input 03"}));
    EXPECT_FALSE(IsConnected(Named(g.mux.Get(), L"Input 01").Get()));
    ASSERT_EQ(g.ConnectInput(second, L"Input 01"), S_OK);
    EXPECT_EQ(PinIds(g.mux.Get()), (Ids{L"AVI Out", L"Input 01", L"Input 02", L"Input 03"}));
    ASSERT_EQ(g.ConnectInput(video, L"Input 03"), S_OK);
    EXPECT_EQ(PinIds(g.mux.Get()), (Ids{L"AVI Out", L"Input 01", L"Input 02", L"Input 03", L"Input 04"}));

    // Disconnecting everything while walking one enumerator reaches every pin.
    const std::wstring path = TempFile();
    ComPtr<IBaseFilter> writer = g.AddWriter(path);
    ASSERT_TRUE(writer);
    ASSERT_EQ(g.ConnectOutput(writer.Get()), S_OK);
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(g.mux->EnumPins(pins.Put()), S_OK);
    IPin* pin = nullptr;
    int disconnected = 0;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        if (IsConnected(pin)) {
            DisconnectBoth(g.graph.Get(), pin);
            ++disconnected;
        }
        pin->Release();
    }
    pins.Reset();
    EXPECT_EQ(disconnected, 4);
    for (auto& p : PinsOf(g.mux.Get())) EXPECT_FALSE(IsConnected(p.Get()));

    // Connections change only while stopped.
    ASSERT_EQ(g.ConnectInput(video, L"Input 02"), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    EXPECT_EQ(Named(g.mux.Get(), L"Input 02")->Disconnect(), VFW_E_NOT_STOPPED);
    EXPECT_EQ(Named(g.mux.Get(), L"Input 01")->ReceiveConnection(audio->Output(), &pcm.Get()), VFW_E_NOT_STOPPED);
    ASSERT_EQ(g.control->Stop(), S_OK);

    writer.Reset();
    g.TearDown();
    DeleteFileW(path.c_str());
}

TEST(AviMux, RecordsVideoAndAudioOnOneTimelineThroughTheFileWriter) {
    ComApartment com;
    MuxGraph g;
    ASSERT_TRUE(g.mux);
    const int w = 64, h = 48;
    const REFERENCE_TIME t = 166833;
    const testbed::MediaType uyvy = VideoType(MAKEFOURCC('U', 'Y', 'V', 'Y'), 16, w, h, t, false);
    const testbed::MediaType pcm = PcmType(48000, 2);
    PushSource* video = g.AddSource(uyvy, w * h * 2);
    PushSource* audio = g.AddSource(pcm, 1920);
    const std::wstring path = TempFile();
    ComPtr<IBaseFilter> writer = g.AddWriter(path);
    ASSERT_TRUE(writer);
    // Output first, as the capture graph builder connects it.
    ASSERT_EQ(g.ConnectOutput(writer.Get()), S_OK);
    ASSERT_EQ(g.ConnectInput(video, L"Input 01"), S_OK);
    ASSERT_EQ(g.ConnectInput(audio, L"Input 02"), S_OK);
    // One thread feeds both streams, which only a mode that never waits allows.
    ComPtr<IConfigInterleaving> interleaving;
    ASSERT_EQ(g.mux->QueryInterface(IID_IConfigInterleaving, interleaving.PutVoid()), S_OK);
    ASSERT_EQ(interleaving->put_Mode(INTERLEAVE_NONE), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));

    // Frames 2 and 3 are lost; audio starts 10 ms late, its last block untimed.
    const int slots[] = {0, 1, 4, 5};
    std::vector<std::vector<uint8_t>> frames, blocks;
    for (int i = 0; i < 4; ++i) {
        frames.push_back(Pattern(static_cast<size_t>(w * h * 2), i + 1));
        ASSERT_EQ(video->Push(frames.back().data(), frames.back().size(), slots[i] * t, (slots[i] + 1) * t), S_OK);
        blocks.push_back(Pattern(1920, 50 + i));
        const REFERENCE_TIME at = 100000 + i * 100000LL;
        if (i < 3) {
            ASSERT_EQ(audio->Push(blocks.back().data(), 1920, at, at + 100000), S_OK);
        } else {
            // Untimed: the mux takes it as it comes.
            ComPtr<IMediaSample> sample;
            ComPtr<IMemAllocator> allocator;
            ComPtr<IMemInputPin> input;
            ASSERT_EQ(Named(g.mux.Get(), L"Input 02")->QueryInterface(IID_IMemInputPin, input.PutVoid()), S_OK);
            ASSERT_EQ(input->GetAllocator(allocator.Put()), S_OK);
            ASSERT_EQ(allocator->GetBuffer(sample.Put(), nullptr, nullptr, 0), S_OK);
            BYTE* data = nullptr;
            ASSERT_EQ(sample->GetPointer(&data), S_OK);
            std::memcpy(data, blocks.back().data(), 1920);
            sample->SetActualDataLength(1920);
            ASSERT_EQ(input->Receive(sample.Get()), S_OK);
        }
    }

    // The writer completes once every input has ended.
    long code = 0;
    ASSERT_EQ(Named(g.mux.Get(), L"Input 01")->EndOfStream(), S_OK);
    EXPECT_EQ(g.events->WaitForCompletion(0, &code), E_ABORT);
    ASSERT_EQ(Named(g.mux.Get(), L"Input 02")->EndOfStream(), S_OK);
    EXPECT_EQ(g.events->WaitForCompletion(15000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ASSERT_EQ(g.control->Stop(), S_OK);
    interleaving.Reset();
    writer.Reset();
    g.TearDown();

    const std::vector<uint8_t> file = ReadFileBytes(path);
    DeleteFileW(path.c_str());
    const ParsedAvi avi = avi::ParseAvi(file.data(), file.size());
    ASSERT_TRUE(avi.ok) << avi.error;
    ASSERT_EQ(avi.riffs.size(), 1u);
    EXPECT_EQ(avi.riffs[0].size + 8u, file.size());
    EXPECT_EQ(avi.stream_count, 2u);
    EXPECT_EQ(avi.micro_sec_per_frame, 16683u);
    EXPECT_EQ(avi.total_frames, 6u);
    EXPECT_EQ(avi.grand_frames, 6u);
    EXPECT_EQ(avi.width, static_cast<uint32_t>(w));
    EXPECT_EQ(avi.height, static_cast<uint32_t>(h));
    EXPECT_EQ(avi.suggested_buffer, static_cast<uint32_t>(w * h * 2));
    ASSERT_EQ(avi.streams.size(), 2u);

    const avi::ParsedStream& v = avi.streams[0];
    EXPECT_EQ(v.type, Fcc('v', 'i', 'd', 's'));
    EXPECT_EQ(v.handler, Fcc('U', 'Y', 'V', 'Y'));
    EXPECT_EQ(v.scale, 166833u);
    EXPECT_EQ(v.rate, 10000000u);
    EXPECT_EQ(v.length, 6u);
    const auto& vih = *reinterpret_cast<const VIDEOINFOHEADER*>(uyvy->pbFormat);
    ASSERT_EQ(v.format.size(), sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(std::memcmp(v.format.data(), &vih.bmiHeader, sizeof(BITMAPINFOHEADER)), 0);

    const avi::ParsedStream& a = avi.streams[1];
    EXPECT_EQ(a.type, Fcc('a', 'u', 'd', 's'));
    EXPECT_EQ(a.scale, 4u);
    EXPECT_EQ(a.rate, 192000u);
    EXPECT_EQ(a.sample_size, 4u);
    EXPECT_EQ(a.start, 0u);
    EXPECT_EQ(a.length, 480u + 4 * 480u);  // 10 ms of silence, then the four blocks
    ASSERT_EQ(a.format.size(), sizeof(WAVEFORMATEX));
    EXPECT_EQ(std::memcmp(a.format.data(), pcm->pbFormat, sizeof(WAVEFORMATEX)), 0);

    // Video: the lost frames keep their slots as empty chunks.
    const std::vector<ParsedChunk> vc = ChunksOf(avi, 0), ac = ChunksOf(avi, 1);
    ASSERT_EQ(vc.size(), 6u);
    const int frame_at[] = {0, 1, -1, -1, 2, 3};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(vc[i].id, Fcc('0', '0', 'd', 'c')) << i;
        if (frame_at[i] < 0) {
            EXPECT_EQ(vc[i].size, 0u) << i;
        } else {
            EXPECT_EQ(DataOf(file, vc[i]), frames[static_cast<size_t>(frame_at[i])]) << i;
        }
    }
    // Audio: silence for the late start, then every block in order.
    ASSERT_EQ(ac.size(), 5u);
    EXPECT_EQ(DataOf(file, ac[0]), std::vector<uint8_t>(1920, 0));
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(DataOf(file, ac[i + 1]), blocks[i]) << i;
    EXPECT_EQ(ac[0].id, Fcc('0', '1', 'w', 'b'));

    ExpectIndexMatchesChunks(avi, 0);
    ExpectIndexMatchesChunks(avi, 1);
    EXPECT_TRUE(v.index[0].key && v.index[5].key);
    EXPECT_FALSE(v.index[2].key);
    ASSERT_EQ(v.super.size(), 1u);
    EXPECT_EQ(v.super[0].duration, 6u);
    ASSERT_TRUE(avi.has_idx1);
    ASSERT_EQ(avi.idx1.size(), avi.chunks.size());
    for (size_t i = 0; i < avi.chunks.size(); ++i) {
        EXPECT_EQ(avi.idx1[i].id, avi.chunks[i].id) << i;
        EXPECT_EQ(avi.idx1[i].offset + avi.riffs[0].movi + 8, avi.chunks[i].offset) << i;
    }
}

TEST(AviMux, WritesEveryStreamItsOwnWayWithoutTheLegacyIndexWhenAsked) {
    ComApartment com;
    MuxGraph g;
    ASSERT_TRUE(g.mux);
    // Temporally compressed video, RGB24 and block audio that is not PCM.
    const testbed::MediaType mjpg = VideoType(MAKEFOURCC('M', 'J', 'P', 'G'), 24, 32, 32, 400000, true);
    const testbed::MediaType rgb = RgbVideoType(MEDIASUBTYPE_RGB24, 16, 16);
    const testbed::MediaType blocks = BlockAudioType();
    PushSource* compressed = g.AddSource(mjpg, 4096);
    PushSource* plain = g.AddSource(rgb, 16 * 16 * 3);
    PushSource* audio = g.AddSource(blocks, 1024);
    ASSERT_EQ(g.ConnectInput(compressed, L"Input 01"), S_OK);
    ASSERT_EQ(g.ConnectInput(plain, L"Input 02"), S_OK);
    ASSERT_EQ(g.ConnectInput(audio, L"Input 03"), S_OK);
    const std::wstring path = TempFile();
    ComPtr<IBaseFilter> writer = g.AddWriter(path);
    ASSERT_TRUE(writer);
    ASSERT_EQ(g.ConnectOutput(writer.Get()), S_OK);  // the output last
    ComPtr<IConfigAviMux> config;
    ASSERT_EQ(g.mux->QueryInterface(IID_IConfigAviMux, config.PutVoid()), S_OK);
    ASSERT_EQ(config->SetOutputCompatibilityIndex(FALSE), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));

    PushFlags delta;
    delta.sync = false;
    const auto key = Pattern(1001, 1), diff = Pattern(300, 2), picture = Pattern(16 * 16 * 3, 3);
    const auto block = Pattern(1024, 4);
    ASSERT_EQ(compressed->Push(key.data(), key.size(), 0, 400000), S_OK);
    ASSERT_EQ(compressed->Push(diff.data(), diff.size(), 400000, 800000, delta), S_OK);
    ASSERT_EQ(plain->Push(picture.data(), picture.size(), 0, 333667), S_OK);
    ASSERT_EQ(audio->Push(block.data(), block.size(), 2000000, 3000000), S_OK);  // 0.2 s in
    ASSERT_EQ(g.control->Stop(), S_OK);
    config.Reset();
    writer.Reset();
    g.TearDown();

    const std::vector<uint8_t> file = ReadFileBytes(path);
    DeleteFileW(path.c_str());
    const ParsedAvi avi = avi::ParseAvi(file.data(), file.size());
    ASSERT_TRUE(avi.ok) << avi.error;
    EXPECT_FALSE(avi.has_idx1);
    EXPECT_EQ(avi.flags & avi::kAvifHasIndex, 0u);
    ASSERT_EQ(avi.streams.size(), 3u);
    EXPECT_EQ(avi.width, 32u);  // the first video stream's
    EXPECT_EQ(avi.micro_sec_per_frame, 40000u);

    const std::vector<ParsedChunk> c0 = ChunksOf(avi, 0), c1 = ChunksOf(avi, 1), c2 = ChunksOf(avi, 2);
    ASSERT_EQ(c0.size(), 2u);
    EXPECT_EQ(c0[0].id, Fcc('0', '0', 'd', 'c'));
    EXPECT_EQ(DataOf(file, c0[0]), key);
    EXPECT_EQ(c0[1].offset, c0[0].offset + 8 + 1002);  // odd chunks are padded
    ASSERT_EQ(avi.streams[0].index.size(), 2u);
    EXPECT_TRUE(avi.streams[0].index[0].key);
    EXPECT_FALSE(avi.streams[0].index[1].key);
    EXPECT_EQ(avi.streams[0].handler, Fcc('M', 'J', 'P', 'G'));

    ASSERT_EQ(c1.size(), 1u);
    EXPECT_EQ(c1[0].id, Fcc('0', '1', 'd', 'b'));
    EXPECT_EQ(DataOf(file, c1[0]), picture);
    EXPECT_EQ(avi.streams[1].handler, 0u);
    EXPECT_TRUE(avi.streams[1].index[0].key);

    // Audio that cannot be padded with silence starts late by its header.
    ASSERT_EQ(c2.size(), 1u);
    EXPECT_EQ(c2[0].id, Fcc('0', '2', 'w', 'b'));
    EXPECT_EQ(avi.streams[2].scale, 1024u);
    EXPECT_EQ(avi.streams[2].rate, 10240u);
    EXPECT_EQ(avi.streams[2].start, 2u);
    EXPECT_EQ(avi.streams[2].length, 1u);
    for (int s = 0; s < 3; ++s) ExpectIndexMatchesChunks(avi, s);
}

// A byte-stream sink whose IStream runs out of room after a given number of bytes.
class FullDisk;
class FullDiskPin final : public testbed::InputPin, public IStream {
public:
    FullDiskPin(testbed::Filter& filter, ULONG room) : InputPin(filter, L"In"), room_(room) {}
    TESTBED_PIN_IUNKNOWN

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override {
        return IsEqualGUID(mt.majortype, MEDIATYPE_Stream) ? S_OK : S_FALSE;
    }
    HRESULT GetMediaType(unsigned, testbed::MediaType*) override { return VFW_S_NO_MORE_ITEMS; }

    STDMETHODIMP Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP Write(const void*, ULONG size, ULONG* written) override {
        if (written) *written = 0;
        if (size > room_) return STG_E_MEDIUMFULL;
        room_ -= size;
        if (written) *written = size;
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER* position) override {
        if (position) position->QuadPart = 0;
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

protected:
    void* Interface(REFIID iid) override {
        if (IsEqualGUID(iid, IID_IStream) || IsEqualGUID(iid, IID_ISequentialStream))
            return static_cast<IStream*>(this);
        return InputPin::Interface(iid);
    }
    HRESULT OnReceive(IMediaSample*) override { return E_UNEXPECTED; }

private:
    ULONG room_;
};

// {7A3C1E54-8B0D-4F6E-A1C2-3D4E5F60718A}
const CLSID kFullDiskClsid = {0x7a3c1e54, 0x8b0d, 0x4f6e, {0xa1, 0xc2, 0x3d, 0x4e, 0x5f, 0x60, 0x71, 0x8a}};

class FullDisk final : public testbed::Filter {
public:
    explicit FullDisk(ULONG room) : Filter(kFullDiskClsid), pin_(*this, room) {}
    testbed::Pin* PinAt(unsigned index) override { return index == 0 ? &pin_ : nullptr; }
    IPin* Input() { return &pin_; }

private:
    FullDiskPin pin_;
};

TEST(AviMux, AFailedWriteFailsTheSampleAndAbortsTheGraph) {
    ComApartment com;
    MuxGraph g;
    ASSERT_TRUE(g.mux);
    PushSource* video = g.AddSource(VideoType(MAKEFOURCC('U', 'Y', 'V', 'Y'), 16, 64, 48, 166833, false), 6144);
    auto* disk = new FullDisk(64 * 1024);
    auto disk_filter = ComPtr<IBaseFilter>::Adopt(disk);
    g.graph->AddFilter(disk_filter.Get(), L"full disk");
    ASSERT_EQ(g.graph->ConnectDirect(Named(g.mux.Get(), L"AVI Out").Get(), disk->Input(), nullptr), S_OK);
    ASSERT_EQ(g.ConnectInput(video, L"Input 01"), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));

    const auto frame = Pattern(6144, 7);
    HRESULT hr = S_OK;
    int pushed = 0;
    for (; pushed < 100 && hr == S_OK; ++pushed)
        hr = video->Push(frame.data(), frame.size(), pushed * 166833LL, (pushed + 1) * 166833LL);
    EXPECT_EQ(hr, STG_E_MEDIUMFULL);
    EXPECT_GT(pushed, 3);
    EXPECT_LT(pushed, 20);
    EXPECT_EQ(video->Push(frame.data(), frame.size(), pushed * 166833LL, (pushed + 1) * 166833LL), STG_E_MEDIUMFULL);

    long code = 0;
    LONG_PTR first = 0, second = 0;
    bool aborted = false;
    EXPECT_TRUE(WaitFor([&] {
        while (!aborted && g.events->GetEvent(&code, &first, &second, 0) == S_OK) {
            aborted = code == EC_ERRORABORT;
            if (aborted) {
                EXPECT_EQ(static_cast<HRESULT>(first), STG_E_MEDIUMFULL);
            }
            g.events->FreeEventParams(code, first, second);
        }
        return aborted;
    }));
    EXPECT_EQ(g.control->Stop(), S_OK);
    g.TearDown();
    EXPECT_EQ(disk_filter.Detach()->Release(), 0u);
}

TEST(AviMux, CannotPauseIntoAPinWithoutAStream) {
    ComApartment com;
    MuxGraph g;
    ASSERT_TRUE(g.mux);
    PushSource* audio = g.AddSource(PcmType(44100, 2), 1764);
    auto* sink = new RecordingSink;
    auto sink_filter = ComPtr<IBaseFilter>::Adopt(sink);
    g.graph->AddFilter(sink_filter.Get(), L"no stream");
    ASSERT_EQ(g.graph->ConnectDirect(Named(g.mux.Get(), L"AVI Out").Get(), sink->Input(), nullptr), S_OK);
    ASSERT_EQ(g.ConnectInput(audio, L"Input 01"), S_OK);
    EXPECT_EQ(g.mux->Pause(), E_NOINTERFACE);
    FILTER_STATE state;
    EXPECT_EQ(g.mux->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    g.TearDown();
    EXPECT_EQ(sink_filter.Detach()->Release(), 0u);
}

}  // namespace
}  // namespace fernwood::test
