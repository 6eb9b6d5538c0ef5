#include "record/disk_rules.h"

// Seconds of the stream kept in hand: the writer's buffers and the time
// between two looks at the disk.
static const double kSecondsInHand = 5.0;
// Index entries of both kinds (idx1 and the standard index) per chunk, and
// chunks a second: a frame rate of 60 plus generous sound buffering.
static const double kIndexBytesPerChunk = 32.0;
static const double kChunksPerSecond = 200.0;
static const double kHeaderBytes = 4.0 * 1024 * 1024;

uint64_t RoomToFinish(double bytes_per_second, double seconds_recorded)
{
    if (bytes_per_second < 0)
        bytes_per_second = 0;
    if (seconds_recorded < 0)
        seconds_recorded = 0;
    double room = kHeaderBytes + kSecondsInHand * bytes_per_second +
                  (seconds_recorded + kSecondsInHand) * kChunksPerSecond * kIndexBytesPerChunk;
    return static_cast<uint64_t>(room);
}

DiskVerdict JudgeDiskRoom(uint64_t free_bytes, uint64_t file_bytes, double bytes_per_second,
                          double seconds_recorded, bool fat32)
{
    uint64_t room = RoomToFinish(bytes_per_second, seconds_recorded);
    if (fat32 && (file_bytes >= kFat32FileLimit || kFat32FileLimit - file_bytes <= room))
        return DiskVerdict::kFileLimit;
    return free_bytes <= room ? DiskVerdict::kDiskFull : DiskVerdict::kGoOn;
}
