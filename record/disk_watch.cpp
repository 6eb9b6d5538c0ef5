#include "record/disk_watch.h"

#include <windows.h>

#include <cstring>

namespace {

struct DiskWatch {
    char folder[MAX_PATH] = "";
    bool fat32 = false;
    uint64_t free_at_start = 0;
    uint64_t last_free = 0;
    ULONGLONG start_ms = 0;
    ULONGLONG last_ms = 0;
    double rate = 0;
};

DiskWatch watch;

bool FreeBytes(uint64_t* free)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(watch.folder, &available, nullptr, nullptr))
        return false;
    *free = available.QuadPart;
    return true;
}

bool OnFat(const char* folder)
{
    char root[MAX_PATH];
    char system[MAX_PATH + 1];
    if (!GetVolumePathNameA(folder, root, MAX_PATH) ||
        !GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, system, sizeof system))
        return false;
    return std::strncmp(system, "FAT", 3) == 0;
}

}  // namespace

DiskVerdict BeginDiskWatch(const char* folder, bool* fat32)
{
    std::strncpy(watch.folder, folder, MAX_PATH - 1);
    watch.folder[MAX_PATH - 1] = '\0';
    watch.fat32 = *fat32 = OnFat(folder);
    watch.rate = 0;
    watch.start_ms = watch.last_ms = GetTickCount64();
    // A volume that cannot be asked is not watched rather than refused.
    if (!FreeBytes(&watch.free_at_start)) {
        watch.folder[0] = '\0';
        return DiskVerdict::kGoOn;
    }
    watch.last_free = watch.free_at_start;
    return JudgeDiskRoom(watch.free_at_start, 0, 0, 0, watch.fat32);
}

DiskVerdict CheckDiskRoom()
{
    uint64_t free = 0;
    if (!watch.folder[0] || !FreeBytes(&free))
        return DiskVerdict::kGoOn;
    ULONGLONG now = GetTickCount64();
    if (now > watch.last_ms && watch.last_free > free) {
        double recent = static_cast<double>(watch.last_free - free) * 1000.0 / static_cast<double>(now - watch.last_ms);
        // The fastest recent pace: a writer catching up after a stall writes
        // faster than the stream's mean.
        watch.rate = recent > watch.rate ? recent : watch.rate * 0.9 + recent * 0.1;
    }
    watch.last_free = free;
    watch.last_ms = now;
    uint64_t taken = watch.free_at_start > free ? watch.free_at_start - free : 0;
    double seconds = static_cast<double>(now - watch.start_ms) / 1000.0;
    return JudgeDiskRoom(free, taken, watch.rate, seconds, watch.fat32);
}
