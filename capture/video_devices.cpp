#include "capture/devices.h"

#include <dvdmedia.h>

#include "app/command_menu.h"
#include "app/main_window.h"
#include "capture/capture_graph.h"

int video_device_index = 0;
int video_device_count = 0;
static bool missing_device_reported = false;

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

void AddVideoDevice(int index, int height)
{
    CaptureGraph& g = capture_graph;
    SafeRelease(g.video_config);
    SafeRelease(g.video_capture);
    IMoniker* moniker = FindDeviceMoniker(CLSID_VideoInputDeviceCategory, index);
    if (!moniker)
        return;
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&g.video_capture));
    moniker->Release();
    if (!g.video_capture)
        return;
    g.graph->AddFilter(g.video_capture, L"キャプチャデバイス");
    if (g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, g.video_capture, IID_IAMStreamConfig,
                                 reinterpret_cast<void**>(&g.video_config)) == S_OK &&
        g.video_config)
        SetCaptureFormat(g.video_config, height);
    ConnectPreview();
    RefreshSourceRect();
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

void SelectVideoDevice(UINT id)
{
    if (IsMenuChecked(id) != MENU_ENABLED)
        return;
    for (int i = 0; i < video_device_count; ++i)
        CheckMenuItem(CommandMenu, IDM_VIDEO_DEVICE_FIRST + i, MF_BYCOMMAND | MF_UNCHECKED);
    CheckMenuItem(CommandMenu, id, MF_BYCOMMAND | MF_CHECKED);
    SwitchVideoFormat(static_cast<int>(id) - IDM_VIDEO_DEVICE_FIRST,
                      IsMenuChecked(IDM_RES_720) == MENU_CHECKED ? 720 : 1080);
}

void ReportMissingVideoDevice()
{
    if (capture_graph.video_capture || missing_device_reported)
        return;
    // Once per run: a black window with no word of why is the worst answer.
    missing_device_reported = true;
    const wchar_t* text = video_device_count == 0 ? L"ビデオキャプチャデバイスが見つかりません"
                                                  : L"ビデオキャプチャデバイスを開けませんでした";
    MessageBoxW(main_window, text, L"エラー", MB_OK | MB_ICONWARNING);
}
