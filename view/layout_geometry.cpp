#include "view/layout_geometry.h"

#include <climits>

int TruncateToInt(double value)
{
    if (!(value > static_cast<double>(INT_MIN)))
        return value != value ? 0 : INT_MIN;
    if (!(value < static_cast<double>(INT_MAX)))
        return INT_MAX;
    return static_cast<int>(value);
}

ClipInsets ClipInsetsFor(bool format_720)
{
    return format_720 ? ClipInsets{72, 25} : ClipInsets{108, 38};
}

IntRect SourceRectFor(int native_width, int native_height, ClipInsets insets)
{
    return IntRect{insets.x, insets.y, native_width - insets.x, native_height - insets.y};
}

double EffectiveAspect(bool clipping_on, bool four_three, double aspect)
{
    if (!clipping_on)
        return aspect;
    return four_three ? kClippedAspect4x3 : kClippedAspect16x9;
}

IntRect FitPicture(int width, int height, double aspect)
{
    if (height != 0 && static_cast<double>(width) / static_cast<double>(height) > aspect) {
        int picture_width = TruncateToInt(height * aspect);
        int left = (width - picture_width) / 2;
        return IntRect{left, 0, left + picture_width, height};
    }
    int picture_height = TruncateToInt(width / aspect);
    int top = (height - picture_height) / 2;
    return IntRect{0, top, width, top + picture_height};
}

int PresetHeight(bool half, bool format_720)
{
    if (format_720)
        return half ? 360 : 720;
    return half ? 540 : 1080;
}

enum SizingEdge { kLeft = 1, kRight, kTop, kTopLeft, kTopRight, kBottom, kBottomLeft, kBottomRight };

void FitSizingRect(int edge, int client_width, int client_height, double aspect, FrameExtent frame, IntRect* window)
{
    if (edge < kLeft || edge > kBottomRight)
        return;
    int w = client_width;
    int h = client_height;
    int fitted_height = TruncateToInt(w / aspect) + frame.height;
    int fitted_width = TruncateToInt(h * aspect) + frame.width;
    // The integer quotient, not the ratio: a corner drag switches to
    // width-from-height only once the area is at least twice as wide as high.
    bool wide = h != 0 && static_cast<double>(w / h) > aspect;
    switch (edge) {
    case kLeft:
    case kRight: window->bottom = window->top + fitted_height; return;
    case kTop:
    case kBottom: window->right = window->left + fitted_width; return;
    case kTopLeft:
        if (wide)
            window->left = window->right - fitted_width;
        else
            window->top = window->bottom - fitted_height;
        return;
    case kTopRight:
        if (wide)
            window->right = window->left + fitted_width;
        else
            window->top = window->bottom - fitted_height;
        return;
    case kBottomLeft:
        if (wide)
            window->left = window->right - fitted_width;
        else
            window->bottom = window->top + fitted_height;
        return;
    case kBottomRight:
        if (wide)
            window->right = window->left + fitted_width;
        else
            window->bottom = window->top + fitted_height;
        return;
    }
}

static long long Overlap(const IntRect& a, const IntRect& b)
{
    long long width = static_cast<long long>(a.right < b.right ? a.right : b.right) - (a.left > b.left ? a.left : b.left);
    long long height = static_cast<long long>(a.bottom < b.bottom ? a.bottom : b.bottom) - (a.top > b.top ? a.top : b.top);
    return width > 0 && height > 0 ? width * height : 0;
}

// How far apart the rectangles are along one axis; 0 where they meet or overlap.
static long long Gap(int low_a, int high_a, int low_b, int high_b)
{
    if (high_a < low_b)
        return static_cast<long long>(low_b) - high_a;
    if (high_b < low_a)
        return static_cast<long long>(low_a) - high_b;
    return 0;
}

int MonitorForWindow(const IntRect& window, const IntRect* monitors, int monitor_count)
{
    int best = -1;
    long long best_overlap = 0;
    for (int i = 0; i < monitor_count; ++i) {
        long long overlap = Overlap(window, monitors[i]);
        if (overlap > best_overlap) {
            best = i;
            best_overlap = overlap;
        }
    }
    if (best >= 0)
        return best;
    long long best_distance = 0;
    for (int i = 0; i < monitor_count; ++i) {
        const IntRect& m = monitors[i];
        long long dx = Gap(window.left, window.right, m.left, m.right);
        long long dy = Gap(window.top, window.bottom, m.top, m.bottom);
        // Squares of up to 2^33 each: far inside a long long.
        long long distance = dx * dx + dy * dy;
        if (best < 0 || distance < best_distance) {
            best = i;
            best_distance = distance;
        }
    }
    return best;
}
