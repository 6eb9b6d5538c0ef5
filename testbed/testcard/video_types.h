// Video media types the card offers and accepts.
#pragma once

#include <windows.h>
#include <dshow.h>

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

// VIDEOINFOHEADER type; YUV rows top-down, RGB rows bottom-up as in DIBs.
testbed::MediaType MakeVideoType(const VideoFormat& format);
// False unless mt is a VIDEOINFOHEADER type in one of the card's pixel formats.
bool ParseVideoType(const AM_MEDIA_TYPE& mt, VideoFormat* format);
FrameLayout LayoutOf(const VideoFormat& format);
VideoFormat FormatOf(const Capability& cap);
// A fixed size (minimum = maximum, granularity 0) and every frame interval
// from the capability's rate down to one frame a second.
void FillStreamCaps(const Capability& cap, VIDEO_STREAM_CONFIG_CAPS* caps);
// Whether the size and frame interval lie within the ranges caps describes
// (a granularity of 0 allows the minimum only).
bool CapsAllow(const VIDEO_STREAM_CONFIG_CAPS& caps, const VideoFormat& format);
// Whether some capability of the format's pixel format allows it.
bool FormatAllowed(const std::vector<Capability>& caps, const VideoFormat& format);

}  // namespace testcard
