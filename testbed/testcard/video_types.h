// Video media types the card offers and accepts.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>

#include <vector>

#include "testbed/common/media_type.h"
#include "testbed/testcard/portable/device_config.h"

namespace testcard {

struct VideoFormat {
  PixelFormat format;
  int width;
  int height;
  // 100 ns units; 0 in a request means "the capability's rate".
  int64_t interval;
};

bool operator==(const VideoFormat& a, const VideoFormat& b);

// The format block of a video type: FORMAT_VideoInfo or FORMAT_VideoInfo2.
enum class VideoHeader { kVideoInfo, kVideoInfo2 };

// YUV rows top-down, RGB rows bottom-up as in DIBs.
testbed::MediaType MakeVideoType(const VideoFormat& format,
                                 VideoHeader header = VideoHeader::kVideoInfo);
// False unless mt is a video type in one of the card's pixel formats with
// either format block (header, when given, tells which). As a driver's pin
// matches them, only the subtype, the size and the rate count: the bitmap's
// compression and depth fields follow from the subtype.
bool ParseVideoType(const AM_MEDIA_TYPE& mt, VideoFormat* format, VideoHeader* header = nullptr);
FrameLayout LayoutOf(const VideoFormat& format);
// The capability's largest size at its fastest rate.
VideoFormat FormatOf(const Capability& cap);
// The capability's sizes and frame intervals, in the given format block.
void FillStreamCaps(const Capability& cap, VideoHeader header, VIDEO_STREAM_CONFIG_CAPS* caps);
// Whether some capability of the format's pixel format allows it.
bool FormatAllowed(const std::vector<Capability>& caps, const VideoFormat& format);

}  // namespace testcard
