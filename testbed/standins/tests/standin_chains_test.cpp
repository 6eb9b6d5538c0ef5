// The two stand-ins in the chains the viewer builds with them: the converter
// before the Sample Grabber (stills) and before the VMR9 (preview), and the tee
// between audio and the default audio renderer plus a second branch.
#include <d3d9.h>
#include <dshow.h>
#include <gtest/gtest.h>
#include <qedit.h>
#include <vmr9.h>

#include <cstdlib>
#include <vector>

#include "dshow_util.h"
#include "testbed/tests_support/test_support.h"
#include "testbed/tests_support/stream_filters.h"

namespace fernwood::test {
namespace {

struct Rgb {
    uint8_t r, g, b;
};
constexpr Rgb kTop = {200, 40, 90};
constexpr Rgb kBottom = {30, 160, 220};

// A bottom-up RGB24 frame: the top half kTop, the bottom half kBottom, and the
// top-left pixel of each row's first column white (to catch a mirrored frame).
std::vector<uint8_t> HalvesRgb24(int w, int h) {
    const size_t stride = static_cast<size_t>((w * 3 + 3) / 4 * 4);
    std::vector<uint8_t> dib(stride * static_cast<size_t>(h), 0);
    for (int y = 0; y < h; ++y) {
        const Rgb c = y < h / 2 ? kTop : kBottom;
        uint8_t* row = &dib[stride * static_cast<size_t>(h - 1 - y)];
        for (int x = 0; x < w; ++x) {
            row[3 * x] = x == 0 ? 255 : c.b;
            row[3 * x + 1] = x == 0 ? 255 : c.g;
            row[3 * x + 2] = x == 0 ? 255 : c.r;
        }
    }
    return dib;
}

void EmptyGraph(ComPtr<IGraphBuilder>& graph) {
    ComPtr<IMediaControl> control;
    graph->QueryInterface(IID_IMediaControl, control.PutVoid());
    control->Stop();
    control.Reset();
    for (auto& f : FiltersIn(graph.Get())) graph->RemoveFilter(f.Get());
    EXPECT_EQ(graph.Detach()->Release(), 0u);
}

TEST(StandinChains, StillPathGrabsRgb32FramesOfTheConvertedPicture) {
    ComApartment com;
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph), S_OK);
    const int w = 64, h = 48;
    auto* source = new PushSource(RgbVideoType(MEDIASUBTYPE_RGB24, w, h), 16384);
    auto source_filter = ComPtr<IBaseFilter>::Adopt(source);
    graph->AddFilter(source_filter.Get(), L"source");
    ComPtr<IBaseFilter> converter = AddNewFilter(graph.Get(), CLSID_Colour, L"Color Space Converter");
    ComPtr<IBaseFilter> grabber = AddNewFilter(graph.Get(), kClsidSampleGrabber, L"Sample Grabber");
    ComPtr<IBaseFilter> renderer = AddNewFilter(graph.Get(), kClsidNullRenderer, L"NullRenderer");
    ASSERT_TRUE(converter && grabber && renderer);
    ComPtr<ISampleGrabber> grab;
    ASSERT_EQ(grabber->QueryInterface(__uuidof(ISampleGrabber), grab.PutVoid()), S_OK);
    AM_MEDIA_TYPE want = {};
    want.majortype = MEDIATYPE_Video;
    want.subtype = MEDIASUBTYPE_RGB32;
    ASSERT_EQ(grab->SetMediaType(&want), S_OK);
    ASSERT_EQ(graph->ConnectDirect(source->Output(), Named(converter.Get(), L"Input").Get(), nullptr), S_OK);
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(Create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, &builder), S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, converter.Get(), grabber.Get(), renderer.Get()), S_OK);
    ASSERT_EQ(grab->SetBufferSamples(TRUE), S_OK);
    ASSERT_EQ(grab->SetOneShot(FALSE), S_OK);
    AM_MEDIA_TYPE connected = {};
    ASSERT_EQ(grab->GetConnectedMediaType(&connected), S_OK);
    EXPECT_TRUE(IsEqualGUID(connected.subtype, MEDIASUBTYPE_RGB32));
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat)->bmiHeader.biHeight, h);
    CoTaskMemFree(connected.pbFormat);

    ComPtr<IMediaControl> control;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    const auto frame = HalvesRgb24(w, h);
    long size = 0;
    const bool grabbed = WaitFor([&] {
        source->Push(frame.data(), frame.size(), 0, 1);
        return grab->GetCurrentBuffer(&size, nullptr) == S_OK && size > 0;
    });
    ASSERT_TRUE(grabbed);
    ASSERT_EQ(size, w * h * 4);
    std::vector<uint8_t> pixels(static_cast<size_t>(size));
    ASSERT_EQ(grab->GetCurrentBuffer(&size, reinterpret_cast<long*>(pixels.data())), S_OK);
    // Bottom-up rows of B G R 0, as a still is written.
    for (int y = 0; y < h; ++y) {
        const Rgb c = y < h / 2 ? kTop : kBottom;
        const uint8_t* row = &pixels[static_cast<size_t>(4 * w * (h - 1 - y))];
        EXPECT_EQ(row[0], 255);
        for (int x = 1; x < w; ++x) {
            const uint8_t* p = row + 4 * x;
            ASSERT_TRUE(p[0] == c.b && p[1] == c.g && p[2] == c.r && p[3] == 0) << x << "," << y;
        }
    }
    control.Reset();
    grab.Reset();
    builder.Reset();
    EmptyGraph(graph);
    EXPECT_EQ(source_filter.Detach()->Release(), 0u);
    EXPECT_EQ(converter.Detach()->Release(), 0u);
}

