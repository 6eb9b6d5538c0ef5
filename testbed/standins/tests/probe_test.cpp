// What the bare platform (Wine) offers and lacks, checked directly against
// its own DLLs where a stand-in replaces the piece in the test prefix.
#include "testbed/tests_support/test_support.h"
#include "testbed/tests_support/stream_filters.h"

#include <gtest/gtest.h>

#include <dshow.h>
#include <vfw.h>
#include <d3d9.h>
#include <vmr9.h>

#include <algorithm>
#include <cwctype>
#include <string>

namespace fernwood::test {
namespace {

std::wstring ClsidText(const CLSID& clsid) {
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    return text;
}

bool SameText(std::wstring a, std::wstring b) {
    auto lower = [](std::wstring& s) { std::transform(s.begin(), s.end(), s.begin(), ::towlower); };
    lower(a);
    lower(b);
    return a == b;
}

class PlatformProbe : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(com_.Result())); }
    ComApartment com_;
};

TEST_F(PlatformProbe, OffersNoCaptureDeviceOfItsOwn) {
    // Wine's own capture filters are the V4L-backed VfW capture and the
    // waveIn recorder; the test card registers under other CLSIDs.
    for (const auto& d : DevicesIn(CLSID_VideoInputDeviceCategory))
        EXPECT_FALSE(SameText(d.clsid, ClsidText(CLSID_VfwCapture))) << d.friendly_name.c_str();
    wchar_t name[80], version[80];
    for (WORD i = 0; i < 10; ++i) EXPECT_FALSE(capGetDriverDescriptionW(i, name, 80, version, 80)) << i;
    for (const auto& d : DevicesIn(CLSID_AudioInputDeviceCategory))
        EXPECT_FALSE(SameText(d.clsid, ClsidText(CLSID_AudioRecord))) << d.friendly_name.c_str();
}

TEST_F(PlatformProbe, HasNoColourSpaceConverterOrInfinitePinTee) {
    for (const wchar_t* dll : {L"quartz.dll", L"qcap.dll"}) {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(PlatformClassObject(dll, CLSID_Colour, &factory), CLASS_E_CLASSNOTAVAILABLE) << dll;
        EXPECT_EQ(PlatformClassObject(dll, CLSID_InfTee, &factory), CLASS_E_CLASSNOTAVAILABLE) << dll;
    }
}

TEST_F(PlatformProbe, HasNoVideoForWindowsDecoderForUyvy) {
    // Every installed vidc driver but the testbed's own refuses UYVY input.
    BITMAPINFOHEADER uyvy = {sizeof(uyvy), 1280, 720, 1, 16, mmioFOURCC('U', 'Y', 'V', 'Y'), 1280 * 720 * 2,
                             0, 0, 0, 0};
    ICINFO info;
    int drivers = 0;
    for (DWORD i = 0; ICInfo(ICTYPE_VIDEO, i, &info); ++i) {
        if (info.fccHandler == mmioFOURCC('U', 'Y', 'V', 'Y') || info.fccHandler == mmioFOURCC('u', 'y', 'v', 'y'))
            continue;
        ++drivers;
        HIC hic = ICOpen(ICTYPE_VIDEO, info.fccHandler, ICMODE_DECOMPRESS);
        if (!hic) continue;
        EXPECT_NE(ICDecompressQuery(hic, &uyvy, nullptr), ICERR_OK) << std::hex << info.fccHandler;
        ICClose(hic);
    }
    EXPECT_GT(drivers, 0);
}

TEST_F(PlatformProbe, CaptureGraphBuilderLacksOutputFileAndOwnGraph) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(PlatformClassObject(L"qcap.dll", CLSID_CaptureGraphBuilder2, &factory), S_OK);
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ICaptureGraphBuilder2, builder.PutVoid()), S_OK);
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    EXPECT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, L"C:\\probe.avi", mux.Put(), sink.Put()), E_NOTIMPL);
    // Without SetFiltergraph it does not make a graph of its own.
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(builder->GetFiltergraph(graph.Put()), E_UNEXPECTED);
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(Create(kClsidNullRenderer, IID_IBaseFilter, &renderer), S_OK);
    EXPECT_EQ(builder->RenderStream(nullptr, nullptr, renderer.Get(), nullptr, renderer.Get()), E_UNEXPECTED);
}

