#include "testbed/testcard/portable/test_pattern.h"

#include <cstring>

namespace testcard {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

const Rgb kWhite = {255, 255, 255};
const Rgb kBlack = {0, 0, 0};
const Rgb kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                      {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
const int kCells = 16;
// A bit counts only when a cell and its inverted twin differ this much in luma.
const int kMinContrast = 48;

int EvenDown(int x) { return x & ~1; }

// Studio-range BT.601, as capture cards deliver it.
void ToYuv(Rgb c, uint8_t* y, uint8_t* u, uint8_t* v) {
  *y = static_cast<uint8_t>(((66 * c.r + 129 * c.g + 25 * c.b + 128) >> 8) + 16);
  *u = static_cast<uint8_t>(((-38 * c.r - 74 * c.g + 112 * c.b + 128) >> 8) + 128);
  *v = static_cast<uint8_t>(((112 * c.r - 94 * c.g - 18 * c.b + 128) >> 8) + 128);
}

bool IsYuv(PixelFormat format) {
  return format == PixelFormat::kUyvy || format == PixelFormat::kYuy2;
}

int BarsBottom(int height) { return height * 5 / 8; }
// Band rows 0..3 span [BandTop(r), BandTop(r + 1)); BandTop(4) is the band's bottom.
int BandTop(int height, int row) { return height * (20 + 2 * row) / 32; }
int CellLeft(int width, int cell) { return cell == kCells ? width : EvenDown(width * cell / kCells); }

bool CellBit(uint32_t number, int row, int cell) {
  int bit = (row % 2 == 0 ? 31 : 15) - cell;
  bool set = ((number >> bit) & 1) != 0;
  return row >= 2 ? !set : set;
}

uint8_t* RowAt(uint8_t* pixels, const FrameLayout& layout, int y) {
  int stored = layout.bottom_up ? layout.height - 1 - y : y;
  return pixels + static_cast<size_t>(stored) * RowBytes(layout.format, layout.width);
}

// Fills pixels [x0, x1) of one row; x0 and x1 are even for the 4:2:2 formats.
void FillSpan(uint8_t* row, PixelFormat format, int x0, int x1, Rgb c) {
  uint8_t y, u, v;
  ToYuv(c, &y, &u, &v);
  const uint8_t uyvy[4] = {u, y, v, y};
  const uint8_t yuy2[4] = {y, u, y, v};
  switch (format) {
    case PixelFormat::kUyvy:
    case PixelFormat::kYuy2: {
      const uint8_t* pair = format == PixelFormat::kUyvy ? uyvy : yuy2;
      for (int x = x0; x < x1; x += 2) std::memcpy(row + 2 * x, pair, 4);
      break;
    }
    case PixelFormat::kRgb24:
      for (int x = x0; x < x1; ++x) {
        uint8_t* p = row + 3 * x;
        p[0] = c.b, p[1] = c.g, p[2] = c.r;
      }
      break;
    case PixelFormat::kRgb32:
      for (int x = x0; x < x1; ++x) {
        uint8_t* p = row + 4 * x;
        p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 0;
      }
      break;
  }
}

// Draws the first row of [y0, y1) span by span, then copies it down.
template <class SpanFn>
void DrawRows(uint8_t* pixels, const FrameLayout& layout, int y0, int y1, SpanFn draw_row) {
  if (y0 >= y1) return;
  uint8_t* first = RowAt(pixels, layout, y0);
  draw_row(first);
  size_t bytes = static_cast<size_t>(RowBytes(layout.format, layout.width));
  for (int y = y0 + 1; y < y1; ++y) std::memcpy(RowAt(pixels, layout, y), first, bytes);
}

void DrawBars(uint8_t* pixels, const FrameLayout& layout) {
  DrawRows(pixels, layout, 0, BarsBottom(layout.height), [&](uint8_t* row) {
    for (int i = 0; i < 8; ++i)
      FillSpan(row, layout.format, EvenDown(layout.width * i / 8),
               i == 7 ? layout.width : EvenDown(layout.width * (i + 1) / 8), kBars[i]);
  });
}

void DrawBand(uint8_t* pixels, const FrameLayout& layout, uint32_t number) {
  for (int r = 0; r < 4; ++r) {
    DrawRows(pixels, layout, BandTop(layout.height, r), BandTop(layout.height, r + 1),
             [&](uint8_t* row) {
               for (int c = 0; c < kCells; ++c)
                 FillSpan(row, layout.format, CellLeft(layout.width, c),
                          CellLeft(layout.width, c + 1), CellBit(number, r, c) ? kWhite : kBlack);
             });
  }
}

void DrawMovingBox(uint8_t* pixels, const FrameLayout& layout, uint32_t number) {
  int top = BandTop(layout.height, 4);
  int inset = (layout.height - top) / 4;
  int box = EvenDown(layout.width / kCells);
  int step = EvenDown(layout.width / 120) > 2 ? EvenDown(layout.width / 120) : 2;
  int travel = layout.width - box;
  int x = travel > 0 ? EvenDown(static_cast<int>((static_cast<uint64_t>(number) * step) % travel))
                     : 0;
  DrawRows(pixels, layout, top, layout.height, [&](uint8_t* row) {
    FillSpan(row, layout.format, 0, layout.width, kBlack);
  });
  DrawRows(pixels, layout, top + inset, layout.height - inset, [&](uint8_t* row) {
    FillSpan(row, layout.format, x, x + box, kWhite);
  });
}

int LumaAt(const uint8_t* row, PixelFormat format, int x) {
  switch (format) {
    case PixelFormat::kUyvy: return row[2 * x + 1];
    case PixelFormat::kYuy2: return row[2 * x];
    case PixelFormat::kRgb24:
    case PixelFormat::kRgb32: {
      const uint8_t* p = row + x * (format == PixelFormat::kRgb24 ? 3 : 4);
      return (29 * p[0] + 150 * p[1] + 77 * p[2]) >> 8;
    }
  }
  return 0;
}

// Mean luma of the middle half (both ways) of cell c in band row r.
int CellLuma(const uint8_t* pixels, const FrameLayout& layout, int stride, int r, int c) {
  int x0 = layout.width * c / kCells, x1 = layout.width * (c + 1) / kCells;
  int y0 = BandTop(layout.height, r), y1 = BandTop(layout.height, r + 1);
  int dx = (x1 - x0) / 4, dy = (y1 - y0) / 4;
  return MeanLuma(pixels, layout, stride, x0 + dx, y0 + dy, x1 - dx, y1 - dy);
}

}  // namespace

int BitsPerPixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::kUyvy:
    case PixelFormat::kYuy2: return 16;
    case PixelFormat::kRgb24: return 24;
    case PixelFormat::kRgb32: return 32;
  }
  return 0;
}

