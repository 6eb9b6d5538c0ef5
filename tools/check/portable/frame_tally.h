// Counts a recording's frames from the numbers the test card draws into
// each picture: what the file should hold between its first and last frame,
// what it holds, and what is missing.
#ifndef FERNWOOD_CHECK_FRAME_TALLY_H
#define FERNWOOD_CHECK_FRAME_TALLY_H

#include <cstdint>
#include <vector>

namespace fernwood_check {

struct FrameTally {
    int64_t expected = 0;   // last number - first number + 1
    int64_t written = 0;    // distinct numbers found
    int64_t lost = 0;       // expected - written
    int64_t repeated = 0;   // numbers found more than once
    int64_t backwards = 0;  // numbers lower than the one before
};

// `numbers` in file order; frames whose number could not be read are left out.
FrameTally TallyFrames(const std::vector<uint32_t>& numbers);

}  // namespace fernwood_check

#endif
