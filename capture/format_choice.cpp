#include "capture/format_choice.h"

bool SizeInRange(int32_t value, int32_t min, int32_t max, int32_t step)
{
    if (value == min || value == max)
        return value > 0;
    if (value < min || value > max || step <= 0)
        return false;
    return (static_cast<int64_t>(value) - min) % step == 0;
}

int64_t NearestInterval(int64_t min, int64_t max, int64_t wanted)
{
    if (min <= 0 || wanted <= 0)
        return 0;
    if (max < min)
        max = min;
    int64_t nearest = wanted < min ? min : wanted > max ? max : wanted;
    int64_t distance = nearest > wanted ? nearest - wanted : wanted - nearest;
    return distance * 1000 <= wanted * kIntervalTolerancePerMille ? nearest : 0;
}

static int SubtypeRank(PixelSubtype subtype)
{
    return subtype == PixelSubtype::kUyvy ? 0 : subtype == PixelSubtype::kYuy2 ? 1 : -1;
}

FormatChoice ChooseCapability(const CaptureCapability* caps, int count, const VideoFormat& wanted)
{
    FormatChoice best{-1, 0};
    int best_rank = 0;
    int64_t best_distance = 0;
    for (int i = 0; i < count; ++i) {
        const CaptureCapability& cap = caps[i];
        int rank = SubtypeRank(cap.subtype);
        if (rank < 0 || !cap.video_info || !SizeInRange(wanted.width, cap.min_width, cap.max_width, cap.step_x) ||
            !SizeInRange(wanted.height, cap.min_height, cap.max_height, cap.step_y))
            continue;
        int64_t interval = NearestInterval(cap.min_interval, cap.max_interval, wanted.avg_time_per_frame);
        if (interval == 0)
            continue;
        int64_t distance = interval > wanted.avg_time_per_frame ? interval - wanted.avg_time_per_frame
                                                                : wanted.avg_time_per_frame - interval;
        if (best.index < 0 || rank < best_rank || (rank == best_rank && distance < best_distance)) {
            best = {i, interval};
            best_rank = rank;
            best_distance = distance;
        }
    }
    return best;
}
