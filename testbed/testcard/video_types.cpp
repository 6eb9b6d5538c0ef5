#include "testbed/testcard/video_types.h"

#include <climits>
#include <cstring>
#include <numeric>

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

void FillBitmap(const VideoFormat& format, size_t bytes, BITMAPINFOHEADER* bmi) {
  bmi->biSize = sizeof(BITMAPINFOHEADER);
  bmi->biWidth = format.width;
  bmi->biHeight = format.height;
  bmi->biPlanes = 1;
  bmi->biBitCount = static_cast<WORD>(BitsPerPixel(format.format));
  bmi->biCompression = InfoOf(format.format).compression;
  bmi->biSizeImage = static_cast<DWORD>(bytes);
}

// Square pixels: the picture's aspect ratio is its size's.
void FillHeader2(const VideoFormat& format, size_t bytes, VIDEOINFOHEADER2* vih) {
  vih->dwBitRate = static_cast<DWORD>(ClampToLong(BitRate(bytes, format.interval)));
  vih->AvgTimePerFrame = format.interval;
  LONG gcd = std::gcd(format.width, format.height);
  vih->dwPictAspectRatioX = static_cast<DWORD>(format.width / gcd);
  vih->dwPictAspectRatioY = static_cast<DWORD>(format.height / gcd);
  FillBitmap(format, bytes, &vih->bmiHeader);
}

// The bitmap and frame interval of either format block, or nullptr.
const BITMAPINFOHEADER* BitmapOf(const AM_MEDIA_TYPE& mt, REFERENCE_TIME* interval,
                                 VideoHeader* header) {
  if (!mt.pbFormat) return nullptr;
  if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo) && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    *interval = vih->AvgTimePerFrame;
    *header = VideoHeader::kVideoInfo;
    return &vih->bmiHeader;
  }
  if (IsEqualGUID(mt.formattype, FORMAT_VideoInfo2) && mt.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
    *interval = vih->AvgTimePerFrame;
    *header = VideoHeader::kVideoInfo2;
    return &vih->bmiHeader;
  }
  return nullptr;
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

testbed::MediaType MakeVideoType(const VideoFormat& format, VideoHeader header) {
  size_t bytes = FrameBytes(LayoutOf(format));
  testbed::MediaType mt;
  mt->majortype = MEDIATYPE_Video;
  mt->subtype = *InfoOf(format.format).subtype;
  mt->bFixedSizeSamples = TRUE;
  mt->bTemporalCompression = FALSE;
  mt->lSampleSize = static_cast<ULONG>(bytes);
  if (header == VideoHeader::kVideoInfo2) {
    mt->formattype = FORMAT_VideoInfo2;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormat(sizeof(VIDEOINFOHEADER2)));
    if (vih) FillHeader2(format, bytes, vih);
    return mt;
  }
  mt->formattype = FORMAT_VideoInfo;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormat(sizeof(VIDEOINFOHEADER)));
  if (!vih) return mt;
  vih->dwBitRate = static_cast<DWORD>(ClampToLong(BitRate(bytes, format.interval)));
  vih->AvgTimePerFrame = format.interval;
  FillBitmap(format, bytes, &vih->bmiHeader);
  return mt;
}

bool ParseVideoType(const AM_MEDIA_TYPE& mt, VideoFormat* format, VideoHeader* header) {
  REFERENCE_TIME interval = 0;
  VideoHeader found = VideoHeader::kVideoInfo;
  const BITMAPINFOHEADER* bmi = BitmapOf(mt, &interval, &found);
  if (!IsEqualGUID(mt.majortype, MEDIATYPE_Video) || !bmi) return false;
  for (const FormatInfo& info : kFormats) {
    if (!IsEqualGUID(mt.subtype, *info.subtype)) continue;
    if (bmi->biWidth <= 0 || bmi->biHeight <= 0 || interval < 0) return false;
    *format = {info.format, static_cast<int>(bmi->biWidth), static_cast<int>(bmi->biHeight),
               interval};
    if (header) *header = found;
    return true;
  }
  return false;
}

void FillStreamCaps(const Capability& cap, VideoHeader header, VIDEO_STREAM_CONFIG_CAPS* caps) {
  std::memset(caps, 0, sizeof(*caps));
  size_t smallest = FrameBytes(LayoutOf({cap.format, cap.min_width, cap.min_height, 0}));
  size_t largest = FrameBytes(LayoutOf(FormatOf(cap)));
  SIZE size = {cap.width, cap.height};
  caps->guid = header == VideoHeader::kVideoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
  caps->VideoStandard = AnalogVideo_None;
  caps->InputSize = size;
  caps->MinCroppingSize = size;
  caps->MaxCroppingSize = size;
  caps->CropGranularityX = 1;
  caps->CropGranularityY = 1;
  caps->CropAlignX = 1;
  caps->CropAlignY = 1;
  caps->MinOutputSize = {cap.min_width, cap.min_height};
  caps->MaxOutputSize = size;
  caps->OutputGranularityX = cap.granularity;
  caps->OutputGranularityY = cap.granularity;
  caps->StretchTapsX = caps->StretchTapsY = cap.granularity > 0 ? 2 : 0;
  caps->MinFrameInterval = cap.interval;
  caps->MaxFrameInterval = cap.max_interval;
  caps->MinBitsPerSecond = ClampToLong(BitRate(smallest, cap.max_interval));
  caps->MaxBitsPerSecond = ClampToLong(BitRate(largest, cap.interval));
}

bool FormatAllowed(const std::vector<Capability>& caps, const VideoFormat& format) {
  return FindCapability(caps, format.format, format.width, format.height, format.interval) >= 0;
}

}  // namespace testcard
