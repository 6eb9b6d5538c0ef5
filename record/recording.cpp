#include "record/recording.h"

#include <cwchar>
#include <functional>
#include <utility>
#include <vector>

#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "capture/graph_faults.h"
#include "capture/graph_trace.h"
#include "capture/pins.h"
#include "record/device_loss.h"
#include "record/disk_watch.h"
#include "record/keep_awake.h"
#include "record/recording_journal.h"
#include "record/record_timer.h"
#include "record/wide_path.h"
#include "settings/save_folders.h"
#include "settings/save_paths.h"
#include "state/command_menu.h"
#include "state/messages.h"
#include "state/timer_ids.h"
#include "state/window.h"
#include "view/fullscreen.h"
#include "view/video_layout.h"

RecordingState recording_state;

// Every item whose change would re-wire the graph, in locking order.
static void ForEachLockedItem(const std::function<void(UINT)>& apply)
{
    for (int i = 0; i < video_device_count; ++i)
        apply(IDM_VIDEO_DEVICE_FIRST + i);
    for (int i = 0; i <= audio_device_count; ++i)
        apply(IDM_AUDIO_NONE + i);
    for (UINT id : {IDM_AUDIO_44K, IDM_AUDIO_48K, IDM_MODE_VMR9, IDM_MODE_VMR7, IDM_RES_720, IDM_RES_1080,
                    IDM_NO_PREVIEW, IDM_AUTO_STOP})
        apply(id);
    for (int i = 0; i <= compressor_count; ++i)
        apply(IDM_COMPRESSOR_NONE + i);
}

// The unlock gives back what each item was: a rate the device lacks stays grey.
static void LockRecordingMenu(bool lock)
{
    static std::vector<std::pair<UINT, UINT>> before;
    if (lock) {
        before.clear();
        ForEachLockedItem([](UINT id) {
            before.emplace_back(id, IsMenuChecked(id));
            LockMenuItem(id, MENU_CHECKED, MENU_CHECKED_GRAYED, MENU_GRAYED);
        });
    } else {
        ForEachLockedItem([](UINT id) { LockMenuItem(id, MENU_CHECKED_GRAYED, MENU_CHECKED, MENU_ENABLED); });
        for (const auto& item : before)
            if (item.second == MENU_GRAYED)
                SetMenuState(item.first, MENU_GRAYED);
        before.clear();
    }
    for (UINT id : {IDM_CAPTURE_PATH, IDM_STILL, IDM_PICTURE_PATH})
        SetMenuState(id, lock ? MENU_GRAYED : MENU_ENABLED);
}

// Refuses, before anything changes, a movie that could not be written: a
// folder too long for the path, missing or unwritable, or a name that would
// overwrite an earlier recording.
static bool PrepareMoviePath()
{
    RecordingState& r = recording_state;
    SYSTEMTIME now;
    GetLocalTime(&now);
    LocalTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    FormatTimeStampedName(r.file_name, sizeof r.file_name, "cap", ".avi", time);
    if (!JoinSavePath(r.movie_path, sizeof r.movie_path, save_folders.path_capture, r.file_name)) {
        ShowErrorMessage(MessageText(Message::kRecordPathTooLong));
        return false;
    }
    HANDLE probe = CreateFileA(r.movie_path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        ShowErrorMessage(error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                      ? MessageText(Message::kMovieExists)
                      : MessageText(Message::kMovieNotCreated));
        return false;
    }
    CloseHandle(probe);
    DeleteFileA(r.movie_path);
    return true;
}

static void CutPreview()
{
    CaptureGraph& g = capture_graph;
    DisconnectFilterPins(g.vmr7);
    DisconnectFilterPins(g.color_converter);
    // A picture the renderer takes straight from the card (no decompressor).
    DisconnectFilterPins(g.vmr9);
    recording_state.no_preview_active = 1;
    SetPreviewCut(true);
    InvalidateRect(main_window, nullptr, TRUE);
    DisconnectLiveSound();
    KillTimer(main_window, TIMER_FPS);
    SetMenuState(IDM_FRAME_RATE, MENU_GRAYED);
    SetMenuText(IDM_FRAME_RATE, L"平均 - fps");
}