TEST_F(PlatformProbe, FileWriterOffersTheAviMuxNoStream) {
    // The AVI Mux writes its file through IStream on the writer's input pin.
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(PlatformClassObject(L"qcap.dll", CLSID_FileWriter, &factory), S_OK);
    ComPtr<IBaseFilter> writer;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, writer.PutVoid()), S_OK);
    ComPtr<IPin> input = PinAt(writer.Get(), PINDIR_INPUT, 0);
    ASSERT_TRUE(input);
    ComPtr<IStream> stream;
    EXPECT_EQ(input->QueryInterface(IID_IStream, stream.PutVoid()), E_NOINTERFACE);
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(writer->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()), S_OK);
    LPOLESTR name = nullptr;
    EXPECT_EQ(sink->GetCurFile(&name, nullptr), E_NOTIMPL);
}

TEST_F(PlatformProbe, AviMuxRefusesAudioInput) {
    // So recordings under Wine would carry no sound without the stand-in.
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(PlatformClassObject(L"qcap.dll", CLSID_AviDest, &factory), S_OK);
    ComPtr<IBaseFilter> mux;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, mux.PutVoid()), S_OK);
    ComPtr<IPin> input = PinAt(mux.Get(), PINDIR_INPUT, 0);
    ASSERT_TRUE(input);
    const testbed::MediaType pcm = PcmType(48000, 2);
    auto* source = new PushSource(pcm, 1920);
    auto source_filter = ComPtr<IBaseFilter>::Adopt(source);
    EXPECT_EQ(input->ReceiveConnection(source->Output(), &pcm.Get()), E_NOTIMPL);
    ComPtr<IPin> peer;
    EXPECT_EQ(input->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
    // Video it takes.
    const testbed::MediaType rgb = RgbVideoType(MEDIASUBTYPE_RGB24, 32, 32);
    auto* video = new PushSource(rgb, 32 * 32 * 3);
    auto video_filter = ComPtr<IBaseFilter>::Adopt(video);
    EXPECT_EQ(input->ReceiveConnection(video->Output(), &rgb.Get()), S_OK);
    EXPECT_EQ(input->Disconnect(), S_OK);
}

TEST_F(PlatformProbe, DirectSoundRendererNeitherSlavesNorClocksByItsDevice) {
    // Wine 8's renderer offers no IAMClockSlave (so it has no tolerance to
    // match rates within, and nothing to report about it, nor
    // IAMFilterMiscFlags to say it renders), and its clock is
    // the system clock under another name: it reads what a system clock
    // reads whatever its device plays, so as the graph's clock it can never
    // show sound drifting away from its device.
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(PlatformClassObject(L"quartz.dll", CLSID_DSoundRender, &factory), S_OK);
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, renderer.PutVoid()), S_OK);
    ExpectInterfaces(renderer.Get(), {&IID_IBasicAudio, &IID_IReferenceClock},
                     {&IID_IAMClockSlave, &IID_IAMAudioRendererStats, &IID_IAMFilterMiscFlags},
                     "Wine's DirectSound renderer");
    ComPtr<IReferenceClock> clock, system;
    ASSERT_EQ(renderer->QueryInterface(IID_IReferenceClock, clock.PutVoid()), S_OK);
    ASSERT_EQ(Create(CLSID_SystemClock, IID_IReferenceClock, &system), S_OK);
    for (int i = 0; i < 3; ++i) {
        REFERENCE_TIME before = 0, own = 0, after = 0;
        ASSERT_TRUE(SUCCEEDED(system->GetTime(&before)));
        ASSERT_TRUE(SUCCEEDED(clock->GetTime(&own)));
        ASSERT_TRUE(SUCCEEDED(system->GetTime(&after)));
        EXPECT_GE(own, before - 10000) << i;
        EXPECT_LE(own, after + 10000) << i;
        // Some time on, a few times over.
        EXPECT_TRUE(WaitFor([&] {
            REFERENCE_TIME t = 0;
            return SUCCEEDED(system->GetTime(&t)) && t > after + 500000;
        }));
    }
}

