// The filter graph that shows, plays and records the card.
#ifndef FERNWOODVIEW_CAPTURE_GRAPH_H
#define FERNWOODVIEW_CAPTURE_GRAPH_H

#include <windows.h>

#include <d3d9.h>
#include <dshow.h>
#include <vmr9.h>

// Every pointer is null until created and released exactly once; code that
// releases a member early sets it back to null.
struct CaptureGraph {
    IGraphBuilder* graph = nullptr;
    ICaptureGraphBuilder2* builder = nullptr;
    IMediaControl* media_control = nullptr;
    IBaseFilter* vmr9 = nullptr;
    IVMRFilterConfig9* vmr9_config = nullptr;
    IVMRWindowlessControl9* vmr9_windowless = nullptr;
    IBaseFilter* vmr7 = nullptr;
    IVMRFilterConfig* vmr7_config = nullptr;
    IVMRWindowlessControl* vmr7_windowless = nullptr;
    IBaseFilter* avi_decompressor_1 = nullptr;
    IBaseFilter* avi_decompressor_2 = nullptr;
    IBaseFilter* color_converter = nullptr;
    ICreateDevEnum* device_enum = nullptr;
    IBaseFilter* video_capture = nullptr;
    IAMStreamConfig* video_config = nullptr;
    IBaseFilter* audio_capture = nullptr;
    IAMStreamConfig* audio_config = nullptr;
    IBaseFilter* pin_tee = nullptr;
    IBaseFilter* compressor = nullptr;
    IBaseFilter* avi_mux = nullptr;
    IFileSinkFilter* file_sink = nullptr;
    IAMDroppedFrames* dropped_frames = nullptr;
    IBaseFilter* sample_grabber = nullptr;
    IBaseFilter* null_renderer = nullptr;
    // Created once and kept until the graph goes: see graph_clock.cpp.
    IReferenceClock* system_clock = nullptr;

    int graph_ready = 0;
    int dx9_missing = 0;

    // The frame size the preview's renderer last reported; native_size_new
    // until the layout has taken it.
    int native_width = 0;
    int native_height = 0;
    bool native_size_new = false;
};

extern CaptureGraph capture_graph;

template <class T>
void SafeRelease(T*& pointer)
{
    if (pointer)
        pointer->Release();
    pointer = nullptr;
}

// Frees a media type returned by the platform (format block, object, record).
void FreeMediaType(AM_MEDIA_TYPE* type);
// Frees what a media type filled in by the platform holds, not the record.
void FreeMediaTypeContents(AM_MEDIA_TYPE& type);

// The re-wiring pattern's first and last steps; nothing happens without a
// graph. A graph that will not run is stopped again and the user told why.
void StopGraph();
HRESULT RunGraph();
// Runs the graph and says whether the card really started; stops it again if not.
HRESULT StartGraph();
// Gives a stopped graph a capture device's clock or the system clock (graph_clock.cpp).
void ChooseGraphClock();
// Whether the picture is connected and nothing keeps it from running.
bool PreviewRunning();
// Whether the renderer of the chosen mode has its picture connected now.
bool PreviewConnected();
// Takes out the Smart Tees that no longer carry the card's stream.
void RemoveIdleSmartTees();

void BuildCaptureGraph();
// Connects the preview and reads the frame size its renderer reports; tells
// the user when the picture does not reach the renderer.
void ConnectPreview();
void DisconnectFilterPins(IBaseFilter* filter);
// True when the preview was rebuilt for the other renderer; the layout is
// then the caller's to redo.
bool SwitchRenderMode(UINT id);
void UpdateFrameRateReadout();
// WM_DISPLAYCHANGE: the renderer in use must rebuild its surfaces.
void OnDisplayChange();
void ReleaseCaptureGraph();

#endif
