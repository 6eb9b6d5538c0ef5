#include "record/device_loss.h"

#include <cstdio>
#include <cwchar>

#include "capture/capture_graph.h"
#include "capture/devices.h"
#include "capture/graph_faults.h"
#include "capture/pins.h"
#include "record/recording.h"
#include "state/command_menu.h"
#include "state/messages.h"
#include "state/timer_ids.h"
#include "state/window.h"
#include "view/video_layout.h"

namespace {

// What was unplugged, by the name it is listed under again when it comes back.
struct DeviceLoss {
    bool video = false;
    bool audio = false;
    char video_name[kNameSlotBytes] = "";
    char audio_name[kNameSlotBytes] = "";
    bool resume_recording = false;
};

DeviceLoss loss;

void SayLost(const char* name, bool recording_stopped)
{
    wchar_t device[kNameSlotBytes];
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, device, kNameSlotBytes) <= 0)
        device[0] = L'\0';
    wchar_t text[600];
    std::swprintf(text, 600, MessageText(Message::kDeviceUnplugged), device,
                  recording_stopped
                      ? MessageText(Message::kUnpluggedWhileRecording)
                      : MessageText(Message::kUnpluggedWhilePreviewing));
    ShowErrorMessage(text);
}

void CheckDevice(UINT first_id, int count, int index)
{
    for (int i = 0; i < count; ++i)
        CheckMenuItem(CommandMenu, first_id + i, MF_BYCOMMAND | (i == index ? MF_CHECKED : MF_UNCHECKED));
}

// A device is listed a moment before its driver can stream: what does not
// run yet stays lost, and the next look builds it again.
bool Runs(IBaseFilter* filter)
{
    FILTER_STATE state = State_Stopped;
    return filter && SUCCEEDED(filter->GetState(100, &state)) && state == State_Running;
}

// The card may come back at another position of its category.
void BringBackVideo(int index)
{
    CheckDevice(IDM_VIDEO_DEVICE_FIRST, video_device_count, index);
    SwitchVideoFormat(index, IsMenuChecked(IDM_RES_720) == MENU_CHECKED ? 720 : 1080);
    AdoptVideoBranch();
}

void BringBackAudio(int index)
{
    if (index < audio_device_count)
        CheckDevice(IDM_AUDIO_DEVICE_FIRST, audio_device_count, index);
    SwitchAudioRate(index);
}

}  // namespace

void OnDeviceLost(IUnknown* filter)
{
    CaptureGraph& g = capture_graph;
    bool video = SameObject(filter, g.video_capture) && !loss.video;
    bool audio = SameObject(filter, g.audio_capture) && !loss.audio;
    if (!video && !audio)
        return;
    // One card often reports through both of its filters: it is told once.
    bool first = !loss.video && !loss.audio;
    if (video)
        lstrcpynA(loss.video_name, device_list.video_names[video_device_index], kNameSlotBytes);
    if (audio && audio_device_index >= 0)
        lstrcpynA(loss.audio_name, device_list.audio_names[audio_device_index], kNameSlotBytes);
    loss.video = loss.video || video;
    loss.audio = loss.audio || audio;
    HoldGraphFaults(true);
    bool stopped = false;
    if (recording_state.recording) {
        loss.resume_recording = true;
        stopped = true;
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    }
    // Windows tells of a return by EC_DEVICE_LOST with 1 or WM_DEVICECHANGE,
    // but not every driver does: the listing is watched as well.
    SetTimer(main_window, TIMER_DEVICE_RETURN, 1000, nullptr);
    if (first)
        SayLost(video ? loss.video_name : loss.audio_name, stopped);
}

void LookForLostDevice()
{
    // A filter that runs is one the user has chosen since: the lost one is dead.
    loss.video = loss.video && !Runs(capture_graph.video_capture);
    loss.audio = loss.audio && !Runs(capture_graph.audio_capture);
    if (!loss.video && !loss.audio) {
        HoldGraphFaults(false);
        loss.resume_recording = false;
        KillTimer(main_window, TIMER_DEVICE_RETURN);
        return;
    }
    int audio = loss.audio ? FindListedDevice(CLSID_AudioInputDeviceCategory, loss.audio_name) : -1;
    int video = loss.video ? FindListedDevice(CLSID_VideoInputDeviceCategory, loss.video_name) : -1;
    // The sound first: a dead filter left in the graph keeps the graph from running.
    if (audio >= 0)
        BringBackAudio(audio);
    if (video >= 0)
        BringBackVideo(video);
    loss.video = loss.video && !Runs(capture_graph.video_capture);
    // A card's sound filter may die with its picture without a word.
    if (video >= 0 && !loss.video && !loss.audio && audio_device_index >= 0 && !Runs(capture_graph.audio_capture)) {
        lstrcpynA(loss.audio_name, device_list.audio_names[audio_device_index], kNameSlotBytes);
        audio = FindListedDevice(CLSID_AudioInputDeviceCategory, loss.audio_name);
        loss.audio = true;
        if (audio >= 0)
            BringBackAudio(audio);
    }
    loss.audio = loss.audio && !Runs(capture_graph.audio_capture);
    if (loss.video || loss.audio)
        return;
    KillTimer(main_window, TIMER_DEVICE_RETURN);
    HoldGraphFaults(false);
    if (loss.resume_recording && !recording_state.recording) {
        loss.resume_recording = false;
        SendMessageA(main_window, WM_COMMAND, IDM_RECORD, 0);
    }
    loss.resume_recording = false;
}
