// The vidc.uyvy driver as installed in the prefix: the UYVY decoder and the
// FWRL codec, straight through the Video for Windows calls and inside the
// platform's AVI Decompressor.
#include "fwrl_codec.h"
#include "testbed/tests_support/test_support.h"
#include "testbed/tests_support/stream_filters.h"
#include "uyvy_bars.h"
#include "uyvy_to_rgb.h"

#include <gtest/gtest.h>

#include <dshow.h>
#include <qedit.h>
#include <vfw.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace fernwood::test {
namespace {

const DWORD kUyvy = mmioFOURCC('U', 'Y', 'V', 'Y');
const DWORD kFwrl = mmioFOURCC('F', 'W', 'R', 'L');
constexpr int kOn = 191;  // 75% of full scale

struct Rgb8 {
    int r, g, b;
};
// The nominal RGB of each 75% bar.
constexpr Rgb8 kBarsRgb[8] = {{kOn, kOn, kOn}, {kOn, kOn, 0}, {0, kOn, kOn}, {0, kOn, 0},
                              {kOn, 0, kOn},   {kOn, 0, 0},   {0, 0, kOn},   {0, 0, 0}};

BITMAPINFOHEADER UyvyHeader(int w, int h) {
    return {sizeof(BITMAPINFOHEADER), w, h, 1, 16, kUyvy, static_cast<DWORD>(w * h * 2), 0, 0, 0, 0};
}

// A BITMAPINFOHEADER with room for the three BI_BITFIELDS masks.
struct RgbHeader {
    BITMAPINFOHEADER h;
    DWORD masks[3];
};

RgbHeader RgbOut(int w, int h, WORD bits, DWORD compression = BI_RGB) {
    RgbHeader r{};
    r.h = {sizeof(BITMAPINFOHEADER), w, h, 1, bits, compression,
           static_cast<DWORD>(DibStride(w, bits) * static_cast<size_t>(std::abs(h))), 0, 0, 0, 0};
    return r;
}

// Bars with the top picture row white, so that a flipped frame shows.
std::vector<uint8_t> BarsWithWhiteTop(int w, int h) {
    auto frame = MakeUyvyBars(w, h);
    for (int x = 0; x < w * 2; x += 2) {
        frame[static_cast<size_t>(x)] = 128;
        frame[static_cast<size_t>(x) + 1] = 235;
    }
    return frame;
}

// Checks a decoded bars frame: bars in every row but the picture's top one,
// which is white. bottom_up says where that row lies in the buffer.
void ExpectBars(const uint8_t* dib, int w, int h, int bits, bool bottom_up) {
    const size_t stride = DibStride(w, bits);
    const int bpp = bits / 8;
    const int top_row = bottom_up ? h - 1 : 0;
    const int middle = h / 2;
    for (int bar = 0; bar < 8; ++bar) {
        const int x = bar * w / 8 + w / 16;
        const uint8_t* p = dib + stride * static_cast<size_t>(middle) + static_cast<size_t>(x * bpp);
        EXPECT_NEAR(p[2], kBarsRgb[bar].r, 2) << "bar " << bar;
        EXPECT_NEAR(p[1], kBarsRgb[bar].g, 2) << "bar " << bar;
        EXPECT_NEAR(p[0], kBarsRgb[bar].b, 2) << "bar " << bar;
        const uint8_t* t = dib + stride * static_cast<size_t>(top_row) + static_cast<size_t>(x * bpp);
        EXPECT_EQ(t[0], 255);
        EXPECT_EQ(t[1], 255);
        EXPECT_EQ(t[2], 255);
    }
}

TEST(UyvyDecoder, IsInstalledAsVidcUyvyAndCompressesButNeverDraws) {
    ICINFO info{};
    ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, kUyvy, &info));
    EXPECT_EQ(_wcsicmp(info.szDriver, L"fernwood_uyvy.dll"), 0);
    HIC hic = ICOpen(ICTYPE_VIDEO, kUyvy, ICMODE_QUERY);
    ASSERT_TRUE(hic);
    ICINFO got{};
    EXPECT_EQ(ICGetInfo(hic, &got, sizeof got), static_cast<LRESULT>(sizeof got));
    EXPECT_EQ(got.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(got.fccHandler, kUyvy);
    EXPECT_STREQ(got.szDescription, L"Fernwood test codec (testbed)");
    EXPECT_EQ(got.dwFlags, 0u) << "key frames only, lossless: no quality, size or temporal settings";
    ICClose(hic);
    for (UINT mode : {ICMODE_COMPRESS, ICMODE_FASTCOMPRESS, ICMODE_DECOMPRESS}) {
        hic = ICOpen(ICTYPE_VIDEO, kUyvy, mode);
        EXPECT_TRUE(hic) << mode;
        if (hic) ICClose(hic);
    }
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, kUyvy, ICMODE_DRAW), nullptr);
    // The lower-case handler reaches the same driver.
    hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('u', 'y', 'v', 'y'), ICMODE_DECOMPRESS);
    EXPECT_TRUE(hic);
    if (hic) ICClose(hic);
}

