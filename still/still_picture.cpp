#include "still/still_picture.h"

#include <memory>

#include "capture/capture_graph.h"
#include "settings/save_folders.h"
#include "settings/save_paths.h"
#include "state/command_menu.h"
#include "state/messages.h"
#include "state/window.h"
#include "still/bmp_picture.h"
#include "still/sample_grabber.h"
#include "view/video_layout.h"

// After the headers that bring in the types it uses.
#include <dvdmedia.h>

namespace {

struct StillCapture {
    ISampleGrabber* grabber_control = nullptr;
    int still_width = 0;
    int still_height = 0;
    // A negative biHeight: the grabbed rows run from the top (top-down RGB).
    bool top_down = false;
    char file_name[100] = "";
    char picture_path[MAX_PATH] = "";
    // Allocated by the first still and kept: fresh pages for two 8 MB
    // buffers cost more than the squeeze itself.
    std::unique_ptr<uint8_t[]> frame;
    std::unique_ptr<uint8_t[]> squeezed;
};
StillCapture still;

// Some cards take seconds to stream again after a stop; the wait stays bounded.
const DWORD kFirstFrameWaitMs = 5000;

// Milliseconds since the previous lap.
struct LapClock {
    LARGE_INTEGER last{};
    LARGE_INTEGER frequency{};
    LapClock()
    {
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&last);
    }
    double Lap()
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        double ms = static_cast<double>(now.QuadPart - last.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
        last = now;
        return ms;
    }
};

bool PreparePicturePath()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    LocalTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    FormatTimeStampedName(still.file_name, sizeof still.file_name, "pic", ".bmp", time);
    return JoinSavePath(still.picture_path, sizeof still.picture_path, save_folders.path_picture, still.file_name);
}

// Both modes end with the second renderer's path wired, so the first renderer
// has seen the current stream when its native size is read.
void WireThroughConverter()
{
    CaptureGraph& g = capture_graph;
    if (IsMenuChecked(IDM_MODE_VMR9) != MENU_CHECKED) {
        DisconnectFilterPins(g.vmr7);
        g.builder->RenderStream(nullptr, nullptr, g.avi_decompressor_1, nullptr, g.color_converter);
        g.builder->RenderStream(nullptr, nullptr, g.color_converter, nullptr, g.vmr9);
        RunGraph();
        StopGraph();
    }
    DisconnectFilterPins(g.vmr9);
}

bool InsertGrabber()
{
    CaptureGraph& g = capture_graph;
    if (!g.sample_grabber)
        CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_IBaseFilter,
                         reinterpret_cast<void**>(&g.sample_grabber));
    SafeRelease(still.grabber_control);
    if (!g.sample_grabber || g.sample_grabber->QueryInterface(kIidSampleGrabber,
                                                               reinterpret_cast<void**>(&still.grabber_control)) != S_OK)
        return false;
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB32;
    still.grabber_control->SetMediaType(&type);
    g.graph->AddFilter(g.sample_grabber, L"Sample Grabber");

    SafeRelease(g.null_renderer);
    CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     reinterpret_cast<void**>(&g.null_renderer));
    if (!g.null_renderer)
        return false;
    g.graph->AddFilter(g.null_renderer, L"NullRenderer");
    g.builder->RenderStream(nullptr, nullptr, g.color_converter, g.sample_grabber, g.null_renderer);
    still.grabber_control->SetBufferSamples(TRUE);
    still.grabber_control->SetOneShot(FALSE);
    return true;
}

// Waits a bounded time: a device that delivers nothing must not hang the program.
bool WaitForFirstFrame()
{
    DWORD started = GetTickCount();
    long size = 0;
    while (still.grabber_control->GetCurrentBuffer(&size, nullptr), size < 1) {
        if (GetTickCount() - started > kFirstFrameWaitMs)
            return false;
        Sleep(1);
    }
    return true;
}

uint8_t* KeptBuffer(std::unique_ptr<uint8_t[]>& buffer)
{
    if (!buffer)
        buffer.reset(new (std::nothrow) uint8_t[kStillBufferBytes]);
    return buffer.get();
}

// Copies the latest frame; null when it does not fit or does not match the picture's size.
const uint8_t* GrabFrame()
{
    uint8_t* frame = KeptBuffer(still.frame);
    if (!frame)
        return nullptr;
    long size = 0;
    HRESULT hr = S_OK;
    for (int copy = 0; copy < 100; ++copy) {
        size = static_cast<long>(kStillBufferBytes);
        hr = still.grabber_control->GetCurrentBuffer(&size, reinterpret_cast<long*>(frame));
    }
    long expected = static_cast<long>(still.still_width) * still.still_height * 4;
    if (FAILED(hr) || still.still_width <= 0 || still.still_height <= 0 || size != expected)
        return nullptr;
    return frame;
}

