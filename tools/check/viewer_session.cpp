#include "viewer_session.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <vector>

#include "app/main_window.h"
#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "capture/graph_faults.h"
#include "capture/graph_trace.h"
#include "console_text.h"
#include "record/recording.h"
#include "resources/resource_ids.h"
#include "settings/save_folders.h"
#include "settings/settings_file.h"
#include "dshow_text.h"
#include "tools/check/portable/report_text.h"

namespace {

std::vector<std::string> viewer_messages;

// The viewer reports trouble in message boxes; nobody is there to answer
// them, so they are read and closed (the timer runs inside their loops too).
BOOL CALLBACK AnswerMessageBox(HWND window, LPARAM)
{
    wchar_t class_name[16];
    if (!IsWindowVisible(window) || !GetClassNameW(window, class_name, 16) || lstrcmpW(class_name, L"#32770") != 0)
        return TRUE;
    wchar_t text[512] = L"";
    GetDlgItemTextW(window, 0xFFFF, text, 512);
    viewer_messages.push_back(Utf8(text));
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CALLBACK CatchMessageBoxes(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), AnswerMessageBox, 0);
}

bool quit_seen = false;

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms)
{
    DWORD started = GetTickCount();
    MSG message;
    for (;;) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit_seen = true;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done())
            return true;
        if (GetTickCount() - started >= timeout_ms)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

std::string MakeScratchFolder()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        char folder[MAX_PATH];
        std::snprintf(folder, sizeof folder, "%sfernwood-check-%lu-%u", temp, GetCurrentProcessId(), attempt);
        if (CreateDirectoryA(folder, nullptr))
            return folder;
    }
    return "";
}

void RemoveScratchFolder(const std::string& folder)
{
    DeleteFileA((folder + "\\setting.ini").c_str());
    RemoveDirectoryA(folder.c_str());
}

// The choices the check makes, in the viewer's own setting keys.
void WriteSettings(const std::string& folder, const SessionRequest& request)
{
    std::string file = folder + "\\setting.ini";
    auto put = [&file](const char* key, int value) {
        WritePrivateProfileStringA("menu", key, std::to_string(value).c_str(), file.c_str());
    };
    put("capture_device", IDM_VIDEO_DEVICE_FIRST + request.card.video);
    put("audio_device", request.card.audio < 0 ? IDM_AUDIO_NONE : IDM_AUDIO_DEVICE_FIRST + request.card.audio);
    put("sampling_rate", IDM_AUDIO_48K);
    put("resolution", request.height == 1080 ? IDM_RES_1080 : IDM_RES_720);
    put("renderer", IDM_MODE_VMR9);
    put("size", IDM_SIZE_HALF);
    put("compressor", IDM_COMPRESSOR_NONE);
    WritePrivateProfileStringA("menu", "path_capture", request.folder.c_str(), file.c_str());
}

bool GraphRunning()
{
    OAFilterState state = State_Stopped;
    return capture_graph.media_control && capture_graph.media_control->GetState(0, &state) == S_OK &&
           state == State_Running;
}

void ReadCounters(fernwood_check::Measurement* m)
{
    if (!capture_graph.dropped_frames || !recording_state.recording)
        return;
    capture_graph.dropped_frames->GetNumNotDropped(&m->card_delivered);
    capture_graph.dropped_frames->GetNumDropped(&m->card_lost);
}

std::string JoinMessages()
{
    std::string joined;
    for (const std::string& text : viewer_messages) {
        if (!joined.empty())
            joined += " / ";
        for (char c : text)
            joined += c == '\n' ? ' ' : c;
    }
    return joined;
}

void Record(double seconds, fernwood_check::Measurement* m, std::string* movie_path,
            const std::function<void()>& while_recording = nullptr)
{
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    m->started = recording_state.recording == 1;
    if (!m->started)
        return;
    *movie_path = recording_state.movie_path;
    if (while_recording)
        while_recording();
    DWORD length_ms = static_cast<DWORD>(seconds * 1000);
    DWORD started = GetTickCount();
    PumpUntil(
        [&] {
            ReadCounters(m);
            return !recording_state.recording || GetTickCount() - started >= length_ms;
        },
        length_ms + 1000);
    m->stopped_early = !recording_state.recording;
    if (recording_state.recording)
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
}

}  // namespace

