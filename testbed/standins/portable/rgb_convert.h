// Conversion between the uncompressed RGB DIB layouts of the colour space
// converter stand-in. Pictures are addressed as views: a rectangle of pixels
// inside a buffer with its own row stride and row order, so that a picture can
// be placed inside a wider (renderer-strided) or flipped destination.
//
// Channels narrow by truncation (8 -> 5 or 6 bits) and widen by replicating
// the top bits (5 -> 8: v << 3 | v >> 2), so full-scale values stay full
// scale both ways. The fourth byte of RGB32 is written 0 (RGBQUAD's reserved
// byte); RGB32 to RGB32 copies all four bytes unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

#include "uyvy_to_rgb.h"

namespace fernwood {

// Where a picture lies in a DIB buffer.
struct PictureView {
    RgbLayout layout = RgbLayout::kRgb32;
    size_t stride = 0;      // bytes per buffer row
    int buffer_rows = 0;    // rows in the buffer (|biHeight|)
    bool bottom_up = true;  // the buffer's first row is the picture's bottom
    int left = 0, top = 0;  // picture origin, in pixels, top-down
    int width = 0, height = 0;
};

// Bytes a DIB of buffer_rows rows of stride bytes occupies; 0 on overflow.
size_t DibBytes(size_t stride, int buffer_rows);

// Whether the view's rectangle lies inside a buffer of buffer_size bytes.
bool ViewFits(const PictureView& view, size_t buffer_size);

// Converts src's picture into dst's (same width and height). Returns false,
// touching nothing, when the sizes differ or either view does not fit its
// buffer.
bool ConvertPicture(const PictureView& src, const uint8_t* src_data, size_t src_size, const PictureView& dst,
                    uint8_t* dst_data, size_t dst_size);

}  // namespace fernwood
