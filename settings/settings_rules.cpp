#include "settings/settings_rules.h"

#include <cstdio>

bool JoinPath(char* out, size_t size, const char* folder, const char* name)
{
    if (size == 0)
        return false;
    int n = std::snprintf(out, size, "%s\\%s", folder, name);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}

double AspectFromSetting(int aspect_ratio_id)
{
    return aspect_ratio_id == 5001 ? 16.0 / 9.0 : 4.0 / 3.0;
}

IntRect InitialClientRect(int top, int left, int bottom, double aspect)
{
    long long height = static_cast<long long>(bottom) - top;
    bool usable = height > 0 && height <= kMaxClientHeight && left >= -kMaxClientHeight &&
                  left <= kMaxClientHeight && top >= -kMaxClientHeight && top <= kMaxClientHeight;
    if (!usable) {
        top = 0;
        left = 0;
        bottom = kDefaultClientHeight;
    }
    return IntRect{left, top, static_cast<int>(bottom * aspect), bottom};
}

void ResolveWindowPosition(int* x, int* y, int width, int height, const IntRect* monitors, int monitor_count)
{
    if (*x == kUseDefaultPosition || *y == kUseDefaultPosition) {
        *x = *y = kUseDefaultPosition;
        return;
    }
    long long right = static_cast<long long>(*x) + width;
    long long bottom = static_cast<long long>(*y) + height;
    for (int i = 0; i < monitor_count; ++i) {
        const IntRect& m = monitors[i];
        if (right > m.left && *x < m.right && bottom > m.top && *y < m.bottom)
            return;
    }
    *x = *y = kUseDefaultPosition;
}
