#include "capture/devices.h"

#include <dvdmedia.h>

#include <initializer_list>
#include <vector>

#include "capture/capture_graph.h"
#include "capture/format_choice.h"
#include "capture/graph_faults.h"
#include "capture/graph_trace.h"
#include "capture/pins.h"
#include "state/command_menu.h"
#include "state/messages.h"
#include "state/window.h"

int video_device_index = 0;
int video_device_count = 0;
static bool missing_device_reported = false;
static int capture_height = 720;
// What setting the chosen format on the device last gave.
static HRESULT format_result = S_OK;
const int kMaxCapabilities = 1024;
const int kMaxCapsBytes = 4096;
// The preview pin's own stream configuration, when the card offers one.
static IAMStreamConfig* preview_config = nullptr;

// The fields of either format block that the choice reads and shapes.
struct VideoHeader {
    BITMAPINFOHEADER* bitmap = nullptr;  // null when the block is neither
    REFERENCE_TIME* interval = nullptr;
    RECT* source = nullptr;
    RECT* target = nullptr;
};

template <class Info>
static VideoHeader HeaderOf(Info* info)
{
    return {&info->bmiHeader, &info->AvgTimePerFrame, &info->rcSource, &info->rcTarget};
}

static VideoHeader VideoHeaderOf(const AM_MEDIA_TYPE* type)
{
    if (!type->pbFormat)
        return {};
    if (type->formattype == FORMAT_VideoInfo && type->cbFormat >= sizeof(VIDEOINFOHEADER))
        return HeaderOf(reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat));
    if (type->formattype == FORMAT_VideoInfo2 && type->cbFormat >= sizeof(VIDEOINFOHEADER2))
        return HeaderOf(reinterpret_cast<VIDEOINFOHEADER2*>(type->pbFormat));
    return {};
}

static CaptureCapability ReadCapability(const AM_MEDIA_TYPE* type, const VIDEO_STREAM_CONFIG_CAPS& caps)
{
    CaptureCapability cap{};
    cap.subtype = type->subtype == MEDIASUBTYPE_UYVY   ? PixelSubtype::kUyvy
                  : type->subtype == MEDIASUBTYPE_YUY2 ? PixelSubtype::kYuy2
                                                       : PixelSubtype::kOther;
    cap.video_info = type->majortype == MEDIATYPE_Video && VideoHeaderOf(type).bitmap != nullptr;
    cap.min_width = caps.MinOutputSize.cx;
    cap.max_width = caps.MaxOutputSize.cx;
    cap.step_x = caps.OutputGranularityX;
    cap.min_height = caps.MinOutputSize.cy;
    cap.max_height = caps.MaxOutputSize.cy;
    cap.step_y = caps.OutputGranularityY;
    cap.min_interval = caps.MinFrameInterval;
    cap.max_interval = caps.MaxFrameInterval;
    return cap;
}

// The entry's type with the wanted size and the chosen interval; every other
// field as the device gave it, but for source and target rectangles that
// described another size.
static void ShapeType(AM_MEDIA_TYPE* type, const VideoFormat& format, REFERENCE_TIME interval)
{
    VideoHeader header = VideoHeaderOf(type);
    header.bitmap->biWidth = format.width;
    header.bitmap->biHeight = format.height;
    header.bitmap->biSizeImage = ImageSizeBytes(format.width, header.bitmap->biBitCount, format.height);
    *header.interval = interval;
    RECT whole{0, 0, format.width, format.height};
    for (RECT* rect : {header.source, header.target})
        if (!IsRectEmpty(rect) && !EqualRect(rect, &whole))
            SetRectEmpty(rect);
    if (type->bFixedSizeSamples)
        type->lSampleSize = header.bitmap->biSizeImage;
}

