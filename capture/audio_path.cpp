#include "capture/devices.h"

#include <mmreg.h>

#include "capture/capture_graph.h"
#include "capture/graph_trace.h"
#include "capture/pins.h"
#include "state/command_menu.h"

int audio_device_index = 0;
int audio_device_count = 0;
// The first filter the live sound was rendered to (normally the default
// audio renderer); held so that the sound can be sent back to it.
static IBaseFilter* audio_monitor = nullptr;

// 20 ms buffers: the sound then trails the picture by about one frame, and
// the multiplexer's capture interleaving never waits on a long audio buffer.
// Shorter ones would only add buffers per second for the capture filter and
// the renderer to handle.
static const int kAudioBufferMs = 20;
// Buffers for one second, so that a renderer or multiplexer holding some
// back never starves the capture filter.
static const int kAudioBuffers = 1000 / kAudioBufferMs;

HRESULT SetPcmFormat(IAMStreamConfig* config, int rate)
{
    AM_MEDIA_TYPE* type = nullptr;
    if (FAILED(config->GetFormat(&type)) || !type)
        return E_FAIL;
    if (!type->pbFormat || type->cbFormat < sizeof(WAVEFORMATEX)) {
        FreeMediaType(type);
        return E_FAIL;
    }
    auto wave = reinterpret_cast<WAVEFORMATEX*>(type->pbFormat);
    wave->wFormatTag = WAVE_FORMAT_PCM;
    wave->nChannels = 2;
    wave->nSamplesPerSec = rate;
    wave->nAvgBytesPerSec = rate * 4;
    wave->nBlockAlign = 4;
    wave->wBitsPerSample = 16;
    wave->cbSize = 0;
    HRESULT hr = Traced("IAMStreamConfig::SetFormat(audio)", config->SetFormat(type));
    FreeMediaType(type);
    return hr;
}

HRESULT SetAudioFormat(int rate)
{
    CaptureGraph& g = capture_graph;
    SafeRelease(g.audio_config);
    HRESULT hr = g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, g.audio_capture, IID_IAMStreamConfig,
                                          reinterpret_cast<void**>(&g.audio_config));
    if (hr != S_OK || !g.audio_config)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    return SetPcmFormat(g.audio_config, rate);
}

static void ApplyRateProbe(bool ok_44k, bool ok_48k)
{
    RateOutcome outcome = ResolveRateProbe(ok_44k, ok_48k, IsMenuChecked(IDM_AUDIO_44K));
    if (outcome.state_44k != kStateUnchanged)
        SetMenuState(IDM_AUDIO_44K, outcome.state_44k);
    if (outcome.state_48k != kStateUnchanged)
        SetMenuState(IDM_AUDIO_48K, outcome.state_48k);
    if (outcome.reapply_44k)
        SetAudioFormat(44100);
}

// Windows' audio capture filters deliver half-second buffers unless asked
// for others, which puts the live sound half a second behind the picture.
void SuggestShortAudioBuffers(ICaptureGraphBuilder2* builder, IBaseFilter* device, IAMStreamConfig* config)
{
    AM_MEDIA_TYPE* type = nullptr;
    if (!config || FAILED(config->GetFormat(&type)) || !type)
        return;
    DWORD bytes_per_second = 0, block = 0;
    if (type->pbFormat && type->cbFormat >= sizeof(WAVEFORMATEX)) {
        auto wave = reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
        bytes_per_second = wave->nAvgBytesPerSec;
        block = wave->nBlockAlign;
    }
    FreeMediaType(type);
    if (bytes_per_second == 0 || block == 0)
        return;
    IAMBufferNegotiation* negotiation = nullptr;
    if (builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, device, IID_IAMBufferNegotiation,
                               reinterpret_cast<void**>(&negotiation)) != S_OK ||
        !negotiation) {
        SafeRelease(negotiation);
        return;
    }
    ALLOCATOR_PROPERTIES request{-1, -1, -1, -1};
    request.cBuffers = kAudioBuffers;
    request.cbBuffer = static_cast<long>(bytes_per_second * kAudioBufferMs / 1000 / block * block);
    negotiation->SuggestAllocatorProperties(&request);
    negotiation->Release();
}

