#include "settings/save_paths.h"

#include <cstdio>
#include <cstring>

bool FormatTimeStampedName(char* out, size_t size, const char* prefix, const char* extension,
                           const LocalTime& time)
{
    int n = std::snprintf(out, size, "%s%d%02d%02d%02d%02d%02d%s", prefix, time.year, time.month, time.day,
                          time.hour, time.minute, time.second, extension);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool NumberedName(char* out, size_t size, const char* name, int number)
{
    const char* dot = std::strrchr(name, '.');
    int stem = static_cast<int>(dot ? dot - name : std::strlen(name));
    int n = number <= 1 ? std::snprintf(out, size, "%s", name)
                        : std::snprintf(out, size, "%.*s_%d%s", stem, name, number, dot ? dot : "");
    return n > 0 && static_cast<size_t>(n) < size;
}

bool JoinSavePath(char* out, size_t size, const char* folder, const char* name)
{
    if (size == 0)
        return false;
    out[0] = '\0';
    if (std::strlen(folder) > kMaxSaveFolderLength)
        return false;
    int n = std::snprintf(out, size, "%s\\%s", folder, name);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}
