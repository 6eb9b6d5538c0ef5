#include "rgb_convert.h"

#include <cstring>
#include <limits>

namespace fernwood {
namespace {

struct Pixel {
    uint8_t r, g, b;
};

inline uint8_t Widen5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
inline uint8_t Widen6(unsigned v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }

struct Rgb32 {
    static constexpr int kBytes = 4;
    static Pixel Get(const uint8_t* p) { return {p[2], p[1], p[0]}; }
    static void Put(uint8_t* p, Pixel c) {
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
        p[3] = 0;
    }
};

struct Rgb24 {
    static constexpr int kBytes = 3;
    static Pixel Get(const uint8_t* p) { return {p[2], p[1], p[0]}; }
    static void Put(uint8_t* p, Pixel c) {
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
    }
};

struct Rgb565 {
    static constexpr int kBytes = 2;
    static Pixel Get(const uint8_t* p) {
        unsigned v = p[0] | (p[1] << 8);
        return {Widen5(v >> 11), Widen6((v >> 5) & 63), Widen5(v & 31)};
    }
    static void Put(uint8_t* p, Pixel c) {
        unsigned v = ((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    }
};

struct Rgb555 {
    static constexpr int kBytes = 2;
    static Pixel Get(const uint8_t* p) {
        unsigned v = p[0] | (p[1] << 8);
        return {Widen5((v >> 10) & 31), Widen5((v >> 5) & 31), Widen5(v & 31)};
    }
    static void Put(uint8_t* p, Pixel c) {
        unsigned v = ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
    }
};

size_t BytesPerPixel(RgbLayout layout) { return static_cast<size_t>(RgbBitsPerPixel(layout) / 8); }

// Address of the view's picture row y (0 = top) at its left edge.
template <typename Byte>
Byte* RowAt(const PictureView& v, Byte* data, int y) {
    const int buffer_row = v.bottom_up ? v.buffer_rows - 1 - (v.top + y) : v.top + y;
    return data + v.stride * static_cast<size_t>(buffer_row) + BytesPerPixel(v.layout) * static_cast<size_t>(v.left);
}

using RowFunction = void (*)(const uint8_t* src, uint8_t* dst, int width);

template <typename In, typename Out>
void ConvertRow(const uint8_t* src, uint8_t* dst, int width) {
    for (int x = 0; x < width; ++x, src += In::kBytes, dst += Out::kBytes) Out::Put(dst, In::Get(src));
}

template <typename In>
RowFunction RowFor(RgbLayout out) {
    switch (out) {
        case RgbLayout::kRgb32:
            return ConvertRow<In, Rgb32>;
        case RgbLayout::kRgb24:
            return ConvertRow<In, Rgb24>;
        case RgbLayout::kRgb565:
            return ConvertRow<In, Rgb565>;
        case RgbLayout::kRgb555:
            return ConvertRow<In, Rgb555>;
    }
    return nullptr;
}

RowFunction RowFor(RgbLayout in, RgbLayout out) {
    switch (in) {
        case RgbLayout::kRgb32:
            return RowFor<Rgb32>(out);
        case RgbLayout::kRgb24:
            return RowFor<Rgb24>(out);
        case RgbLayout::kRgb565:
            return RowFor<Rgb565>(out);
        case RgbLayout::kRgb555:
            return RowFor<Rgb555>(out);
    }
    return nullptr;
}

}  // namespace

size_t DibBytes(size_t stride, int buffer_rows) {
    if (buffer_rows <= 0 || stride == 0) return 0;
    const size_t rows = static_cast<size_t>(buffer_rows);
    if (stride > std::numeric_limits<size_t>::max() / rows) return 0;
    return stride * rows;
}

bool ViewFits(const PictureView& v, size_t buffer_size) {
    if (v.width <= 0 || v.height <= 0 || v.left < 0 || v.top < 0 || v.buffer_rows <= 0) return false;
    if (v.height > v.buffer_rows - v.top) return false;
    const size_t bpp = BytesPerPixel(v.layout);
    const size_t right = static_cast<size_t>(v.left) + static_cast<size_t>(v.width);
    if (right > v.stride / bpp) return false;
    const size_t bytes = DibBytes(v.stride, v.buffer_rows);
    return bytes != 0 && bytes <= buffer_size;
}

bool ConvertPicture(const PictureView& src, const uint8_t* src_data, size_t src_size, const PictureView& dst,
                    uint8_t* dst_data, size_t dst_size) {
    if (src.width != dst.width || src.height != dst.height) return false;
    if (!src_data || !dst_data || !ViewFits(src, src_size) || !ViewFits(dst, dst_size)) return false;
    if (src.layout == dst.layout) {
        const size_t row_bytes = BytesPerPixel(src.layout) * static_cast<size_t>(src.width);
        for (int y = 0; y < src.height; ++y) std::memcpy(RowAt(dst, dst_data, y), RowAt(src, src_data, y), row_bytes);
        return true;
    }
    const RowFunction row = RowFor(src.layout, dst.layout);
    if (!row) return false;
    for (int y = 0; y < src.height; ++y) row(RowAt(src, src_data, y), RowAt(dst, dst_data, y), src.width);
    return true;
}

}  // namespace fernwood
