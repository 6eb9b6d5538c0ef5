// Video media types the card offers and accepts.
#pragma once

#include <windows.h>
#include <dshow.h>

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
void FillStreamCaps(const Capability& cap, VIDEO_STREAM_CONFIG_CAPS* caps);

}  // namespace testcard
