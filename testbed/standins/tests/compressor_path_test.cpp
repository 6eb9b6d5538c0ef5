// The compressor path of a recording as the viewer wires it: the card's
// capture pin, through a compressor bound from the video compressor
// category, into the AVI Mux and the File Writer; and what the platform does
// when the compressor cannot take the card's pictures.
#include "avi_parse.h"
#include "dshow_util.h"
#include "testbed/tests_support/test_support.h"
#include "testbed/tests_support/stream_filters.h"
#include "testbed/testcard/portable/test_pattern.h"
#include "testbed/testcard/testcard_ids.h"

#include <gtest/gtest.h>

#include <dshow.h>
#include <vfw.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace fernwood::test {
namespace {

const DWORD kFwrl = mmioFOURCC('F', 'W', 'R', 'L');
const wchar_t kTestCodec[] = L"Fernwood test codec (testbed)";

bool IsTestCard(IBaseFilter* filter) { return HasClassId(filter, testcard::CLSID_TestCardVideo); }

HRESULT SetCaptureFormat(IPin* pin, const GUID& subtype, int width, int height) {
    ComPtr<IAMStreamConfig> config;
    HRESULT hr = pin->QueryInterface(IID_IAMStreamConfig, config.PutVoid());
    int count = 0, size = 0;
    if (SUCCEEDED(hr)) hr = config->GetNumberOfCapabilities(&count, &size);
    if (FAILED(hr)) return hr;
    std::vector<BYTE> caps(static_cast<size_t>(size));
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* mt = nullptr;
        if (FAILED(config->GetStreamCaps(i, &mt, caps.data())) || !mt) continue;
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
        const bool match = IsEqualGUID(mt->subtype, subtype) && vih && vih->bmiHeader.biWidth == width &&
                           vih->bmiHeader.biHeight == height;
        hr = match ? config->SetFormat(mt) : S_FALSE;
        testbed::DeleteMediaType(mt);
        if (match) return hr;
    }
    return VFW_E_INVALIDMEDIATYPE;
}

// The recording graph before RenderStream: the card (UYVY 1280x720), the
// chosen compressor, and SetOutputFileName's multiplexer and writer.
struct Chain {
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<IBaseFilter> card, compressor, mux;
    ComPtr<IPin> capture;
    DeviceEntry codec;

    HRESULT Build(const std::function<bool(const DeviceEntry&)>& pick_codec, const std::wstring& path) {
        HRESULT hr = Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph);
        if (SUCCEEDED(hr)) hr = Create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, &builder);
        if (SUCCEEDED(hr)) hr = builder->SetFiltergraph(graph.Get());
        if (FAILED(hr)) return hr;
        card = BindDevice(CLSID_VideoInputDeviceCategory, [](const DeviceEntry&) { return true; });
        compressor = BindDevice(CLSID_VideoCompressorCategory, pick_codec, &codec);
        if (!card || !IsTestCard(card.Get()) || !compressor) return E_FAIL;
        if (FAILED(hr = graph->AddFilter(card.Get(), L"キャプチャデバイス"))) return hr;
        if (FAILED(hr = graph->AddFilter(compressor.Get(), L"ビデオコンプレッサ"))) return hr;
        if (FAILED(hr = FindMatchingPin(card.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr, false, 0, &capture)))
            return hr;
        if (FAILED(hr = SetCaptureFormat(capture.Get(), MEDIASUBTYPE_UYVY, 1280, 720))) return hr;
        return builder->SetOutputFileName(&MEDIASUBTYPE_Avi, path.c_str(), mux.Put(), nullptr);
    }

    HRESULT ConnectCaptureToCompressor() {
        ComPtr<IPin> input;
        HRESULT hr = FindMatchingPin(compressor.Get(), PINDIR_INPUT, nullptr, nullptr, true, 0, &input);
        return SUCCEEDED(hr) ? graph->Connect(capture.Get(), input.Get()) : hr;
    }
    HRESULT RenderCapture() {
        return builder->RenderStream(&PIN_CATEGORY_CAPTURE, nullptr, card.Get(), compressor.Get(), mux.Get());
    }

    void TearDown() {
        ComPtr<IMediaControl> control;
        if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaControl, control.PutVoid()))) control->Stop();
        control.Reset();
        if (graph)
            for (auto& f : FiltersIn(graph.Get())) graph->RemoveFilter(f.Get());
        capture.Reset();
        card.Reset();
        compressor.Reset();
        mux.Reset();
        builder.Reset();
        graph.Reset();
    }
};

