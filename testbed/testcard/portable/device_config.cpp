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

bool ParseCapability(const std::string& entry, Capability* cap) {
  std::stringstream stream(entry);
  std::string format, size, interval, extra;
  stream >> format >> size >> interval >> extra;
  if (!extra.empty() || !ParseFormat(format, &cap->format) ||
      !ParseSize(size, &cap->width, &cap->height))
    return false;
  cap->interval = cap->height <= 720 ? kInterval5994 : kInterval2997;
  uint64_t value;
  if (!interval.empty()) {
    if (!ParseUnsigned(interval, kSlowestInterval, &value) || value == 0) return false;
    cap->interval = static_cast<int64_t>(value);
  }
  return IsDrawable({cap->format, cap->width, cap->height, false});
}

}  // namespace

std::vector<Capability> DefaultCapabilities() {
  return {
      {PixelFormat::kYuy2, 1280, 720, kInterval5994},
      {PixelFormat::kRgb24, 1280, 720, kInterval5994},
      {PixelFormat::kYuy2, 1920, 1080, kInterval2997},
      {PixelFormat::kUyvy, 1280, 720, kInterval5994},
      {PixelFormat::kUyvy, 1920, 1080, kInterval2997},
      {PixelFormat::kRgb24, 1920, 1080, kInterval2997},
      {PixelFormat::kRgb32, 1280, 720, kInterval5994},
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
    char entry[64];
    std::snprintf(entry, sizeof entry, "%s%s %dx%d %lld", text.empty() ? "" : ", ",
                  FormatName(cap.format), cap.width, cap.height,
                  static_cast<long long>(cap.interval));
    text += entry;
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
  for (size_t i = 0; i < caps.size(); ++i) {
    const Capability& cap = caps[i];
    if (cap.format == format && cap.width == width && cap.height == height &&
        interval >= cap.interval && interval <= kSlowestInterval)
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace testcard
