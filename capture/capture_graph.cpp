#include "capture/capture_graph.h"

#include <objbase.h>

CaptureGraph capture_graph;

void BuildCaptureGraph()
{
    // The shell's folder browser and every DirectShow object need the
    // single-threaded apartment on this thread.
    capture_graph.com_initialized = SUCCEEDED(CoInitialize(nullptr));
    capture_graph.graph_ready = 1;
}

void ReleaseCaptureGraph()
{
    capture_graph.graph_ready = 0;
    if (capture_graph.com_initialized)
        CoUninitialize();
    capture_graph.com_initialized = false;
}

void SwitchRenderMode(UINT) {}

void UpdateFrameRateReadout() {}