TEST(UyvyDecoder, AcceptsRgbOutputsOnlyAndSuggestsBottomUpRgb32) {
    HIC hic = ICOpen(ICTYPE_VIDEO, kUyvy, ICMODE_DECOMPRESS);
    ASSERT_TRUE(hic);
    BITMAPINFOHEADER in = UyvyHeader(1280, 720);
    EXPECT_EQ(ICDecompressQuery(hic, &in, nullptr), ICERR_OK);

    RgbHeader ok[] = {RgbOut(1280, 720, 32), RgbOut(1280, -720, 32), RgbOut(1280, 720, 24),
                      RgbOut(1280, 720, 16), RgbOut(1280, 720, 16, BI_BITFIELDS)};
    ok[4].masks[0] = 0xF800;
    ok[4].masks[1] = 0x07E0;
    ok[4].masks[2] = 0x001F;
    for (auto& out : ok) EXPECT_EQ(ICDecompressQuery(hic, &in, &out.h), ICERR_OK) << out.h.biBitCount;

    RgbHeader bad[] = {RgbOut(1280, 720, 8), RgbOut(640, 360, 32), RgbOut(1280, 720, 16, BI_BITFIELDS),
                       RgbOut(1280, 720, 16, kUyvy), RgbOut(1280, 720, 32)};
    bad[2].masks[0] = 0xFF00;  // not a 5-6-5 or 5-5-5 layout
    bad[4].h.biSizeImage = 1280 * 720 * 4 - 1;
    for (auto& out : bad) EXPECT_NE(ICDecompressQuery(hic, &in, &out.h), ICERR_OK) << out.h.biBitCount;

    BITMAPINFOHEADER odd = UyvyHeader(1279, 720), yuy2 = UyvyHeader(1280, 720), yvyu = yuy2, short_in = in;
    yuy2.biCompression = mmioFOURCC('Y', 'U', 'Y', '2');
    yvyu.biCompression = mmioFOURCC('Y', 'V', 'Y', 'U');
    short_in.biSizeImage = 100;
    EXPECT_EQ(ICDecompressQuery(hic, &yuy2, nullptr), ICERR_OK) << "the same samples in another order";
    for (auto* wrong : {&odd, &yvyu, &short_in}) EXPECT_NE(ICDecompressQuery(hic, wrong, nullptr), ICERR_OK);

    EXPECT_EQ(ICDecompressGetFormatSize(hic, &in), static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)));
    BITMAPINFOHEADER suggested{};
    EXPECT_EQ(ICDecompressGetFormat(hic, &in, &suggested), ICERR_OK);
    EXPECT_EQ(suggested.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(suggested.biBitCount, 32);
    EXPECT_EQ(suggested.biWidth, 1280);
    EXPECT_EQ(suggested.biHeight, 720);
    EXPECT_EQ(suggested.biSizeImage, 1280u * 720u * 4u);
    ICClose(hic);
}

