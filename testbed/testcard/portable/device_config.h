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
  // The largest size, which the capability's media type carries.
  int width;
  int height;
  // Shortest frame interval (fastest rate), 100 ns units.
  int64_t interval;
  // Longest frame interval (slowest rate).
  int64_t max_interval = kSlowestInterval;
  // A scaling driver's smallest size and its step in both directions; for a
  // fixed size the step is 0 and the smallest size is the largest.
  int min_width = 0;
  int min_height = 0;
  int granularity = 0;
};

// A capability of one size only (the minimum interval up to one second).
Capability FixedCapability(PixelFormat format, int width, int height, int64_t interval);
// Whether the capability allows that size and frame interval.
bool CapabilityAllows(const Capability& cap, int width, int height, int64_t interval);

// UYVY 1280x720 first appears at index 3, after YUY2 and RGB24 entries.
std::vector<Capability> DefaultCapabilities();

const char* FormatName(PixelFormat format);

// "UYVY 1280x720 166833, YUY2 1920x1080" - the interval may be left out
// (59.94 fps up to 720 lines, 29.97 above) or be a range "MIN-MAX"; the size
// may be a range "640x480-1920x1080/8" (the step in both directions). False
// on any malformed entry.
bool ParseCapabilities(const std::string& text, std::vector<Capability>* out);
std::string FormatCapabilities(const std::vector<Capability>& caps);

// "120, 300" - comma-separated unsigned numbers. An empty text is an empty list.
bool ParseNumberList(const std::string& text, std::vector<uint32_t>* out);

// The first capability a requested format fits (CapabilityAllows), or -1.
int FindCapability(const std::vector<Capability>& caps, PixelFormat format, int width, int height,
                   int64_t interval);

}  // namespace testcard
