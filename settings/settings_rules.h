// Rules of the settings file that need no Windows API.
#ifndef FERNWOODVIEW_SETTINGS_RULES_H
#define FERNWOODVIEW_SETTINGS_RULES_H

#include <cstddef>

constexpr int kPathBufferSize = 260;  // ANSI paths, as the platform's MAX_PATH
constexpr int kSettingTextSize = 100; // folder strings read back hold at most 99 characters
constexpr int kDefaultClientHeight = 720;
constexpr int kMaxClientHeight = 16384;
constexpr int kUseDefaultPosition = static_cast<int>(0x80000000u);  // CW_USEDEFAULT

// Joins folder and file name with one backslash ("%s\%s"). Returns false and
// leaves an empty string when the result would not fit.
bool JoinPath(char* out, size_t size, const char* folder, const char* name);

// 5001 selects 16:9, any other value 4:3.
double AspectFromSetting(int aspect_ratio_id);

struct IntRect {
    int left, top, right, bottom;
};

// The first client rectangle: width = height × aspect, truncated toward zero.
// A stored rectangle that gives no usable height falls back to 0, 0, 720.
IntRect InitialClientRect(int top, int left, int bottom, double aspect);

// A stored window position is used only when the window would overlap one of
// the monitors; otherwise both coordinates become CW_USEDEFAULT, which puts
// it on the primary monitor. The monitors' bounding box is not enough: beside
// a taller monitor, or after one was unplugged, it holds corners nothing shows.
void ResolveWindowPosition(int* x, int* y, int width, int height, const IntRect* monitors, int monitor_count);

#endif
