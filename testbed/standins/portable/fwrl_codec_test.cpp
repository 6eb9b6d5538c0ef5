#include "fwrl_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "testbed/testcard/portable/test_pattern.h"
#include "uyvy_bars.h"

namespace fernwood {
namespace {

constexpr uint8_t kGuard = 0xA5;

size_t UnitOf(FwrlLayout layout) { return layout == FwrlLayout::kRgb24 ? 3 : 4; }
size_t UnitCount(const FwrlPicture& p) { return FwrlRowBytes(p) / UnitOf(p.layout) * static_cast<size_t>(p.height); }

// A picture in a buffer whose rows are `stride` bytes; padding holds kGuard.
struct Raw {
    FwrlPicture picture;
    RawLayout layout;
    std::vector<uint8_t> bytes;

    Raw(const FwrlPicture& p, size_t stride, bool bottom_up)
        : picture(p), layout{stride, bottom_up}, bytes(stride * static_cast<size_t>(p.height), kGuard) {}

    uint8_t* Row(int y) {  // picture row y, top-down
        const int r = layout.bottom_up ? picture.height - 1 - y : y;
        return bytes.data() + layout.stride * static_cast<size_t>(r);
    }
    // Units drawn by `unit_value(k)`, k in picture order.
    template <typename F>
    void Fill(F unit_value) {
        const size_t unit = UnitOf(picture.layout), per_row = FwrlRowBytes(picture) / unit;
        for (int y = 0; y < picture.height; ++y)
            for (size_t x = 0; x < per_row; ++x) {
                const uint32_t v = unit_value(static_cast<size_t>(y) * per_row + x);
                for (size_t b = 0; b < unit; ++b) Row(y)[x * unit + b] = static_cast<uint8_t>(v >> (8 * b));
            }
    }
};

std::vector<uint8_t> Encode(Raw& raw) {
    std::vector<uint8_t> out(FwrlMaxEncodedSize(raw.picture) + 64, kGuard);
    const size_t max = FwrlMaxEncodedSize(raw.picture);
    const size_t n = FwrlEncode(raw.picture, raw.bytes.data(), raw.bytes.size(), raw.layout, out.data(), max);
    EXPECT_GT(n, kFwrlHeaderBytes);
    EXPECT_LE(n, max);
    for (size_t i = max; i < out.size(); ++i) EXPECT_EQ(out[i], kGuard) << "written past the bound at " << i;
    out.resize(n);
    return out;
}

// Same picture, whatever the strides and row orders of the two buffers.
void ExpectSamePicture(Raw& a, Raw& b) {
    const size_t row = FwrlRowBytes(a.picture);
    for (int y = 0; y < a.picture.height; ++y)
        ASSERT_EQ(std::memcmp(a.Row(y), b.Row(y), row), 0) << "row " << y;
}

void ExpectPaddingUntouched(Raw& raw) {
    const size_t row = FwrlRowBytes(raw.picture);
    for (int y = 0; y < raw.picture.height; ++y)
        for (size_t i = row; i < raw.layout.stride; ++i) ASSERT_EQ(raw.Row(y)[i], kGuard) << "row " << y;
}

TEST(FwrlCodec, RoundTripsEveryLayoutSizeStrideAndRowOrder) {
    std::mt19937 rng(7);
    const FwrlPicture pictures[] = {
        {FwrlLayout::kUyvy, 2, 1},   {FwrlLayout::kUyvy, 6, 5},   {FwrlLayout::kUyvy, 34, 17},
        {FwrlLayout::kRgb24, 1, 1},  {FwrlLayout::kRgb24, 3, 5},  {FwrlLayout::kRgb24, 33, 17},
        {FwrlLayout::kRgb32, 1, 1},  {FwrlLayout::kRgb32, 7, 3},  {FwrlLayout::kRgb32, 129, 2},
    };
    for (const auto& p : pictures) {
        for (int content = 0; content < 3; ++content) {
            SCOPED_TRACE(testing::Message() << int(p.layout) << " " << p.width << "x" << p.height << " content "
                                            << content);
            const size_t row = FwrlRowBytes(p);
            Raw src(p, (row + 3) / 4 * 4 + 4, content % 2 == 1);
            if (content == 0) src.Fill([&](size_t) { return static_cast<uint32_t>(rng()); });
            if (content == 1) src.Fill([&](size_t k) { return static_cast<uint32_t>(k / 5 % 3); });  // short runs
            if (content == 2) src.Fill([&](size_t k) { return k % 131 < 130 ? 0x10203040u : 0u; });  // long runs
            const auto frame = Encode(src);
            for (bool bottom_up : {false, true}) {
                Raw dst(p, (row + 3) / 4 * 4, bottom_up);
                ASSERT_TRUE(FwrlDecode(frame.data(), frame.size(), p, dst.bytes.data(), dst.bytes.size(),
                                       dst.layout));
                ExpectSamePicture(src, dst);
                ExpectPaddingUntouched(dst);
            }
        }
    }
}

TEST(FwrlCodec, NeverExceedsTheWorstCaseBoundAndMeetsItWithoutRepeats) {
    const FwrlPicture p{FwrlLayout::kRgb24, 97, 13};
    const size_t units = UnitCount(p);
    Raw raw(p, FwrlRowBytes(p), false);
    // Neighbours always differ: nothing but literal packets, the bound exactly.
    raw.Fill([](size_t k) { return static_cast<uint32_t>(k); });
    EXPECT_EQ(Encode(raw).size(), FwrlMaxEncodedSize(p));
    EXPECT_EQ(FwrlMaxEncodedSize(p), kFwrlHeaderBytes + units * 3 + (units + 127) / 128);

    // Patterns that mix pairs, single units and packet-length edges.
    const std::vector<std::vector<uint32_t>> cycles = {
        {1, 1, 2}, {1, 2, 2, 3}, {1, 1, 2, 3, 3, 4}, {5, 6}, {9, 9},
        std::vector<uint32_t>(128, 0), std::vector<uint32_t>(129, 0), std::vector<uint32_t>(130, 0)};
    for (size_t c = 0; c < cycles.size(); ++c) {
        const auto& cycle = cycles[c];
        // Distinct values inside long literal cycles keep them literal.
        raw.Fill([&](size_t k) {
            const size_t i = k % cycle.size(), turn = k / cycle.size();
            return cycle.size() > 16 ? (i == 0 ? static_cast<uint32_t>(turn + 1000) : 7u) : cycle[i];
        });
        const auto frame = Encode(raw);
        Raw back(p, FwrlRowBytes(p), true);
        ASSERT_TRUE(FwrlDecode(frame.data(), frame.size(), p, back.bytes.data(), back.bytes.size(), back.layout))
            << c;
        ExpectSamePicture(raw, back);
    }
    std::mt19937 rng(11);
    for (int seed = 0; seed < 200; ++seed) {
        const int alphabet = 1 + seed % 4;  // few values: runs of every length
        raw.Fill([&](size_t) { return static_cast<uint32_t>(rng() % static_cast<unsigned>(alphabet)); });
        Encode(raw);
    }
}

TEST(FwrlCodec, AFlatPictureTakesOneRunPacketPer129Units) {
    const FwrlPicture p{FwrlLayout::kUyvy, 1280, 720};
    Raw raw(p, 2560, false);
    raw.Fill([](size_t) { return 0x80108010u; });
    const size_t units = 640 * 720;
    const size_t packets = (units + 128) / 129;
    EXPECT_EQ(Encode(raw).size(), kFwrlHeaderBytes + packets * 5);
}

TEST(FwrlCodec, TheTestCardShrinksAndReadsBackItsFrameNumber) {
    using testcard::FrameLayout;
    using testcard::PixelFormat;
    for (PixelFormat format : {PixelFormat::kUyvy, PixelFormat::kRgb24, PixelFormat::kRgb32}) {
        const FrameLayout layout{format, 1280, 720, format != PixelFormat::kUyvy};
        std::vector<uint8_t> pixels(testcard::FrameBytes(layout));
        testcard::DrawTestFrame(layout, 1234567, 60, pixels.data());
        const FwrlPicture p{format == PixelFormat::kUyvy    ? FwrlLayout::kUyvy
                           : format == PixelFormat::kRgb24 ? FwrlLayout::kRgb24
                                                            : FwrlLayout::kRgb32,
                           1280, 720};
        const RawLayout src{static_cast<size_t>(testcard::RowBytes(format, 1280)), layout.bottom_up};
        std::vector<uint8_t> frame(FwrlMaxEncodedSize(p));
        const size_t n = FwrlEncode(p, pixels.data(), pixels.size(), src, frame.data(), frame.size());
        ASSERT_GT(n, 0u);
        EXPECT_LT(n, pixels.size() / 10) << "bars and cells are long runs";
        std::vector<uint8_t> rgb(DibStride(1280, 32) * 720), scratch;
        ASSERT_TRUE(FwrlDecodeToRgb(frame.data(), n, p, RgbLayout::kRgb32, true, rgb.data(), rgb.size(), &scratch));
        uint32_t number = 0;
        ASSERT_TRUE(testcard::ReadFrameNumber(rgb.data(), {PixelFormat::kRgb32, 1280, 720, true}, 1280 * 4, &number));
        EXPECT_EQ(number, 1234567u);
    }
}

TEST(FwrlCodec, DecodesToRgbLikeTheUyvyConversionAndCopiesRgbChannels) {
    const int w = 64, h = 6;
    const auto bars = MakeUyvyBars(w, h);
    const FwrlPicture uyvy{FwrlLayout::kUyvy, w, h};
    std::vector<uint8_t> frame(FwrlMaxEncodedSize(uyvy));
    const size_t n = FwrlEncode(uyvy, bars.data(), bars.size(), {static_cast<size_t>(w) * 2, false}, frame.data(),
                                frame.size());
    std::vector<uint8_t> scratch;
    for (RgbLayout layout : {RgbLayout::kRgb32, RgbLayout::kRgb24, RgbLayout::kRgb565, RgbLayout::kRgb555}) {
        const size_t size = DibStride(w, RgbBitsPerPixel(layout)) * h;
        std::vector<uint8_t> direct(size, kGuard), decoded(size, kGuard);
        ASSERT_TRUE(ConvertUyvyToRgb({w, h, layout, false}, bars.data(), bars.size(), direct.data(), size));
        ASSERT_TRUE(FwrlDecodeToRgb(frame.data(), n, uyvy, layout, false, decoded.data(), size, &scratch));
        EXPECT_EQ(direct, decoded) << RgbBitsPerPixel(layout);
    }

    // RGB24 of odd width into RGB32 and RGB24 of either row order.
    const FwrlPicture rgb{FwrlLayout::kRgb24, 5, 3};
    Raw raw(rgb, 16, true);
    raw.Fill([](size_t k) { return static_cast<uint32_t>(0x010203 * (k + 1)); });
    const auto rgb_frame = Encode(raw);
    for (bool bottom_up : {false, true}) {
        std::vector<uint8_t> out32(DibStride(5, 32) * 3, kGuard), out24(DibStride(5, 24) * 3, kGuard);
        ASSERT_TRUE(FwrlDecodeToRgb(rgb_frame.data(), rgb_frame.size(), rgb, RgbLayout::kRgb32, bottom_up,
                                    out32.data(), out32.size(), &scratch));
        ASSERT_TRUE(FwrlDecodeToRgb(rgb_frame.data(), rgb_frame.size(), rgb, RgbLayout::kRgb24, bottom_up,
                                    out24.data(), out24.size(), &scratch));
        for (int y = 0; y < 3; ++y) {
            const int r = bottom_up ? 2 - y : y;
            for (int x = 0; x < 5; ++x) {
                const uint8_t* s = raw.Row(y) + x * 3;
                const uint8_t* d32 = out32.data() + r * DibStride(5, 32) + x * 4;
                const uint8_t* d24 = out24.data() + r * DibStride(5, 24) + x * 3;
                EXPECT_TRUE(std::memcmp(s, d32, 3) == 0 && d32[3] == 0) << x << "," << y;
                EXPECT_EQ(std::memcmp(s, d24, 3), 0) << x << "," << y;
            }
            EXPECT_EQ(out24[r * DibStride(5, 24) + 15], kGuard) << "row padding is left alone";
        }
    }
    std::vector<uint8_t> out16(DibStride(5, 16) * 3);
    EXPECT_FALSE(FwrlDecodeToRgb(rgb_frame.data(), rgb_frame.size(), rgb, RgbLayout::kRgb565, true, out16.data(),
                                 out16.size(), &scratch));
    std::vector<uint8_t> too_small(DibStride(5, 32) * 3 - 1);
    EXPECT_FALSE(FwrlDecodeToRgb(rgb_frame.data(), rgb_frame.size(), rgb, RgbLayout::kRgb32, true,
                                 too_small.data(), too_small.size(), &scratch));
}

TEST(FwrlCodec, RefusesMalformedFramesWithoutReadingOrWritingPastBuffers) {
    const FwrlPicture p{FwrlLayout::kRgb32, 20, 4};
    Raw raw(p, 80, false);
    std::mt19937 rng(3);
    raw.Fill([&](size_t k) { return k % 7 < 3 ? 42u : static_cast<uint32_t>(rng()); });
    const auto frame = Encode(raw);
    Raw dst(p, 80, false);
    // Every truncation fails; each copy is exactly as long as claimed, so a
    // read past it shows under the sanitizers.
    for (size_t len = 0; len < frame.size(); ++len) {
        std::vector<uint8_t> cut(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(len));
        EXPECT_FALSE(FwrlDecode(cut.data(), cut.size(), p, dst.bytes.data(), dst.bytes.size(), dst.layout)) << len;
    }
    auto padded = frame;
    padded.push_back(0);
    EXPECT_TRUE(FwrlDecode(padded.data(), padded.size(), p, dst.bytes.data(), dst.bytes.size(), dst.layout));

    auto corrupt = [&](size_t at, uint8_t value) {
        auto bad = frame;
        bad[at] = value;
        return FwrlDecode(bad.data(), bad.size(), p, dst.bytes.data(), dst.bytes.size(), dst.layout);
    };
    EXPECT_FALSE(corrupt(0, 'X'));                               // magic
    EXPECT_FALSE(corrupt(4, static_cast<uint8_t>(FwrlLayout::kRgb24)));  // another layout
    EXPECT_FALSE(corrupt(5, 2));                                 // version
    EXPECT_FALSE(corrupt(8, 21));                                // width
    EXPECT_FALSE(corrupt(12, 5));                                // height

    // A run longer than what is left of the picture.
    const FwrlPicture tiny{FwrlLayout::kRgb32, 2, 1};
    const uint8_t overlong[] = {'F', 'W', 'R', 'L', 3, 1, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 128 + 1, 1, 2, 3, 4};
    const uint8_t too_many_literals[] = {'F', 'W', 'R', 'L', 3, 1, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0,
                                         2,   1,   2,   3,   4, 5, 6, 7, 8, 9, 9, 9, 9, 9, 9, 9, 9};
    std::vector<uint8_t> small(8, kGuard);
    EXPECT_FALSE(FwrlDecode(overlong, sizeof overlong, tiny, small.data(), small.size(), {8, false}));
    EXPECT_FALSE(FwrlDecode(too_many_literals, sizeof too_many_literals, tiny, small.data(), small.size(),
                            {8, false}));
    // Destination too small or too narrow.
    EXPECT_FALSE(FwrlDecode(frame.data(), frame.size(), p, dst.bytes.data(), dst.bytes.size() - 1, dst.layout));
    EXPECT_FALSE(FwrlDecode(frame.data(), frame.size(), p, dst.bytes.data(), dst.bytes.size(), {79, false}));
}

TEST(FwrlCodec, RefusesInvalidPicturesAndShortBuffersWhenEncoding) {
    std::vector<uint8_t> src(4096, 1), dst(8192, kGuard);
    const FwrlPicture invalid[] = {{FwrlLayout::kUyvy, 3, 2},
                                   {FwrlLayout::kRgb24, 0, 2},
                                   {FwrlLayout::kRgb24, 2, -1},
                                   {FwrlLayout::kRgb32, kFwrlMaxSide + 1, 1},
                                   {static_cast<FwrlLayout>(4), 2, 2}};
    for (const auto& p : invalid) {
        EXPECT_EQ(FwrlMaxEncodedSize(p), 0u);
        EXPECT_EQ(FwrlEncode(p, src.data(), src.size(), {64, false}, dst.data(), dst.size()), 0u);
    }
    const FwrlPicture p{FwrlLayout::kRgb32, 16, 8};  // 64 bytes a row
    EXPECT_EQ(FwrlEncode(p, src.data(), 64 * 8 - 1, {64, false}, dst.data(), dst.size()), 0u);
    EXPECT_EQ(FwrlEncode(p, src.data(), src.size(), {63, false}, dst.data(), dst.size()), 0u);
    EXPECT_EQ(FwrlEncode(p, src.data(), src.size(), {64, false}, dst.data(), FwrlMaxEncodedSize(p) - 1), 0u);
    EXPECT_EQ(dst[0], kGuard);
    EXPECT_GT(FwrlEncode(p, src.data(), 64 * 8, {64, true}, dst.data(), FwrlMaxEncodedSize(p)), 0u);

    FwrlLayout layout;
    EXPECT_TRUE(FwrlLayoutForBits(16, &layout) && layout == FwrlLayout::kUyvy);
    EXPECT_TRUE(FwrlLayoutForBits(24, &layout) && layout == FwrlLayout::kRgb24);
    EXPECT_TRUE(FwrlLayoutForBits(32, &layout) && layout == FwrlLayout::kRgb32);
    EXPECT_FALSE(FwrlLayoutForBits(8, &layout));
}

}  // namespace
}  // namespace fernwood
