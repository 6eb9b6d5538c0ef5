#include "viewer_session.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <vector>

#include "app/main_window.h"
#include "capture/capture_graph.h"
#include "console_text.h"
#include "record/recording.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"

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

void Record(const SessionRequest& request, fernwood_check::Measurement* m, SessionResult* result)
{
    SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    m->started = recording_state.recording == 1;
    if (!m->started)
        return;
    result->movie_path = recording_state.movie_path;
    DWORD length_ms = static_cast<DWORD>(request.seconds * 1000);
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
            Record(request, m, &result);
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
