// Measures audio against video in a movie of the test card: its picture
// flashes white once a second and its sound clicks at the same moment.
#ifndef FERNWOODVIEW_AV_SYNC_H
#define FERNWOODVIEW_AV_SYNC_H

#include <string>

#include "avi_reader.h"

struct AvSync {
    int flashes = 0;  // white frames found
    int clicks = 0;
    int pairs = 0;    // clicks with a flash within a quarter second
    // Click time minus flash time over the pairs, in milliseconds.
    double median_ms = 0;
    double min_ms = 0;
    double max_ms = 0;
};

// Reads a movie of UYVY frames (or the testbed codec's) with 16-bit PCM sound; `summary` receives what
// the reader saw.
AvSync MeasureAvSync(const std::string& path, AviSummary* summary);

#endif
