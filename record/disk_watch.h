// The free space of the movie folder's volume while a recording runs.
#ifndef FERNWOODVIEW_DISK_WATCH_H
#define FERNWOODVIEW_DISK_WATCH_H

#include "record/disk_rules.h"

// At the start: whether the folder's volume holds files below 4 GiB only
// (FAT32), and kDiskFull when not even the file's headers would fit.
DiskVerdict BeginDiskWatch(const char* folder, bool* fat32);
// At each tick of the counters; the rate is what the volume lost since the
// start, so it follows the compressor's real output.
DiskVerdict CheckDiskRoom();

#endif
