// The filter graph that shows, plays and records the card.
#ifndef FERNWOODVIEW_CAPTURE_GRAPH_H
#define FERNWOODVIEW_CAPTURE_GRAPH_H

#include <windows.h>

struct CaptureGraph {
    int graph_ready = 0;
    int dx9_missing = 0;
    bool com_initialized = false;
};

extern CaptureGraph capture_graph;

void BuildCaptureGraph();
void ReleaseCaptureGraph();
void SwitchRenderMode(UINT id);
void UpdateFrameRateReadout();

#endif