SessionResult RecordThroughViewer(const SessionRequest& request, fernwood_check::Measurement* m)
{
    SessionResult result;
    std::string scratch = MakeScratchFolder();
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    if (scratch.empty() || !SetCurrentDirectoryA(scratch.c_str())) {
        m->viewer_message = "作業用フォルダを作れません / no scratch folder";
        return result;
    }
    WriteSettings(scratch, request);
    UINT_PTR catcher = SetTimer(nullptr, 0, 100, CatchMessageBoxes);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (RegisterMainWindowClass(instance)) {
        InitSettingsPath();
        main_window = CreateMainWindow(instance);
    }
    if (main_window) {
        ShowWindow(main_window, SW_HIDE);
        StartCaptureGraph();
        // Recording starts from the running preview, as a user's command would.
        if (!capture_graph.dx9_missing && capture_graph.video_capture && PumpUntil(GraphRunning, 10000))
            Record(request.seconds, m, &result.movie_path);
        if (IsWindow(main_window))
            DestroyWindow(main_window);
        PumpUntil([] { return quit_seen; }, 10000);
    }
    KillTimer(nullptr, catcher);
    m->viewer_message = JoinMessages();
    SetCurrentDirectoryA(previous);
    RemoveScratchFolder(scratch);
    return result;
}

namespace {

std::vector<TrialPhase>* trial_phases = nullptr;
std::atomic<const char*> phase_now{"starting the viewer"};
std::atomic<const char*> last_call{"none"};

void NoteCall(const char* call, HRESULT hr)
{
    last_call = call;
    if (trial_phases && !trial_phases->empty())
        trial_phases->back().calls.push_back(std::string(call) + ": " + fernwood_check::HresultText(hr));
}

// The user's choices of device, sound and folders, as the viewer saved them.
void CopySavedChoices(const std::string& from, const std::string& to)
{
    static const char* const keys[] = {"capture_device", "capture_device_name", "capture_device_path",
                                       "audio_device",   "audio_device_name",   "audio_device_path",
                                       "sampling_rate",  "path_capture",        "path_picture"};
    for (const char* key : keys) {
        char value[1024] = "";
        DWORD length = GetPrivateProfileStringA("menu", key, "\x01", value, sizeof value, from.c_str());
        if (length && value[0] != '\x01')
            WritePrivateProfileStringA("menu", key, value, to.c_str());
    }
}

void WriteTrialSettings(const std::string& folder, const TrialRequest& request)
{
    std::string file = folder + "\\setting.ini";
    if (!request.settings_file.empty())
        CopySavedChoices(request.settings_file, file);
    auto put = [&file](const char* key, const std::string& value) {
        WritePrivateProfileStringA("menu", key, value.c_str(), file.c_str());
    };
    if (request.video >= 0) {
        put("capture_device", std::to_string(IDM_VIDEO_DEVICE_FIRST + request.video));
        // A saved name or path would win over the position.
        put("capture_device_name", "");
        put("capture_device_path", "");
    }
    put("resolution", std::to_string(request.height == 1080 ? IDM_RES_1080 : IDM_RES_720));
    put("renderer", std::to_string(IDM_MODE_VMR9));
    put("size", std::to_string(IDM_SIZE_HALF));
    put("compressor", std::to_string(IDM_COMPRESSOR_NONE));
    if (!request.folder.empty())
        put("path_capture", request.folder);
}

void PumpFor(double seconds)
{
    DWORD started = GetTickCount();
    DWORD length = static_cast<DWORD>(seconds * 1000);
    PumpUntil([&] { return GetTickCount() - started >= length; }, length + 1000);
}

std::string Count(long value)
{
    return std::to_string(value);
}

// What the renderer of the phase drew and the card counted since its start.
void ReadPhaseFigures(bool vmr9, TrialPhase* phase)
{
    IBaseFilter* renderer = vmr9 ? capture_graph.vmr9 : capture_graph.vmr7;
    IQualProp* quality = nullptr;
    int drawn = 0, dropped = 0, rate = 0;
    if (renderer && renderer->QueryInterface(IID_IQualProp, reinterpret_cast<void**>(&quality)) == S_OK && quality &&
        quality->get_FramesDrawn(&drawn) == S_OK) {
        quality->get_FramesDroppedInRenderer(&dropped);
        quality->get_AvgFrameRate(&rate);
        phase->figures.push_back("renderer frames drawn: " + Count(drawn) + ", dropped " + Count(dropped) +
                                 ", average " + fernwood_check::Number(rate / 100.0, 2) + " fps");
    } else {
        phase->figures.push_back("renderer frames drawn: not told (no IQualProp)");
    }
    SafeRelease(quality);
    IAMDroppedFrames* counters = nullptr;
    long delivered = 0, lost = 0;
    if (capture_graph.video_capture &&
        capture_graph.video_capture->QueryInterface(IID_IAMDroppedFrames, reinterpret_cast<void**>(&counters)) ==
            S_OK &&
        counters) {
        HRESULT a = counters->GetNumNotDropped(&delivered);
        HRESULT b = counters->GetNumDropped(&lost);
        phase->figures.push_back("card frames delivered: " + Count(delivered) + " (" + fernwood_check::HresultText(a) +
                                 "), dropped " + Count(lost) + " (" + fernwood_check::HresultText(b) +
                                 "), the capture pin's since the last start");
    } else {
        phase->figures.push_back("card frames delivered: not told (no IAMDroppedFrames)");
    }
    SafeRelease(counters);
}

bool RunsOrFails()
{
    return GraphRunning() || GraphFaultStands() || !capture_graph.video_capture;
}

void Preview(const char* title, bool vmr9, double seconds, std::vector<TrialPhase>* phases)
{
    phases->back().title = title;
    phase_now = title;
    PumpUntil(RunsOrFails, 10000);
    TrialPhase& phase = phases->back();
    phase.running = GraphRunning();
    if (phase.running)
        PumpFor(seconds);
    ReadPhaseFigures(vmr9, &phase);
    phase.graph = GraphText(capture_graph.graph, 2);
}

void ReadViewerChoices(TrialResult* result)
{
    result->window = capture_graph.graph != nullptr;
    result->video_count = video_device_count;
    result->video_index = capture_graph.video_capture ? video_device_index : -1;
    result->audio_index = capture_graph.audio_capture ? audio_device_index : -1;
    if (result->video_index >= 0 && result->video_index < 10)
        result->video_name = Utf8FromCodePage(device_list.video_names[result->video_index]);
    if (result->audio_index >= 0 && result->audio_index < 10)
        result->audio_name = Utf8FromCodePage(device_list.audio_names[result->audio_index]);
    for (int i = 0; i < compressor_count && i < 50; ++i)
        result->compressors.push_back(Utf8FromCodePage(device_list.compressor_names[i]));
    result->movie_folder = Utf8FromCodePage(save_folders.path_capture);
    result->picture_folder = Utf8FromCodePage(save_folders.path_picture);
}

void RunTrial(const TrialRequest& request, fernwood_check::Measurement* m, TrialResult* result)
{
    std::vector<TrialPhase>& phases = result->phases;
    phases.emplace_back();
    StartCaptureGraph();
    ReadViewerChoices(result);
    if (!result->window || capture_graph.dx9_missing)
        return;
    Preview("preview, VMR9 (the viewer's start)", true, request.preview_seconds, &phases);
    phases.emplace_back();
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR7, 0);
    Preview("preview, VMR7 (render mode switched)", false, request.preview_seconds, &phases);
    phases.emplace_back();
    SendMessageA(main_window, WM_COMMAND, IDM_MODE_VMR9, 0);
    Preview("preview, VMR9 (switched back)", true, 0.5, &phases);
    if (request.record_seconds <= 0 || !phases.back().running)
        return;
    phases.emplace_back();
    phases.back().title = phase_now = "recording, VMR9";
    Record(request.record_seconds, m, &result->movie_path, [&phases] {
        phases.back().running = GraphRunning();
        phases.back().graph = GraphText(capture_graph.graph, 2);
    });
    // The counters start again with the preview that follows the recording.
    phases.back().figures.push_back(capture_graph.dropped_frames || m->card_delivered || m->card_lost
                                        ? "card frames delivered: " + Count(m->card_delivered) + ", dropped " +
                                              Count(m->card_lost) + " (the recording's last reading)"
                                        : "card frames delivered: not told (no IAMDroppedFrames on the recording)");
}

}  // namespace