TEST(UyvyDecoder, DecompressesColourBarsThroughIcDecompress) {
    const int w = 1280, h = 720;
    const auto src = BarsWithWhiteTop(w, h);
    HIC hic = ICOpen(ICTYPE_VIDEO, kUyvy, ICMODE_DECOMPRESS);
    ASSERT_TRUE(hic);
    BITMAPINFOHEADER in = UyvyHeader(w, h);
    for (int bits : {32, 24}) {
        for (int sign : {1, -1}) {
            RgbHeader out = RgbOut(w, sign * h, static_cast<WORD>(bits));
            std::vector<uint8_t> dst(out.h.biSizeImage);
            ASSERT_EQ(ICDecompressBegin(hic, &in, &out.h), ICERR_OK);
            ASSERT_EQ(ICDecompress(hic, 0, &in, const_cast<uint8_t*>(src.data()), &out.h, dst.data()), ICERR_OK);
            EXPECT_EQ(ICDecompressEnd(hic), ICERR_OK);
            SCOPED_TRACE(bits);
            ExpectBars(dst.data(), w, h, bits, sign > 0);
        }
    }
    // YUY2 is UYVY with each byte pair swapped, and decodes to the same bars.
    std::vector<uint8_t> yuy2_src(src.size());
    for (size_t i = 0; i + 1 < src.size(); i += 2) {
        yuy2_src[i] = src[i + 1];
        yuy2_src[i + 1] = src[i];
    }
    BITMAPINFOHEADER yuy2 = in;
    yuy2.biCompression = mmioFOURCC('Y', 'U', 'Y', '2');
    RgbHeader rgb = RgbOut(w, h, 32);
    std::vector<uint8_t> from_yuy2(rgb.h.biSizeImage);
    ASSERT_EQ(ICDecompress(hic, 0, &yuy2, yuy2_src.data(), &rgb.h, from_yuy2.data()), ICERR_OK);
    ExpectBars(from_yuy2.data(), w, h, 32, true);
    // A frame shorter than its header says is refused, not read past its end.
    BITMAPINFOHEADER short_in = in;
    short_in.biSizeImage = static_cast<DWORD>(src.size() / 2);
    RgbHeader out = RgbOut(w, h, 32);
    std::vector<uint8_t> dst(out.h.biSizeImage);
    EXPECT_NE(ICDecompress(hic, 0, &short_in, const_cast<uint8_t*>(src.data()), &out.h, dst.data()), ICERR_OK);
    ICClose(hic);
}

BITMAPINFOHEADER RgbIn(int w, int h, WORD bits) {
    return {sizeof(BITMAPINFOHEADER), w, h, 1, bits, BI_RGB,
            static_cast<DWORD>(DibStride(w, bits) * static_cast<size_t>(std::abs(h))), 0, 0, 0, 0};
}

// An open compressor instance of the driver, closed on scope exit.
struct Hic {
    explicit Hic(HIC h) : hic(h) {}
    ~Hic() {
        if (hic) ICClose(hic);
    }
    HIC hic;
};

