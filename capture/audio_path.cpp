#include "capture/devices.h"

#include <mmreg.h>

#include "app/command_menu.h"
#include "capture/capture_graph.h"

int audio_device_index = 0;
int audio_device_count = 0;

HRESULT SetAudioFormat(int rate)
{
    CaptureGraph& g = capture_graph;
    SafeRelease(g.audio_config);
    HRESULT hr = g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, g.audio_capture, IID_IAMStreamConfig,
                                          reinterpret_cast<void**>(&g.audio_config));
    if (hr != S_OK || !g.audio_config)
        return FAILED(hr) ? hr : E_NOINTERFACE;
    AM_MEDIA_TYPE* type = nullptr;
    if (FAILED(g.audio_config->GetFormat(&type)) || !type)
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
    hr = g.audio_config->SetFormat(type);
    FreeMediaType(type);
    return hr;
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

void AddAudioDevice(int index)
{
    CaptureGraph& g = capture_graph;
    SafeRelease(g.audio_config);
    SafeRelease(g.audio_capture);
    SafeRelease(g.pin_tee);
    IMoniker* moniker = FindDeviceMoniker(CLSID_AudioInputDeviceCategory, index);
    if (!moniker)
        return;
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&g.audio_capture));
    moniker->Release();
    if (!g.audio_capture)
        return;
    g.graph->AddFilter(g.audio_capture, L"オーディオデバイス");
    bool ok_44k = SetAudioFormat(44100) == S_OK;
    bool ok_48k = SetAudioFormat(48000) == S_OK;
    ApplyRateProbe(ok_44k, ok_48k);

    CoCreateInstance(CLSID_InfTee, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_IBaseFilter,
                     reinterpret_cast<void**>(&g.pin_tee));
    if (!g.pin_tee)
        return;
    g.graph->AddFilter(g.pin_tee, L"インフィニットピンティー");
    g.builder->RenderStream(nullptr, nullptr, g.audio_capture, nullptr, g.pin_tee);
    if (IPin* output = FirstOutputPin(g.pin_tee)) {
        g.graph->Render(output);
        output->Release();
    }
}

void SwitchAudioRate(int index)
{
    CaptureGraph& g = capture_graph;
    if (!g.graph)
        return;
    StopGraph();
    if (g.audio_capture)
        g.graph->RemoveFilter(g.audio_capture);
    if (g.pin_tee)
        g.graph->RemoveFilter(g.pin_tee);
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
