// The repair of a recording that ended without a stop, on the disk: the
// journal kept beside a recording while it runs, and the movie repaired in
// place. Paths are in the ANSI code page, as the viewer keeps them.
#ifndef FERNWOODVIEW_REPAIR_FILE_H
#define FERNWOODVIEW_REPAIR_FILE_H

#include <vector>

#include "record/avi_repair.h"

// Written through to the disk, so that a power cut after it returns keeps it.
bool WriteJournalFile(const char* path, const RecordingJournal& journal);
// False for a missing, torn or foreign file.
bool ReadJournalFile(const char* path, RecordingJournal* journal);

RepairResult RepairMovieFile(const char* path, const std::vector<JournalStream>& streams);
// The streams the movie's own header names; false when it has no readable header.
bool ReadMovieHeaderStreams(const char* path, std::vector<JournalStream>* streams);

#endif
