// The File Writer stand-in as the prefix serves it for CLSID_FileWriter.
#include "dshow_util.h"
#include "testbed/tests_support/test_support.h"
#include "testbed/tests_support/stream_filters.h"

#include <gtest/gtest.h>

#include <dshow.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fernwood::test {
namespace {

std::wstring TempFile() {
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, dir) || !GetTempFileNameW(dir, L"fww", 0, file)) return L"";
    return file;
}

std::string Contents(const std::wstring& path) {
    std::string text;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return "<missing>";
    char buf[64];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
    return text;
}

TEST(FileWriter, IsTheStandInWithItsInterfacesAndFileName) {
    ComApartment com;
    ASSERT_TRUE(ServedByStandins(CLSID_FileWriter));

    ComPtr<IBaseFilter> writer;
    ASSERT_EQ(Create(CLSID_FileWriter, IID_IBaseFilter, &writer), S_OK);
    EXPECT_EQ(RefCount(writer.Get()), 1u);
    EXPECT_TRUE(HasClassId(writer.Get(), CLSID_FileWriter));
    ComPtr<IFileSinkFilter> sink;
    ComPtr<IAMFilterMiscFlags> flags;
    ASSERT_EQ(writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()), S_OK);
    ASSERT_EQ(writer->QueryInterface(IID_IAMFilterMiscFlags, flags.PutVoid()), S_OK);
    EXPECT_EQ(flags->GetMiscFlags(), static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_RENDERER));
    ComPtr<IUnknown> absent;
    EXPECT_EQ(writer->QueryInterface(IID_IMediaSeeking, absent.PutVoid()), E_NOINTERFACE);
    EXPECT_EQ(RefCount(writer.Get()), 3u);

    LPOLESTR name = nullptr;
    EXPECT_EQ(sink->GetCurFile(&name, nullptr), E_FAIL);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(sink->SetFileName(nullptr, nullptr), E_POINTER);
    ASSERT_EQ(sink->SetFileName(L"C:\\recordings\\take.avi", nullptr), S_OK);
    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(sink->GetCurFile(&name, &mt), S_OK);
    EXPECT_STREQ(name, L"C:\\recordings\\take.avi");
    EXPECT_TRUE(IsEqualGUID(mt.majortype, MEDIATYPE_Stream));
    CoTaskMemFree(name);
    testbed::FreeMediaType(&mt);

    // One input pin, taking a byte stream, written through IStream or samples.
    ComPtr<IPin> input = PinAt(writer.Get(), PINDIR_INPUT, 0);
    ASSERT_TRUE(input);
    EXPECT_FALSE(PinAt(writer.Get(), PINDIR_INPUT, 1));
    EXPECT_FALSE(PinAt(writer.Get(), PINDIR_OUTPUT, 0));
    ComPtr<IStream> stream;
    ComPtr<IMemInputPin> memory;
    ASSERT_EQ(input->QueryInterface(IID_IStream, stream.PutVoid()), S_OK);
    ASSERT_EQ(input->QueryInterface(IID_IMemInputPin, memory.PutVoid()), S_OK);
    EXPECT_TRUE(SameObject(stream.Get(), input.Get()));
    AM_MEDIA_TYPE bytes_type{}, video_type{};
    bytes_type.majortype = MEDIATYPE_Stream;
    video_type.majortype = MEDIATYPE_Video;
    EXPECT_EQ(input->QueryAccept(&bytes_type), S_OK);
    EXPECT_EQ(input->QueryAccept(&video_type), S_FALSE);
    // Without an open file there is nowhere to write.
    ULONG written = 1;
    EXPECT_TRUE(FAILED(stream->Write("x", 1, &written)));
    EXPECT_EQ(written, 0u);

    stream.Reset();
    memory.Reset();
    input.Reset();
    sink.Reset();
    flags.Reset();
    EXPECT_EQ(writer->Release(), 0u);
    writer.Detach();
}

TEST(FileWriter, LeavesItsFileAloneWhileUnconnected) {
    ComApartment com;
    const std::wstring path = TempFile();
    ASSERT_FALSE(path.empty());
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    fputs("an earlier recording", f);
    fclose(f);

    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph), S_OK);
    ComPtr<IBaseFilter> writer = AddNewFilter(graph.Get(), CLSID_FileWriter, L"Old writer");
    ASSERT_TRUE(writer);
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()), S_OK);
    ASSERT_EQ(sink->SetFileName(path.c_str(), nullptr), S_OK);
    ComPtr<IMediaControl> control;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
    EXPECT_TRUE(SUCCEEDED(control->Run()));
    FILTER_STATE state = State_Stopped;
    EXPECT_TRUE(WaitFor([&] { return writer->GetState(0, &state) == S_OK && state == State_Running; }));
    EXPECT_TRUE(SUCCEEDED(control->Stop()));
    EXPECT_EQ(Contents(path), "an earlier recording");
    DeleteFileW(path.c_str());
}