// Names have one-second resolution: a second picture within the second gets
// a number instead of replacing the first.
HANDLE CreateUnusedPictureFile()
{
    char name[sizeof still.file_name];
    for (int number = 1; number <= 99; ++number) {
        if (!NumberedName(name, sizeof name, still.file_name, number) ||
            !JoinSavePath(still.picture_path, sizeof still.picture_path, save_folders.path_picture, name))
            return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileA(still.picture_path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

bool WriteBmp(const uint8_t* pixels)
{
    uint8_t headers[kBmpHeaderBytes];
    WriteBmpHeaders(headers, still.still_width, still.still_height);
    DWORD pixel_bytes = static_cast<DWORD>(still.still_width) * still.still_height * 4;
    HANDLE file = CreateUnusedPictureFile();
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0, pixels_written = 0;
    bool ok = WriteFile(file, headers, sizeof headers, &written, nullptr) && written == sizeof headers &&
              WriteFile(file, pixels, pixel_bytes, &pixels_written, nullptr) && pixels_written == pixel_bytes;
    ok = CloseHandle(file) && ok;
    if (!ok)
        DeleteFileA(still.picture_path);  // a cut picture is worse than none
    return ok;
}

// The size of the pictures the grabber receives, which is also the size of
// the bytes it copies out. A renderer cut from the stream cannot be asked:
// Windows' VMR-9 then answers 0 x 0.
void ReadGrabbedSize(LONG* width, LONG* height, bool* top_down)
{
    *width = *height = 0;
    *top_down = false;
    AM_MEDIA_TYPE type{};
    if (still.grabber_control->GetConnectedMediaType(&type) != S_OK)
        return;
    const BITMAPINFOHEADER* header = nullptr;
    if (type.formattype == FORMAT_VideoInfo && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER))
        header = &reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
    else if (type.formattype == FORMAT_VideoInfo2 && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER2))
        header = &reinterpret_cast<const VIDEOINFOHEADER2*>(type.pbFormat)->bmiHeader;
    if (header) {
        *width = header->biWidth;
        *height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
        *top_down = header->biHeight < 0;
    }
    FreeMediaTypeContents(type);
}

// Returns the message to show, or nullptr when the picture was saved.
const wchar_t* GrabAndSave(LapClock& clock)
{
    LONG width = 0, height = 0;
    ReadGrabbedSize(&width, &height, &still.top_down);
    still.still_width = width;
    still.still_height = height;
    video_rects.source_rect = RECT{0, 0, width, height};
    RunGraph();
    Sleep(100);
    last_still_times.settle = clock.Lap();
    bool arrived = WaitForFirstFrame();
    last_still_times.wait = clock.Lap();
    if (!arrived)
        return MessageText(Message::kStillNoPicture);
    if (static_cast<unsigned long long>(width) * height * 4 > kStillBufferBytes)
        return MessageText(Message::kStillTooLarge);
    const uint8_t* frame = GrabFrame();
    last_still_times.copies = clock.Lap();
    if (!frame)
        return MessageText(Message::kStillWrongSize);
    // A BMP stores its rows bottom-up.
    if (still.top_down)
        FlipRows(still.frame.get(), still.still_width, still.still_height);
    const uint8_t* pixels = frame;
    if (IsMenuChecked(IDM_ASPECT_4_3) == MENU_CHECKED) {
        uint8_t* squeezed = KeptBuffer(still.squeezed);
        if (!squeezed)
            return MessageText(Message::kStillNoMemory);
        still.still_width = SqueezeToFourThirds(frame, squeezed, still.still_width, still.still_height);
        pixels = squeezed;
        last_still_times.squeeze = clock.Lap();
    }
    // The picture is named for the moment it was taken, after the copies.
    PreparePicturePath();
    bool written = WriteBmp(pixels);
    last_still_times.write = clock.Lap();
    if (!written)
        return MessageText(Message::kStillNotSaved);
    return nullptr;
}

void RestorePreview()
{
    CaptureGraph& g = capture_graph;
    StopGraph();
    if (g.null_renderer)
        g.graph->RemoveFilter(g.null_renderer);
    if (g.sample_grabber)
        g.graph->RemoveFilter(g.sample_grabber);
    DisconnectFilterPins(g.color_converter);
    DisconnectFilterPins(g.avi_decompressor_1);
    DisconnectFilterPins(g.video_capture);
    ConnectPreview();
    RefreshSourceRect();
    RunGraph();
}

}  // namespace

StillStepTimes last_still_times;

void TakeStillPicture()
{
    CaptureGraph& g = capture_graph;
    if (!g.graph || !g.builder)
        return;
    // The name's length never changes, so a folder too long is refused now.
    if (!PreparePicturePath()) {
        ShowErrorMessage(MessageText(Message::kStillPathTooLong));
        return;
    }
    if (!g.color_converter || !g.avi_decompressor_1 || !g.vmr9) {
        ShowErrorMessage(MessageText(Message::kStillNoConverter));
        return;
    }
    last_still_times = StillStepTimes{};
    LapClock clock;
    StopGraph();
    WireThroughConverter();
    bool inserted = InsertGrabber();
    last_still_times.rewire = clock.Lap();
    const wchar_t* failure = inserted ? GrabAndSave(clock) : MessageText(Message::kStillNoGrabber);
    clock.Lap();
    RestorePreview();
    // Only this command uses it; held longer it would outlive the graph.
    SafeRelease(still.grabber_control);
    RelayoutAfterGraphChange();
    last_still_times.restore = clock.Lap();
    StillStepTimes& t = last_still_times;
    t.total = t.rewire + t.settle + t.wait + t.copies + t.squeeze + t.write + t.restore;
    if (failure)
        ShowErrorMessage(failure);
}