TEST(FwrlDriver, CompressesUyvyRgb24AndRgb32ToFwrlOnly) {
    Hic c(ICOpen(ICTYPE_VIDEO, kUyvy, ICMODE_COMPRESS));
    ASSERT_TRUE(c.hic);
    struct Case {
        BITMAPINFOHEADER in;
        WORD fwrl_bits;
    };
    const Case cases[] = {{UyvyHeader(1280, 720), 16}, {RgbIn(641, 3, 24), 24}, {RgbIn(7, -5, 32), 32}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.in.biBitCount);
        BITMAPINFOHEADER in = k.in;
        EXPECT_EQ(ICCompressQuery(c.hic, &in, nullptr), ICERR_OK);
        EXPECT_EQ(ICCompressGetFormatSize(c.hic, &in), static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)));
        BITMAPINFOHEADER out{};
        ASSERT_EQ(ICCompressGetFormat(c.hic, &in, &out), ICERR_OK);
        EXPECT_EQ(out.biCompression, kFwrl);
        EXPECT_EQ(out.biBitCount, k.fwrl_bits);
        EXPECT_EQ(out.biWidth, in.biWidth);
        EXPECT_EQ(out.biHeight, std::abs(in.biHeight));
        FwrlPicture picture;
        ASSERT_TRUE(FwrlLayoutForBits(k.fwrl_bits, &picture.layout));
        picture.width = in.biWidth;
        picture.height = std::abs(in.biHeight);
        EXPECT_EQ(out.biSizeImage, FwrlMaxEncodedSize(picture));
        EXPECT_EQ(static_cast<size_t>(ICCompressGetSize(c.hic, &in, &out)), FwrlMaxEncodedSize(picture));
        EXPECT_EQ(ICCompressQuery(c.hic, &in, &out), ICERR_OK);
        EXPECT_EQ(ICCompressBegin(c.hic, &in, &out), ICERR_OK);
        EXPECT_EQ(ICCompressEnd(c.hic), ICERR_OK);
        // Outputs that do not describe the same picture in FWRL.
        BITMAPINFOHEADER wrong[] = {out, out, out, out};
        wrong[0].biCompression = kUyvy;
        wrong[1].biWidth += 2;
        wrong[2].biHeight -= 1;
        wrong[3].biBitCount = k.fwrl_bits == 16 ? 24 : 16;
        for (auto& w : wrong) EXPECT_NE(ICCompressQuery(c.hic, &in, &w), ICERR_OK);
    }
    BITMAPINFOHEADER refused[] = {UyvyHeader(1279, 720), UyvyHeader(1280, 720), RgbIn(64, 36, 16), RgbIn(64, 36, 8),
                                  UyvyHeader(64, 36)};
    refused[1].biCompression = mmioFOURCC('Y', 'U', 'Y', '2');
    refused[4].biCompression = kFwrl;
    for (auto& in : refused) {
        EXPECT_NE(ICCompressQuery(c.hic, &in, nullptr), ICERR_OK) << in.biBitCount;
        EXPECT_EQ(ICCompressGetSize(c.hic, &in, nullptr), 0);
    }
}

// Compresses one frame through the driver and checks what ICCompress reports.
std::vector<uint8_t> CompressFrame(HIC hic, BITMAPINFOHEADER in, const std::vector<uint8_t>& pixels,
                                   BITMAPINFOHEADER* out) {
    EXPECT_EQ(ICCompressGetFormat(hic, &in, out), ICERR_OK);
    const DWORD max = static_cast<DWORD>(ICCompressGetSize(hic, &in, out));
    std::vector<uint8_t> frame(max + 16, 0xA5);
    EXPECT_EQ(ICCompressBegin(hic, &in, out), ICERR_OK);
    DWORD ckid = 0, flags = 0;
    EXPECT_EQ(ICCompress(hic, ICCOMPRESS_KEYFRAME, out, frame.data(), &in, const_cast<uint8_t*>(pixels.data()), &ckid,
                         &flags, 0, 0, 0, nullptr, nullptr),
              static_cast<DWORD>(ICERR_OK));
    EXPECT_EQ(ICCompressEnd(hic), ICERR_OK);
    EXPECT_EQ(flags, static_cast<DWORD>(AVIIF_KEYFRAME));
    EXPECT_EQ(ckid, static_cast<DWORD>(aviTWOCC('d', 'c')));
    EXPECT_GT(out->biSizeImage, kFwrlHeaderBytes);
    EXPECT_LE(out->biSizeImage, max);
    for (size_t i = max; i < frame.size(); ++i) EXPECT_EQ(frame[i], 0xA5) << "written past the size it gave";
    frame.resize(out->biSizeImage);
    return frame;
}

