#include "record/movie_file.h"

#include <cstdio>
#include <cstring>

bool FormatMovieFileName(char* out, size_t size, const LocalTime& time)
{
    int n = std::snprintf(out, size, "cap%d%02d%02d%02d%02d%02d.avi", time.year, time.month, time.day, time.hour,
                          time.minute, time.second);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool JoinMoviePath(char* out, size_t size, const char* folder, const char* name)
{
    if (size == 0)
        return false;
    out[0] = '\0';
    if (std::strlen(folder) > kMaxMovieFolderLength)
        return false;
    int n = std::snprintf(out, size, "%s\\%s", folder, name);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}
