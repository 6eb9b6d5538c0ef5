// Reads a recording of the test card back: its frames by the numbers drawn
// into them, its sound against its picture, its size against its length.
#ifndef FERNWOOD_CHECK_READBACK_H
#define FERNWOOD_CHECK_READBACK_H

#include <string>

#include "tools/check/portable/check_report.h"

// Fills the file half of `m`; false when the file is not an AVI of the card.
bool ReadBack(const std::string& path, fernwood_check::Measurement* m);

#endif
