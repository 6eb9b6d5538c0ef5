#include "capture/devices.h"

#include <dvdmedia.h>

#include <initializer_list>

#include "capture/capture_graph.h"
#include "capture/pins.h"
#include "state/command_menu.h"
#include "state/window.h"

int video_device_index = 0;
int video_device_count = 0;
static bool missing_device_reported = false;
static int capture_height = 720;
// The preview pin's own stream configuration, when the card offers one.
static IAMStreamConfig* preview_config = nullptr;

static bool IsUyvyVideoInfo(const AM_MEDIA_TYPE* type)
{
    return type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_UYVY &&
           type->formattype == FORMAT_VideoInfo && type->cbFormat >= sizeof(VIDEOINFOHEADER) && type->pbFormat;
}

// Devices list other formats too; the first UYVY capability is set to the
// wanted size and rate, everything else as the device reported it.
static void SetCaptureFormat(IAMStreamConfig* config, int height)
{
    VideoFormat format = VideoFormatForHeight(height);
    for (int i = 0; i < 20; ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (FAILED(config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps))) || !type)
            continue;
        bool match = IsUyvyVideoInfo(type);
        if (match) {
            auto info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
            info->bmiHeader.biWidth = format.width;
            info->bmiHeader.biHeight = format.height;
            info->AvgTimePerFrame = format.avg_time_per_frame;
            info->bmiHeader.biSizeImage = ImageSizeBytes(format.width, info->bmiHeader.biBitCount, format.height);
            config->SetFormat(type);
        }
        FreeMediaType(type);
        if (match)
            return;
    }
}

static bool PinConnected(IAMStreamConfig* config)
{
    IPin* pin = nullptr;
    if (config->QueryInterface(IID_IPin, reinterpret_cast<void**>(&pin)) != S_OK || !pin)
        return false;
    bool connected = IsConnected(pin);
    pin->Release();
    return connected;
}

static bool SameObject(IUnknown* a, IUnknown* b)
{
    IUnknown* identity_a = nullptr;
    IUnknown* identity_b = nullptr;
    a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity_a));
    b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity_b));
    bool same = identity_a && identity_a == identity_b;
    SafeRelease(identity_a);
    SafeRelease(identity_b);
    return same;
}

static void FindPreviewConfig()
{
    CaptureGraph& g = capture_graph;
    SafeRelease(preview_config);
    if (g.builder->FindInterface(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, g.video_capture, IID_IAMStreamConfig,
                                 reinterpret_cast<void**>(&preview_config)) != S_OK)
        SafeRelease(preview_config);
    // A card with a capture pin only answers for that pin.
    if (preview_config && g.video_config && SameObject(preview_config, g.video_config))
        SafeRelease(preview_config);
}

// A capture pin that is disconnected goes back to its default format on
// Windows, so the chosen one is set again before every connection.
void ApplyCaptureFormat()
{
    for (IAMStreamConfig* config : {capture_graph.video_config, preview_config})
        if (config && !PinConnected(config))
            SetCaptureFormat(config, capture_height);
}

void ReleaseVideoDeviceConfig()
{
    SafeRelease(preview_config);
}

void AddVideoDevice(int index, int height)
{
    CaptureGraph& g = capture_graph;
    SafeRelease(g.video_config);
    SafeRelease(preview_config);
    SafeRelease(g.video_capture);
    capture_height = height;
    IMoniker* moniker = FindDeviceMoniker(CLSID_VideoInputDeviceCategory, index);
    if (!moniker)
        return;
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&g.video_capture));
    moniker->Release();
    if (!g.video_capture)
        return;
    g.graph->AddFilter(g.video_capture, L"キャプチャデバイス");
    if (g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, g.video_capture, IID_IAMStreamConfig,
                                 reinterpret_cast<void**>(&g.video_config)) != S_OK)
        SafeRelease(g.video_config);
    FindPreviewConfig();
    // ConnectPreview sets the format on the pins it is about to connect.
    ConnectPreview();
}

void SwitchVideoFormat(int index, int height)
{
    CaptureGraph& g = capture_graph;
    if (!g.graph)
        return;
    StopGraph();
    DisconnectFilterPins(g.color_converter);
    DisconnectFilterPins(g.avi_decompressor_1);
    if (g.video_capture)
        g.graph->RemoveFilter(g.video_capture);
    AddVideoDevice(index, height);
    RunGraph();
    video_device_index = index;
    ReportMissingVideoDevice();
}

bool SelectVideoDevice(UINT id)
{
    if (IsMenuChecked(id) != MENU_ENABLED)
        return false;
    for (int i = 0; i < video_device_count; ++i)
        CheckMenuItem(CommandMenu, IDM_VIDEO_DEVICE_FIRST + i, MF_BYCOMMAND | MF_UNCHECKED);
    CheckMenuItem(CommandMenu, id, MF_BYCOMMAND | MF_CHECKED);
    SwitchVideoFormat(static_cast<int>(id) - IDM_VIDEO_DEVICE_FIRST,
                      IsMenuChecked(IDM_RES_720) == MENU_CHECKED ? 720 : 1080);
    return true;
}

void ReportMissingVideoDevice()
{
    if (capture_graph.video_capture || missing_device_reported)
        return;
    // Once per run: a black window with no word of why is the worst answer.
    missing_device_reported = true;
    const wchar_t* text = video_device_count == 0 ? L"ビデオキャプチャデバイスが見つかりません"
                                                  : L"ビデオキャプチャデバイスを開けませんでした";
    ShowMessageBox(text, L"エラー", MB_OK | MB_ICONWARNING);
}