// Counts the filters the graph's intelligent connect picks from the registry
// and refuses them once `limit` have been picked, so that a search that
// would go on for hours ends. Also notes how many AVI Decompressors stood in
// the graph at once: the depth of a chain of them. The graph keeps it as its
// site (Wine's graph crashes when the site is cleared); Finish stops it.
class SelectionGuard final : public IAMGraphBuilderCallback {
public:
    static ComPtr<SelectionGuard> Install(IGraphBuilder* graph, int limit) {
        ComPtr<IObjectWithSite> site;
        if (FAILED(graph->QueryInterface(IID_IObjectWithSite, site.PutVoid()))) return nullptr;
        auto guard = ComPtr<SelectionGuard>::Adopt(new SelectionGuard(graph, limit));
        return SUCCEEDED(site->SetSite(static_cast<IAMGraphBuilderCallback*>(guard.Get()))) ? guard : nullptr;
    }

    void Finish() { finished_ = true; }
    int Selected() const { return selected_; }
    int DeepestDecompressorChain() const { return deepest_; }
    const std::set<std::wstring>& Names() const { return names_; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IAMGraphBuilderCallback)) {
            *out = static_cast<IAMGraphBuilderCallback*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    STDMETHODIMP SelectedFilter(IMoniker* moniker) override {
        if (finished_) return S_OK;
        if (++selected_ > limit_) return E_ABORT;
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.PutVoid())))
            names_.insert(ReadBagString(bag.Get(), L"FriendlyName"));
        int decompressors = 0;
        for (auto& f : FiltersIn(graph_)) decompressors += HasClassId(f.Get(), CLSID_AVIDec) ? 1 : 0;
        deepest_ = std::max(deepest_, decompressors);
        return S_OK;
    }
    STDMETHODIMP CreatedFilter(IBaseFilter*) override { return S_OK; }

private:
    SelectionGuard(IGraphBuilder* graph, int limit) : graph_(graph), limit_(limit) {}

    std::atomic<ULONG> refs_{1};
    IGraphBuilder* graph_;  // not a reference: the graph holds the guard
    int limit_;
    bool finished_ = false;
    int selected_ = 0;
    int deepest_ = 0;
    std::set<std::wstring> names_;
};

std::wstring TempAviPath() {
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, dir) || !GetTempFileNameW(dir, L"fwc", 0, file)) return L"";
    DeleteFileW(file);
    return std::wstring(file) + L".avi";
}

// Runs `body` on a thread of its own and waits for it with a bound; a body
// still running then would hold the graph for hours, so the run ends there.
void RunBounded(const std::function<void()>& body, DWORD timeout_ms) {
    struct Call {
        const std::function<void()>* body;
        static DWORD WINAPI Run(void* arg) {
            (*static_cast<Call*>(arg)->body)();
            return 0;
        }
    } call{&body};
    HANDLE thread = CreateThread(nullptr, 0, &Call::Run, &call, 0, nullptr);
    ASSERT_TRUE(thread);
    if (WaitForSingleObject(thread, timeout_ms) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "graph building still running after %lu ms: ending the test run\n",
                     static_cast<unsigned long>(timeout_ms));
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(thread);
}

// The video stream of an AVI file: its format and its frames in file order.
struct AviVideo {
    bool has_format = false;
    BITMAPINFOHEADER format{};
    std::vector<std::vector<uint8_t>> frames;
};

bool ReadAviVideo(const std::wstring& path, AviVideo* video) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    const avi::ParsedAvi avi = avi::ParseAvi(bytes.data(), bytes.size());
    EXPECT_TRUE(avi.ok) << avi.error;
    const auto is_video = [](const avi::ParsedStream& s) { return s.type == mmioFOURCC('v', 'i', 'd', 's'); };
    const auto stream = std::find_if(avi.streams.begin(), avi.streams.end(), is_video);
    if (!avi.ok || stream == avi.streams.end() || stream->format.size() < sizeof(BITMAPINFOHEADER)) return false;
    std::memcpy(&video->format, stream->format.data(), sizeof(BITMAPINFOHEADER));
    video->has_format = true;
    for (const avi::ParsedChunk& c : avi.chunks) {
        const char kind = static_cast<char>(c.id >> 16), compressed = static_cast<char>(c.id >> 24);
        if (avi::StreamOfChunk(c.id) == stream - avi.streams.begin() && kind == 'd' && (compressed == 'c' || compressed == 'b'))
            video->frames.emplace_back(bytes.begin() + c.offset + 8, bytes.begin() + c.offset + 8 + c.size);
    }
    return true;
}

