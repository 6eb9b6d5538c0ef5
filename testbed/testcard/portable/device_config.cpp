#include "testbed/testcard/portable/device_config.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace testcard {
namespace {

const PixelFormat kFormats[] = {PixelFormat::kUyvy, PixelFormat::kYuy2, PixelFormat::kRgb24,
                                PixelFormat::kRgb32};

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, ',')) parts.push_back(Trim(part));
  if (!text.empty() && text.back() == ',') parts.push_back("");
  return parts;
}

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  *value = std::strtoull(text.c_str(), nullptr, 10);
  return *value <= max;
}

bool ParseFormat(const std::string& name, PixelFormat* format) {
  for (PixelFormat f : kFormats) {
    if (name == FormatName(f)) {
      *format = f;
      return true;
    }
  }
  return false;
}

bool ParseSize(const std::string& text, int* width, int* height) {
  size_t x = text.find('x');
  uint64_t w, h;
  if (x == std::string::npos || !ParseUnsigned(text.substr(0, x), 16384, &w) ||
      !ParseUnsigned(text.substr(x + 1), 16384, &h))
    return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

// "640x480-1920x1080/8": every step of 8 from the smallest to the largest size.
bool ParseSizeRange(const std::string& text, Capability* cap) {
  size_t dash = text.find('-');
  if (dash == std::string::npos) {
    if (!ParseSize(text, &cap->width, &cap->height)) return false;
    cap->min_width = cap->width;
    cap->min_height = cap->height;
    return true;
  }
  size_t slash = text.find('/', dash);
  uint64_t step;
  if (slash == std::string::npos || !ParseSize(text.substr(0, dash), &cap->min_width, &cap->min_height) ||
      !ParseSize(text.substr(dash + 1, slash - dash - 1), &cap->width, &cap->height) ||
      !ParseUnsigned(text.substr(slash + 1), 16384, &step) || step == 0)
    return false;
  cap->granularity = static_cast<int>(step);
  // The largest size must be a step of the range, as the caps' type carries it.
  return cap->min_width <= cap->width && cap->min_height <= cap->height &&
         (cap->width - cap->min_width) % cap->granularity == 0 &&
         (cap->height - cap->min_height) % cap->granularity == 0;
}

bool ParseInterval(const std::string& text, int64_t* value) {
  uint64_t parsed;
  if (!ParseUnsigned(text, kSlowestInterval, &parsed) || parsed == 0) return false;
  *value = static_cast<int64_t>(parsed);
  return true;
}

// "166834-333667", or one number for that minimum up to one second.
bool ParseIntervalRange(const std::string& text, Capability* cap) {
  size_t dash = text.find('-');
  if (dash == std::string::npos) return ParseInterval(text, &cap->interval);
  return ParseInterval(text.substr(0, dash), &cap->interval) &&
         ParseInterval(text.substr(dash + 1), &cap->max_interval) &&
         cap->interval <= cap->max_interval;
}

bool Drawable(const Capability& cap, int width, int height) {
  return IsDrawable({cap.format, width, height, false});
}

bool ParseCapability(const std::string& entry, Capability* cap) {
  std::stringstream stream(entry);
  std::string format, size, interval, extra;
  stream >> format >> size >> interval >> extra;
  *cap = Capability{};
  if (!extra.empty() || !ParseFormat(format, &cap->format) || !ParseSizeRange(size, cap))
    return false;
  cap->interval = cap->height <= 720 ? kInterval5994 : kInterval2997;
  if (!interval.empty() && !ParseIntervalRange(interval, cap)) return false;
  // Every size of a range is drawable when both ends are and, for 4:2:2
  // (even widths only), the step is even.
  bool yuv = cap->format == PixelFormat::kUyvy || cap->format == PixelFormat::kYuy2;
  return Drawable(*cap, cap->min_width, cap->min_height) && Drawable(*cap, cap->width, cap->height) &&
         (!yuv || cap->granularity % 2 == 0);
}

std::string SizeText(const Capability& cap) {
  char text[64];
  if (cap.granularity == 0)
    std::snprintf(text, sizeof text, "%dx%d", cap.width, cap.height);
  else
    std::snprintf(text, sizeof text, "%dx%d-%dx%d/%d", cap.min_width, cap.min_height, cap.width,
                  cap.height, cap.granularity);
  return text;
}

std::string IntervalText(const Capability& cap) {
  std::string text = std::to_string(cap.interval);
  if (cap.max_interval != kSlowestInterval) text += "-" + std::to_string(cap.max_interval);
  return text;
}

bool InSizeRange(int value, int min, int max, int granularity) {
  if (value < min || value > max) return false;
  return granularity > 0 ? (value - min) % granularity == 0 : value == min;
}

}  // namespace