// The colour GDI reads from the screen at a client point of the window.
COLORREF ScreenColour(HWND window, int x, int y) {
    POINT at = {x, y};
    ClientToScreen(window, &at);
    HDC screen = GetDC(nullptr);
    const COLORREF c = GetPixel(screen, at.x, at.y);
    ReleaseDC(nullptr, screen);
    return c;
}

bool Near(COLORREF c, const Rgb& want) {
    return std::abs(GetRValue(c) - want.r) <= 8 && std::abs(GetGValue(c) - want.g) <= 8 &&
           std::abs(GetBValue(c) - want.b) <= 8;
}

TEST(StandinChains, PreviewPathShowsTheConvertedPictureThroughTheWindowlessVmr9) {
    ComApartment com;
    HWND window = CreateTestWindow();
    ASSERT_TRUE(window);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RECT client = {};
    GetClientRect(window, &client);

    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph), S_OK);
    ComPtr<IMediaFilter> media;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaFilter, media.PutVoid()), S_OK);
    media->SetSyncSource(nullptr);  // render each frame as it comes
    const int w = 64, h = 48;
    auto* source = new PushSource(RgbVideoType(MEDIASUBTYPE_RGB24, w, h), 16384);
    auto source_filter = ComPtr<IBaseFilter>::Adopt(source);
    graph->AddFilter(source_filter.Get(), L"source");
    ComPtr<IBaseFilter> converter = AddNewFilter(graph.Get(), CLSID_Colour, L"Color Space Converter");
    ComPtr<IBaseFilter> vmr9 = AddNewFilter(graph.Get(), CLSID_VideoMixingRenderer9, L"Video Mixing Renderer9");
    ASSERT_TRUE(converter && vmr9);
    ComPtr<IVMRFilterConfig9> config;
    ComPtr<IVMRWindowlessControl9> windowless;
    ASSERT_EQ(vmr9->QueryInterface(IID_IVMRFilterConfig9, config.PutVoid()), S_OK);
    ASSERT_EQ(config->SetRenderingMode(VMR9Mode_Windowless), S_OK);
    ASSERT_EQ(vmr9->QueryInterface(IID_IVMRWindowlessControl9, windowless.PutVoid()), S_OK);
    ASSERT_EQ(windowless->SetVideoClippingWindow(window), S_OK);

    ASSERT_EQ(graph->ConnectDirect(source->Output(), Named(converter.Get(), L"Input").Get(), nullptr), S_OK);
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(Create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, &builder), S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph.Get()), S_OK);
    ASSERT_EQ(builder->RenderStream(nullptr, nullptr, converter.Get(), nullptr, vmr9.Get()), S_OK);
    AM_MEDIA_TYPE mt = {};
    ASSERT_EQ(Named(converter.Get(), L"XForm Out")->ConnectionMediaType(&mt), S_OK);
    EXPECT_TRUE(IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB32));
    CoTaskMemFree(mt.pbFormat);
    LONG native_w = 0, native_h = 0, ar_w = 0, ar_h = 0;
    ASSERT_EQ(windowless->GetNativeVideoSize(&native_w, &native_h, &ar_w, &ar_h), S_OK);
    EXPECT_EQ(native_w, w);
    EXPECT_EQ(native_h, h);
    RECT src = {0, 0, w, h};
    ASSERT_EQ(windowless->SetVideoPosition(&src, &client), S_OK);

    ComPtr<IMediaControl> control;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    const auto frame = HalvesRgb24(w, h);
    const int cx = (client.right + client.left) / 2;
    const int top_y = client.bottom / 4, bottom_y = client.bottom * 3 / 4;
    const bool shown = WaitFor([&] {
        source->Push(frame.data(), frame.size(), 0, 1);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        return Near(ScreenColour(window, cx, top_y), kTop) && Near(ScreenColour(window, cx, bottom_y), kBottom);
    });
    const COLORREF seen_top = ScreenColour(window, cx, top_y), seen_bottom = ScreenColour(window, cx, bottom_y);
    EXPECT_TRUE(shown) << "top " << std::hex << seen_top << " bottom " << seen_bottom;

    control->Stop();
    control.Reset();
    config.Reset();
    windowless.Reset();
    builder.Reset();
    media.Reset();
    EmptyGraph(graph);
    EXPECT_EQ(source_filter.Detach()->Release(), 0u);
    EXPECT_EQ(converter.Detach()->Release(), 0u);
    EXPECT_EQ(vmr9.Detach()->Release(), 0u);
    DestroyWindow(window);
}

