#include "capture/capture_graph.h"

#include <cwchar>

#include "capture/devices.h"
#include "capture/graph_trace.h"
#include "capture/graph_faults.h"
#include "capture/pins.h"
#include "state/command_menu.h"
#include "state/messages.h"
#include "state/timer_ids.h"
#include "state/window.h"

CaptureGraph capture_graph;
GraphTraceCallback graph_trace = nullptr;
static bool com_initialized = false;
// Whether the last preview connection reached its renderer.
static bool preview_connected = false;

static const DWORD kInprocContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;

void FreeMediaTypeContents(AM_MEDIA_TYPE& type)
{
    if (type.cbFormat)
        CoTaskMemFree(type.pbFormat);
    if (type.pUnk)
        type.pUnk->Release();
    type.cbFormat = 0;
    type.pbFormat = nullptr;
    type.pUnk = nullptr;
}

void FreeMediaType(AM_MEDIA_TYPE* type)
{
    if (!type)
        return;
    FreeMediaTypeContents(*type);
    CoTaskMemFree(type);
}

static IBaseFilter* AddNewFilter(REFCLSID clsid, DWORD context, const wchar_t* name, HRESULT* result = nullptr)
{
    IBaseFilter* filter = nullptr;
    HRESULT hr = Traced("CoCreateInstance(filter)",
                        CoCreateInstance(clsid, nullptr, context, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    if (result)
        *result = hr;
    if (hr != S_OK) {
        SafeRelease(filter);
        return nullptr;
    }
    Traced("IFilterGraph::AddFilter", capture_graph.graph->AddFilter(filter, name));
    return filter;
}

static bool CreateGraphCore()
{
    CaptureGraph& g = capture_graph;
    Traced("CoCreateInstance(CLSID_FilterGraph)",
           CoCreateInstance(CLSID_FilterGraph, nullptr, kInprocContext, IID_IGraphBuilder,
                            reinterpret_cast<void**>(&g.graph)));
    Traced("CoCreateInstance(CLSID_CaptureGraphBuilder2)",
           CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, kInprocContext, IID_ICaptureGraphBuilder2,
                            reinterpret_cast<void**>(&g.builder)));
    if (!g.graph || !g.builder)
        return false;
    Traced("ICaptureGraphBuilder2::SetFiltergraph", g.builder->SetFiltergraph(g.graph));
    g.graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&g.media_control));
    // Errors and a lost device must reach the window whenever they happen.
    IMediaEventEx* events = nullptr;
    if (g.graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events)) == S_OK) {
        events->SetNotifyWindow(reinterpret_cast<OAHWND>(main_window), WM_GRAPH_EVENT, 0);
        events->Release();
    }
    return g.media_control != nullptr;
}

static void AddRenderers()
{
    CaptureGraph& g = capture_graph;
    if (g.vmr9->QueryInterface(IID_IVMRFilterConfig9, reinterpret_cast<void**>(&g.vmr9_config)) == S_OK)
        g.vmr9_config->SetRenderingMode(VMR9Mode_Windowless);
    if (g.vmr9->QueryInterface(IID_IVMRWindowlessControl9, reinterpret_cast<void**>(&g.vmr9_windowless)) == S_OK)
        g.vmr9_windowless->SetVideoClippingWindow(main_window);

    g.vmr7 = AddNewFilter(CLSID_VideoMixingRenderer, kInprocContext, L"Video Mixing Renderer7");
    if (!g.vmr7)
        return;
    if (g.vmr7->QueryInterface(IID_IVMRFilterConfig, reinterpret_cast<void**>(&g.vmr7_config)) == S_OK)
        g.vmr7_config->SetRenderingMode(VMRMode_Windowless);
    if (g.vmr7->QueryInterface(IID_IVMRWindowlessControl, reinterpret_cast<void**>(&g.vmr7_windowless)) == S_OK)
        g.vmr7_windowless->SetVideoClippingWindow(main_window);
}

