// The sections of `fernwood-check --report` that look at the PC without
// running the viewer: the system, the capture devices with what the viewer
// would choose on each, and the folders' volumes.
#ifndef FERNWOOD_CHECK_SYSTEM_REPORT_H
#define FERNWOOD_CHECK_SYSTEM_REPORT_H

#include <string>

std::string DescribePc();

struct DeviceSections {
    std::string devices;  // section 2
    std::string choices;  // section 3
    int video_count = 0;
    int audio_count = 0;
};
// COM initialised on the calling thread. Each device is looked at on a
// thread of its own with a bound, so one that hangs is reported and skipped.
DeviceSections DescribeDevices();

// The volume holding `folder` (UTF-8 path), its free space, and the write
// rate measured there against what `needed_bytes_per_second` needs.
std::string DescribeFolder(const std::string& role, const std::string& folder, double needed_bytes_per_second);

#endif