// Removes every filter fed, directly or not, by `output`.
static void RemoveDownstream(IPin* output, int depth = 0)
{
    IBaseFilter* next = depth > 8 ? nullptr : PeerOwner(output);
    if (!next)
        return;
    IPin* outputs[16];
    int count = OutputPins(next, outputs, 16);
    for (int i = 0; i < count; ++i) {
        RemoveDownstream(outputs[i], depth + 1);
        outputs[i]->Release();
    }
    capture_graph.graph->RemoveFilter(next);
    next->Release();
}

// What was rendered after the tee goes with it, or each switch would leave
// another unconnected renderer in the graph.
static void RemoveAudioBranch()
{
    CaptureGraph& g = capture_graph;
    if (g.pin_tee) {
        IPin* outputs[16];
        int count = OutputPins(g.pin_tee, outputs, 16);
        for (int i = 0; i < count; ++i) {
            RemoveDownstream(outputs[i]);
            outputs[i]->Release();
        }
        g.graph->RemoveFilter(g.pin_tee);
    }
    if (audio_monitor)
        g.graph->RemoveFilter(audio_monitor);
    SafeRelease(audio_monitor);
    if (g.audio_capture)
        g.graph->RemoveFilter(g.audio_capture);
}

static void RenderLiveSound(IPin* output)
{
    CaptureGraph& g = capture_graph;
    Traced("IGraphBuilder::Render(Infinite Pin Tee output)", g.graph->Render(output));
    if (IsConnected(output)) {
        SafeRelease(audio_monitor);
        audio_monitor = PeerOwner(output);
    }
}

void AddAudioDevice(int index)
{
    CaptureGraph& g = capture_graph;
    SafeRelease(g.audio_config);
    SafeRelease(g.audio_capture);
    SafeRelease(g.pin_tee);
    IMoniker* moniker = FindDeviceMoniker(CLSID_AudioInputDeviceCategory, index);
    if (!moniker)
        return;
    Traced("IMoniker::BindToObject(audio device)",
           moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&g.audio_capture)));
    moniker->Release();
    if (!g.audio_capture)
        return;
    Traced("IFilterGraph::AddFilter(audio device)", g.graph->AddFilter(g.audio_capture, L"オーディオデバイス"));
    bool ok_44k = SetAudioFormat(44100) == S_OK;
    bool ok_48k = SetAudioFormat(48000) == S_OK;
    bool probed_48k = ok_48k;
    KeepAudioDeviceRate(index, &ok_44k, &ok_48k);
    // The probe left the device at 48 kHz, which it would only resample.
    if (probed_48k && !ok_48k)
        SetAudioFormat(44100);
    ApplyRateProbe(ok_44k, ok_48k);
    SuggestShortAudioBuffers(g.builder, g.audio_capture, g.audio_config);

    Traced("CoCreateInstance(CLSID_InfTee)",
           CoCreateInstance(CLSID_InfTee, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_IBaseFilter,
                            reinterpret_cast<void**>(&g.pin_tee)));
    if (!g.pin_tee)
        return;
    Traced("IFilterGraph::AddFilter(Infinite Pin Tee)", g.graph->AddFilter(g.pin_tee, L"インフィニットピンティー"));
    Traced("RenderStream(Audio, audio device, Infinite Pin Tee)",
           g.builder->RenderStream(nullptr, &MEDIATYPE_Audio, g.audio_capture, nullptr, g.pin_tee));
    if (IPin* output = FirstOutputPin(g.pin_tee)) {
        RenderLiveSound(output);
        output->Release();
    }
}

