// The Colour Space Converter stand-in as the prefix serves it for CLSID_Colour.
#include <dshow.h>
#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

#include "dshow_util.h"
#include "testbed/tests_support/test_support.h"
#include "testbed/tests_support/stream_filters.h"

namespace fernwood::test {
namespace {

struct Rgb {
    uint8_t r, g, b;
};
// A 3 x 2 picture, top row first.
const Rgb kPicture[2][3] = {{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}, {{0x21, 0x84, 0xFF}, {255, 255, 255}, {0, 0, 0}}};

// The picture as a top-down RGB24 DIB (rows padded to four bytes).
std::vector<uint8_t> PictureRgb24TopDown() {
    std::vector<uint8_t> dib(12 * 2, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            uint8_t* p = &dib[static_cast<size_t>(12 * y + 3 * x)];
            p[0] = kPicture[y][x].b;
            p[1] = kPicture[y][x].g;
            p[2] = kPicture[y][x].r;
        }
    return dib;
}

std::vector<uint8_t> Pixel(const GUID& subtype, const Rgb& c) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) return {c.b, c.g, c.r, 0};
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return {c.b, c.g, c.r};
    const unsigned v = IsEqualGUID(subtype, MEDIASUBTYPE_RGB565) ? ((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3)
                                                                 : ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
}

// What the picture must look like in a DIB of `stride` bytes a row.
void ExpectPicture(const std::vector<uint8_t>& dib, const GUID& subtype, size_t stride, bool bottom_up, int left = 0) {
    const size_t bpp = Pixel(subtype, {0, 0, 0}).size();
    ASSERT_GE(dib.size(), stride * 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const size_t row = static_cast<size_t>(bottom_up ? 1 - y : y);
            const size_t at = row * stride + (static_cast<size_t>(left + x)) * bpp;
            const std::vector<uint8_t> got(dib.begin() + static_cast<long>(at),
                                           dib.begin() + static_cast<long>(at + bpp));
            EXPECT_EQ(got, Pixel(subtype, kPicture[y][x])) << "pixel " << x << "," << y;
        }
}

const BITMAPINFOHEADER& Header(const AM_MEDIA_TYPE& mt) {
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
}

// source (RGB24 3x2 top-down) -> converter -> sink, in a graph without a clock.
struct ConverterGraph {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    PushSource* source = nullptr;
    RecordingSink* sink = nullptr;
    ComPtr<IBaseFilter> source_filter, converter, sink_filter;

    explicit ConverterGraph(const AM_MEDIA_TYPE* accept,
                            const testbed::MediaType& source_type = RgbVideoType(MEDIASUBTYPE_RGB24, 3, -2)) {
        Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph);
        graph->QueryInterface(IID_IMediaControl, control.PutVoid());
        ComPtr<IMediaFilter> media;
        graph->QueryInterface(IID_IMediaFilter, media.PutVoid());
        media->SetSyncSource(nullptr);
        source = new PushSource(source_type, 64);
        source_filter = ComPtr<IBaseFilter>::Adopt(source);
        sink = new RecordingSink(accept);
        sink_filter = ComPtr<IBaseFilter>::Adopt(sink);
        graph->AddFilter(source_filter.Get(), L"source");
        graph->AddFilter(sink_filter.Get(), L"sink");
        converter = AddNewFilter(graph.Get(), CLSID_Colour, L"Color Space Converter");
    }
    HRESULT ConnectInput() {
        return graph->ConnectDirect(source->Output(), Named(converter.Get(), L"Input").Get(), nullptr);
    }
    HRESULT ConnectOutput() {
        return graph->ConnectDirect(Named(converter.Get(), L"XForm Out").Get(), sink->Input(), nullptr);
    }
    void TearDown() {
        control->Stop();
        for (auto& f : FiltersIn(graph.Get())) graph->RemoveFilter(f.Get());
        control.Reset();
        EXPECT_EQ(graph.Detach()->Release(), 0u);
        EXPECT_EQ(source_filter.Detach()->Release(), 0u);
        EXPECT_EQ(sink_filter.Detach()->Release(), 0u);
        EXPECT_EQ(converter.Detach()->Release(), 0u);
    }
};

