// Recording start and stop, counters and auto-stop.
#ifndef FERNWOODVIEW_RECORDING_H
#define FERNWOODVIEW_RECORDING_H

#include <windows.h>

struct RecordingState {
    int recording = 0;
    int no_preview_active = 0;
    int auto_stopped = 0;
    int write_failed = 0;  // the stop follows a failed write: the file is not finished
    char file_name[100] = "";
    char movie_path[MAX_PATH] = "";
};

extern RecordingState recording_state;

void ToggleRecording();
void UpdateRecordStats();
void OnGraphEvent();

#endif
