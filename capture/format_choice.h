// Which of a card's capabilities gives the format the menu names, and at
// which frame interval. Cards describe ranges, not single formats, and few
// list 59.94 fps exactly: some only 60.00, some a range starting just above.
#ifndef FERNWOODVIEW_FORMAT_CHOICE_H
#define FERNWOODVIEW_FORMAT_CHOICE_H

#include <cstdint>

#include "capture/selection_rules.h"

// UYVY is what the decoder chain was chosen for; YUY2 carries the same 4:2:2
// samples in another order and goes through the same chain.
enum class PixelSubtype { kUyvy, kYuy2, kOther };

// One GetStreamCaps entry, reduced to what the choice needs.
struct CaptureCapability {
    PixelSubtype subtype;
    // VIDEOINFOHEADER or VIDEOINFOHEADER2, with a format block of that size.
    bool video_info;
    int32_t min_width, max_width, step_x;
    int32_t min_height, max_height, step_y;
    int64_t min_interval, max_interval;  // 100 ns units
};

// How far the interval asked for may be from the wanted one: 60.00 fps for
// 59.94 is 0.1 %, a different rate (50 fps) is 20 %.
constexpr int64_t kIntervalTolerancePerMille = 5;

// Whether `value` is one of the sizes min, min + step, ... max; a step of 0
// or less allows min and max only.
bool SizeInRange(int32_t value, int32_t min, int32_t max, int32_t step);
// The interval of [min, max] nearest to `wanted`, or 0 when that is further
// than the tolerance. A range whose maximum is below its minimum is taken as
// the minimum alone, as drivers that leave the maximum 0 mean.
int64_t NearestInterval(int64_t min, int64_t max, int64_t wanted);

struct FormatChoice {
    int index;          // -1: no capability offers the format
    int64_t interval;   // what to ask for in AvgTimePerFrame
};
// UYVY before YUY2, then the interval nearest the wanted one, then the first listed.
FormatChoice ChooseCapability(const CaptureCapability* caps, int count, const VideoFormat& wanted);

#endif
