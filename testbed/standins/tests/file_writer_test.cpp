// The File Writer stand-in as the prefix serves it for CLSID_FileWriter.
#include "dshow_util.h"
#include "test_graph.h"

#include <gtest/gtest.h>

#include <dshow.h>

#include <cstdio>
#include <cwchar>
#include <string>

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
    wchar_t server[MAX_PATH] = {};
    DWORD bytes = sizeof server - sizeof(wchar_t);
    ASSERT_EQ(RegGetValueW(HKEY_CLASSES_ROOT, L"CLSID\\{8596E5F0-0DA5-11D0-BD21-00A0C911CE86}\\InprocServer32",
                           nullptr, RRF_RT_REG_SZ, nullptr, server, &bytes),
              ERROR_SUCCESS);
    EXPECT_NE(wcsstr(server, L"fernwood_standins.dll"), nullptr);

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
    FreeMediaTypeContents(mt);

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

}  // namespace
}  // namespace fernwood::test