static void RestorePreview()
{
    CaptureGraph& g = capture_graph;
    bool vmr9_path = IsMenuChecked(IDM_MODE_VMR9) == MENU_CHECKED;
    if (g.avi_decompressor_1 && vmr9_path)
        Traced("RenderStream(AviDecompressor1, Color Space Converter, VMR9)",
               g.builder->RenderStream(nullptr, nullptr, g.avi_decompressor_1, g.color_converter, g.vmr9));
    else if (g.avi_decompressor_1)
        Traced("RenderStream(AviDecompressor1, VMR7)",
               g.builder->RenderStream(nullptr, nullptr, g.avi_decompressor_1, nullptr, g.vmr7));
    // A card whose picture bypasses the decompressor is rendered from the card again.
    if (!PreviewConnected())
        ConnectPreview();
    recording_state.no_preview_active = 0;
    SetPreviewCut(false);
    ReconnectLiveSound();
    if (vmr9_path) {
        SetTimer(main_window, TIMER_FPS, kFpsInterval, nullptr);
        SetMenuState(IDM_FRAME_RATE, MENU_ENABLED);
    }
    InvalidateRect(main_window, nullptr, TRUE);
}

// False when the device keeps no frame statistics.
static bool ShowCounters()
{
    CaptureGraph& g = capture_graph;
    // The previous recording's statistics may hold a capture filter that a
    // device or format switch has since replaced.
    SafeRelease(g.dropped_frames);
    if (g.builder->FindInterface(nullptr, nullptr, g.avi_mux, IID_IAMDroppedFrames,
                                 reinterpret_cast<void**>(&g.dropped_frames)) != S_OK ||
        !g.dropped_frames) {
        SafeRelease(g.dropped_frames);
        return false;
    }
    InsertMenuItemBefore(IDM_NO_PREVIEW, IDM_RECORDED_FRAMES, L"");
    InsertMenuItemBefore(IDM_NO_PREVIEW, IDM_DROPPED_FRAMES, L"");
    return true;
}

// Windows' capture filter counts dropped frames only when the driver does;
// a guard that cannot fire must not be trusted. Once per device.
static void WarnAutoStopBlind()
{
    static int warned_device = -1;
    if (IsMenuChecked(IDM_AUTO_STOP) != MENU_CHECKED_GRAYED || warned_device == video_device_index)
        return;
    warned_device = video_device_index;
    ShowMessageBox(MessageText(Message::kDropsNotReported), L"",
                   MB_OK | MB_ICONWARNING);
}

// Capture interleaving writes each stream as it comes; full interleaving
// would hold the picture back while the sound catches up and lose frames.
static void SetCaptureInterleaving()
{
    IConfigInterleaving* interleaving = nullptr;
    if (capture_graph.avi_mux->QueryInterface(IID_IConfigInterleaving, reinterpret_cast<void**>(&interleaving)) ==
        S_OK) {
        interleaving->put_Mode(INTERLEAVE_CAPTURE);
        interleaving->Release();
    }
}

// The card's sound and picture run on clocks of their own; with the sound as
// master the file's frame rate follows the sound, so long recordings stay in step.
static void MakeSoundTheMaster()
{
    CaptureGraph& g = capture_graph;
    int stream = StreamIndexFedBy(g.avi_mux, g.pin_tee);
    IConfigAviMux* config = nullptr;
    if (stream >= 0 && g.avi_mux->QueryInterface(IID_IConfigAviMux, reinterpret_cast<void**>(&config)) == S_OK) {
        config->SetMasterStream(stream);
        config->Release();
    }
}

// The part of the recording branch that failed, for the message.
enum class RecordLeg { kFile, kPicture, kCompressor, kStart };