void BuildCaptureGraph()
{
    CaptureGraph& g = capture_graph;
    // The shell's folder browser and every DirectShow object need the
    // single-threaded apartment on this thread.
    com_initialized = SUCCEEDED(CoInitialize(nullptr));
    if (!CreateGraphCore()) {
        MessageBoxW(main_window, MessageText(Message::kDirectShowMissing), L"エラー", MB_OK);
        return;
    }
    HRESULT vmr9_result;
    g.vmr9 = AddNewFilter(CLSID_VideoMixingRenderer9, kInprocContext, L"Video Mixing Renderer9", &vmr9_result);
    if (!g.vmr9) {
        MessageBoxW(main_window, MessageText(Message::kDirectX9Missing), L"エラー", MB_OK);
        g.dx9_missing = 1;
        DestroyWindow(main_window);
        return;
    }
    AddRenderers();
    g.avi_decompressor_1 = AddNewFilter(CLSID_AVIDec, kInprocContext, L"AviDecompressor1");
    g.avi_decompressor_2 = AddNewFilter(CLSID_AVIDec, kInprocContext, L"AviDecompressor2");
    g.color_converter = AddNewFilter(CLSID_Colour, kInprocContext, L"Color Space Converter");
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                     reinterpret_cast<void**>(&g.device_enum));

    EnumerateCaptureDevices();
    EnumerateCompressors();
    SelectCompressor(compressor_index + IDM_COMPRESSOR_FIRST);
    AddVideoDevice(video_device_index, IsMenuChecked(IDM_RES_720) == MENU_CHECKED ? 720 : 1080);
    if (audio_device_index != -1)
        AddAudioDevice(audio_device_index);
    else
        DisableRateItems();
    RunGraph();
    g.graph_ready = 1;
    ReportMissingVideoDevice();
}

// The graph's filters, each with a reference the caller releases; collected
// first, as removing a filter puts a running enumeration out of step.
static int GraphFilters(IBaseFilter** out, int capacity)
{
    IEnumFilters* filters = nullptr;
    if (!capture_graph.graph || capture_graph.graph->EnumFilters(&filters) != S_OK || !filters)
        return 0;
    int count = 0;
    while (count < capacity && filters->Next(1, &out[count], nullptr) == S_OK)
        ++count;
    filters->Release();
    return count;
}

const int kMostFilters = 64;

// A card without a preview pin gets a Smart Tee from the builder at each
// connection; the one a re-wiring cut loose must go, or Intelligent Connect,
// which tries the graph's own filters first, would route the sound into it.
void RemoveIdleSmartTees()
{
    IBaseFilter* filters[kMostFilters];
    int count = GraphFilters(filters, kMostFilters);
    for (int i = 0; i < count; ++i) {
        CLSID clsid{};
        if (filters[i]->GetClassID(&clsid) == S_OK && clsid == CLSID_SmartTee && !HasConnectedInput(filters[i])) {
            DisconnectFilterPins(filters[i]);
            capture_graph.graph->RemoveFilter(filters[i]);
        }
        filters[i]->Release();
    }
}

static IBaseFilter* PreviewRenderer(bool vmr9_path)
{
    return vmr9_path ? capture_graph.vmr9 : capture_graph.vmr7;
}

static HRESULT RenderPreview(bool vmr9_path)
{
    CaptureGraph& g = capture_graph;
    // The type keeps the builder off a sound pin of the video filter.
    const GUID* video = &MEDIATYPE_Video;
    IBaseFilter* renderer = PreviewRenderer(vmr9_path);
    HRESULT hr;
    if (vmr9_path && g.color_converter) {
        hr = Traced("RenderStream(PREVIEW, Video, card, AviDecompressor1, Color Space Converter)",
                    g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, video, g.video_capture, g.avi_decompressor_1,
                                            g.color_converter));
        HRESULT to_renderer = Traced("RenderStream(Color Space Converter, VMR9)",
                                     g.builder->RenderStream(nullptr, nullptr, g.color_converter, nullptr, g.vmr9));
        // The first failure is the one to tell.
        hr = FAILED(hr) ? hr : to_renderer;
    } else {
        // Without a converter the renderer may still take the decompressor's output.
        hr = Traced("RenderStream(PREVIEW, Video, card, AviDecompressor1, renderer)",
                    g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, video, g.video_capture, g.avi_decompressor_1,
                                            renderer));
    }
    if (HasConnectedInput(renderer))
        return hr;
    // The AVI Decompressor takes VIDEOINFOHEADER only (its documented input
    // types): a card that offers VIDEOINFOHEADER2 alone goes to the renderer,
    // which takes it, by whatever Intelligent Connect finds.
    DisconnectFilterPins(g.color_converter);
    DisconnectFilterPins(g.avi_decompressor_1);
    HRESULT direct = Traced("RenderStream(PREVIEW, Video, card, renderer)",
                            g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, video, g.video_capture, nullptr, renderer));
    return HasConnectedInput(renderer) ? direct : hr;
}