// Decompresses with whatever driver the system finds for the compressed format.
std::vector<uint8_t> DecompressFrame(BITMAPINFOHEADER in, const std::vector<uint8_t>& frame, RgbHeader out) {
    Hic d(ICLocate(ICTYPE_VIDEO, 0, &in, &out.h, ICMODE_DECOMPRESS));
    EXPECT_TRUE(d.hic);
    std::vector<uint8_t> rgb(out.h.biSizeImage, 0xA5);
    if (!d.hic) return rgb;
    EXPECT_EQ(ICDecompressBegin(d.hic, &in, &out.h), ICERR_OK);
    EXPECT_EQ(ICDecompress(d.hic, 0, &in, const_cast<uint8_t*>(frame.data()), &out.h, rgb.data()),
              static_cast<DWORD>(ICERR_OK));
    EXPECT_EQ(ICDecompressEnd(d.hic), ICERR_OK);
    return rgb;
}

TEST(FwrlDriver, FramesDecompressBackToThePicture) {
    Hic c(ICOpen(ICTYPE_VIDEO, kUyvy, ICMODE_COMPRESS));
    ASSERT_TRUE(c.hic);
    // UYVY: the same RGB as decoding the UYVY itself.
    const int w = 320, h = 180;
    const auto bars = BarsWithWhiteTop(w, h);
    BITMAPINFOHEADER fwrl{};
    const auto frame = CompressFrame(c.hic, UyvyHeader(w, h), bars, &fwrl);
    EXPECT_LT(frame.size(), bars.size() / 10) << "bars are long runs";
    for (int sign : {1, -1}) {
        const auto rgb = DecompressFrame(fwrl, frame, RgbOut(w, sign * h, 32));
        ExpectBars(rgb.data(), w, h, 32, sign > 0);
        const auto direct = DecompressFrame(UyvyHeader(w, h), bars, RgbOut(w, sign * h, 32));
        EXPECT_EQ(rgb, direct);
    }

    // RGB24 of odd width, bottom-up, comes back exactly, in either row order
    // and as RGB32 too.
    const int rw = 33, rh = 9;
    const size_t stride24 = DibStride(rw, 24);
    std::vector<uint8_t> pixels(stride24 * rh);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7 / 3);
    const auto rgb_frame = CompressFrame(c.hic, RgbIn(rw, rh, 24), pixels, &fwrl);
    EXPECT_EQ(fwrl.biBitCount, 24);
    for (int sign : {1, -1}) {
        const auto back24 = DecompressFrame(fwrl, rgb_frame, RgbOut(rw, sign * rh, 24));
        const auto back32 = DecompressFrame(fwrl, rgb_frame, RgbOut(rw, sign * rh, 32));
        for (int y = 0; y < rh; ++y) {  // y: picture row, top-down
            const uint8_t* src = pixels.data() + stride24 * static_cast<size_t>(rh - 1 - y);
            const int row = sign > 0 ? rh - 1 - y : y;
            const uint8_t* got24 = back24.data() + stride24 * static_cast<size_t>(row);
            const uint8_t* got32 = back32.data() + DibStride(rw, 32) * static_cast<size_t>(row);
            ASSERT_EQ(std::memcmp(src, got24, static_cast<size_t>(rw) * 3), 0) << "row " << y;
            for (int x = 0; x < rw; ++x)
                ASSERT_EQ(std::memcmp(src + 3 * x, got32 + 4 * x, 3), 0) << x << "," << y;
        }
    }
    // RGB pictures come back in 24 or 32 bits only.
    Hic d(ICLocate(ICTYPE_VIDEO, 0, &fwrl, nullptr, ICMODE_DECOMPRESS));
    ASSERT_TRUE(d.hic);
    RgbHeader rgb16 = RgbOut(rw, rh, 16);
    EXPECT_NE(ICDecompressQuery(d.hic, &fwrl, &rgb16.h), ICERR_OK);
    BITMAPINFOHEADER suggested{};
    EXPECT_EQ(ICDecompressGetFormat(d.hic, &fwrl, &suggested), ICERR_OK);
    EXPECT_EQ(suggested.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(suggested.biBitCount, 32);
    EXPECT_EQ(suggested.biHeight, rh);

    // A frame cut short is refused, not read past its end.
    BITMAPINFOHEADER cut = fwrl;
    cut.biSizeImage = static_cast<DWORD>(rgb_frame.size() - 1);
    std::vector<uint8_t> shorter(rgb_frame.begin(), rgb_frame.end() - 1);
    RgbHeader out = RgbOut(rw, rh, 24);
    std::vector<uint8_t> dst(out.h.biSizeImage);
    EXPECT_NE(ICDecompress(d.hic, 0, &cut, shorter.data(), &out.h, dst.data()), static_cast<DWORD>(ICERR_OK));
}

