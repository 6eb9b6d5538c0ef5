// Picture and window geometry that needs no Windows API.
#ifndef FERNWOODVIEW_LAYOUT_GEOMETRY_H
#define FERNWOODVIEW_LAYOUT_GEOMETRY_H

#include "settings/settings_rules.h"

constexpr double kAspect16x9 = 16.0 / 9.0;
constexpr double kAspect4x3 = 4.0 / 3.0;
// The 1280×720 frame less its clip insets is 1136 × 670 (852 = 1136 × 3/4);
// the 1920×1080 format uses the same two ratios.
constexpr double kClippedAspect16x9 = 1136.0 / 670.0;
constexpr double kClippedAspect4x3 = 852.0 / 670.0;

// Double to int by truncation toward zero, saturated at the int range.
int TruncateToInt(double value);

struct ClipInsets {
    int x, y;
};
ClipInsets ClipInsetsFor(bool format_720);
// (x, y, width − x, height − y): the shown part of the native frame.
IntRect SourceRectFor(int native_width, int native_height, ClipInsets insets);

// The aspect the picture is fitted at: the clipped ratios while clipping is on.
double EffectiveAspect(bool clipping_on, bool four_three, double aspect);

// The picture at `aspect`, centred in a client area of width × height:
// pillarboxed when the area is wider, otherwise letterboxed.
IntRect FitPicture(int width, int height, double aspect);

int PresetHeight(bool half, bool format_720);

// What the overlapped window frame adds to a client size.
struct FrameExtent {
    int width, height;
};

// Rewrites the edges of the proposed window rectangle of a border drag on
// `edge` (1…8, the sizing edges) so that the client area keeps `aspect`,
// measured from the client size before this step.
void FitSizingRect(int edge, int client_width, int client_height, double aspect, FrameExtent frame, IntRect* window);

// The monitor a window is on, as Windows picks it: the one it overlaps most,
// else the nearest; a tie goes to the earlier, so the caller lists the
// primary first. -1 without monitors.
int MonitorForWindow(const IntRect& window, const IntRect* monitors, int monitor_count);

#endif
