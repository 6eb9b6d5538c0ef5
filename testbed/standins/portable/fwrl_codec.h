// "FWRL", the lossless run-length video format of the testbed's codec: the
// vidc.uyvy driver compresses UYVY, RGB24 or RGB32 pictures to it so that a
// test prefix has one compressor that works, and decompresses it back to RGB
// so that a recorded file can be checked.
//
// A frame is a 16-byte header followed by packets:
//
//   bytes 0-3   'F' 'W' 'R' 'L'
//   byte  4     source layout (1 UYVY, 2 RGB24, 3 RGB32)
//   byte  5     1 (format version)
//   bytes 6-7   0
//   bytes 8-15  width and height in pixels, 32-bit little endian
//
// The picture is a sequence of units, rows top to bottom and left to right
// (a unit is a UYVY pixel pair, or one RGB pixel); runs may cross rows. A
// packet's first byte c < 128 is followed by c + 1 literal units; c >= 128 by
// one unit that stands c - 126 times (2 to 129). Every frame is a key frame.
// Bytes after the last unit are ignored (an AVI chunk may be padded).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "uyvy_to_rgb.h"

namespace fernwood {

enum class FwrlLayout : uint8_t { kUyvy = 1, kRgb24 = 2, kRgb32 = 3 };

struct FwrlPicture {
    FwrlLayout layout = FwrlLayout::kUyvy;
    int width = 0;   // even for UYVY
    int height = 0;  // rows, > 0
};

constexpr size_t kFwrlHeaderBytes = 16;
constexpr int kFwrlMaxSide = 16384;

// Bits per pixel of the source layout as a DIB header gives them (16, 24, 32).
int FwrlBitsPerPixel(FwrlLayout layout);
// The layout a compressed DIB header's biBitCount names; false for others.
bool FwrlLayoutForBits(int bits, FwrlLayout* layout);

bool FwrlValid(const FwrlPicture& picture);

// Bytes of one picture row without padding; 0 when the picture is invalid.
size_t FwrlRowBytes(const FwrlPicture& picture);

// The most bytes a frame can take: the header, every unit stored once and one
// control byte for each 128 units. 0 when the picture is invalid.
size_t FwrlMaxEncodedSize(const FwrlPicture& picture);

// Where an uncompressed picture lies in its buffer.
struct RawLayout {
    size_t stride = 0;       // bytes per buffer row, at least the row bytes
    bool bottom_up = false;  // the buffer's first row is the picture's bottom
};

// Encodes one picture. Returns the frame's size, or 0 (touching nothing past
// dst_size) when the picture is invalid, the source is smaller than the
// layout needs or dst_size is below FwrlMaxEncodedSize.
size_t FwrlEncode(const FwrlPicture& picture, const uint8_t* src, size_t src_size, const RawLayout& src_layout,
                  uint8_t* dst, size_t dst_size);

// Reads a frame's header; false when it is not a valid FWRL header.
bool FwrlReadHeader(const uint8_t* src, size_t src_size, FwrlPicture* picture);

// Decodes a frame whose header must describe `picture` into an uncompressed
// picture of the source layout. Returns false when the frame is malformed,
// ends early or describes another picture, or when dst is too small; dst
// bytes outside the picture rows are never written.
bool FwrlDecode(const uint8_t* src, size_t src_size, const FwrlPicture& picture, uint8_t* dst, size_t dst_size,
                const RawLayout& dst_layout);

// Decodes a frame into an RGB DIB (rows padded to four bytes): any layout for
// UYVY sources (through the BT.601 conversion), RGB32 or RGB24 for RGB
// sources. `scratch` holds the decoded source picture between calls.
bool FwrlDecodeToRgb(const uint8_t* src, size_t src_size, const FwrlPicture& picture, RgbLayout layout,
                     bool bottom_up, uint8_t* dst, size_t dst_size, std::vector<uint8_t>* scratch);

}  // namespace fernwood
