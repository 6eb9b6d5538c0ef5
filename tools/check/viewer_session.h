// Records the card through the viewer's own code: its window (hidden), its
// graph, its recording command, as the program itself would, with settings
// of the check's own in a scratch folder so the user's setting.ini is untouched.
#ifndef FERNWOOD_CHECK_VIEWER_SESSION_H
#define FERNWOOD_CHECK_VIEWER_SESSION_H

#include <string>

#include "card_devices.h"
#include "tools/check/portable/check_report.h"

struct SessionRequest {
    CardDevices card;
    int height = 1080;
    double seconds = 10;
    std::string folder;  // code-page path, as the viewer keeps its folders
};

struct SessionResult {
    std::string movie_path;  // empty when no recording began
};

// Fills the recording half of `m` (started, messages, counters).
SessionResult RecordThroughViewer(const SessionRequest& request, fernwood_check::Measurement* m);

#endif