int RowBytes(PixelFormat format, int width) { return (width * BitsPerPixel(format) + 31) / 32 * 4; }

size_t FrameBytes(const FrameLayout& layout) {
  return static_cast<size_t>(RowBytes(layout.format, layout.width)) * layout.height;
}

bool IsDrawable(const FrameLayout& layout) {
  if (layout.width < kCells * 2 || layout.height < 32) return false;
  if (layout.width > 16384 || layout.height > 16384) return false;
  return !IsYuv(layout.format) || layout.width % 2 == 0;
}

uint32_t FramesPerFlash(int64_t frame_interval_100ns) {
  if (frame_interval_100ns <= 0) return 1;
  int64_t rate = (10000000 + frame_interval_100ns / 2) / frame_interval_100ns;
  return rate > 0 ? static_cast<uint32_t>(rate) : 1;
}

bool IsFlashFrame(uint32_t frame_number, uint32_t frames_per_flash) {
  return frames_per_flash > 0 && frame_number % frames_per_flash == 0;
}

void DrawTestFrame(const FrameLayout& layout, uint32_t frame_number, uint32_t frames_per_flash,
                   uint8_t* pixels) {
  if (!IsDrawable(layout)) return;
  if (IsFlashFrame(frame_number, frames_per_flash)) {
    DrawRows(pixels, layout, 0, layout.height, [&](uint8_t* row) {
      FillSpan(row, layout.format, 0, layout.width, kWhite);
    });
  } else {
    DrawBars(pixels, layout);
    DrawMovingBox(pixels, layout, frame_number);
  }
  DrawBand(pixels, layout, frame_number);
}

int MeanLuma(const uint8_t* pixels, const FrameLayout& layout, int stride, int x0, int y0, int x1,
             int y1) {
  if (x0 < 0 || y0 < 0 || x1 > layout.width || y1 > layout.height || x0 >= x1 || y0 >= y1)
    return -1;
  int64_t sum = 0;
  for (int y = y0; y < y1; ++y) {
    int stored = layout.bottom_up ? layout.height - 1 - y : y;
    const uint8_t* row = pixels + static_cast<size_t>(stored) * stride;
    for (int x = x0; x < x1; ++x) sum += LumaAt(row, layout.format, x);
  }
  return static_cast<int>(sum / (static_cast<int64_t>(x1 - x0) * (y1 - y0)));
}

bool ReadFrameNumber(const uint8_t* pixels, const FrameLayout& layout, int stride,
                     uint32_t* frame_number) {
  if (layout.width < kCells * 4 || layout.height < 64) return false;
  if (stride < layout.width * BitsPerPixel(layout.format) / 8) return false;
  uint32_t number = 0;
  for (int half = 0; half < 2; ++half) {
    for (int c = 0; c < kCells; ++c) {
      int bit = CellLuma(pixels, layout, stride, half, c);
      int inverted = CellLuma(pixels, layout, stride, half + 2, c);
      int contrast = bit - inverted;
      if (contrast < kMinContrast && contrast > -kMinContrast) return false;
      number = (number << 1) | (contrast > 0 ? 1u : 0u);
    }
  }
  *frame_number = number;
  return true;
}

}  // namespace testcard