// UYVY push source → AVI Decompressor → Sample Grabber (RGB) → Null Renderer.
class AviDecompressorChain : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.Result()));
        ASSERT_EQ(Create(CLSID_FilterGraph, IID_IGraphBuilder, &graph_), S_OK);
    }
    void TearDown() override {
        if (control_) control_->Stop();
        control_.Reset();
        grabber_.Reset();
        graph_.Reset();
        if (source_) {
            EXPECT_EQ(source_->Release(), 0u);
        }
    }

    // Builds the chain with the grabber asking for the given RGB subtype.
    void Build(const testbed::MediaType& type, const GUID& rgb_subtype) {
        source_ = new PushSource(type, type->lSampleSize);
        ASSERT_EQ(graph_->AddFilter(source_, L"UYVY source"), S_OK);
        ComPtr<IBaseFilter> decoder = AddNewFilter(graph_.Get(), CLSID_AVIDec, L"AVI Decompressor");
        ComPtr<IBaseFilter> grabber = AddNewFilter(graph_.Get(), kClsidSampleGrabber, L"Sample Grabber");
        ComPtr<IBaseFilter> renderer = AddNewFilter(graph_.Get(), kClsidNullRenderer, L"Null Renderer");
        ASSERT_TRUE(decoder && grabber && renderer);
        ASSERT_EQ(grabber->QueryInterface(__uuidof(ISampleGrabber), grabber_.PutVoid()), S_OK);
        AM_MEDIA_TYPE want{};
        want.majortype = MEDIATYPE_Video;
        want.subtype = rgb_subtype;
        want.formattype = FORMAT_VideoInfo;
        ASSERT_EQ(grabber_->SetMediaType(&want), S_OK);
        ASSERT_EQ(grabber_->SetBufferSamples(TRUE), S_OK);
        ASSERT_EQ(graph_->ConnectDirect(source_->Output(), PinAt(decoder.Get(), PINDIR_INPUT, 0).Get(), nullptr),
                  S_OK);
        ASSERT_EQ(graph_->Connect(PinAt(decoder.Get(), PINDIR_OUTPUT, 0).Get(),
                                  PinAt(grabber.Get(), PINDIR_INPUT, 0).Get()),
                  S_OK);
        ASSERT_EQ(graph_->Connect(PinAt(grabber.Get(), PINDIR_OUTPUT, 0).Get(),
                                  PinAt(renderer.Get(), PINDIR_INPUT, 0).Get()),
                  S_OK);
        ASSERT_EQ(graph_->QueryInterface(IID_IMediaControl, control_.PutVoid()), S_OK);
    }

    // Runs the graph, pushes one frame and returns what the grabber saw.
    std::vector<uint8_t> Grab(const std::vector<uint8_t>& frame, AM_MEDIA_TYPE* connected) {
        EXPECT_TRUE(SUCCEEDED(control_->Run()));
        EXPECT_TRUE(WaitFor([&] { return source_->CurrentState() == State_Running; }));
        EXPECT_EQ(source_->Push(frame.data(), frame.size(), 0, 166833, RunFrame(0)), S_OK);
        long size = 0;
        EXPECT_TRUE(WaitFor([&] { return grabber_->GetCurrentBuffer(&size, nullptr) == S_OK && size > 0; }));
        std::vector<uint8_t> out(static_cast<size_t>(size > 0 ? size : 0));
        if (size > 0) {
            EXPECT_EQ(grabber_->GetCurrentBuffer(&size, reinterpret_cast<long*>(out.data())), S_OK);
        }
        EXPECT_EQ(grabber_->GetConnectedMediaType(connected), S_OK);
        return out;
    }

    ComApartment com_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
    ComPtr<ISampleGrabber> grabber_;
    PushSource* source_ = nullptr;
};