testbed::MediaType Partial(const GUID& subtype) {
    testbed::MediaType mt;
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = subtype;
    return mt;
}

TEST(ColourConverter, IsTheStandInWithItsInterfacesAndExactReferenceCounts) {
    ComApartment com;
    ASSERT_TRUE(ServedByStandins(CLSID_Colour));
    // Both stand-ins are listed as the platform lists its own filters.
    bool converter_listed = false, tee_listed = false;
    for (const auto& entry : DevicesIn(CLSID_LegacyAmFilterCategory)) {
        converter_listed |= entry.friendly_name == L"Color Space Converter" &&
                            _wcsicmp(entry.clsid.c_str(), L"{1643E180-90F5-11CE-97D5-00AA0055595A}") == 0;
        tee_listed |= entry.friendly_name == L"Infinite Pin Tee Filter" &&
                      _wcsicmp(entry.clsid.c_str(), L"{F8388A40-D5BB-11D0-BE5A-0080C706568E}") == 0;
    }
    EXPECT_TRUE(converter_listed);
    EXPECT_TRUE(tee_listed);

    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(Create(CLSID_Colour, IID_IBaseFilter, &filter), S_OK);
    EXPECT_EQ(RefCount(filter.Get()), 1u);
    for (const IID* absent : {&IID_IPin, &IID_IMemInputPin, &IID_IMediaSeeking, &IID_IQualityControl,
                              &IID_IKsPropertySet, &IID_IBasicVideo, &IID_IVideoWindow}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(filter->QueryInterface(*absent, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    auto pins = PinsOf(filter.Get());
    ASSERT_EQ(pins.size(), 2u);
    EXPECT_EQ(RefCount(filter.Get()), 3u);
    PIN_INFO info = {};
    ASSERT_EQ(pins[0]->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Input");
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    info.pFilter->Release();
    ASSERT_EQ(pins[1]->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"XForm Out");
    EXPECT_EQ(info.dir, PINDIR_OUTPUT);
    info.pFilter->Release();
    for (const IID* present : {&IID_IMemInputPin, &IID_IQualityControl}) {
        ComPtr<IUnknown> got;
        EXPECT_EQ(pins[0]->QueryInterface(*present, got.PutVoid()), S_OK);
    }
    for (const IID* present : {&IID_IMediaSeeking, &IID_IMediaPosition, &IID_IQualityControl}) {
        ComPtr<IUnknown> got;
        EXPECT_EQ(pins[1]->QueryInterface(*present, got.PutVoid()), S_OK);
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(pins[0]->QueryInterface(IID_IMediaSeeking, none.PutVoid()), E_NOINTERFACE);
    EXPECT_EQ(pins[1]->QueryInterface(IID_IMemInputPin, none.PutVoid()), E_NOINTERFACE);
    EXPECT_EQ(RefCount(filter.Get()), 3u);
    pins.clear();

    FILTER_STATE state;
    EXPECT_EQ(filter->Pause(), S_OK);
    EXPECT_EQ(filter->Run(0), S_OK);
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(filter->Stop(), S_OK);
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

    ComPtr<IUnknown> outer, inner;
    ASSERT_EQ(Create(CLSID_FilterGraph, IID_IUnknown, &outer), S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_Colour, outer.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown, inner.PutVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(filter.Detach()->Release(), 0u);
}

TEST(ColourConverter, TakesRgbInputsAndOffersRgb32Rgb24Rgb565Rgb555) {
    ComApartment com;
    ConverterGraph g(nullptr);
    ASSERT_TRUE(g.converter);
    ComPtr<IPin> input = Named(g.converter.Get(), L"Input"), output = Named(g.converter.Get(), L"XForm Out");
    for (const GUID* subtype : {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_RGB555})
        for (int h : {2, -2}) EXPECT_EQ(input->QueryAccept(&RgbVideoType(*subtype, 3, h).Get()), S_OK) << h;
    testbed::MediaType wrong_bits = RgbVideoType(MEDIASUBTYPE_RGB24, 3, 2);
    reinterpret_cast<VIDEOINFOHEADER*>(wrong_bits->pbFormat)->bmiHeader.biBitCount = 32;
    testbed::MediaType no_height = RgbVideoType(MEDIASUBTYPE_RGB32, 3, 0);
    testbed::MediaType short_image = RgbVideoType(MEDIASUBTYPE_RGB32, 3, 2);
    reinterpret_cast<VIDEOINFOHEADER*>(short_image->pbFormat)->bmiHeader.biSizeImage = 23;
    testbed::MediaType uyvy = RgbVideoType(MEDIASUBTYPE_UYVY, 4, 2);
    testbed::MediaType rgb8 = RgbVideoType(MEDIASUBTYPE_RGB8, 4, 2);
    for (auto* refused : {&wrong_bits, &no_height, &short_image, &uyvy, &rgb8})
        EXPECT_EQ(input->QueryAccept(&refused->Get()), S_FALSE);

    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(output->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* offered[5] = {};
    ULONG count = 0;
    EXPECT_EQ(types->Next(5, offered, &count), S_FALSE);
    EXPECT_EQ(count, 0u);

    ASSERT_EQ(g.ConnectInput(), S_OK);
    ASSERT_EQ(output->EnumMediaTypes(types.Put()), S_OK);
    EXPECT_EQ(types->Next(5, offered, &count), S_FALSE);
    ASSERT_EQ(count, 4u);
    const GUID* order[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_RGB555};
    const WORD bits[] = {32, 24, 16, 16};
    const DWORD sizes[] = {24, 24, 16, 16};
    for (ULONG i = 0; i < count; ++i) {
        const AM_MEDIA_TYPE& mt = *offered[i];
        EXPECT_TRUE(IsEqualGUID(mt.majortype, MEDIATYPE_Video));
        EXPECT_TRUE(IsEqualGUID(mt.subtype, *order[i])) << i;
        EXPECT_TRUE(IsEqualGUID(mt.formattype, FORMAT_VideoInfo));
        const BITMAPINFOHEADER& bih = Header(mt);
        EXPECT_EQ(bih.biWidth, 3);
        EXPECT_EQ(bih.biHeight, 2);  // bottom-up, whatever the input's order
        EXPECT_EQ(bih.biBitCount, bits[i]);
        EXPECT_EQ(bih.biCompression, i == 2 ? static_cast<DWORD>(BI_BITFIELDS) : static_cast<DWORD>(BI_RGB));
        EXPECT_EQ(bih.biSizeImage, sizes[i]);
        EXPECT_EQ(mt.lSampleSize, sizes[i]);
        EXPECT_EQ(input->QueryAccept(&mt), S_OK);
        testbed::DeleteMediaType(offered[i]);
    }
    // A different picture size is no conversion of this one; a wider buffer
    // is a renderer's stride.
    EXPECT_EQ(output->QueryAccept(&RgbVideoType(MEDIASUBTYPE_RGB32, 2, 2).Get()), S_FALSE);
    EXPECT_EQ(output->QueryAccept(&RgbVideoType(MEDIASUBTYPE_RGB32, 4, 2).Get()), S_OK);
    EXPECT_EQ(output->QueryAccept(&RgbVideoType(MEDIASUBTYPE_RGB32, 3, 3).Get()), S_FALSE);
    EXPECT_EQ(output->QueryAccept(&RgbVideoType(MEDIASUBTYPE_RGB32, 3, -2).Get()), S_OK);

    types.Reset();
    input.Reset();
    output.Reset();
    g.TearDown();
}

TEST(ColourConverter, ConvertsEachFrameIntoTheTypeTheSinkAsksFor) {
    ComApartment com;
    for (const GUID* subtype : {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_RGB555}) {
        SCOPED_TRACE(subtype == &MEDIASUBTYPE_RGB32    ? "RGB32"
                     : subtype == &MEDIASUBTYPE_RGB24  ? "RGB24"
                     : subtype == &MEDIASUBTYPE_RGB565 ? "RGB565"
                                                       : "RGB555");
        const testbed::MediaType want = Partial(*subtype);
        ConverterGraph g(&want.Get());
        ASSERT_TRUE(g.converter);
        ASSERT_EQ(g.ConnectInput(), S_OK);
        ASSERT_EQ(g.ConnectOutput(), S_OK);
        AM_MEDIA_TYPE mt = {};
        ASSERT_EQ(g.sink->Input()->ConnectionMediaType(&mt), S_OK);
        EXPECT_TRUE(IsEqualGUID(mt.subtype, *subtype));
        const size_t stride = static_cast<size_t>(((3 * Header(mt).biBitCount + 31) / 32) * 4);
        testbed::FreeMediaType(&mt);

        ASSERT_TRUE(SUCCEEDED(g.control->Run()));
        const auto frame = PictureRgb24TopDown();
        PushFlags flags;
        flags.discontinuity = true;
        ASSERT_EQ(g.source->Push(frame.data(), frame.size(), 1000, 2000, flags), S_OK);
        flags = PushFlags();
        flags.sync = false;
        flags.preroll = true;
        ASSERT_EQ(g.source->Push(frame.data(), frame.size(), 2000, 3000, flags), S_OK);
        ASSERT_TRUE(g.sink->WaitForCount(2));
        const auto samples = g.sink->Samples();
        for (const Received& r : samples) {
            EXPECT_EQ(r.data.size(), stride * 2);
            ExpectPicture(r.data, *subtype, stride, true);
            EXPECT_EQ(r.time_result, S_OK);
            EXPECT_FALSE(r.has_type);
        }
        EXPECT_EQ(samples[0].start, 1000);
        EXPECT_EQ(samples[0].stop, 2000);
        EXPECT_TRUE(samples[0].sync && samples[0].discontinuity && !samples[0].preroll);
        EXPECT_EQ(samples[1].start, 2000);
        EXPECT_TRUE(!samples[1].sync && !samples[1].discontinuity && samples[1].preroll);

        ComPtr<IPin> input = Named(g.converter.Get(), L"Input");
        EXPECT_EQ(input->NewSegment(0, 100, 1.0), S_OK);
        EXPECT_EQ(input->EndOfStream(), S_OK);
        EXPECT_EQ(input->BeginFlush(), S_OK);
        EXPECT_EQ(input->EndFlush(), S_OK);
        EXPECT_EQ(g.sink->Segments(), 1);
        EXPECT_EQ(g.sink->EndOfStreams(), 1);
        EXPECT_EQ(g.sink->BeginFlushes(), 1);
        EXPECT_EQ(g.sink->EndFlushes(), 1);
        input.Reset();
        g.TearDown();
    }
}

TEST(ColourConverter, PassesMatchingFramesThroughByteForByte) {
    ComApartment com;
    const testbed::MediaType want = Partial(MEDIASUBTYPE_RGB32);
    ConverterGraph g(&want.Get(), RgbVideoType(MEDIASUBTYPE_RGB32, 3, 2));
    ASSERT_TRUE(g.converter);
    ASSERT_EQ(g.ConnectInput(), S_OK);
    ASSERT_EQ(g.ConnectOutput(), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    std::vector<uint8_t> frame(24);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_EQ(g.source->Push(frame.data(), frame.size(), 0, 1), S_OK);
    ASSERT_TRUE(g.sink->WaitForCount(1));
    EXPECT_EQ(g.sink->Samples()[0].data, frame);
    g.TearDown();
}

TEST(ColourConverter, FollowsARendererSwitchToAWiderTopDownBuffer) {
    ComApartment com;
    const testbed::MediaType want = Partial(MEDIASUBTYPE_RGB32);
    ConverterGraph g(&want.Get());
    ASSERT_TRUE(g.converter);
    g.sink->OfferOwnAllocator();
    g.sink->RequireBufferSize(4096);
    ASSERT_EQ(g.ConnectInput(), S_OK);
    ASSERT_EQ(g.ConnectOutput(), S_OK);

    // A surface 8 pixels wide, rows top-down: the picture in its top-left corner.
    testbed::MediaType wide = RgbVideoType(MEDIASUBTYPE_RGB32, 8, -2);
    EXPECT_EQ(g.sink->Pin().AskUpstream(wide.Get()), S_OK);
    testbed::MediaType placed = RgbVideoType(MEDIASUBTYPE_RGB32, 8, 2);
    reinterpret_cast<VIDEOINFOHEADER*>(placed->pbFormat)->rcTarget = RECT{4, 0, 7, 2};
    EXPECT_EQ(g.sink->Pin().AskUpstream(placed.Get()), S_OK);
    testbed::MediaType misplaced = placed;
    reinterpret_cast<VIDEOINFOHEADER*>(misplaced->pbFormat)->rcTarget = RECT{6, 0, 9, 2};
    EXPECT_EQ(g.sink->Pin().AskUpstream(misplaced.Get()), S_FALSE);
    EXPECT_EQ(g.sink->Pin().AskUpstream(RgbVideoType(MEDIASUBTYPE_RGB32, 2, -2).Get()), S_FALSE);
    EXPECT_EQ(g.sink->Pin().AskUpstream(RgbVideoType(MEDIASUBTYPE_RGB32, 8, -3).Get()), S_FALSE);

    g.sink->AttachToNextBuffer(wide.Get());
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    const auto frame = PictureRgb24TopDown();
    ASSERT_EQ(g.source->Push(frame.data(), frame.size(), 0, 1), S_OK);
    ASSERT_EQ(g.source->Push(frame.data(), frame.size(), 1, 2), S_OK);
    ASSERT_TRUE(g.sink->WaitForCount(2));
    const auto samples = g.sink->Samples();
    ASSERT_TRUE(samples[0].has_type);  // left attached, so the renderer sees the switch
    EXPECT_TRUE(testbed::SameMediaType(samples[0].type.Get(), wide.Get()));
    for (const Received& r : samples) {
        EXPECT_EQ(r.data.size(), 64u);
        ExpectPicture(r.data, MEDIASUBTYPE_RGB32, 32, false);
    }
    AM_MEDIA_TYPE now = {};
    ASSERT_EQ(Named(g.converter.Get(), L"XForm Out")->ConnectionMediaType(&now), S_OK);
    EXPECT_TRUE(testbed::SameMediaType(now, wide.Get()));
    testbed::FreeMediaType(&now);

    // Then a placement by rcTarget inside a bottom-up buffer.
    g.sink->AttachToNextBuffer(placed.Get());
    ASSERT_EQ(g.source->Push(frame.data(), frame.size(), 2, 3), S_OK);
    ASSERT_TRUE(g.sink->WaitForCount(3));
    ExpectPicture(g.sink->Samples()[2].data, MEDIASUBTYPE_RGB32, 32, true, 4);
    g.TearDown();
}

TEST(ColourConverter, TakesAnUpstreamSwitchOfRowOrderButNotOfPictureSize) {
    ComApartment com;
    const testbed::MediaType want = Partial(MEDIASUBTYPE_RGB32);
    ConverterGraph g(&want.Get());
    ASSERT_TRUE(g.converter);
    ASSERT_EQ(g.ConnectInput(), S_OK);
    ASSERT_EQ(g.ConnectOutput(), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));

    const auto top_down = PictureRgb24TopDown();
    std::vector<uint8_t> bottom_up(top_down.begin() + 12, top_down.end());
    bottom_up.insert(bottom_up.end(), top_down.begin(), top_down.begin() + 12);
    const testbed::MediaType flipped = RgbVideoType(MEDIASUBTYPE_RGB24, 3, 2);
    PushFlags flags;
    flags.attach = &flipped.Get();
    ASSERT_EQ(g.source->Push(bottom_up.data(), bottom_up.size(), 0, 1, flags), S_OK);
    ASSERT_EQ(g.source->Push(bottom_up.data(), bottom_up.size(), 1, 2), S_OK);
    ASSERT_TRUE(g.sink->WaitForCount(2));
    for (const Received& r : g.sink->Samples()) ExpectPicture(r.data, MEDIASUBTYPE_RGB32, 12, true);
    AM_MEDIA_TYPE now = {};
    ASSERT_EQ(Named(g.converter.Get(), L"Input")->ConnectionMediaType(&now), S_OK);
    EXPECT_TRUE(testbed::SameMediaType(now, flipped.Get()));
    testbed::FreeMediaType(&now);

    const testbed::MediaType larger = RgbVideoType(MEDIASUBTYPE_RGB24, 4, 2);
    flags.attach = &larger.Get();
    EXPECT_EQ(g.source->Push(bottom_up.data(), bottom_up.size(), 2, 3, flags), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(g.sink->Count(), 2u);
    g.TearDown();
}

}  // namespace
}  // namespace fernwood::test
