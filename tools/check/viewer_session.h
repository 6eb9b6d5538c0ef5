// Records the card through the viewer's own code: its window (hidden), its
// graph, its recording command, as the program itself would, with settings
// of the check's own in a scratch folder so the user's setting.ini is untouched.
#ifndef FERNWOOD_CHECK_VIEWER_SESSION_H
#define FERNWOOD_CHECK_VIEWER_SESSION_H

#include <string>
#include <vector>

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

// The report's trial: the viewer's own graph on the device the user's
// setting.ini names (or `video`), previewed in each render mode and, when
// asked, recorded, with every DirectShow call the capture code makes.
struct TrialRequest {
    int video = -1;              // -1: as the copied settings (or the viewer's default) say
    std::string settings_file;   // the user's setting.ini, code page; empty: none
    int height = 1080;
    double preview_seconds = 3;
    double record_seconds = 0;   // 0: no recording
    std::string folder;          // code page; empty: the viewer's saved folder
};

struct TrialPhase {
    std::string title;
    std::vector<std::string> calls;  // "call: 0x…", in order
    bool running = false;
    std::string graph;               // report lines of GraphText
    std::vector<std::string> figures;  // "key: value"
};

struct TrialResult {
    bool window = false;  // the viewer's window and graph came up
    int video_index = -1;
    int video_count = 0;
    int audio_index = -1;
    std::string video_name, audio_name;  // UTF-8
    std::vector<std::string> compressors;
    std::string movie_folder, picture_folder;  // UTF-8
    std::vector<TrialPhase> phases;
    std::string viewer_message;
    std::string movie_path;  // code page; empty when no recording began
};

// Fills the recording half of `m` when a recording is asked for.
TrialResult TrialThroughViewer(const TrialRequest& request, fernwood_check::Measurement* m);
// Where the trial is, for a watch on another thread: the phase and the last
// call that returned (texts that live as long as the program).
void TrialProgress(const char** phase, const char** call);

#endif
