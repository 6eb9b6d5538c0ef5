// What a recording that never reached its stop needs to be played: kept
// beside setting.ini while it records, and used at the next start.
#ifndef FERNWOODVIEW_RECORDING_JOURNAL_H
#define FERNWOODVIEW_RECORDING_JOURNAL_H

#include <windows.h>

// Writes the movie's name and the formats the multiplexer took, through to
// the disk. False when it could not be written (the recording still runs).
bool OpenRecordingJournal(const char* movie_path);
// After a stop that finished the file.
void CloseRecordingJournal();
// After a stop forced by a failed write, which leaves the file unfinished:
// repairs it now, or keeps the journal for the next start when the disk
// cannot take even the index yet.
void RepairAfterFailedWrite();
// At start-up: a journal left behind names a recording that ended without a
// stop; makes it playable in place and says so once.
void RepairUnfinishedRecording();

#endif