void ReconnectLiveSound()
{
    CaptureGraph& g = capture_graph;
    if (!g.pin_tee)
        return;
    // The tee may have deleted the output the sound left from, and a free
    // input of the multiplexer must not take the sound: name the renderer.
    // The builder's S_OK alone does not say that it connected anything.
    if (audio_monitor) {
        Traced("RenderStream(Audio, Infinite Pin Tee, sound renderer)",
               g.builder->RenderStream(nullptr, &MEDIATYPE_Audio, g.pin_tee, nullptr, audio_monitor));
        if (HasConnectedInput(audio_monitor))
            return;
    }
    if (IPin* output = FreeOutputPin(g.pin_tee)) {
        RenderLiveSound(output);
        output->Release();
    }
}

void DisconnectLiveSound()
{
    CaptureGraph& g = capture_graph;
    if (!g.pin_tee)
        return;
    // The output that feeds the renderer, which after a restored recording
    // need not be the tee's first any more.
    IPin* outputs[16];
    int count = OutputPins(g.pin_tee, outputs, 16);
    bool done = false;
    for (int i = 0; i < count; ++i) {
        IPin* peer = nullptr;
        if (!done && outputs[i]->ConnectedTo(&peer) == S_OK && peer) {
            IBaseFilter* owner = PinOwner(peer);
            if (owner == audio_monitor || (!audio_monitor && i == 0)) {
                g.graph->Disconnect(outputs[i]);
                g.graph->Disconnect(peer);
                done = true;
            }
            SafeRelease(owner);
        }
        SafeRelease(peer);
        outputs[i]->Release();
    }
}

void ReleaseAudioMonitor()
{
    SafeRelease(audio_monitor);
}

void SwitchAudioRate(int index)
{
    CaptureGraph& g = capture_graph;
    if (!g.graph)
        return;
    StopGraph();
    RemoveAudioBranch();
    AddAudioDevice(index);
    RunGraph();
    audio_device_index = index;
}

void SwitchAudioRateCommand(UINT id)
{
    if (IsMenuChecked(id) != MENU_ENABLED)
        return;
    CheckMenuItem(CommandMenu, id, MF_BYCOMMAND | MF_CHECKED);
    CheckMenuItem(CommandMenu, id == IDM_AUDIO_44K ? IDM_AUDIO_48K : IDM_AUDIO_44K, MF_BYCOMMAND | MF_UNCHECKED);
    // Without a device the choice only waits for the next one.
    if (audio_device_index != -1 && capture_graph.audio_capture)
        SwitchAudioRate(audio_device_index);
}

void SelectAudioDevice(UINT id)
{
    if (IsMenuChecked(id) != MENU_ENABLED)
        return;
    CheckMenuItem(CommandMenu, IDM_AUDIO_NONE, MF_BYCOMMAND | MF_UNCHECKED);
    for (int i = 0; i < audio_device_count; ++i)
        CheckMenuItem(CommandMenu, IDM_AUDIO_DEVICE_FIRST + i, MF_BYCOMMAND | MF_UNCHECKED);
    CheckMenuItem(CommandMenu, id, MF_BYCOMMAND | MF_CHECKED);
    SwitchAudioRate(static_cast<int>(id) - IDM_AUDIO_DEVICE_FIRST);
}

void DisableRateItems()
{
    SetMenuState(IDM_AUDIO_44K, MENU_GRAYED);
    SetMenuState(IDM_AUDIO_48K, MENU_GRAYED);
}

void DisableAudio()
{
    if (IsMenuChecked(IDM_AUDIO_NONE) != MENU_ENABLED)
        return;
    CheckMenuItem(CommandMenu, IDM_AUDIO_NONE, MF_BYCOMMAND | MF_CHECKED);
    for (int i = 0; i < audio_device_count; ++i)
        CheckMenuItem(CommandMenu, IDM_AUDIO_DEVICE_FIRST + i, MF_BYCOMMAND | MF_UNCHECKED);
    DisableRateItems();
    CaptureGraph& g = capture_graph;
    StopGraph();
    if (g.audio_capture && g.graph)
        g.graph->RemoveFilter(g.audio_capture);
    RunGraph();
    audio_device_index = -1;
}
