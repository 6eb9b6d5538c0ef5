#include "capture/capture_graph.h"

#include <objbase.h>

CaptureGraph capture_graph;
static bool com_initialized = false;

void BuildCaptureGraph()
{
    // The shell's folder browser and every DirectShow object need the
    // single-threaded apartment on this thread.
    com_initialized = SUCCEEDED(CoInitialize(nullptr));
    capture_graph.graph_ready = 1;
}

void ConnectPreview() {}
void RefreshSourceRect() {}
void DisconnectFilterPins(IBaseFilter*) {}
void SwitchRenderMode(UINT) {}
void UpdateFrameRateReadout() {}

void ReleaseCaptureGraph()
{
    if (com_initialized)
        CoUninitialize();
    com_initialized = false;
}
