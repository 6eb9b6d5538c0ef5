// When a recording must stop for the room its file needs to be finished.
// Needs no Windows API.
#ifndef FERNWOODVIEW_DISK_RULES_H
#define FERNWOODVIEW_DISK_RULES_H

#include <cstdint>

// FAT32 cannot hold a file of 4 GiB or more.
constexpr uint64_t kFat32FileLimit = 0xFFFFFFFFull;

// What the multiplexer still writes at its stop (index entries for every
// chunk so far, headers) plus a few seconds of the stream at its rate.
uint64_t RoomToFinish(double bytes_per_second, double seconds_recorded);

enum class DiskVerdict { kGoOn, kDiskFull, kFileLimit };

// free_bytes: the volume's free space now; file_bytes: what the recording has
// taken of it; fat32: whether the volume holds files below 4 GiB only.
DiskVerdict JudgeDiskRoom(uint64_t free_bytes, uint64_t file_bytes, double bytes_per_second,
                          double seconds_recorded, bool fat32);

#endif