static bool FeedsMux(IBaseFilter* source)
{
    return StreamIndexFedBy(capture_graph.avi_mux, source) >= 0;
}

static bool MuxTakesPicture()
{
    IPin* input = FindPin(capture_graph.avi_mux, [](IPin* pin) {
        AM_MEDIA_TYPE type{};
        if (!IsInputPin(pin) || pin->ConnectionMediaType(&type) != S_OK)
            return false;
        bool video = type.majortype == MEDIATYPE_Video;
        FreeMediaTypeContents(type);
        return video;
    });
    bool found = input != nullptr;
    SafeRelease(input);
    return found;
}

// Wires the recording branch; returns the first failure, or S_OK. A sound
// that cannot reach the file does not stop the picture from being recorded.
static HRESULT WireRecording(bool* sound_lost, RecordLeg* leg)
{
    CaptureGraph& g = capture_graph;
    RecordingState& r = recording_state;
    *leg = RecordLeg::kFile;
    if (!g.builder || !g.video_capture)
        return VFW_E_NOT_CONNECTED;
    WidePath wide;
    HRESULT hr = Traced("ICaptureGraphBuilder2::SetOutputFileName",
                        g.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, wide.Convert(r.movie_path), &g.avi_mux,
                                                     &g.file_sink));
    if (FAILED(hr) || !g.avi_mux)
        return FAILED(hr) ? hr : E_POINTER;
    SetCaptureInterleaving();
    RemoveIdleSmartTees();
    ApplyCaptureFormat();
    IBaseFilter* through = compressor_index == -1 ? nullptr : g.compressor;
    *leg = through ? RecordLeg::kCompressor : RecordLeg::kPicture;
    // The type keeps the builder off a sound pin of the video filter.
    hr = Traced("RenderStream(CAPTURE, Video, card, compressor or none, AVI Mux)",
                g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, g.video_capture, through, g.avi_mux));
    if (FAILED(hr))
        return hr;
    // The builder answers S_OK for a stream it found no pin for.
    if (!MuxTakesPicture())
        return VFW_E_NOT_CONNECTED;
    *leg = RecordLeg::kStart;
    // A tee left behind without a device would give the multiplexer a stream
    // with no data, and interleaving would hold the picture back waiting for it.
    if (g.pin_tee && g.audio_capture && audio_device_index != -1) {
        hr = Traced("RenderStream(Audio, Infinite Pin Tee, AVI Mux)",
                    g.builder->RenderStream(nullptr, &MEDIATYPE_Audio, g.pin_tee, nullptr, g.avi_mux));
        *sound_lost = FAILED(hr) || !FeedsMux(g.pin_tee);
        if (!*sound_lost)
            MakeSoundTheMaster();
    }
    return S_OK;
}

static void ShowStartFailure(HRESULT hr, RecordLeg leg)
{
    wchar_t cause[400];
    if (leg == RecordLeg::kCompressor)
        std::swprintf(cause, 400, L"%ls", MessageText(Message::kCodecRefusesPicture));
    else if (leg == RecordLeg::kFile)
        std::swprintf(cause, 400, MessageText(Message::kMovieNotWritable), static_cast<unsigned long>(hr));
    else
        DescribeFailure(hr, cause, 400);
    wchar_t text[500];
    std::swprintf(text, 500, MessageText(Message::kRecordStartFailed), cause);
    ShowErrorMessage(text);
}

static void StopRecording();

// The volume must take the file's headers at least; on FAT32 the file stops short of 4 GiB.
static bool WatchDisk(bool* fat32)
{
    if (BeginDiskWatch(save_folders.path_capture, fat32) == DiskVerdict::kGoOn)
        return true;
    ShowErrorMessage(MessageText(Message::kRecordNoDiskRoom));
    return false;
}