// Every capability is walked (cards list dozens).
FormatChoice ChooseDeviceFormat(IAMStreamConfig* config, int height)
{
    int count = 0, size = 0;
    if (FAILED(Traced("IAMStreamConfig::GetNumberOfCapabilities", config->GetNumberOfCapabilities(&count, &size))) ||
        count <= 0 || size < static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)) || size > kMaxCapsBytes)
        return {-1, 0};
    // A driver's count is not to be trusted with an allocation.
    count = count < kMaxCapabilities ? count : kMaxCapabilities;
    std::vector<BYTE> caps(static_cast<size_t>(size));
    std::vector<CaptureCapability> offered(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        if (FAILED(config->GetStreamCaps(i, &type, caps.data())) || !type)
            continue;
        offered[i] = ReadCapability(type, *reinterpret_cast<const VIDEO_STREAM_CONFIG_CAPS*>(caps.data()));
        FreeMediaType(type);
    }
    return ChooseCapability(offered.data(), count, VideoFormatForHeight(height));
}

HRESULT SetCaptureFormat(IAMStreamConfig* config, int height)
{
    FormatChoice choice = ChooseDeviceFormat(config, height);
    if (choice.index < 0)
        return Traced("ChooseDeviceFormat", VFW_E_NO_ACCEPTABLE_TYPES);
    std::vector<BYTE> caps(kMaxCapsBytes);
    AM_MEDIA_TYPE* type = nullptr;
    HRESULT hr = Traced("IAMStreamConfig::GetStreamCaps", config->GetStreamCaps(choice.index, &type, caps.data()));
    if (FAILED(hr) || !type)
        return FAILED(hr) ? hr : E_POINTER;
    ShapeType(type, VideoFormatForHeight(height), choice.interval);
    hr = Traced("IAMStreamConfig::SetFormat", config->SetFormat(type));
    FreeMediaType(type);
    return hr;
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
    for (IAMStreamConfig* config : {capture_graph.video_config, preview_config}) {
        if (!config || PinConnected(config))
            continue;
        HRESULT hr = SetCaptureFormat(config, capture_height);
        if (SUCCEEDED(format_result))
            format_result = hr;
    }
}

bool CaptureFormatTaken()
{
    return SUCCEEDED(format_result);
}

// Once per device and format: the format items stay as the user chose them,
// so the user must hear that the picture is in another one.
static void ReportCaptureFormat()
{
    if (format_result == VFW_E_NO_ACCEPTABLE_TYPES)
        ReportFormatNotOffered(capture_height);
    else if (FAILED(format_result))
        ReportGraphFault(GraphStep::kFormat, format_result);
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
    format_result = S_OK;
    IMoniker* moniker = FindDeviceMoniker(CLSID_VideoInputDeviceCategory, index);
    if (!moniker)
        return;
    Traced("IMoniker::BindToObject(video device)",
           moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&g.video_capture)));
    moniker->Release();
    if (!g.video_capture)
        return;
    Traced("IFilterGraph::AddFilter(video device)", g.graph->AddFilter(g.video_capture, L"キャプチャデバイス"));
    // Many cards put a sound pin on the video filter, and the builder takes the
    // first pin of a category: the type names the picture's.
    if (g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, g.video_capture, IID_IAMStreamConfig,
                                 reinterpret_cast<void**>(&g.video_config)) != S_OK)
        SafeRelease(g.video_config);
    FindPreviewConfig();
    // ConnectPreview sets the format on the pins it is about to connect.
    ConnectPreview();
    ReportCaptureFormat();
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
    // The chosen device may be chosen again when it could not start (another
    // program had it): that is how the user says "try again".
    unsigned state = IsMenuChecked(id);
    if (state != MENU_ENABLED && !(state == MENU_CHECKED && !PreviewRunning()))
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
    const wchar_t* text = video_device_count == 0 ? MessageText(Message::kNoVideoDevice)
                                                  : MessageText(Message::kVideoDeviceNotOpened);
    ShowMessageBox(text, L"エラー", MB_OK | MB_ICONWARNING);
}
