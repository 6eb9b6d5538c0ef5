#include "testbed/testcard/video_types.h"

#include <climits>
#include <cstring>

namespace testcard {
namespace {

struct FormatInfo {
  PixelFormat format;
  const GUID* subtype;
  DWORD compression;
};

const FormatInfo kFormats[] = {
    {PixelFormat::kUyvy, &MEDIASUBTYPE_UYVY, MAKEFOURCC('U', 'Y', 'V', 'Y')},
    {PixelFormat::kYuy2, &MEDIASUBTYPE_YUY2, MAKEFOURCC('Y', 'U', 'Y', '2')},
    {PixelFormat::kRgb24, &MEDIASUBTYPE_RGB24, BI_RGB},
    {PixelFormat::kRgb32, &MEDIASUBTYPE_RGB32, BI_RGB},
};

const FormatInfo& InfoOf(PixelFormat format) {
  for (const FormatInfo& info : kFormats)
    if (info.format == format) return info;
  return kFormats[0];
}

LONGLONG BitRate(size_t frame_bytes, int64_t interval) {
  return interval > 0 ? static_cast<LONGLONG>(frame_bytes) * 8 * 10000000 / interval : 0;
}

LONG ClampToLong(LONGLONG value) { return value > LONG_MAX ? LONG_MAX : static_cast<LONG>(value); }

bool InSizeRange(LONG value, LONG min, LONG max, int granularity) {
  if (value < min || value > max) return false;
  return granularity > 0 ? (value - min) % granularity == 0 : value == min;
}

}  // namespace

bool operator==(const VideoFormat& a, const VideoFormat& b) {
  return a.format == b.format && a.width == b.width && a.height == b.height &&
         a.interval == b.interval;
}

FrameLayout LayoutOf(const VideoFormat& format) {
  bool rgb = format.format == PixelFormat::kRgb24 || format.format == PixelFormat::kRgb32;
  return {format.format, format.width, format.height, rgb};
}

VideoFormat FormatOf(const Capability& cap) {
  return {cap.format, cap.width, cap.height, cap.interval};
}

testbed::MediaType MakeVideoType(const VideoFormat& format) {
  size_t bytes = FrameBytes(LayoutOf(format));
  testbed::MediaType mt;
  mt->majortype = MEDIATYPE_Video;
  mt->subtype = *InfoOf(format.format).subtype;
  mt->formattype = FORMAT_VideoInfo;
  mt->bFixedSizeSamples = TRUE;
  mt->bTemporalCompression = FALSE;
  mt->lSampleSize = static_cast<ULONG>(bytes);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormat(sizeof(VIDEOINFOHEADER)));
  if (!vih) return mt;
  vih->dwBitRate = static_cast<DWORD>(ClampToLong(BitRate(bytes, format.interval)));
  vih->AvgTimePerFrame = format.interval;
  BITMAPINFOHEADER& bmi = vih->bmiHeader;
  bmi.biSize = sizeof(BITMAPINFOHEADER);
  bmi.biWidth = format.width;
  bmi.biHeight = format.height;
  bmi.biPlanes = 1;
  bmi.biBitCount = static_cast<WORD>(BitsPerPixel(format.format));
  bmi.biCompression = InfoOf(format.format).compression;
  bmi.biSizeImage = static_cast<DWORD>(bytes);
  return mt;
}

bool ParseVideoType(const AM_MEDIA_TYPE& mt, VideoFormat* format) {
  if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) ||
      !IsEqualGUID(mt.formattype, FORMAT_VideoInfo) || mt.cbFormat < sizeof(VIDEOINFOHEADER) ||
      !mt.pbFormat)
    return false;
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
  const BITMAPINFOHEADER& bmi = vih->bmiHeader;
  for (const FormatInfo& info : kFormats) {
    if (!IsEqualGUID(mt.subtype, *info.subtype)) continue;
    if (bmi.biCompression != info.compression ||
        bmi.biBitCount != BitsPerPixel(info.format) || bmi.biWidth <= 0 || bmi.biHeight <= 0 ||
        vih->AvgTimePerFrame < 0)
      return false;
    *format = {info.format, static_cast<int>(bmi.biWidth), static_cast<int>(bmi.biHeight),
               vih->AvgTimePerFrame};
    return true;
  }
  return false;
}

void FillStreamCaps(const Capability& cap, VIDEO_STREAM_CONFIG_CAPS* caps) {
  std::memset(caps, 0, sizeof(*caps));
  size_t bytes = FrameBytes(LayoutOf(FormatOf(cap)));
  SIZE size = {cap.width, cap.height};
  caps->guid = FORMAT_VideoInfo;
  caps->VideoStandard = AnalogVideo_None;
  caps->InputSize = size;
  caps->MinCroppingSize = size;
  caps->MaxCroppingSize = size;
  caps->CropGranularityX = 1;
  caps->CropGranularityY = 1;
  caps->CropAlignX = 1;
  caps->CropAlignY = 1;
  caps->MinOutputSize = size;
  caps->MaxOutputSize = size;
  caps->OutputGranularityX = 0;
  caps->OutputGranularityY = 0;
  caps->MinFrameInterval = cap.interval;
  caps->MaxFrameInterval = kSlowestInterval;
  caps->MinBitsPerSecond = ClampToLong(BitRate(bytes, kSlowestInterval));
  caps->MaxBitsPerSecond = ClampToLong(BitRate(bytes, cap.interval));
}

bool CapsAllow(const VIDEO_STREAM_CONFIG_CAPS& caps, const VideoFormat& format) {
  return InSizeRange(format.width, caps.MinOutputSize.cx, caps.MaxOutputSize.cx,
                     caps.OutputGranularityX) &&
         InSizeRange(format.height, caps.MinOutputSize.cy, caps.MaxOutputSize.cy,
                     caps.OutputGranularityY) &&
         format.interval >= caps.MinFrameInterval && format.interval <= caps.MaxFrameInterval;
}

bool FormatAllowed(const std::vector<Capability>& caps, const VideoFormat& format) {
  VIDEO_STREAM_CONFIG_CAPS range;
  for (const Capability& cap : caps) {
    if (cap.format != format.format) continue;
    FillStreamCaps(cap, &range);
    if (CapsAllow(range, format)) return true;
  }
  return false;
}

}  // namespace testcard
