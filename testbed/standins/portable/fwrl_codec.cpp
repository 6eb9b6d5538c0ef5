#include "fwrl_codec.h"

#include <cstring>

namespace fernwood {
namespace {

constexpr uint8_t kMagic[4] = {'F', 'W', 'R', 'L'};
constexpr uint8_t kVersion = 1;
constexpr size_t kMaxLiteral = 128;
constexpr size_t kMaxRun = 129;
constexpr uint8_t kRunFlag = 128;

size_t UnitBytes(FwrlLayout layout) { return layout == FwrlLayout::kRgb24 ? 3 : 4; }

size_t UnitsPerRow(const FwrlPicture& p) {
    return p.layout == FwrlLayout::kUyvy ? static_cast<size_t>(p.width) / 2 : static_cast<size_t>(p.width);
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The units of a picture inside a buffer, addressed in picture order.
template <typename Byte>
class Units {
public:
    Units(Byte* base, const FwrlPicture& p, const RawLayout& layout)
        : base_(base),
          stride_(layout.stride),
          bottom_up_(layout.bottom_up),
          rows_(static_cast<size_t>(p.height)),
          per_row_(UnitsPerRow(p)),
          unit_(UnitBytes(p.layout)) {}

    size_t Count() const { return rows_ * per_row_; }
    size_t Size() const { return unit_; }
    Byte* At(size_t k) const {
        const size_t row = k / per_row_;
        const size_t buffer_row = bottom_up_ ? rows_ - 1 - row : row;
        return base_ + buffer_row * stride_ + (k % per_row_) * unit_;
    }
    bool Same(size_t a, size_t b) const { return std::memcmp(At(a), At(b), unit_) == 0; }

private:
    Byte* base_;
    size_t stride_;
    bool bottom_up_;
    size_t rows_, per_row_, unit_;
};

// Whether a buffer of `size` bytes holds every picture row under `layout`.
bool BufferHolds(const FwrlPicture& p, const RawLayout& layout, size_t size) {
    const size_t row = FwrlRowBytes(p);
    if (row == 0 || layout.stride < row) return false;
    const size_t rows = static_cast<size_t>(p.height);
    if (layout.stride > (SIZE_MAX - row) / rows) return false;
    return (rows - 1) * layout.stride + row <= size;
}

}  // namespace

int FwrlBitsPerPixel(FwrlLayout layout) {
    switch (layout) {
    case FwrlLayout::kUyvy: return 16;
    case FwrlLayout::kRgb24: return 24;
    case FwrlLayout::kRgb32: return 32;
    }
    return 0;
}

bool FwrlLayoutForBits(int bits, FwrlLayout* layout) {
    switch (bits) {
    case 16: *layout = FwrlLayout::kUyvy; return true;
    case 24: *layout = FwrlLayout::kRgb24; return true;
    case 32: *layout = FwrlLayout::kRgb32; return true;
    default: return false;
    }
}

bool FwrlValid(const FwrlPicture& p) {
    if (FwrlBitsPerPixel(p.layout) == 0) return false;
    if (p.width <= 0 || p.height <= 0 || p.width > kFwrlMaxSide || p.height > kFwrlMaxSide) return false;
    return p.layout != FwrlLayout::kUyvy || p.width % 2 == 0;
}

size_t FwrlRowBytes(const FwrlPicture& p) {
    return FwrlValid(p) ? UnitsPerRow(p) * UnitBytes(p.layout) : 0;
}

size_t FwrlMaxEncodedSize(const FwrlPicture& p) {
    if (!FwrlValid(p)) return 0;
    const size_t units = UnitsPerRow(p) * static_cast<size_t>(p.height);
    return kFwrlHeaderBytes + units * UnitBytes(p.layout) + (units + kMaxLiteral - 1) / kMaxLiteral;
}

size_t FwrlEncode(const FwrlPicture& picture, const uint8_t* src, size_t src_size, const RawLayout& src_layout,
                  uint8_t* dst, size_t dst_size) {
    if (!src || !dst || !BufferHolds(picture, src_layout, src_size) || dst_size < FwrlMaxEncodedSize(picture))
        return 0;
    std::memcpy(dst, kMagic, 4);
    dst[4] = static_cast<uint8_t>(picture.layout);
    dst[5] = kVersion;
    dst[6] = dst[7] = 0;
    PutLe32(dst + 8, static_cast<uint32_t>(picture.width));
    PutLe32(dst + 12, static_cast<uint32_t>(picture.height));

    const Units<const uint8_t> units(src, picture, src_layout);
    const size_t n = units.Count(), unit = units.Size();
    size_t out = kFwrlHeaderBytes, i = 0;
    while (i < n) {
        size_t run = 1;
        while (run < kMaxRun && i + run < n && units.Same(i, i + run)) ++run;
        if (run >= 2) {
            // The size bound covers every packet; the checks only guard it.
            if (dst_size - out < 1 + unit) return 0;
            dst[out++] = static_cast<uint8_t>(kRunFlag + (run - 2));
            std::memcpy(dst + out, units.At(i), unit);
            out += unit;
            i += run;
            continue;
        }
        // Literal units up to the next pair of equal ones.
        const size_t start = i;
        size_t count = 1;
        ++i;
        while (count < kMaxLiteral && i < n && !(i + 1 < n && units.Same(i, i + 1))) {
            ++count;
            ++i;
        }
        if (dst_size - out < 1 + count * unit) return 0;
        dst[out++] = static_cast<uint8_t>(count - 1);
        for (size_t k = start; k < start + count; ++k, out += unit) std::memcpy(dst + out, units.At(k), unit);
    }
    return out;
}

bool FwrlReadHeader(const uint8_t* src, size_t src_size, FwrlPicture* picture) {
    if (!src || src_size < kFwrlHeaderBytes || std::memcmp(src, kMagic, 4) != 0 || src[5] != kVersion ||
        src[6] != 0 || src[7] != 0)
        return false;
    const uint32_t width = GetLe32(src + 8), height = GetLe32(src + 12);
    if (width > static_cast<uint32_t>(kFwrlMaxSide) || height > static_cast<uint32_t>(kFwrlMaxSide)) return false;
    FwrlPicture p;
    p.layout = static_cast<FwrlLayout>(src[4]);
    p.width = static_cast<int>(width);
    p.height = static_cast<int>(height);
    if (!FwrlValid(p)) return false;
    *picture = p;
    return true;
}

bool FwrlDecode(const uint8_t* src, size_t src_size, const FwrlPicture& picture, uint8_t* dst, size_t dst_size,
                const RawLayout& dst_layout) {
    FwrlPicture header;
    if (!dst || !FwrlReadHeader(src, src_size, &header) || header.layout != picture.layout ||
        header.width != picture.width || header.height != picture.height ||
        !BufferHolds(picture, dst_layout, dst_size))
        return false;
    const Units<uint8_t> units(dst, picture, dst_layout);
    const size_t n = units.Count(), unit = units.Size();
    size_t pos = kFwrlHeaderBytes, k = 0;
    while (k < n) {
        if (pos >= src_size) return false;
        const uint8_t c = src[pos++];
        if (c < kRunFlag) {
            const size_t count = static_cast<size_t>(c) + 1;
            if (count > n - k || count * unit > src_size - pos) return false;
            for (size_t j = 0; j < count; ++j, ++k, pos += unit) std::memcpy(units.At(k), src + pos, unit);
        } else {
            const size_t count = static_cast<size_t>(c) - kRunFlag + 2;
            if (count > n - k || unit > src_size - pos) return false;
            for (size_t j = 0; j < count; ++j, ++k) std::memcpy(units.At(k), src + pos, unit);
            pos += unit;
        }
    }
    return true;
}

bool FwrlDecodeToRgb(const uint8_t* src, size_t src_size, const FwrlPicture& picture, RgbLayout layout,
                     bool bottom_up, uint8_t* dst, size_t dst_size, std::vector<uint8_t>* scratch) {
    const size_t row = FwrlRowBytes(picture);
    if (row == 0 || !scratch) return false;
    const size_t rows = static_cast<size_t>(picture.height);
    const RawLayout tight{row, false};
    if (picture.layout == FwrlLayout::kUyvy) {
        scratch->resize(row * rows);
        if (!FwrlDecode(src, src_size, picture, scratch->data(), scratch->size(), tight)) return false;
        const UyvyConversion c{picture.width, picture.height, layout, bottom_up};
        return ConvertUyvyToRgb(c, scratch->data(), scratch->size(), dst, dst_size);
    }
    if (layout != RgbLayout::kRgb32 && layout != RgbLayout::kRgb24) return false;
    const int out_bits = RgbBitsPerPixel(layout);
    const size_t stride = DibStride(picture.width, out_bits);
    if (!dst || stride == 0 || dst_size / stride < rows) return false;
    scratch->resize(row * rows);
    if (!FwrlDecode(src, src_size, picture, scratch->data(), scratch->size(), tight)) return false;
    const size_t in_bpp = UnitBytes(picture.layout), out_bpp = static_cast<size_t>(out_bits / 8);
    for (size_t y = 0; y < rows; ++y) {
        const uint8_t* s = scratch->data() + y * row;
        uint8_t* d = dst + (bottom_up ? rows - 1 - y : y) * stride;
        for (int x = 0; x < picture.width; ++x, s += in_bpp, d += out_bpp) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            if (out_bpp == 4) d[3] = in_bpp == 4 ? s[3] : 0;
        }
    }
    return true;
}

}  // namespace fernwood
