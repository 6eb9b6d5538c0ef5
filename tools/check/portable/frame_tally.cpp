#include "frame_tally.h"

#include <algorithm>

namespace fernwood_check {

FrameTally TallyFrames(const std::vector<uint32_t>& numbers)
{
    FrameTally tally;
    if (numbers.empty())
        return tally;
    for (size_t i = 1; i < numbers.size(); ++i)
        tally.backwards += numbers[i] < numbers[i - 1] ? 1 : 0;
    std::vector<uint32_t> sorted(numbers);
    std::sort(sorted.begin(), sorted.end());
    int64_t distinct = std::unique(sorted.begin(), sorted.end()) - sorted.begin();
    tally.expected = static_cast<int64_t>(sorted[distinct - 1]) - sorted.front() + 1;
    tally.written = distinct;
    tally.lost = tally.expected - distinct;
    tally.repeated = static_cast<int64_t>(numbers.size()) - distinct;
    return tally;
}

}  // namespace fernwood_check
