// What a configured test device offers, and the parsing of its settings
// text (the registry holds them as strings; see testbed/README.md).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testbed/testcard/portable/test_pattern.h"

namespace testcard {

// 59.94 and 29.97 frames per second in 100 ns units.
const int64_t kInterval5994 = 166833;
const int64_t kInterval2997 = 333667;
// The slowest rate SetFormat accepts: one frame a second.
const int64_t kSlowestInterval = 10000000;

struct Capability {
  PixelFormat format;
  int width;
  int height;
  // Shortest frame interval (fastest rate) of this size, 100 ns units.
  int64_t interval;
};

// UYVY 1280x720 first appears at index 3, after YUY2 and RGB24 entries.
std::vector<Capability> DefaultCapabilities();

const char* FormatName(PixelFormat format);

// "UYVY 1280x720 166833, YUY2 1920x1080" - the interval may be left out
// (59.94 fps up to 720 lines, 29.97 above). False on any malformed entry.
bool ParseCapabilities(const std::string& text, std::vector<Capability>* out);
std::string FormatCapabilities(const std::vector<Capability>& caps);

// "120, 300" - comma-separated unsigned numbers. An empty text is an empty list.
bool ParseNumberList(const std::string& text, std::vector<uint32_t>* out);

// The capability a requested format fits: same pixel format and size, an
// interval no shorter than the capability's and no longer than a second.
// Returns its index, or -1.
int FindCapability(const std::vector<Capability>& caps, PixelFormat format, int width, int height,
                   int64_t interval);

}  // namespace testcard
