// Names and paths of recorded movies.
#ifndef FERNWOODVIEW_MOVIE_FILE_H
#define FERNWOODVIEW_MOVIE_FILE_H

#include <cstddef>

// The joined path must fit 260 bytes: "\" + "capYYYYMMDDhhmmss.avi" leaves 237 for the folder.
constexpr size_t kMaxMovieFolderLength = 237;

struct LocalTime {
    int year, month, day, hour, minute, second;
};

// "cap%d%02d%02d%02d%02d%02d.avi"; false if it does not fit.
bool FormatMovieFileName(char* out, size_t size, const LocalTime& time);

// Folder + "\" + name; false (and an empty string) if it does not fit or the folder is too long.
bool JoinMoviePath(char* out, size_t size, const char* folder, const char* name);

#endif