TEST(CompressorPath, TheCardRecordsThroughTheTestCodecIntoAFileThatDecodesBack) {
    ComApartment com;
    ASSERT_TRUE(SUCCEEDED(com.Result()));
    const std::wstring path = TempAviPath();
    Chain chain;
    ASSERT_EQ(chain.Build([](const DeviceEntry& d) { return d.friendly_name == kTestCodec; }, path), S_OK);
    ComPtr<SelectionGuard> guard = SelectionGuard::Install(chain.graph.Get(), 0);
    ASSERT_TRUE(guard);
    ASSERT_EQ(chain.RenderCapture(), S_OK);
    EXPECT_EQ(guard->Selected(), 0) << "the codec takes the card's UYVY as it is";
    guard->Finish();
    // Card, codec, multiplexer and writer, nothing in between.
    EXPECT_EQ(FiltersIn(chain.graph.Get()).size(), 4u);
    EXPECT_TRUE(SameObject(FilterOf(PeerOf(chain.capture.Get()).Get()).Get(), chain.compressor.Get()));
    ComPtr<IPin> coded;
    ASSERT_EQ(FindMatchingPin(chain.compressor.Get(), PINDIR_OUTPUT, nullptr, nullptr, false, 0, &coded), S_OK);
    EXPECT_TRUE(SameObject(FilterOf(PeerOf(coded.Get()).Get()).Get(), chain.mux.Get()));
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(coded->ConnectionMediaType(&mt), S_OK);
    ASSERT_TRUE(IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.pbFormat);
    const BITMAPINFOHEADER coded_format = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    testbed::FreeMediaType(&mt);
    EXPECT_EQ(coded_format.biCompression, kFwrl);

    ComPtr<IMediaControl> control;
    ComPtr<IAMDroppedFrames> counters;
    ASSERT_EQ(chain.graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
    ASSERT_EQ(chain.card->QueryInterface(IID_IAMDroppedFrames, counters.PutVoid()), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    long kept = 0;
    EXPECT_TRUE(WaitFor([&] { return SUCCEEDED(counters->GetNumNotDropped(&kept)) && kept >= 30; }, 60000));
    ASSERT_TRUE(SUCCEEDED(control->Stop()));
    ASSERT_EQ(counters->GetNumNotDropped(&kept), S_OK);
    control.Reset();
    counters.Reset();
    coded.Reset();
    chain.TearDown();  // the writer closes the file once the multiplexer lets go of it

    AviVideo video;
    ASSERT_TRUE(ReadAviVideo(path, &video));
    EXPECT_EQ(video.format.biCompression, kFwrl);
    EXPECT_EQ(video.format.biBitCount, 16) << "UYVY pictures";
    EXPECT_EQ(video.format.biWidth, 1280);
    EXPECT_EQ(video.format.biHeight, 720);
    EXPECT_EQ(static_cast<long>(video.frames.size()), kept) << "every frame the card delivered is in the file";
    ASSERT_FALSE(video.frames.empty());

    // Each frame decodes, through whatever decompressor the system finds for
    // the format, to the card's picture of a later frame than the one before.
    BITMAPINFOHEADER in = video.format;
    BITMAPINFOHEADER out = {sizeof(BITMAPINFOHEADER), 1280, 720, 1, 32, BI_RGB, 1280 * 720 * 4, 0, 0, 0, 0};
    HIC hic = ICLocate(ICTYPE_VIDEO, 0, &in, &out, ICMODE_DECOMPRESS);
    ASSERT_TRUE(hic);
    ASSERT_EQ(ICDecompressBegin(hic, &in, &out), ICERR_OK);
    std::vector<uint8_t> rgb(out.biSizeImage);
    const testcard::FrameLayout layout{testcard::PixelFormat::kRgb32, 1280, 720, true};
    uint32_t previous = 0;
    size_t largest = 0;
    for (size_t i = 0; i < video.frames.size(); ++i) {
        auto& frame = video.frames[i];
        in.biSizeImage = static_cast<DWORD>(frame.size());
        largest = std::max(largest, frame.size());
        ASSERT_EQ(ICDecompress(hic, 0, &in, frame.data(), &out, rgb.data()), static_cast<DWORD>(ICERR_OK)) << i;
        uint32_t number = 0;
        ASSERT_TRUE(testcard::ReadFrameNumber(rgb.data(), layout, 1280 * 4, &number)) << "frame " << i;
        if (i > 0) {
            EXPECT_GT(number, previous) << "frame " << i;
        }
        previous = number;
    }
    ICDecompressEnd(hic);
    ICClose(hic);
    EXPECT_LT(largest, 1280u * 720u * 2u / 10u) << "the card's picture is mostly long runs";
    std::printf("recorded %lu FWRL frames, the largest %lu bytes (UYVY: %u)\n",
                static_cast<unsigned long>(video.frames.size()), static_cast<unsigned long>(largest),
                1280u * 720u * 2u);
    DeleteFileW(path.c_str());
}

// None of Wine's own video compressors takes the card's UYVY, RGB24 or RGB32
// (Cinepak compresses nothing). Intelligent connect then looks for a way
// through: the AVI Decompressor takes the card's UYVY (the testbed's
// decoder), another AVI Decompressor takes its RGB output (Wine's RLE driver
// accepts uncompressed RGB), the Color Space Converter any RGB, and so on to a
// depth of five, asking the registry once per media type each pin offers,
// while the AVI Mux already in the graph grows an input pin for every
// connection tried. Unguarded, that ran for more than nine minutes. The guard
// ends it after 40 registered filters.
TEST(PlatformCompressorProbe, ACodecThatCannotCompressSendsIntelligentConnectSearching) {
    const int kLimit = 40;
    struct Outcome {
        HRESULT build = E_FAIL;
        bool found = false, compresses = false, guarded = false;
        DeviceEntry codec;
        HRESULT connect = S_OK, render = S_OK;
        int connect_selected = 0, render_selected = 0, deepest = 0;
        std::set<std::wstring> names;
        size_t filters_after = 0;
    } o;
    RunBounded(
        [&] {
            ComApartment com;
            const std::wstring path = TempAviPath();
            Chain chain;
            auto platform_codec = [](const DeviceEntry& d) { return _wcsicmp(d.fcc_handler.c_str(), L"uyvy") != 0; };
            o.build = chain.Build(platform_codec, path);
            o.found = static_cast<bool>(chain.compressor);
            o.codec = chain.codec;
            if (o.found) {
                const DWORD fcc = mmioFOURCC(o.codec.fcc_handler[0], o.codec.fcc_handler[1],
                                             o.codec.fcc_handler[2], o.codec.fcc_handler[3]);
                if (HIC hic = ICOpen(ICTYPE_VIDEO, fcc, ICMODE_COMPRESS)) {
                    BITMAPINFOHEADER inputs[] = {
                        {sizeof(BITMAPINFOHEADER), 1280, 720, 1, 16, mmioFOURCC('U', 'Y', 'V', 'Y'), 1280 * 720 * 2,
                         0, 0, 0, 0},
                        {sizeof(BITMAPINFOHEADER), 1280, 720, 1, 24, BI_RGB, 1280 * 720 * 3, 0, 0, 0, 0},
                        {sizeof(BITMAPINFOHEADER), 1280, 720, 1, 32, BI_RGB, 1280 * 720 * 4, 0, 0, 0, 0}};
                    for (auto& in : inputs) o.compresses |= ICCompressQuery(hic, &in, nullptr) == ICERR_OK;
                    ICClose(hic);
                }
            }
            if (FAILED(o.build) || o.compresses) {
                chain.TearDown();
                return;
            }
            ComPtr<SelectionGuard> guard = SelectionGuard::Install(chain.graph.Get(), kLimit);
            o.guarded = static_cast<bool>(guard);
            if (!o.guarded) {
                chain.TearDown();
                return;
            }
            o.connect = chain.ConnectCaptureToCompressor();
            o.connect_selected = guard->Selected();
            o.deepest = guard->DeepestDecompressorChain();
            o.names = guard->Names();
            guard->Finish();
            guard = SelectionGuard::Install(chain.graph.Get(), kLimit);
            o.render = chain.RenderCapture();
            o.render_selected = guard->Selected();
            guard->Finish();
            o.filters_after = FiltersIn(chain.graph.Get()).size();
            chain.TearDown();
        },
        120000);
    ASSERT_TRUE(o.found) << "no compressor of the platform's own is listed";
    if (o.compresses) {
        GTEST_SKIP() << "the platform's first compressor compresses now; nothing loops";
    }
    ASSERT_EQ(o.build, S_OK);
    ASSERT_TRUE(o.guarded);
    std::printf("%ls: Connect 0x%08lx after %d registered filters picked, RenderStream 0x%08lx after %d; "
                "up to %d AVI Decompressors chained\n",
                o.codec.friendly_name.c_str(), static_cast<unsigned long>(o.connect), o.connect_selected,
                static_cast<unsigned long>(o.render), o.render_selected, o.deepest);
    EXPECT_EQ(o.connect, VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(o.render, VFW_E_CANNOT_CONNECT);
    EXPECT_GT(o.connect_selected, kLimit) << "the search wanted more registered filters than the guard allowed";
    EXPECT_GT(o.render_selected, kLimit);
    EXPECT_GE(o.deepest, 3) << "AVI Decompressors chained behind each other";
    const std::set<std::wstring> expected = {L"AVI Decompressor", L"Color Space Converter"};
    EXPECT_TRUE(std::includes(expected.begin(), expected.end(), o.names.begin(), o.names.end()))
        << "another registered filter joined the search";
    EXPECT_EQ(o.filters_after, 4u) << "every filter tried was taken out again";
}

// Wine's own AVI Mux (bypassing any stand-in): each connection to its free
// input pin adds another, and a disconnected pin stays (up to 127 inputs). A
// multiplexer in the graph therefore offers intelligent connect a new pin at
// every try.
TEST(PlatformCompressorProbe, WinesAviMuxKeepsAnInputPinForEveryConnectionItHad) {
    ComApartment com;
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(PlatformClassObject(L"qcap.dll", CLSID_AviDest, &factory), S_OK);
    ComPtr<IBaseFilter> mux;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, mux.PutVoid()), S_OK);
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph), S_OK);
    ASSERT_EQ(graph->AddFilter(mux.Get(), L"AVI Mux"), S_OK);
    // Its output goes to a writer first, as SetOutputFileName leaves it: the
    // multiplexer has no allocator to give an input otherwise.
    ComPtr<IBaseFilter> writer = AddNewFilter(graph.Get(), CLSID_FileWriter, L"File Writer");
    ASSERT_TRUE(writer);
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()), S_OK);
    const std::wstring path = TempAviPath();
    ASSERT_EQ(sink->SetFileName(path.c_str(), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(PinAt(mux.Get(), PINDIR_OUTPUT, 0).Get(), PinAt(writer.Get(), PINDIR_INPUT, 0).Get(),
                                   nullptr),
              S_OK);
    const testbed::MediaType type = VideoInfoType(MEDIASUBTYPE_RGB32, 64, 36, 32, BI_RGB, 166833);
    auto* source = new PushSource(type, type->lSampleSize);
    ASSERT_EQ(graph->AddFilter(source, L"Source"), S_OK);
    auto inputs = [&] {
        int n = 0;
        for (auto& pin : PinsOf(mux.Get())) n += HasDirection(pin.Get(), PINDIR_INPUT) ? 1 : 0;
        return n;
    };
    EXPECT_EQ(inputs(), 1);
    for (int i = 1; i <= 4; ++i) {
        // The newest free pin, as a pin enumeration meets it (Wine's mux
        // crashes when a pin it disconnected is connected again).
        ComPtr<IPin> free;
        for (auto& pin : PinsOf(mux.Get()))
            if (HasDirection(pin.Get(), PINDIR_INPUT) && !IsConnected(pin.Get())) free = pin;
        ASSERT_TRUE(free);
        ASSERT_EQ(graph->ConnectDirect(source->Output(), free.Get(), nullptr), S_OK) << i;
        EXPECT_EQ(graph->Disconnect(source->Output()), S_OK);
        EXPECT_EQ(graph->Disconnect(free.Get()), S_OK);
        EXPECT_EQ(inputs(), 1 + i) << "after " << i << " connections";
    }
    for (auto& f : FiltersIn(graph.Get())) graph->RemoveFilter(f.Get());
    sink.Reset();
    writer.Reset();
    graph.Reset();
    mux.Reset();
    EXPECT_EQ(source->Release(), 0u);
    DeleteFileW(path.c_str());
}

}  // namespace
}  // namespace fernwood::test
