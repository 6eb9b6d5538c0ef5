// Names and paths of the files the program saves (movies and stills).
#ifndef FERNWOODVIEW_SAVE_PATHS_H
#define FERNWOODVIEW_SAVE_PATHS_H

#include <cstddef>

// The joined path must fit 260 bytes: "\" + a 21-character name leaves 237 for the folder.
constexpr size_t kMaxSaveFolderLength = 237;

struct LocalTime {
    int year, month, day, hour, minute, second;
};

// prefix + "%d%02d%02d%02d%02d%02d" + extension, e.g. "cap20070816105804.avi"; false if it does not fit.
bool FormatTimeStampedName(char* out, size_t size, const char* prefix, const char* extension,
                           const LocalTime& time);

// The name for the number-th file of one second: the name itself for 1, else
// "_<number>" before its extension ("pic20070816105804_2.bmp"); false if it does not fit.
bool NumberedName(char* out, size_t size, const char* name, int number);

// Folder + "\" + name; false (and an empty string) if it does not fit or the folder is too long.
bool JoinSavePath(char* out, size_t size, const char* folder, const char* name);

#endif