static void StartRecording()
{
    RecordingState& r = recording_state;
    bool fat32 = false;
    if (!capture_graph.graph || !PrepareMoviePath() || !WatchDisk(&fat32))
        return;
    r.recording = 1;
    SetMenuText(IDM_RECORD, L"録画停止　　　　Ctrl+S");
    LockRecordingMenu(true);
    StopGraph();
    HRESULT hr;
    bool sound_lost = false;
    RecordLeg leg = RecordLeg::kFile;
    bool counted = true;
    try {
        hr = WireRecording(&sound_lost, &leg);
    } catch (const HresultError& error) {
        hr = error.hr;
    }
    if (SUCCEEDED(hr)) {
        if (IsMenuChecked(IDM_NO_PREVIEW) == MENU_CHECKED_GRAYED)
            CutPreview();
        counted = ShowCounters();
        // The disk is watched at every tick, with statistics or without.
        SetTimer(main_window, TIMER_RECORD_STATS, 500, nullptr);
        // Before the file exists: a process that dies from here on leaves a
        // movie that the next start can repair.
        OpenRecordingJournal(r.movie_path);
        KillTimer(main_window, TIMER_SCHEDULE_START);
        if (record_timer.stop.month != 0)
            SetTimer(main_window, TIMER_SCHEDULE_STOP, kScheduleInterval, nullptr);
        hr = StartGraph();
    }
    if (FAILED(hr)) {
        // Never pretend to record: undo everything and say why, once: the
        // preview that the undoing runs again may fail for the same reason.
        if (leg == RecordLeg::kStart)
            NoteGraphFault(hr);
        StopRecording();
        ShowStartFailure(hr, leg);
        return;
    }
    UpdateKeepAwake();
    if (fat32)
        ShowMessageBox(MessageText(Message::kFat32Warning),
                       L"", MB_OK | MB_ICONWARNING);
    if (sound_lost)
        ShowMessageBox(MessageText(Message::kSoundNotRecorded), L"",
                       MB_OK | MB_ICONWARNING);
    if (!counted)
        WarnAutoStopBlind();
}

static void TakeDownRecordingBranch()
{
    CaptureGraph& g = capture_graph;
    DisconnectFilterPins(g.compressor);
    DisconnectFilterPins(g.avi_decompressor_2);
    DisconnectFilterPins(g.avi_mux);
    // The finished pair is of no further use; removing it keeps the graph from growing.
    IBaseFilter* writer = nullptr;
    if (g.file_sink && g.file_sink->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&writer)) == S_OK) {
        DisconnectFilterPins(writer);
        g.graph->RemoveFilter(writer);
        writer->Release();
    }
    if (g.avi_mux)
        g.graph->RemoveFilter(g.avi_mux);
    SafeRelease(g.avi_mux);
    SafeRelease(g.file_sink);
}

static void ShowAutoStopNotice()
{
    recording_state.auto_stopped = 0;
    if (fullscreen_state.fullscreen)
        RevealCursor();
    ShowMessageBox(MessageText(Message::kStoppedOnDroppedFrame), L"", MB_OK);
    if (fullscreen_state.fullscreen)
        SetTimer(main_window, TIMER_CURSOR_HIDE, 2000, nullptr);
}

static void StopRecording()
{
    RecordingState& r = recording_state;
    r.recording = 0;
    SetMenuText(IDM_RECORD, L"録画開始　　　　Ctrl+R");
    LockRecordingMenu(false);
    StopGraph();
    if (r.no_preview_active)
        RestorePreview();
    TakeDownRecordingBranch();
    // The multiplexer has finished the file at the graph's stop, unless a
    // write failed: then it stopped writing, headers and index included.
    if (r.write_failed)
        RepairAfterFailedWrite();
    else
        CloseRecordingJournal();
    r.write_failed = 0;
    KillTimer(main_window, TIMER_RECORD_STATS);
    DeleteMenu(CommandMenu, IDM_RECORDED_FRAMES, MF_BYCOMMAND);
    DeleteMenu(CommandMenu, IDM_DROPPED_FRAMES, MF_BYCOMMAND);
    RunGraph();
    // Before any box: its modal loop goes on dispatching the schedule's ticks.
    KillTimer(main_window, TIMER_SCHEDULE_STOP);
    if (record_timer.start_pending)
        SetTimer(main_window, TIMER_SCHEDULE_START, kScheduleInterval, nullptr);
    UpdateKeepAwake();
    if (r.auto_stopped)
        ShowAutoStopNotice();
}