Capability FixedCapability(PixelFormat format, int width, int height, int64_t interval) {
  Capability cap;
  cap.format = format;
  cap.width = cap.min_width = width;
  cap.height = cap.min_height = height;
  cap.interval = interval;
  return cap;
}

bool CapabilityAllows(const Capability& cap, int width, int height, int64_t interval) {
  return InSizeRange(width, cap.min_width, cap.width, cap.granularity) &&
         InSizeRange(height, cap.min_height, cap.height, cap.granularity) &&
         interval >= cap.interval && interval <= cap.max_interval;
}

std::vector<Capability> DefaultCapabilities() {
  return {
      FixedCapability(PixelFormat::kYuy2, 1280, 720, kInterval5994),
      FixedCapability(PixelFormat::kRgb24, 1280, 720, kInterval5994),
      FixedCapability(PixelFormat::kYuy2, 1920, 1080, kInterval2997),
      FixedCapability(PixelFormat::kUyvy, 1280, 720, kInterval5994),
      FixedCapability(PixelFormat::kUyvy, 1920, 1080, kInterval2997),
      FixedCapability(PixelFormat::kRgb24, 1920, 1080, kInterval2997),
      FixedCapability(PixelFormat::kRgb32, 1280, 720, kInterval5994),
  };
}

const char* FormatName(PixelFormat format) {
  switch (format) {
    case PixelFormat::kUyvy: return "UYVY";
    case PixelFormat::kYuy2: return "YUY2";
    case PixelFormat::kRgb24: return "RGB24";
    case PixelFormat::kRgb32: return "RGB32";
  }
  return "?";
}

bool ParseCapabilities(const std::string& text, std::vector<Capability>* out) {
  std::vector<Capability> caps;
  for (const std::string& entry : SplitCommas(text)) {
    Capability cap;
    if (!ParseCapability(entry, &cap)) return false;
    caps.push_back(cap);
  }
  if (caps.empty()) return false;
  *out = caps;
  return true;
}

std::string FormatCapabilities(const std::vector<Capability>& caps) {
  std::string text;
  for (const Capability& cap : caps) {
    if (!text.empty()) text += ", ";
    text += std::string(FormatName(cap.format)) + " " + SizeText(cap) + " " + IntervalText(cap);
  }
  return text;
}

bool ParseNumberList(const std::string& text, std::vector<uint32_t>* out) {
  std::vector<uint32_t> numbers;
  if (!Trim(text).empty()) {
    for (const std::string& part : SplitCommas(text)) {
      uint64_t value;
      if (!ParseUnsigned(part, UINT32_MAX, &value)) return false;
      numbers.push_back(static_cast<uint32_t>(value));
    }
  }
  *out = numbers;
  return true;
}

int FindCapability(const std::vector<Capability>& caps, PixelFormat format, int width, int height,
                   int64_t interval) {
  for (size_t i = 0; i < caps.size(); ++i)
    if (caps[i].format == format && CapabilityAllows(caps[i], width, height, interval))
      return static_cast<int>(i);
  return -1;
}

}  // namespace testcard
