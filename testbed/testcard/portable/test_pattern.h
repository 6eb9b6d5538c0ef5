// The test card's picture, drawn without any Windows API.
//
// Top five eighths: eight colour bars. Then a band of four rows of sixteen
// large cells: rows 0 and 1 carry bits 31..16 and 15..0 of the frame number
// (white = 1), rows 2 and 3 the same bits inverted, so a reader can tell a
// real code from a picture that merely looks like one. Bottom eighth: a
// white box that moves a step each frame. Every flash frame (frame numbers
// that are multiples of the rounded frame rate) is white except for the band.
// The cells are large enough to survive colour conversion, scaling and a
// 4:3 horizontal squeeze.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testcard {

enum class PixelFormat { kUyvy, kYuy2, kRgb24, kRgb32 };

struct FrameLayout {
  PixelFormat format;
  int width;
  int height;
  // Rows stored bottom row first (positive-height RGB DIBs).
  bool bottom_up;
};

int BitsPerPixel(PixelFormat format);
// Bytes of one row, padded to four bytes as in a DIB.
int RowBytes(PixelFormat format, int width);
size_t FrameBytes(const FrameLayout& layout);
// Whether the format can be drawn at that size (4:2:2 needs an even width).
bool IsDrawable(const FrameLayout& layout);

// Frames between two flashes: the frame rate rounded to an integer (60 at 59.94).
uint32_t FramesPerFlash(int64_t frame_interval_100ns);
bool IsFlashFrame(uint32_t frame_number, uint32_t frames_per_flash);

// Draws frame `frame_number`; pixels must hold FrameBytes(layout).
void DrawTestFrame(const FrameLayout& layout, uint32_t frame_number, uint32_t frames_per_flash,
                   uint8_t* pixels);

// Reads the frame number back from a picture of any size and any of the
// formats (stride in bytes). False when the band does not hold a valid code.
bool ReadFrameNumber(const uint8_t* pixels, const FrameLayout& layout, int stride,
                     uint32_t* frame_number);

// Mean luma (0-255) of a rectangle, for checking flashes and bars.
int MeanLuma(const uint8_t* pixels, const FrameLayout& layout, int stride, int x0, int y0, int x1,
             int y1);

}  // namespace testcard
