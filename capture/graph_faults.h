// What keeps the picture from starting, told to the user once and in words
// where the cause is known. A fault stands until the graph runs as chosen
// again; the same fault meanwhile (a retry, another switch) is not told twice.
#ifndef FERNWOODVIEW_GRAPH_FAULTS_H
#define FERNWOODVIEW_GRAPH_FAULTS_H

#include <windows.h>

#include <cstddef>

enum class GraphStep {
    kFormat,     // the device refused the format chosen for it
    kPreview,    // the picture could not be connected to the renderer
    kRun,        // the graph could not be started
    kStreaming,  // the graph stopped itself with an error while previewing
};

// Queues the message for `hr` at `step` unless that fault already stands.
void ReportGraphFault(GraphStep step, HRESULT hr);
// The device does not offer the menu's format; it keeps its own.
void ReportFormatNotOffered(int height);
// Takes `hr` as told, so that undoing a failed command does not tell it again.
void NoteGraphFault(HRESULT hr);
// The graph runs as chosen: the next fault is told again.
void ClearGraphFault();
bool GraphFaultStands();
// While a card is unplugged every fault follows from that, which the user has been told.
void HoldGraphFaults(bool hold);
// WM_GRAPH_FAULT: shows what was queued.
void ShowQueuedGraphFault();

// The plain cause of `hr` where it is known, otherwise the code in hex with
// the system's text for it.
void DescribeFailure(HRESULT hr, wchar_t* text, size_t size);
// Whether `hr` says the file's disk is full or the file too large.
bool IsDiskFull(HRESULT hr);

#endif