void ConnectPreview()
{
    CaptureGraph& g = capture_graph;
    preview_connected = false;
    if (!g.builder || !g.video_capture)
        return;
    RemoveIdleSmartTees();
    ApplyCaptureFormat();
    bool vmr9_path = IsMenuChecked(IDM_MODE_VMR9) == MENU_CHECKED;
    HRESULT hr = RenderPreview(vmr9_path);
    // The builder answers S_OK for a stream it found no pin for.
    preview_connected = HasConnectedInput(PreviewRenderer(vmr9_path));
    if (!preview_connected)
        ReportGraphFault(GraphStep::kPreview, FAILED(hr) ? hr : VFW_E_NOT_CONNECTED);
    LONG width = 0, height = 0;
    hr = E_POINTER;
    if (vmr9_path && g.vmr9_windowless)
        hr = g.vmr9_windowless->GetNativeVideoSize(&width, &height, nullptr, nullptr);
    else if (!vmr9_path && g.vmr7_windowless)
        hr = g.vmr7_windowless->GetNativeVideoSize(&width, &height, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        g.native_width = width;
        g.native_height = height;
        g.native_size_new = true;
    }
}

void DisconnectFilterPins(IBaseFilter* filter)
{
    if (!filter || !capture_graph.graph)
        return;
    FindPin(filter, [](IPin* pin) {
        IPin* peer = nullptr;
        if (pin->ConnectedTo(&peer) == S_OK) {
            capture_graph.graph->Disconnect(pin);
            capture_graph.graph->Disconnect(peer);
            peer->Release();
        }
        return false;
    });
}

void StopGraph()
{
    if (capture_graph.media_control)
        Traced("IMediaControl::Stop", capture_graph.media_control->Stop());
}

// Wine's graph answers S_FALSE for a Run that a source refused once a
// renderer has answered its Pause with S_FALSE; Windows' answers the source's
// error. A card left stopped is asked again, for the reason.
static HRESULT CardRefusal()
{
    IBaseFilter* card = capture_graph.video_capture;
    FILTER_STATE state = State_Running;
    if (!card || FAILED(card->GetState(0, &state)) || state != State_Stopped)
        return S_OK;
    HRESULT hr = Traced("IBaseFilter::Pause(card)", card->Pause());
    card->Stop();
    return FAILED(hr) ? hr : E_FAIL;
}

// After a refused start Wine's graph leaves the filters it paused first
// paused, and its own Stop then stops nothing; each filter is told itself.
static void StopEveryFilter()
{
    IBaseFilter* filters[kMostFilters];
    int count = GraphFilters(filters, kMostFilters);
    for (int i = 0; i < count; ++i) {
        filters[i]->Stop();
        filters[i]->Release();
    }
}

HRESULT StartGraph()
{
    if (!capture_graph.media_control)
        return E_POINTER;
    ChooseGraphClock();
    HRESULT hr = Traced("IMediaControl::Run", capture_graph.media_control->Run());
    if (SUCCEEDED(hr))
        hr = CardRefusal();
    // A graph that failed half way would hold the filters that did start.
    if (FAILED(hr)) {
        capture_graph.media_control->Stop();
        StopEveryFilter();
    }
    return hr;
}

HRESULT RunGraph()
{
    HRESULT hr = StartGraph();
    if (FAILED(hr))
        ReportGraphFault(GraphStep::kRun, hr);
    else if (preview_connected && CaptureFormatTaken())
        ClearGraphFault();
    return hr;
}

// The first renderer draws, its item checked; while recording, checked and greyed (11).
static bool Vmr9InUse()
{
    unsigned state = IsMenuChecked(IDM_MODE_VMR9);
    return state == MENU_CHECKED || state == MENU_CHECKED_GRAYED;
}