// FailAfterBytes for the writers created while it lives; gone afterwards.
class DiskLimit {
public:
    DiskLimit(DWORD type, uint64_t bytes) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"FailAfterBytes", type, &bytes,
                        type == REG_QWORD ? sizeof(uint64_t) : sizeof(DWORD));
    }
    ~DiskLimit() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"FailAfterBytes"); }

private:
    static constexpr const wchar_t* kKey = L"Software\\FernwoodTestbed\\FileWriter";
};

testbed::MediaType ByteStreamType() {
    testbed::MediaType mt;
    mt->majortype = MEDIATYPE_Stream;
    mt->subtype = MEDIASUBTYPE_Avi;
    mt->formattype = FORMAT_None;
    mt->lSampleSize = 1;
    return mt;
}

// A writer of path fed by a push source of bytes, in a graph of its own.
struct WriterGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ComPtr<IBaseFilter> writer, source_filter;
    ComPtr<IPin> input;

    explicit WriterGraph(const std::wstring& path) {
        Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph);
        graph->QueryInterface(IID_IMediaControl, control.PutVoid());
        graph->QueryInterface(IID_IMediaEvent, events.PutVoid());
        writer = AddNewFilter(graph.Get(), CLSID_FileWriter, L"File Writer");
        ComPtr<IFileSinkFilter> sink;
        if (!writer || FAILED(writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()))) return;
        sink->SetFileName(path.c_str(), nullptr);
        auto* source = new PushSource(ByteStreamType(), 64);
        source_filter = ComPtr<IBaseFilter>::Adopt(source);
        graph->AddFilter(source_filter.Get(), L"bytes");
        input = PinAt(writer.Get(), PINDIR_INPUT, 0);
        graph->ConnectDirect(source->Output(), input.Get(), nullptr);
    }
    // How many EC_COMPLETE events are waiting; the queue is emptied.
    int Completions() {
        long code = 0;
        LONG_PTR first = 0, second = 0;
        int count = 0;
        while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
            count += code == EC_COMPLETE;
            events->FreeEventParams(code, first, second);
        }
        return count;
    }
    // How many EC_COMPLETE events came before a marker posted now, or -1 if
    // the marker never comes. The writer notifies within EndOfStream and
    // Run, so a completion they should have held back would be ahead of it.
    int CompletionsBeforeMarker() {
        ComPtr<IMediaEventSink> sink;
        if (FAILED(graph->QueryInterface(IID_IMediaEventSink, sink.PutVoid())) ||
            FAILED(sink->Notify(EC_USER, 0x4D4B, 0)))
            return -1;
        int count = 0;
        long code = 0;
        LONG_PTR first = 0, second = 0;
        while (events->GetEvent(&code, &first, &second, 15000) == S_OK) {
            const bool marker = code == EC_USER && first == 0x4D4B;
            count += code == EC_COMPLETE;
            events->FreeEventParams(code, first, second);
            if (marker) return count;
        }
        return -1;
    }
    void TearDown() {
        control->Stop();
        input.Reset();
        for (auto& f : FiltersIn(graph.Get())) graph->RemoveFilter(f.Get());
        control.Reset();
        events.Reset();
        EXPECT_EQ(graph.Detach()->Release(), 0u);
        EXPECT_EQ(source_filter.Detach()->Release(), 0u);
        EXPECT_EQ(writer.Detach()->Release(), 0u);
    }
};

TEST(FileWriter, EndOfStreamCompletesOnlyOnceTheGraphRuns) {
    ComApartment com;
    const std::wstring path = TempFile();
    WriterGraph g(path);
    ASSERT_TRUE(g.writer && IsConnected(g.input.Get()));

    // Paused: the end waits for Run, and is signalled once.
    int seen = 0;
    auto completed = [&](int count, DWORD timeout_ms) {
        return WaitFor([&] { return (seen += g.Completions()) >= count; }, timeout_ms);
    };
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    ASSERT_EQ(g.input->EndOfStream(), S_OK);
    EXPECT_EQ(g.CompletionsBeforeMarker(), 0);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    EXPECT_TRUE(completed(1, 15000));
    EXPECT_EQ(g.CompletionsBeforeMarker(), 0);

    // Stopped: the end is dropped; a flush while paused drops it too.
    ASSERT_TRUE(SUCCEEDED(g.control->Stop()));
    seen = 0;
    ASSERT_EQ(g.input->EndOfStream(), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));
    ASSERT_EQ(g.input->EndOfStream(), S_OK);
    ASSERT_EQ(g.input->BeginFlush(), S_OK);
    ASSERT_EQ(g.input->EndFlush(), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    ASSERT_TRUE(WaitFor([&] {
        FILTER_STATE state = State_Stopped;
        return g.writer->GetState(0, &state) == S_OK && state == State_Running;
    }));
    EXPECT_EQ(g.CompletionsBeforeMarker(), 0);

    // Running: at once.
    ASSERT_EQ(g.input->EndOfStream(), S_OK);
    EXPECT_TRUE(completed(1, 15000));
    g.TearDown();
    DeleteFileW(path.c_str());
}