TEST(StandinChains, AudioTeeFeedsTheDefaultRendererAndASecondBranch) {
    ComApartment com;
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph), S_OK);
    const int kBufferBytes = 48000 * 4 / 10;  // 100 ms of 16-bit stereo at 48 kHz
    auto* source = new PushSource(PcmType(48000, 2), kBufferBytes);
    auto source_filter = ComPtr<IBaseFilter>::Adopt(source);
    graph->AddFilter(source_filter.Get(), L"audio");
    ComPtr<IBaseFilter> tee = AddNewFilter(graph.Get(), CLSID_InfTee, L"tee");
    ASSERT_TRUE(tee);
    ASSERT_EQ(graph->ConnectDirect(source->Output(), Named(tee.Get(), L"Input").Get(), nullptr), S_OK);

    ASSERT_TRUE(SUCCEEDED(graph->Render(Named(tee.Get(), L"Output1").Get())));
    ComPtr<IBaseFilter> dsound = FilterWithClsid(graph.Get(), CLSID_DSoundRender);
    ASSERT_TRUE(dsound);
    EXPECT_TRUE(IsConnected(Named(tee.Get(), L"Output1").Get()));
    // Added only now, so that Render could not pick it for the first output.
    auto* sink = new RecordingSink;
    auto sink_filter = ComPtr<IBaseFilter>::Adopt(sink);
    graph->AddFilter(sink_filter.Get(), L"second branch");
    ASSERT_EQ(graph->ConnectDirect(Named(tee.Get(), L"Output2").Get(), sink->Input(), nullptr), S_OK);
    EXPECT_EQ(PinsOf(tee.Get()).size(), 4u);

    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.PutVoid()), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEvent, events.PutVoid()), S_OK);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    std::vector<uint8_t> tone(static_cast<size_t>(kBufferBytes));
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<uint8_t>(i * 13);
    const int kBuffers = 5;
    for (int i = 0; i < kBuffers; ++i)
        ASSERT_EQ(source->Push(tone.data(), tone.size(), i * 1000000LL, (i + 1) * 1000000LL), S_OK) << i;
    ASSERT_EQ(Named(tee.Get(), L"Input")->EndOfStream(), S_OK);

    // The audio renderer completes only once it has played what it was given.
    long code = 0;
    EXPECT_EQ(events->WaitForCompletion(30000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ASSERT_TRUE(sink->WaitForCount(kBuffers));
    for (const Received& r : sink->Samples()) EXPECT_EQ(r.data, tone);
    EXPECT_EQ(sink->EndOfStreams(), 1);

    control->Stop();
    control.Reset();
    events.Reset();
    dsound.Reset();
    EmptyGraph(graph);
    EXPECT_EQ(source_filter.Detach()->Release(), 0u);
    EXPECT_EQ(sink_filter.Detach()->Release(), 0u);
    EXPECT_EQ(tee.Detach()->Release(), 0u);
}

}  // namespace
}  // namespace fernwood::test