TrialResult TrialThroughViewer(const TrialRequest& request, fernwood_check::Measurement* m)
{
    TrialResult result;
    std::string scratch = MakeScratchFolder();
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    if (scratch.empty() || !SetCurrentDirectoryA(scratch.c_str())) {
        result.viewer_message = "no scratch folder";
        return result;
    }
    WriteTrialSettings(scratch, request);
    viewer_messages.clear();
    trial_phases = &result.phases;
    graph_trace = NoteCall;
    UINT_PTR catcher = SetTimer(nullptr, 0, 100, CatchMessageBoxes);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (RegisterMainWindowClass(instance)) {
        InitSettingsPath();
        main_window = CreateMainWindow(instance);
    }
    if (main_window) {
        ShowWindow(main_window, SW_HIDE);
        RunTrial(request, m, &result);
        result.phases.emplace_back();
        result.phases.back().title = phase_now = "closing the viewer";
        if (IsWindow(main_window))
            DestroyWindow(main_window);
        PumpUntil([] { return quit_seen; }, 10000);
    }
    graph_trace = nullptr;
    trial_phases = nullptr;
    KillTimer(nullptr, catcher);
    // The viewer's default folder is the one it was started in: for the user, this one.
    for (std::string* folder : {&result.movie_folder, &result.picture_folder})
        if (lstrcmpiA(folder->c_str(), Utf8FromCodePage(scratch).c_str()) == 0)
            *folder = Utf8FromCodePage(previous);
    result.viewer_message = JoinMessages();
    m->viewer_message = result.viewer_message;
    SetCurrentDirectoryA(previous);
    RemoveScratchFolder(scratch);
    return result;
}

void TrialProgress(const char** phase, const char** call)
{
    *phase = phase_now;
    *call = last_call;
}