// A full disk takes the bytes below its limit, anywhere in the file, and
// refuses the rest with ERROR_DISK_FULL.
TEST(FileWriter, AFullDiskWritesUpToItsLimitAndFailsWithDiskFull) {
    ComApartment com;
    const std::wstring path = TempFile();
    DiskLimit limit(REG_DWORD, 10);
    WriterGraph g(path);
    ASSERT_TRUE(g.writer && IsConnected(g.input.Get()));
    ComPtr<IStream> stream;
    ASSERT_EQ(g.input->QueryInterface(IID_IStream, stream.PutVoid()), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Pause()));

    ULONG written = 0;
    EXPECT_EQ(stream->Write("abcdef", 6, &written), S_OK);
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(stream->Write("ghijkl", 6, &written), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(stream->Write("m", 1, &written), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_EQ(written, 0u);
    LARGE_INTEGER start = {};
    ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(stream->Write("ABC", 3, &written), S_OK);

    stream.Reset();
    g.TearDown();
    EXPECT_EQ(Contents(path), "ABCdefghij");
    DeleteFileW(path.c_str());
}

// The recording chain as the capture graph builder makes it, on a disk that
// fills up: the multiplexer's write fails, the graph aborts with the disk's
// error, and the file holds what fitted.
TEST(FileWriter, ARecordingOntoAFullDiskAbortsWithDiskFullAndKeepsWhatFitted) {
    ComApartment com;
    const std::wstring path = TempFile();
    const uint64_t room = 40000;
    DiskLimit limit(REG_QWORD, room);
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph), S_OK);
    ASSERT_EQ(Create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, &builder), S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    ComPtr<IBaseFilter> mux;
    ASSERT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, path.c_str(), mux.Put(), nullptr), S_OK);
    auto* video = new PushSource(RgbVideoType(MEDIASUBTYPE_RGB32, 64, 48), 64 * 48 * 4);
    auto video_filter = ComPtr<IBaseFilter>::Adopt(video);
    ASSERT_EQ(graph->AddFilter(video_filter.Get(), L"video"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(video->Output(), PinAt(mux.Get(), PINDIR_INPUT, 0).Get(), nullptr), S_OK);
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEvent, events.PutVoid()), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));

    std::vector<uint8_t> frame(64 * 48 * 4);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 13 + 1);
    HRESULT hr = S_OK;
    int pushed = 0;
    for (; pushed < 100 && hr == S_OK; ++pushed)
        hr = video->Push(frame.data(), frame.size(), pushed * 333667LL, (pushed + 1) * 333667LL);
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_LT(pushed, 5);

    long code = 0;
    LONG_PTR first = 0, second = 0;
    bool aborted = false;
    EXPECT_TRUE(WaitFor([&] {
        while (!aborted && events->GetEvent(&code, &first, &second, 0) == S_OK) {
            aborted = code == EC_ERRORABORT;
            if (aborted) {
                EXPECT_EQ(static_cast<HRESULT>(first), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
            }
            events->FreeEventParams(code, first, second);
        }
        return aborted;
    }));
    ASSERT_TRUE(SUCCEEDED(control->Stop()));
    control.Reset();
    events.Reset();
    mux.Reset();
    builder.Reset();
    for (auto& f : FiltersIn(graph.Get())) graph->RemoveFilter(f.Get());
    EXPECT_EQ(graph.Detach()->Release(), 0u);
    EXPECT_EQ(video_filter.Detach()->Release(), 0u);

    // The file is the disk's worth: the header's room, still zeros (the
    // multiplexer never reached its stop), then whole frames.
    const std::string file = Contents(path);
    DeleteFileW(path.c_str());
    ASSERT_EQ(file.size(), room);
    EXPECT_EQ(file.substr(0, 2048), std::string(2048, '\0'));
    const std::string picture(frame.begin(), frame.end());
    const size_t at = file.find(picture);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(file.substr(at - 8, 4), "00db");
    EXPECT_NE(file.find(picture, at + picture.size()), std::string::npos);
}

}  // namespace
}  // namespace fernwood::test
