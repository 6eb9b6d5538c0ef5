#include "record/recording.h"

RecordingState recording_state;

void ToggleRecording() {}
void UpdateRecordStats() {}