TEST_F(PlatformProbe, Vmr9HasNoQualProp) {
    ComPtr<IBaseFilter> vmr9;
    ASSERT_EQ(Create(CLSID_VideoMixingRenderer9, IID_IBaseFilter, &vmr9), S_OK);
    ComPtr<IQualProp> qual;
    EXPECT_EQ(vmr9->QueryInterface(IID_IQualProp, qual.PutVoid()), E_NOINTERFACE);
}

TEST_F(PlatformProbe, CreatesTheFiltersTheViewerUses) {
    const CLSID* present[] = {&CLSID_FilterGraph, &CLSID_AVIDec,      &kClsidSampleGrabber, &kClsidNullRenderer,
                              &CLSID_AviDest,     &CLSID_FileWriter,  &CLSID_SmartTee,      &CLSID_DSoundRender,
                              &CLSID_VideoMixingRenderer9, &CLSID_VideoMixingRenderer};
    for (const CLSID* clsid : present) {
        ComPtr<IUnknown> object;
        EXPECT_EQ(Create(*clsid, IID_IUnknown, &object), S_OK) << ClsidText(*clsid).c_str();
    }
    ComPtr<ICreateDevEnum> devices;
    EXPECT_EQ(Create(CLSID_SystemDeviceEnum, IID_ICreateDevEnum, &devices), S_OK);
}

TEST_F(PlatformProbe, RunsBothMixingRenderersWindowless) {
    HWND window = CreateTestWindow();
    ASSERT_TRUE(window);
    ComPtr<IBaseFilter> vmr9, vmr7;
    ASSERT_EQ(Create(CLSID_VideoMixingRenderer9, IID_IBaseFilter, &vmr9), S_OK);
    ComPtr<IVMRFilterConfig9> config9;
    ComPtr<IVMRWindowlessControl9> windowless9;
    ASSERT_EQ(vmr9->QueryInterface(IID_IVMRFilterConfig9, config9.PutVoid()), S_OK);
    EXPECT_EQ(config9->SetRenderingMode(VMR9Mode_Windowless), S_OK);
    ASSERT_EQ(vmr9->QueryInterface(IID_IVMRWindowlessControl9, windowless9.PutVoid()), S_OK);
    EXPECT_EQ(windowless9->SetVideoClippingWindow(window), S_OK);

    ASSERT_EQ(Create(CLSID_VideoMixingRenderer, IID_IBaseFilter, &vmr7), S_OK);
    ComPtr<IVMRFilterConfig> config7;
    ComPtr<IVMRWindowlessControl> windowless7;
    ASSERT_EQ(vmr7->QueryInterface(IID_IVMRFilterConfig, config7.PutVoid()), S_OK);
    EXPECT_EQ(config7->SetRenderingMode(VMRMode_Windowless), S_OK);
    ASSERT_EQ(vmr7->QueryInterface(IID_IVMRWindowlessControl, windowless7.PutVoid()), S_OK);
    EXPECT_EQ(windowless7->SetVideoClippingWindow(window), S_OK);
    windowless9.Reset();
    windowless7.Reset();
    DestroyWindow(window);
}

TEST_F(PlatformProbe, ListsThreeVideoCompressorsOfItsOwn) {
    int own = 0;
    for (const auto& d : DevicesIn(CLSID_VideoCompressorCategory)) {
        if (SameText(d.fcc_handler, L"uyvy")) continue;  // the testbed's decoder
        ++own;
    }
    EXPECT_EQ(own, 3);
}

}  // namespace
}  // namespace fernwood::test