void ToggleRecording()
{
    if (recording_state.recording)
        StopRecording();
    else
        StartRecording();
}

// Stops while the multiplexer still has room to finish the file: a disk
// full at the stop takes no index, and the file would not play.
static bool StopForDiskRoom()
{
    DiskVerdict verdict = CheckDiskRoom();
    if (verdict == DiskVerdict::kGoOn)
        return false;
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    ShowErrorMessage(verdict == DiskVerdict::kFileLimit
                         ? MessageText(Message::kStoppedAtFat32Limit)
                         : MessageText(Message::kStoppedForDiskRoom));
    return true;
}

void UpdateRecordStats()
{
    IAMDroppedFrames* frames = capture_graph.dropped_frames;
    if (!recording_state.recording || StopForDiskRoom() || !frames)
        return;
    long recorded = 0, dropped = 0;
    frames->GetNumNotDropped(&recorded);
    frames->GetNumDropped(&dropped);
    wchar_t caption[100];
    std::swprintf(caption, 100, L"録画フレーム数　%ld", recorded);
    SetMenuText(IDM_RECORDED_FRAMES, caption);
    std::swprintf(caption, 100, L"欠落フレーム数　%ld", dropped);
    SetMenuText(IDM_DROPPED_FRAMES, caption);
    if (dropped >= 1 && IsMenuChecked(IDM_AUTO_STOP) == MENU_CHECKED_GRAYED) {
        recording_state.auto_stopped = 1;
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    }
}

// The disk only when the disk is what failed; otherwise what the error says.
static void ShowRecordingAbort(HRESULT error)
{
    if (IsDiskFull(error))
        return ShowErrorMessage(MessageText(Message::kRecordingFailedOnDisk));
    wchar_t cause[400];
    DescribeFailure(error, cause, 400);
    wchar_t text[500];
    std::swprintf(text, 500, MessageText(Message::kRecordingFailed), cause);
    ShowErrorMessage(text);
}

void OnGraphEvent()
{
    IMediaEventEx* events = nullptr;
    if (!capture_graph.graph ||
        capture_graph.graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events)) != S_OK)
        return;
    long code;
    LONG_PTR first, second;
    bool failed = false, device_back = false;
    HRESULT error = S_OK;
    // The picture's and the sound's filter of one card may both report.
    IUnknown* lost[2] = {nullptr, nullptr};
    while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
        bool abort = code == EC_ERRORABORT || code == EC_STREAM_ERROR_STOPPED || code == EC_ERRORABORTEX;
        // The first parameter of each is the error.
        if (abort && !failed)
            error = static_cast<HRESULT>(first);
        failed = failed || abort;
        // The first parameter is the device's filter; the second is 1 when it comes back.
        IUnknown* filter = reinterpret_cast<IUnknown*>(first);
        if (code == EC_DEVICE_LOST && second == 0 && filter && !lost[1] && filter != lost[0]) {
            filter->AddRef();
            lost[lost[0] ? 1 : 0] = filter;
        }
        device_back = device_back || (code == EC_DEVICE_LOST && second == 1);
        events->FreeEventParams(code, first, second);
    }
    events->Release();
    if (lost[0]) {
        for (IUnknown*& filter : lost) {
            if (filter)
                OnDeviceLost(filter);
            SafeRelease(filter);
        }
        return;
    }
    if (device_back)
        return LookForLostDevice();
    if (failed && recording_state.recording) {
        // A recording that has stopped writing must not look as if it ran on.
        recording_state.write_failed = 1;
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
        ShowRecordingAbort(error);
    } else if (failed) {
        ReportGraphFault(GraphStep::kStreaming, error);
    }
}