bool PreviewConnected()
{
    return HasConnectedInput(PreviewRenderer(Vmr9InUse()));
}

bool PreviewRunning()
{
    return preview_connected && !GraphFaultStands();
}

static void ShowNoFrameRate()
{
    SetMenuState(IDM_FRAME_RATE, MENU_GRAYED);
    SetMenuText(IDM_FRAME_RATE, L"平均 - fps");
}

bool SwitchRenderMode(UINT id)
{
    if (IsMenuChecked(id) != MENU_ENABLED)
        return false;
    CaptureGraph& g = capture_graph;
    bool to_vmr9 = id == IDM_MODE_VMR9;
    CheckMenuItem(CommandMenu, IDM_MODE_VMR9, MF_BYCOMMAND | (to_vmr9 ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(CommandMenu, IDM_MODE_VMR7, MF_BYCOMMAND | (to_vmr9 ? MF_UNCHECKED : MF_CHECKED));
    if (to_vmr9) {
        SetTimer(main_window, TIMER_FPS, kFpsInterval, nullptr);
        SetMenuState(IDM_FRAME_RATE, MENU_ENABLED);
    } else {
        KillTimer(main_window, TIMER_FPS);
        ShowNoFrameRate();
    }
    StopGraph();
    if (!to_vmr9)
        DisconnectFilterPins(g.color_converter);
    DisconnectFilterPins(g.avi_decompressor_1);
    DisconnectFilterPins(g.video_capture);
    ConnectPreview();
    RunGraph();
    return true;
}

void OnDisplayChange()
{
    // Both renderers ask to be told: they draw through the display's surfaces,
    // which a new resolution, scaling or monitor replaces.
    bool vmr9_path = Vmr9InUse();
    if (vmr9_path && capture_graph.vmr9_windowless)
        capture_graph.vmr9_windowless->DisplayModeChanged();
    else if (!vmr9_path && capture_graph.vmr7_windowless)
        capture_graph.vmr7_windowless->DisplayModeChanged();
}

void UpdateFrameRateReadout()
{
    IQualProp* quality = nullptr;
    int rate = 0;
    bool known = capture_graph.vmr9 &&
                 capture_graph.vmr9->QueryInterface(IID_IQualProp, reinterpret_cast<void**>(&quality)) == S_OK &&
                 quality->get_AvgFrameRate(&rate) == S_OK;
    SafeRelease(quality);
    if (!known) {
        // A renderer that keeps no statistics: say so rather than show a stale number.
        SetMenuText(IDM_FRAME_RATE, L"平均 - fps");
        return;
    }
    wchar_t caption[100];
    std::swprintf(caption, 100, L"平均 %d fps", rate / 100);
    SetMenuText(IDM_FRAME_RATE, caption);
}

void ReleaseCaptureGraph()
{
    CaptureGraph& g = capture_graph;
    StopGraph();
    SafeRelease(g.sample_grabber);
    SafeRelease(g.dropped_frames);
    SafeRelease(g.compressor);
    SafeRelease(g.avi_mux);
    SafeRelease(g.pin_tee);
    SafeRelease(g.file_sink);
    SafeRelease(g.vmr7_config);
    SafeRelease(g.vmr9_config);
    SafeRelease(g.vmr7);
    SafeRelease(g.vmr9);
    SafeRelease(g.audio_config);
    SafeRelease(g.video_config);
    ReleaseVideoDeviceConfig();
    ReleaseAudioMonitor();
    SafeRelease(g.null_renderer);
    SafeRelease(g.color_converter);
    SafeRelease(g.avi_decompressor_1);
    SafeRelease(g.avi_decompressor_2);
    SafeRelease(g.audio_capture);
    SafeRelease(g.video_capture);
    SafeRelease(g.vmr7_windowless);
    SafeRelease(g.vmr9_windowless);
    SafeRelease(g.device_enum);
    SafeRelease(g.media_control);
    SafeRelease(g.builder);
    SafeRelease(g.graph);
    SafeRelease(g.system_clock);
    if (com_initialized)
        CoUninitialize();
    com_initialized = false;
}