TEST_F(AviDecompressorChain, DecodesUyvyBarsToRgb32) {
    const int w = 1280, h = 720;
    Build(VideoInfoType(MEDIASUBTYPE_UYVY, w, h, 16, kUyvy), MEDIASUBTYPE_RGB32);
    AM_MEDIA_TYPE mt{};
    const auto rgb = Grab(BarsWithWhiteTop(w, h), &mt);
    ASSERT_TRUE(IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB32));
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    ASSERT_EQ(vih->bmiHeader.biWidth, w);
    ASSERT_EQ(std::abs(vih->bmiHeader.biHeight), h);
    ASSERT_GE(rgb.size(), DibStride(w, 32) * h);
    ExpectBars(rgb.data(), w, h, 32, vih->bmiHeader.biHeight > 0);
    CoTaskMemFree(mt.pbFormat);
}

TEST_F(AviDecompressorChain, DecodesUyvyBarsToRgb24) {
    const int w = 640, h = 360;
    Build(VideoInfoType(MEDIASUBTYPE_UYVY, w, h, 16, kUyvy), MEDIASUBTYPE_RGB24);
    AM_MEDIA_TYPE mt{};
    const auto rgb = Grab(BarsWithWhiteTop(w, h), &mt);
    ASSERT_TRUE(IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB24));
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    ASSERT_GE(rgb.size(), DibStride(w, 24) * h);
    ExpectBars(rgb.data(), w, h, 24, vih->bmiHeader.biHeight > 0);
    CoTaskMemFree(mt.pbFormat);
}

TEST_F(AviDecompressorChain, DecodesFwrlFramesOfTheTestCodec) {
    const int w = 640, h = 360;
    const auto bars = BarsWithWhiteTop(w, h);
    const FwrlPicture picture{FwrlLayout::kUyvy, w, h};
    std::vector<uint8_t> frame(FwrlMaxEncodedSize(picture));
    frame.resize(FwrlEncode(picture, bars.data(), bars.size(), {static_cast<size_t>(w) * 2, false}, frame.data(),
                            frame.size()));
    ASSERT_GT(frame.size(), 0u);
    GUID subtype = MEDIASUBTYPE_UYVY;
    subtype.Data1 = kFwrl;
    Build(VideoInfoType(subtype, w, h, 16, kFwrl), MEDIASUBTYPE_RGB32);
    AM_MEDIA_TYPE mt{};
    const auto rgb = Grab(frame, &mt);
    ASSERT_TRUE(IsEqualGUID(mt.subtype, MEDIASUBTYPE_RGB32));
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    ASSERT_GE(rgb.size(), DibStride(w, 32) * h);
    ExpectBars(rgb.data(), w, h, 32, vih->bmiHeader.biHeight > 0);
    CoTaskMemFree(mt.pbFormat);
}

}  // namespace
}  // namespace fernwood::test
